// The sound-card converter and the audio-server listener that takes its
// output.
#include "AllocationCounter.h"
#include "BridgeAbstract.h"
#include "DspTestSupport.h"
#include "zorvaniDsp/Audio/AudioServerNotifyer.h"
#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"

#include <QtTest>

#include <thread>

using namespace dsptest;

namespace {

class Bridge : public BridgeAbstract, public AudioServerAbstract {
public:
    SoundOutAbstract* soundOut() override { return nullptr; }
    VacCollectionAbstract* vacs() override { return nullptr; }
    LineOutCollectionAbstract* lineOuts() override { return nullptr; }
    ThreadPoolAbstract* threadPool() override { return nullptr; }
    AudioServerAbstract* audioServer() override { return this; }
    RadioNotchFilterControlAbstract* radioNotchFilterControl() override { return nullptr; }
    IQRecorderConfigAbstract* iqRecorderConfig() override { return nullptr; }
    void addListener(std::shared_ptr<ox::audio::AudioEventListenerAbstract>) override {}
    void writeAudio(std::size_t count, const float* data) override { blocks.emplace_back(data, data + count); }
    std::vector<std::vector<float>> blocks;
};

// Frame n carries (n / 1024, -n / 2048): exact in float.
void fill(CircularBuffer<C>& ring, int count)
{
    Signal x(count);
    for (int n = 0; n < count; ++n)
        x[n] = {n / 1024.0, -n / 2048.0};
    QVERIFY(ring.write(x.data(), count));
}

} // namespace

class TestResamplerSC : public QObject {
    Q_OBJECT
private slots:
    // The engine and the audio-server listener start and stop one converter
    // from two threads. Its thread turns 625 frames into 768 and waits;
    // starting it again while it runs resets nothing, a start after a stop does.
    void threadConverts625To768()
    {
        ResamplerSCZorvani sc;
        auto toggle = [&sc](int phase) {
            for (int i = 0; i < 300; ++i)
                (i + phase) % 2 ? sc.start() : sc.stop();
        };
        std::thread other(toggle, 1);
        toggle(0);
        other.join();
        sc.start();
        QVERIFY(sc.isRunning());
        const Signal x = toneHz(625, 1000.0, 0.5);
        QVERIFY(sc.push(x.data(), 625));
        QTRY_COMPARE_WITH_TIMEOUT(sc.outputRing().fill(), 768u, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(sc.inputRing().fill(), 0u, 5000);
        QTest::qWait(20); // nothing more arrives once the input is consumed
        sc.start();
        QCOMPARE(sc.outputRing().fill(), 768u);
        sc.stop();
        sc.stop();
        QVERIFY(!sc.isRunning());
        sc.start();
        QCOMPARE(sc.outputRing().fill(), 0u);
        sc.stop();
    }

    // A chunk that does not fit the output ring is dropped whole, the old
    // content kept; with room again a chunk gets through whole, and once
    // running the conversion allocates nothing.
    void fullOutputRingDropsTheChunk()
    {
        ResamplerSCZorvani sc;
        Signal filler(4000, C{0.25, 0.25});
        QVERIFY(sc.outputRing().write(filler.data(), 4000));
        const Signal x = toneHz(512, 1000.0, 0.5);
        QCOMPARE(sc.convert(x.data(), 512), 0);
        QVERIFY(sc.inputRing().write(x.data(), 512));
        QVERIFY(sc.convertPending() == 512 && sc.inputRing().fill() == 0u);
        QVERIFY(sc.outputRing().read(filler.data(), 3999));
        QVERIFY(filler[0].re == 0.25 && sc.outputRing().fill() == 1u);
        QVERIFY(sc.outputRing().read(filler.data(), 1));
        const int written = sc.convert(x.data(), 512);
        QVERIFY2(written == 629 || written == 630, qPrintable(QString::number(written)));
        QCOMPARE(sc.outputRing().fill(), uint32_t(written));
        QCOMPARE(sc.convertPending(), 0);
        testsupport::AllocationScope scope;
        for (int i = 0; i < 20; ++i) {
            QVERIFY(sc.inputRing().write(x.data(), 512) && sc.convertPending() == 512);
            QVERIFY(sc.outputRing().read(filler.data(), sc.outputRing().fill()));
        }
        QCOMPARE(scope.count(), 0u);
    }

    // A refused host rate changes nothing; a new rate empties the rings.
    // 1000 -> 48000 Hz makes more frames of a whole chunk than the default
    // work buffer holds, without harm (and 512 of them more than the ring holds).
    void initEmptiesRingsAndRefusesBadRates()
    {
        ResamplerSCZorvani sc;
        const Signal x = toneHz(512, 1000.0, 0.5);
        QVERIFY(sc.inputRing().write(x.data(), 300) && sc.outputRing().write(x.data(), 200));
        QVERIFY(!sc.init(kFs, -1.0) && sc.inputRing().fill() == 300u && sc.outputRate() == 48000.0);
        QVERIFY(sc.init(1000.0, 48000.0) && sc.inputRing().fill() == 0u && sc.outputRing().fill() == 0u);
        QVERIFY(sc.convert(x.data(), 512) == 0 && sc.outputRing().fill() == 0u);
        QCOMPARE(sc.convert(x.data(), 64), 64 * 48);
    }

    // The audio-server listener: blocks of 256 stereo frames go to the server
    // in order, the rest waits. Enabling starts the converter once (a second
    // start would reset it and empty its rings); a running one is left as it is.
    void audioServerListener()
    {
        // Server or none, frames stored, blocks taken.
        const std::tuple<bool, int, int> rows[] = {{true, 255, 0}, {true, 600, 2}, {false, 600, 0}};
        for (const auto& [server, stored, blocks] : rows) {
            Bridge bridge;
            auto converter = std::make_shared<ResamplerSCZorvani>();
            AudioServerNotifyer notifyer(server ? &bridge : nullptr, converter);
            fill(converter->outputRing(), stored);
            notifyer.dataRequested();
            const QByteArray row = QByteArray::number(stored) + (server ? " frames" : " frames, no server");
            QVERIFY2(int(bridge.blocks.size()) == blocks, row);
            QVERIFY2(int(converter->outputRing().fill()) == stored - 256 * blocks, row);
            for (int n = 0; n < 256 * blocks; ++n) {
                const std::vector<float>& b = bridge.blocks[size_t(n / 256)];
                const size_t at = size_t(2 * (n % 256));
                QVERIFY2(b.size() == 512u && b[at] == float(n / 1024.0) && b[at + 1] == float(-n / 2048.0), row);
            }
            C next{};
            QVERIFY2(converter->outputRing().read(&next, 1) && next.re == 256 * blocks / 1024.0, row);
        }
        Bridge bridge;
        auto converter = std::make_shared<ResamplerSCZorvani>();
        AudioServerNotifyer notifyer(&bridge, converter);
        QSignalSpy spy(&notifyer, &AudioServerNotifyer::enableChanged);
        notifyer.setEnable(false);
        QCOMPARE(spy.count(), 0);
        notifyer.setEnable(true);
        QVERIFY(converter->isRunning());
        fill(converter->outputRing(), 300);
        notifyer.setEnable(true);
        QCOMPARE(converter->outputRing().fill(), 300u);
        notifyer.setEnable(false);
        QVERIFY(!converter->isRunning());
        converter->start();
        fill(converter->outputRing(), 10);
        notifyer.setEnable(true);
        QVERIFY(converter->outputRing().fill() == 10u && spy.count() == 3 && spy.at(0).at(0).toBool() && !spy.at(1).at(0).toBool());
        converter->stop();
        AudioServerNotifyer bare(nullptr, nullptr); // without a converter nothing breaks
        bare.dataRequested();
        bare.setEnable(true);
        QVERIFY(bare.isEnabled());
    }
};

QTEST_GUILESS_MAIN(TestResamplerSC)
#include "tst_resamplersc.moc"
