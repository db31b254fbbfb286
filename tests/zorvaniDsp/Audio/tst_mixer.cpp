#include "AllocationCounter.h"
#include "zorvaniDsp/Audio/MixerZorvani.h"
#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"

#include <QtTest>

#include <cmath>
#include <vector>

using Frame = Ostrovix::complex<double>;

namespace {

constexpr int kBlock = MixerZorvani::kBlockFrames;

class FakeSource : public MixerSource {
public:
    CircularBuffer<Frame>& outputRing(int channel) override { return rings[channel]; }
    int activeMode() const override { return mode; }
    bool binauralCw() const override { return binaural; }

    // One block per channel; channel 1 gets `sub` (silence by default).
    void push(const std::vector<Frame>& main, const std::vector<Frame>& sub = std::vector<Frame>(kBlock))
    {
        rings[0].write(main.data(), kBlock);
        rings[1].write(sub.data(), kBlock);
        outputWritten();
    }

    CircularBuffer<Frame> rings[2]{CircularBuffer<Frame>(4096), CircularBuffer<Frame>(4096)};
    int mode = 0;
    bool binaural = false;
};

std::vector<Frame> constant(double l, double r) { return std::vector<Frame>(kBlock, Frame{l, r}); }

// Left = n + 1, right = -(n + 1) for the block starting at frame `start`.
std::vector<Frame> ramp(int start)
{
    std::vector<Frame> x(kBlock);
    for (int i = 0; i < kBlock; ++i)
        x[i] = {double(start + i + 1), -double(start + i + 1)};
    return x;
}

std::vector<Frame> take(MixerZorvani& mixer)
{
    std::vector<Frame> out(kBlock);
    if (!mixer.outputRing().read(out.data(), kBlock))
        out.clear();
    return out;
}

} // namespace

class TestMixer : public QObject {
    Q_OBJECT
private slots:
    void monoOrStereoByMode_data();
    void monoOrStereoByMode();
    void binauralDelaysRightSide();
    void binauralChangeClearsDelayLine();
    void gainApproachesTarget();
    void balanceLaw_data();
    void balanceLaw();
    void muteFadesToSilence();
    void disabledChannelFadesThenReceiverIsLeftAlone();
    void masterGainAndMasterMute();
    void levelStageTransparentWhenDisabled();
    void levelStageHoldsLoudPeaks();
    void sumsReceiversAndFeedsSoundCard();
    void receiversAreMixedInStep();
    void nothingToMoveWritesNothing();
    void resetClearsStateButKeepsSettings();
    void threadMixesWhatArrives();
    void mixingPassDoesNotAllocate();
};

void TestMixer::monoOrStereoByMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("binauralCw");
    QTest::addColumn<bool>("mono");
    const char* names[] = {"AM", "SAM", "DSB", "LSB", "USB", "CW", "NFM", "DIGL", "DIGU", "WFM", "DRM"};
    for (int mode = 0; mode <= 10; ++mode) {
        const bool sideband = mode == 3 || mode == 4;
        QTest::addRow("%s", names[mode]) << mode << false << (sideband || mode == 5);
        QTest::addRow("%s binaural CW stage", names[mode]) << mode << true << sideband;
    }
}

// Mono makes im a copy of re; stereo keeps what the receiver produced.
void TestMixer::monoOrStereoByMode()
{
    QFETCH(int, mode);
    QFETCH(bool, binauralCw);
    QFETCH(bool, mono);
    FakeSource source;
    source.mode = mode;
    source.binaural = binauralCw;
    MixerZorvani mixer({&source}, nullptr);
    source.push(constant(0.3, -0.2));
    QVERIFY(mixer.mixOnce());
    const auto out = take(mixer);
    QCOMPARE(int(out.size()), kBlock);
    for (const Frame& f : out) {
        QCOMPARE(f.re, 0.3);
        QCOMPARE(f.im, mono ? 0.3 : -0.2);
    }
}

// A binaural channel stays stereo in LSB, USB and CW and its right side comes
// 10 ms (391 frames at 39062.5 Hz) late.
void TestMixer::binauralDelaysRightSide()
{
    for (int mode : {3, 4, 5}) {
        FakeSource source;
        source.mode = mode;
        MixerZorvani mixer({&source}, nullptr);
        mixer.setBinaural(0, 0, true);
        std::vector<Frame> all;
        for (int b = 0; b < 4; ++b) {
            source.push(ramp(b * kBlock));
            QVERIFY(mixer.mixOnce());
            const auto out = take(mixer);
            all.insert(all.end(), out.begin(), out.end());
        }
        for (int n = 0; n < int(all.size()); ++n) {
            QCOMPARE(all[n].re, double(n + 1));
            const double right = n < 391 ? 0.0 : -double(n - 391 + 1);
            QVERIFY2(all[n].im == right, qPrintable(QString("mode %1 frame %2: %3, expected %4")
                                                       .arg(mode).arg(n).arg(all[n].im).arg(right)));
        }
    }
    // Other modes keep the right side as it is, binaural or not.
    FakeSource am;
    MixerZorvani mixer({&am}, nullptr);
    mixer.setBinaural(0, 0, true);
    am.push(ramp(0));
    QVERIFY(mixer.mixOnce());
    QCOMPARE(take(mixer)[0].im, -1.0);
}

void TestMixer::binauralChangeClearsDelayLine()
{
    FakeSource source;
    source.mode = 4;
    MixerZorvani mixer({&source}, nullptr);
    mixer.setBinaural(0, 0, true);
    for (int b = 0; b < 3; ++b) {
        source.push(constant(1.0, 1.0));
        QVERIFY(mixer.mixOnce());
        take(mixer);
    }
    // The delay line is full of 1.0; switching off and on must empty it.
    mixer.setBinaural(0, 0, false);
    mixer.setBinaural(0, 0, true);
    source.push(constant(1.0, 1.0));
    QVERIFY(mixer.mixOnce());
    const auto out = take(mixer);
    for (const Frame& f : out)
        QCOMPARE(f.im, 0.0);
    // Repeating the same state keeps the line.
    source.push(constant(1.0, 1.0));
    QVERIFY(mixer.mixOnce());
    mixer.setBinaural(0, 0, true);
    source.push(constant(1.0, 1.0));
    QVERIFY(mixer.mixOnce());
    take(mixer);
    QCOMPARE(take(mixer).back().im, 1.0);
}

// g(n) = t + (g0 - t) 0.98^(n+1) per sample, in closed form.
void TestMixer::gainApproachesTarget()
{
    FakeSource source;
    source.mode = 0;
    MixerZorvani mixer({&source}, nullptr);
    mixer.setGain(0, 0, 0.5, 0.0);
    std::vector<Frame> all;
    for (int b = 0; b < 3; ++b) {
        source.push(constant(1.0, 1.0));
        QVERIFY(mixer.mixOnce());
        const auto out = take(mixer);
        all.insert(all.end(), out.begin(), out.end());
    }
    for (int n = 0; n < int(all.size()); ++n) {
        const double expected = 0.5 + 0.5 * std::pow(0.98, n + 1);
        QVERIFY2(std::abs(all[n].re - expected) < 1e-12 && std::abs(all[n].im - expected) < 1e-12,
                 qPrintable(QString("frame %1: %2 expected %3").arg(n).arg(all[n].re).arg(expected)));
    }
    // Once there, the block is simply scaled.
    for (int b = 0; b < 5; ++b) {
        source.push(constant(1.0, 1.0));
        QVERIFY(mixer.mixOnce());
        take(mixer);
    }
    source.push(constant(0.8, -0.4));
    QVERIFY(mixer.mixOnce());
    for (const Frame& f : take(mixer)) {
        QCOMPARE(f.re, 0.4);
        QCOMPARE(f.im, -0.2);
    }
}

void TestMixer::balanceLaw_data()
{
    QTest::addColumn<double>("gain");
    QTest::addColumn<double>("balance");
    QTest::addColumn<double>("left");
    QTest::addColumn<double>("right");
    QTest::newRow("centre") << 1.0 << 0.0 << 1.0 << 1.0;
    QTest::newRow("half right") << 1.0 << 50.0 << 0.5 << 1.0;
    QTest::newRow("full left") << 0.5 << -100.0 << 0.5 << 0.0;
    QTest::newRow("beyond right clamps") << 2.0 << 250.0 << 0.0 << 2.0;
    QTest::newRow("negative gain is silence") << -1.0 << 0.0 << 0.0 << 0.0;
}

void TestMixer::balanceLaw()
{
    QFETCH(double, gain);
    QFETCH(double, balance);
    QFETCH(double, left);
    QFETCH(double, right);
    FakeSource source;
    MixerZorvani mixer({&source}, nullptr);
    mixer.setGain(0, 0, gain, balance);
    // 0.98^2000 is far below the snap to the target.
    for (int b = 0; b < 10; ++b) {
        source.push(constant(1.0, 1.0));
        QVERIFY(mixer.mixOnce());
        take(mixer);
    }
    source.push(constant(1.0, 1.0));
    QVERIFY(mixer.mixOnce());
    const auto out = take(mixer);
    QCOMPARE(out.front().re, left);
    QCOMPARE(out.back().im, right);
}

void TestMixer::muteFadesToSilence()
{
    FakeSource source;
    MixerZorvani mixer({&source}, nullptr);
    mixer.setMute(0, 0, true);
    std::vector<Frame> all;
    for (int b = 0; b < 8; ++b) {
        source.push(constant(1.0, 1.0));
        QVERIFY2(mixer.mixOnce(), "a muted channel keeps being read");
        const auto out = take(mixer);
        all.insert(all.end(), out.begin(), out.end());
    }
    for (int n = 0; n < 400; ++n)
        QVERIFY2(std::abs(all[n].re - std::pow(0.98, n + 1)) < 1e-12, qPrintable(QString::number(n)));
    QCOMPARE(all.back().re, 0.0);
    QCOMPARE(all.back().im, 0.0);
    // NaN input is silenced by a zero gain, not spread.
    source.push(constant(std::nan(""), 1.0));
    QVERIFY(mixer.mixOnce());
    QCOMPARE(take(mixer)[0].re, 0.0);
    // Unmuting ramps back up.
    mixer.setMute(0, 0, false);
    source.push(constant(1.0, 1.0));
    QVERIFY(mixer.mixOnce());
    const auto back = take(mixer);
    QVERIFY(std::abs(back[0].re - 0.02) < 1e-12);
    QVERIFY(back[199].re > back[0].re);
}

void TestMixer::disabledChannelFadesThenReceiverIsLeftAlone()
{
    FakeSource source;
    MixerZorvani mixer({&source}, nullptr);
    mixer.setEnable(0, 0, false);
    mixer.setEnable(0, 1, false);
    int passes = 0;
    for (; passes < 20; ++passes) {
        source.push(constant(1.0, 1.0));
        if (!mixer.mixOnce())
            break;
        const auto out = take(mixer);
        QVERIFY(out.back().re < 1.0);
    }
    QVERIFY2(passes > 1 && passes < 20, qPrintable(QString("faded in %1 passes").arg(passes)));
    // Faded out: the receiver's rings are no longer read.
    QCOMPARE(source.rings[0].fill(), uint32_t(kBlock));
    QVERIFY(!mixer.mixOnce());
    mixer.setEnable(0, 0, true);
    QVERIFY(mixer.mixOnce());
    QCOMPARE(source.rings[0].fill(), 0u);
}

void TestMixer::masterGainAndMasterMute()
{
    FakeSource source;
    MixerZorvani mixer({&source}, nullptr);
    mixer.setMasterGain(0.25);
    source.push(constant(1.0, 1.0));
    QVERIFY(mixer.mixOnce());
    const auto first = take(mixer);
    QVERIFY(std::abs(first[0].re - (0.25 + 0.75 * 0.98)) < 1e-12);
    for (int b = 0; b < 10; ++b) {
        source.push(constant(1.0, 1.0));
        QVERIFY(mixer.mixOnce());
        take(mixer);
    }
    source.push(constant(0.8, 0.4));
    QVERIFY(mixer.mixOnce());
    auto out = take(mixer);
    QCOMPARE(out[0].re, 0.2);
    QCOMPARE(out[0].im, 0.1);

    mixer.setMasterMute(true);
    source.push(constant(1.0, 1.0));
    QVERIFY(mixer.mixOnce());
    out = take(mixer);
    QVERIFY(std::abs(out[0].re - 0.25 * 0.98) < 1e-12);
    for (int b = 0; b < 10; ++b) {
        source.push(constant(1.0, 1.0));
        QVERIFY(mixer.mixOnce());
        out = take(mixer);
    }
    QCOMPARE(out.back().re, 0.0);
    mixer.setMasterMute(false);
    source.push(constant(1.0, 1.0));
    QVERIFY(mixer.mixOnce());
    QVERIFY(std::abs(take(mixer)[0].re - 0.02 * 0.25) < 1e-12);
}

void TestMixer::levelStageTransparentWhenDisabled()
{
    FakeSource source;
    source.mode = 9;
    MixerZorvani mixer({&source}, nullptr);
    mixer.setLevelStageEnabled(false);
    for (int b = 0; b < 5; ++b) {
        auto in = ramp(b * kBlock);
        for (Frame& f : in) {
            f.re *= 0.01;
            f.im *= 0.003;
        }
        source.push(in);
        QVERIFY(mixer.mixOnce());
        const auto out = take(mixer);
        for (int i = 0; i < kBlock; ++i) {
            QCOMPARE(out[i].re, in[i].re);
            QCOMPARE(out[i].im, in[i].im);
        }
    }
}

// Enabled, the stage keeps peaks at or below 0.9 once settled and leaves quiet
// audio alone; disabled again, it returns to a gain of exactly 1.
void TestMixer::levelStageHoldsLoudPeaks()
{
    FakeSource source;
    source.mode = 9;
    MixerZorvani mixer({&source}, nullptr);
    mixer.setLevelStageEnabled(true);
    source.push(constant(0.1, -0.1));
    QVERIFY(mixer.mixOnce());
    for (const Frame& f : take(mixer))
        QCOMPARE(f.re, 0.1);

    double peak = 0.0;
    for (int b = 0; b < 10; ++b) {
        source.push(constant(2.0, -1.0));
        QVERIFY(mixer.mixOnce());
        const auto out = take(mixer);
        if (b >= 6) {
            for (const Frame& f : out)
                peak = std::max({peak, std::abs(f.re), std::abs(f.im)});
        }
    }
    QVERIFY2(std::abs(peak - 0.9) < 1e-6, qPrintable(QString("settled peak %1").arg(peak)));

    mixer.setLevelStageEnabled(false);
    Frame last{};
    for (int b = 0; b < 20; ++b) {
        source.push(constant(0.5, 0.5));
        QVERIFY(mixer.mixOnce());
        last = take(mixer).back();
    }
    QCOMPARE(last.re, 0.5);
}

void TestMixer::sumsReceiversAndFeedsSoundCard()
{
    FakeSource rx0, rx1;
    rx0.mode = 9;
    rx1.mode = 9;
    auto soundCard = std::make_shared<ResamplerSCZorvani>();
    MixerZorvani mixer({&rx0, &rx1}, soundCard);
    rx0.push(constant(0.1, 0.2), constant(0.01, 0.02));
    rx1.push(constant(0.001, 0.002), constant(0.0001, 0.0002));
    QVERIFY(mixer.mixOnce());
    const auto out = take(mixer);
    QVERIFY(std::abs(out[0].re - 0.1111) < 1e-15);
    QVERIFY(std::abs(out[0].im - 0.2222) < 1e-15);
    QCOMPARE(soundCard->inputRing().fill(), uint32_t(kBlock));
    Frame fed{};
    QVERIFY(soundCard->inputRing().read(&fed, 1));
    QCOMPARE(fed.re, out[0].re);

    // A sound-card ring without room for 200 is skipped; the mixer ring is not.
    std::vector<Frame> filler(4096 - 100);
    soundCard->inputRing().reset();
    QVERIFY(soundCard->inputRing().write(filler.data(), uint32_t(filler.size())));
    rx0.push(constant(0.1, 0.2));
    rx1.push(constant(0.001, 0.002));
    QVERIFY(mixer.mixOnce());
    QCOMPARE(soundCard->inputRing().fill(), uint32_t(filler.size()));
    QCOMPARE(mixer.outputRing().fill(), uint32_t(kBlock));
}

void TestMixer::receiversAreMixedInStep()
{
    FakeSource rx0, rx1;
    rx0.mode = 9;
    rx1.mode = 9;
    MixerZorvani mixer({&rx0, &rx1}, nullptr);
    // A receiver that never delivered is not waited for.
    rx0.push(constant(0.1, 0.1));
    QVERIFY(mixer.mixOnce());
    QVERIFY(std::abs(take(mixer)[kBlock - 1].re - 0.1) < 1e-12);

    // Once both deliver, a late receiver holds the mix back until its block
    // arrives, so every block holds both.
    rx0.push(constant(0.1, 0.1));
    rx1.push(constant(0.01, 0.01));
    QVERIFY(mixer.mixOnce());
    QVERIFY(std::abs(take(mixer)[kBlock - 1].re - 0.11) < 1e-12);
    rx0.push(constant(0.1, 0.1));
    QVERIFY(!mixer.mixOnce());
    rx1.push(constant(0.01, 0.01));
    QVERIFY(mixer.mixOnce());
    QVERIFY(std::abs(take(mixer)[kBlock - 1].re - 0.11) < 1e-12);

    // A receiver that stops delivering is left out once the other runs
    // kMaxLeadFrames ahead, and after kAbsentBlocks mixed blocks without it
    // it is not waited for any more.
    int pushed = 0;
    while (!mixer.mixOnce()) {
        rx0.push(constant(0.1, 0.1));
        QVERIFY(++pushed <= int(MixerZorvani::kMaxLeadFrames / kBlock));
    }
    QCOMPARE(pushed, int(MixerZorvani::kMaxLeadFrames / kBlock));
    QVERIFY(std::abs(take(mixer)[kBlock - 1].re - 0.1) < 1e-12);
    while (mixer.mixOnce())
        take(mixer);
    QCOMPARE(rx0.rings[0].fill(), uint32_t(3 * kBlock)); // still waiting with a lead of 600
    for (int i = 1; i < MixerZorvani::kAbsentBlocks; ++i) {
        rx0.push(constant(0.1, 0.1));
        QVERIFY(mixer.mixOnce());
        take(mixer);
    }
    // Absent now: every block of receiver 0 is mixed at once.
    while (mixer.mixOnce())
        take(mixer);
    QCOMPARE(rx0.rings[0].fill(), 0u);
    rx0.push(constant(0.1, 0.1));
    QVERIFY(mixer.mixOnce());
}

void TestMixer::nothingToMoveWritesNothing()
{
    FakeSource source;
    MixerZorvani mixer({&source}, nullptr);
    std::vector<Frame> x(199);
    source.rings[0].write(x.data(), 199);
    source.rings[1].write(x.data(), 199);
    QVERIFY(!mixer.mixOnce());
    QCOMPARE(mixer.outputRing().fill(), 0u);
    // One ring with a block is not enough: both channels move together.
    source.rings[0].write(x.data(), 1);
    QVERIFY(!mixer.mixOnce());
    QCOMPARE(source.rings[0].fill(), 200u);
    MixerZorvani empty({}, nullptr);
    QVERIFY(!empty.mixOnce());
}

void TestMixer::resetClearsStateButKeepsSettings()
{
    FakeSource source;
    source.mode = 4;
    MixerZorvani mixer({&source}, nullptr);
    mixer.setBinaural(0, 0, true);
    mixer.setGain(0, 0, 0.5, 0.0);
    for (int b = 0; b < 10; ++b) {
        source.push(constant(1.0, 1.0));
        QVERIFY(mixer.mixOnce());
    }
    QCOMPARE(mixer.outputRing().fill(), uint32_t(10 * kBlock));
    mixer.reset();
    QCOMPARE(mixer.outputRing().fill(), 0u);
    // Delay line empty again, gain still 0.5, binaural still on.
    source.push(constant(1.0, 1.0));
    QVERIFY(mixer.mixOnce());
    const auto out = take(mixer);
    QCOMPARE(out[0].re, 0.5);
    QCOMPARE(out[0].im, 0.0);
}

void TestMixer::threadMixesWhatArrives()
{
    FakeSource source;
    MixerZorvani mixer({&source}, nullptr);
    mixer.start();
    QVERIFY(mixer.isRunning());
    for (int b = 0; b < 5; ++b)
        source.push(constant(0.5, 0.25));
    QTRY_COMPARE_WITH_TIMEOUT(mixer.outputRing().fill(), uint32_t(5 * kBlock), 5000);
    mixer.stop();
    QVERIFY(!mixer.isRunning());
    mixer.reset();
    QCOMPARE(mixer.outputRing().fill(), 0u);
}

void TestMixer::mixingPassDoesNotAllocate()
{
    FakeSource rx0, rx1;
    rx0.mode = 5;
    auto soundCard = std::make_shared<ResamplerSCZorvani>();
    MixerZorvani mixer({&rx0, &rx1}, soundCard);
    mixer.setBinaural(1, 0, true);
    mixer.setGain(0, 1, 0.5, 20.0);
    mixer.setLevelStageEnabled(true);
    const auto block = constant(0.5, 0.25);
    std::vector<Frame> sink(kBlock);
    testsupport::AllocationScope scope;
    for (int b = 0; b < 10; ++b) {
        rx0.push(block, block);
        rx1.push(block, block);
        QVERIFY(mixer.mixOnce());
        QVERIFY(mixer.outputRing().read(sink.data(), kBlock));
        QVERIFY(soundCard->inputRing().read(sink.data(), kBlock));
    }
    QCOMPARE(scope.count(), 0u);
}

QTEST_GUILESS_MAIN(TestMixer)
#include "tst_mixer.moc"
