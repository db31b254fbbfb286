// The audio path after the receivers, with its real threads: channel rings ->
// mixer thread -> sound-card converter thread -> the host's pull.
#include "zorvaniDsp/Audio/AudioPull.h"
#include "zorvaniDsp/Audio/MixerZorvani.h"
#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"

#include <QtTest>

#include <atomic>
#include <cmath>
#include <complex>
#include <thread>
#include <vector>

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

// Amplitude of the cosine of frequency f (Hz at 48000) in x, by one DFT term.
double amplitude(const std::vector<float>& x, double f)
{
    std::complex<double> acc = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i)
        acc += double(x[i]) * std::polar(1.0, -2.0 * kPi * f * double(i) / 48000.0);
    return 2.0 * std::abs(acc) / double(x.size());
}

} // namespace

class TestAudioChain : public QObject {
    Q_OBJECT
private slots:
    void toneReachesTheHostAt48k();
    void startStopUnderLoad();
};

void TestAudioChain::toneReachesTheHostAt48k()
{
    ToneSource source;
    auto soundCard = std::make_shared<ResamplerSCZorvani>();
    MixerZorvani mixer({&source}, soundCard);
    soundCard->start();
    mixer.start();

    // 40 blocks: 8000 frames at the working rate, 9830 at 48000 Hz, pulled
    // as the host does (256 stereo frames at a time, the ring's reserve left
    // in it) while they arrive.
    std::vector<float> pulledAudio;
    const uint32_t reserve = soundCard->outputRing().prefill();
    std::vector<float> host(2 * 256);
    std::vector<Frame> sink(kBlock);
    for (int b = 0; b < 40; ++b) {
        QTRY_VERIFY_WITH_TIMEOUT(
            source.rings[0].free() >= uint32_t(kBlock) && source.rings[1].free() >= uint32_t(kBlock), 5000);
        QVERIFY(source.pushBlock());
        // The per-block entry's share of the mix is not needed here.
        QTRY_VERIFY_WITH_TIMEOUT(mixer.outputRing().fill() >= uint32_t(kBlock), 5000);
        QVERIFY(mixer.outputRing().read(sink.data(), kBlock));
        while (soundCard->outputRing().fill() >= 256 + reserve) {
            QVERIFY(pullStereo(soundCard->outputRing(), true, host.data(), quint32(host.size()), 2));
            pulledAudio.insert(pulledAudio.end(), host.begin(), host.end());
        }
    }
    const int frames = 4800; // 100 periods of 1 kHz at 48000 Hz
    const int skip = 400;    // the converter's start-up
    while (int(pulledAudio.size()) < 2 * (skip + frames)) {
        QTRY_VERIFY_WITH_TIMEOUT(soundCard->outputRing().fill() >= 256 + reserve, 5000);
        QVERIFY(pullStereo(soundCard->outputRing(), true, host.data(), quint32(host.size()), 2));
        pulledAudio.insert(pulledAudio.end(), host.begin(), host.end());
    }
    mixer.stop();
    soundCard->stop();
    const std::vector<float> buffer(pulledAudio.begin() + 2 * skip, pulledAudio.begin() + 2 * (skip + frames));
    std::vector<float> left(frames), right(frames);
    for (int i = 0; i < frames; ++i) {
        left[i] = buffer[2 * i];
        right[i] = buffer[2 * i + 1];
    }
    QVERIFY2(left == right, "USB is mono: both sides carry the same audio");
    const double a1k = amplitude(left, 1000.0);
    QVERIFY2(std::abs(a1k - 0.5) < 0.005, qPrintable(QString("1 kHz amplitude %1").arg(a1k)));
    // Neighbouring DFT bins (10 Hz apart) hold nothing: the tone is at 1 kHz.
    for (double f : {990.0, 1010.0, 1220.0, 2000.0})
        QVERIFY2(amplitude(left, f) < 1e-3, qPrintable(QString("%1 Hz: %2").arg(f).arg(amplitude(left, f))));
}

// Start, stop, init and reset of both threads while a producer and a consumer
// keep moving audio: no deadlock, and audio flows again afterwards.
void TestAudioChain::startStopUnderLoad()
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

QTEST_GUILESS_MAIN(TestAudioChain)
#include "tst_audiochain.moc"
