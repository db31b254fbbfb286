// The audio path after the receivers, with its real threads: channel rings ->
// mixer thread -> sound-card converter thread -> the host's pull.
#include "zorvaniDsp/Audio/AudioPull.h"
#include "zorvaniDsp/Audio/MixerZorvani.h"
#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"

#include <QtTest>

#include <atomic>
#include <cmath>
#include <thread>

using Frame = Ostrovix::complex<double>;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kBlock = MixerZorvani::kBlockFrames;

class ToneSource : public MixerSource {
public:
    CircularBuffer<Frame>& outputRing(int channel) override { return rings[channel]; }
    int activeMode() const override { return 4; } // USB: mono
    bool binauralCw() const override { return false; }

    // The next block of a 1 kHz tone at the working rate on channel 0 (im
    // carries something else, which the mono rule must replace), silence on 1.
    bool pushBlock()
    {
        if (rings[0].free() < kBlock || rings[1].free() < kBlock)
            return false;
        for (int i = 0; i < kBlock; ++i, ++n) {
            main[i] = {0.5 * std::cos(2.0 * kPi * 1000.0 * n / MixerZorvani::kWorkingRate), 0.3};
            sub[i] = {0.0, 0.0};
        }
        rings[0].write(main.data(), kBlock);
        rings[1].write(sub.data(), kBlock);
        outputWritten();
        return true;
    }

    CircularBuffer<Frame> rings[2]{CircularBuffer<Frame>(4096), CircularBuffer<Frame>(4096)};
    std::vector<Frame> main = std::vector<Frame>(kBlock);
    std::vector<Frame> sub = std::vector<Frame>(kBlock);
    long n = 0;
};

} // namespace

class TestAudioChain : public QObject {
    Q_OBJECT
private slots:
    // Start, stop, init and reset of both threads while a producer and a consumer
    // keep moving audio: no deadlock, and audio flows again afterwards.
    void startStopUnderLoad()
    {
        ToneSource source;
        auto soundCard = std::make_shared<ResamplerSCZorvani>();
        MixerZorvani mixer({&source}, soundCard);
        std::atomic<bool> stop{false};
        std::atomic<long> pulled{0};
        std::thread producer([&] {
            while (!stop) {
                if (!source.pushBlock())
                    std::this_thread::yield();
            }
        });
        std::thread consumer([&] {
            std::vector<Frame> sink(kBlock);
            std::vector<float> host(2 * 256);
            while (!stop) {
                mixer.outputRing().read(sink.data(), kBlock);
                if (soundCard->outputRing().fill() >= 256 + soundCard->outputRing().prefill()) {
                    pullStereo(soundCard->outputRing(), true, host.data(), quint32(host.size()), 2);
                    pulled += 256;
                }
                std::this_thread::yield();
            }
        });
        for (int i = 0; i < 40; ++i) {
            mixer.start();
            soundCard->start();
            QTest::qSleep(2);
            if (i % 3 == 0)
                QVERIFY(soundCard->init(39062.5, 48000.0));
            if (i % 4 == 1)
                mixer.reset();
            soundCard->stop();
            mixer.stop();
        }
        mixer.start();
        soundCard->start();
        const long before = pulled;
        QTRY_VERIFY_WITH_TIMEOUT(pulled > before + 4800, 10000);
        stop = true;
        producer.join();
        consumer.join();
        mixer.stop();
        soundCard->stop();
        QVERIFY(!mixer.isRunning());
        QVERIFY(!soundCard->isRunning());
    }
};

QTEST_GUILESS_MAIN(TestAudioChain)
#include "tst_audiochain.moc"
