#include "BridgeAbstract.h"
#include "zorvaniDsp/Audio/AudioServerNotifyer.h"
#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"

#include <QSignalSpy>
#include <QtTest>

using Frame = Ostrovix::complex<double>;

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
void fill(CircularBuffer<Frame>& ring, int count)
{
    std::vector<Frame> x(count);
    for (int n = 0; n < count; ++n)
        x[n] = {n / 1024.0, -n / 2048.0};
    QVERIFY(ring.write(x.data(), count));
}

} // namespace

class TestAudioServerNotifyer : public QObject {
    Q_OBJECT
private slots:
    void wholeBlocksGoRestStays_data()
    {
        QTest::addColumn<bool>("server");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("blocks");
        QTest::newRow("fewer than a block") << true << 255 << 0;
        QTest::newRow("two blocks and 88") << true << 600 << 2;
        QTest::newRow("no audio server") << false << 600 << 0;
    }

    // Blocks of 256 stereo frames go to the server in order; the rest waits.
    void wholeBlocksGoRestStays()
    {
        QFETCH(bool, server);
        QFETCH(int, stored);
        QFETCH(int, blocks);
        Bridge bridge;
        auto converter = std::make_shared<ResamplerSCZorvani>();
        AudioServerNotifyer notifyer(server ? &bridge : nullptr, converter);
        fill(converter->outputRing(), stored);
        notifyer.dataRequested();
        QCOMPARE(int(bridge.blocks.size()), blocks);
        QCOMPARE(int(converter->outputRing().fill()), stored - 256 * blocks);
        for (int n = 0; n < 256 * blocks; ++n) {
            const std::vector<float>& block = bridge.blocks[size_t(n / 256)];
            QVERIFY(block.size() == 512u && block[2 * (n % 256)] == float(n / 1024.0) && block[2 * (n % 256) + 1] == float(-n / 2048.0));
        }
        Frame next{};
        QVERIFY(converter->outputRing().read(&next, 1) && next.re == 256 * blocks / 1024.0);
    }

    // Enabling starts the converter once: a second start would reset it and
    // empty its rings. A converter already running is left as it is.
    void enableStartsConverterOnce()
    {
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
        QCOMPARE(converter->outputRing().fill(), 10u);
        QCOMPARE(spy.count(), 3);
        QVERIFY(spy.at(0).at(0).toBool() && !spy.at(1).at(0).toBool());
        converter->stop();
        AudioServerNotifyer bare(nullptr, nullptr); // without a converter nothing breaks
        bare.dataRequested();
        bare.setEnable(true);
        QVERIFY(bare.isEnabled());
    }
};

QTEST_GUILESS_MAIN(TestAudioServerNotifyer)
#include "tst_audioservernotifyer.moc"
