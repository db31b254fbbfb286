#include "BridgeAbstract.h"
#include "zorvaniDsp/AudioServerNotifyer.h"
#include "zorvaniDsp/ResamplerSCZorvani.h"

#include <QSignalSpy>
#include <QtTest>

#include <vector>

using Frame = Ostrovix::complex<double>;

namespace {

class RecordingServer : public AudioServerAbstract {
public:
    void addListener(std::shared_ptr<ox::audio::AudioEventListenerAbstract>) override {}
    void writeAudio(std::size_t count, const float* data) override { blocks.emplace_back(data, data + count); }
    std::vector<std::vector<float>> blocks;
};

class Bridge : public BridgeAbstract {
public:
    SoundOutAbstract* soundOut() override { return nullptr; }
    VacCollectionAbstract* vacs() override { return nullptr; }
    LineOutCollectionAbstract* lineOuts() override { return nullptr; }
    ThreadPoolAbstract* threadPool() override { return nullptr; }
    AudioServerAbstract* audioServer() override { return &server; }
    RadioNotchFilterControlAbstract* radioNotchFilterControl() override { return nullptr; }
    IQRecorderConfigAbstract* iqRecorderConfig() override { return nullptr; }
    RecordingServer server;
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
    void fewerThanABlockStays();
    void wholeBlocksGoRestStays();
    void enableStartsConverterOnce();
    void disableStopsConverter();
    void voxThresholdIsStored();
    void withoutServerNothingIsTaken();
};

void TestAudioServerNotifyer::fewerThanABlockStays()
{
    Bridge bridge;
    auto converter = std::make_shared<ResamplerSCZorvani>();
    AudioServerNotifyer notifyer(&bridge, converter);
    fill(converter->outputRing(), 255);
    notifyer.dataRequested();
    QVERIFY(bridge.server.blocks.empty());
    QCOMPARE(converter->outputRing().fill(), 255u);
}

void TestAudioServerNotifyer::wholeBlocksGoRestStays()
{
    Bridge bridge;
    auto converter = std::make_shared<ResamplerSCZorvani>();
    AudioServerNotifyer notifyer(&bridge, converter);
    fill(converter->outputRing(), 600);
    notifyer.dataRequested();
    QCOMPARE(int(bridge.server.blocks.size()), 2);
    QCOMPARE(converter->outputRing().fill(), 88u);
    for (int b = 0; b < 2; ++b) {
        const auto& block = bridge.server.blocks[b];
        QCOMPARE(int(block.size()), 512);
        for (int i = 0; i < 256; ++i) {
            const int n = b * 256 + i;
            QCOMPARE(block[2 * i], float(n / 1024.0));
            QCOMPARE(block[2 * i + 1], float(-n / 2048.0));
        }
    }
    // The 88 left are the newest frames, in order.
    Frame next{};
    QVERIFY(converter->outputRing().read(&next, 1));
    QCOMPARE(next.re, 512 / 1024.0);
}

void TestAudioServerNotifyer::enableStartsConverterOnce()
{
    Bridge bridge;
    auto converter = std::make_shared<ResamplerSCZorvani>();
    AudioServerNotifyer notifyer(&bridge, converter);
    QSignalSpy spy(&notifyer, &AudioServerNotifyer::enableChanged);
    QVERIFY(!notifyer.isEnabled());
    notifyer.setEnable(true);
    QVERIFY(converter->isRunning());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);

    // A second start would reset the converter and empty its rings.
    fill(converter->outputRing(), 300);
    notifyer.setEnable(true);
    QCOMPARE(spy.count(), 1);
    QVERIFY(converter->isRunning());
    QCOMPARE(converter->outputRing().fill(), 300u);
    converter->stop();
}

void TestAudioServerNotifyer::disableStopsConverter()
{
    Bridge bridge;
    auto converter = std::make_shared<ResamplerSCZorvani>();
    AudioServerNotifyer notifyer(&bridge, converter);
    QSignalSpy spy(&notifyer, &AudioServerNotifyer::enableChanged);
    notifyer.setEnable(false);
    QCOMPARE(spy.count(), 0);
    notifyer.setEnable(true);
    notifyer.setEnable(false);
    QVERIFY(!converter->isRunning());
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toBool(), false);
    // Enabled while the converter already runs: it is left running as it is.
    converter->start();
    fill(converter->outputRing(), 10);
    notifyer.setEnable(true);
    QCOMPARE(converter->outputRing().fill(), 10u);
    QCOMPARE(spy.count(), 3);
    converter->stop();
}

void TestAudioServerNotifyer::voxThresholdIsStored()
{
    AudioServerNotifyer notifyer(nullptr, nullptr);
    QSignalSpy spy(&notifyer, &AudioServerNotifyer::voxThresholdChanged);
    QCOMPARE(notifyer.voxThreshold(), -30.0f);
    notifyer.setVoxThreshold(-12.5f);
    QCOMPARE(notifyer.voxThreshold(), -12.5f);
    QCOMPARE(spy.count(), 0);
    notifyer.dataRequested();
    notifyer.setEnable(true);
    QVERIFY(notifyer.isEnabled());
}

void TestAudioServerNotifyer::withoutServerNothingIsTaken()
{
    auto converter = std::make_shared<ResamplerSCZorvani>();
    AudioServerNotifyer notifyer(nullptr, converter);
    fill(converter->outputRing(), 600);
    notifyer.dataRequested();
    QCOMPARE(converter->outputRing().fill(), 600u);
}

QTEST_GUILESS_MAIN(TestAudioServerNotifyer)
#include "tst_audioservernotifyer.moc"
