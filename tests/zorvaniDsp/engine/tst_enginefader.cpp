// The engine's own small pieces: the mode fader, the AGC queue and the mixer
// gain rule, checked against closed forms written here.
#include "zorvaniDsp/AgcQueue.h"
#include "zorvaniDsp/MixerGains.h"
#include "zorvaniDsp/ModulationSwitcher.h"

#include <QtTest>

#include <cmath>
#include <vector>

using Sample = Ostrovix::complex<double>;

namespace {

// Ramp coefficient for a 15 ms time constant at 39062.5 Hz.
const double kA = std::exp(-1.0 / (0.015 * 39062.5));

std::vector<Sample> ones(int n)
{
    return std::vector<Sample>(size_t(n), Sample{1.0, -1.0});
}

} // namespace

class TestEngineFader : public QObject {
    Q_OBJECT
private slots:
    void rampFollowsFirstOrderLaw();
    void rampTargetLimits_data();
    void rampTargetLimits();
    void fadeOutSwitchFadeIn();
    void changeDuringFadeOutKeepsFading();
    void agcClamps_data();
    void agcClamps();
    void agcQueueKeepsNewestWhenFull();
    void mixerSingleChannelRule_data();
    void mixerSingleChannelRule();
};

void TestEngineFader::rampFollowsFirstOrderLaw()
{
    GainRamp ramp;
    ramp.setTargetDb(-20.0);
    std::vector<Sample> x = ones(1000);
    ramp.apply(x.data(), 1000);
    // g_k = t + (g0 - t) a^(k+1), applied after the update.
    const double t = 0.1;
    for (int k : {0, 1, 10, 500, 999}) {
        const double expected = t + (1.0 - t) * std::pow(kA, k + 1);
        QVERIFY2(std::fabs(x[size_t(k)].re - expected) < 1e-12, qPrintable(QString("sample %1").arg(k)));
        QVERIFY2(std::fabs(x[size_t(k)].im + expected) < 1e-12, qPrintable(QString("sample %1").arg(k)));
    }
    QVERIFY(std::fabs(ramp.gain() - x[999].re) < 1e-15);
}

void TestEngineFader::rampTargetLimits_data()
{
    QTest::addColumn<double>("dB");
    QTest::addColumn<double>("target");
    QTest::newRow("0 dB") << 0.0 << 1.0;
    QTest::newRow("+6 dB limited to 0") << 6.0 << 1.0;
    QTest::newRow("-20 dB") << -20.0 << 0.1;
    QTest::newRow("-59 dB") << -59.0 << std::pow(10.0, -59.0 / 20.0);
    QTest::newRow("-59.5 dB floor") << -59.5 << std::pow(10.0, -6.5);
    QTest::newRow("-130 dB floor") << -130.0 << std::pow(10.0, -6.5);
}

void TestEngineFader::rampTargetLimits()
{
    QFETCH(double, dB);
    QFETCH(double, target);
    GainRamp ramp;
    ramp.setTargetDb(dB);
    QVERIFY2(std::fabs(ramp.target() - target) <= 1e-12 * target, qPrintable(QString::number(ramp.target())));
}

void TestEngineFader::fadeOutSwitchFadeIn()
{
    ModulationSwitcher fader(3);
    QCOMPARE(fader.state(), ModulationSwitcher::Pass);
    std::vector<Sample> a = ones(200), b = ones(200);
    fader.process(a.data(), b.data(), 200);
    QCOMPARE(a[199].re, 1.0); // pass leaves the block alone

    fader.setPendingMode(4);
    fader.requestChange();
    QCOMPARE(fader.state(), ModulationSwitcher::FadeOut);

    // Fade out: g -> 10^-6.5; done when |g - t| * 1e5 <= t, i.e.
    // (1 - t) a^k <= t / 1e5.
    const double floor = std::pow(10.0, -6.5);
    const int fadeOutSamples = int(std::ceil(std::log(floor / 1e5 / (1.0 - floor)) / std::log(kA)));
    int processed = 0;
    double previous = 1.0;
    while (fader.state() == ModulationSwitcher::FadeOut) {
        QCOMPARE(fader.activeMode(), 3); // the old mode plays during the fade-out
        QVERIFY(!fader.takeResetRequest());
        a = ones(200);
        b = ones(200);
        fader.process(a.data(), b.data(), 200);
        processed += 200;
        QVERIFY2(a[199].re < previous, "gain must fall monotonically");
        QCOMPARE(a[199].re, b[199].re);
        previous = a[199].re;
        QVERIFY2(processed < 100000, "fade-out never completes");
    }
    // The state changes at the end of the block in which the target is reached.
    QVERIFY2(processed >= fadeOutSamples && processed < fadeOutSamples + 200 + 200,
             qPrintable(QString("%1 samples, expected about %2").arg(processed).arg(fadeOutSamples)));
    QCOMPARE(fader.state(), ModulationSwitcher::Switch);
    QVERIFY(fader.takeResetRequest());
    QVERIFY(!fader.takeResetRequest());

    a = ones(200);
    b = ones(200);
    fader.process(a.data(), b.data(), 200);
    QCOMPARE(fader.activeMode(), 4);
    QCOMPARE(fader.state(), ModulationSwitcher::FadeIn);
    QVERIFY(a[199].re > a[0].re); // already rising

    processed = 200;
    while (fader.state() == ModulationSwitcher::FadeIn) {
        a = ones(200);
        b = ones(200);
        fader.process(a.data(), b.data(), 200);
        processed += 200;
        QVERIFY2(processed < 100000, "fade-in never completes");
    }
    // Fade in done when (1 - g) * 1e5 <= 1 from about 10^-6.5.
    const int fadeInSamples = int(std::ceil(std::log(1e-5) / std::log(kA)));
    QVERIFY2(std::abs(processed - fadeInSamples) <= 400,
             qPrintable(QString("%1 samples, expected about %2").arg(processed).arg(fadeInSamples)));
    QCOMPARE(fader.state(), ModulationSwitcher::Pass);
    QVERIFY(std::fabs(fader.gain(0) - 1.0) <= 1e-5);
    QVERIFY(std::fabs(fader.gain(1) - 1.0) <= 1e-5);
}

void TestEngineFader::changeDuringFadeOutKeepsFading()
{
    ModulationSwitcher fader(3);
    fader.setPendingMode(5);
    fader.requestChange();
    std::vector<Sample> a = ones(2000), b = ones(2000);
    fader.process(a.data(), b.data(), 2000);
    const double g = fader.gain(0);
    fader.setPendingMode(6);
    fader.requestChange(); // no restart: the gain keeps falling from where it is
    QCOMPARE(fader.gain(0), g);
    QCOMPARE(fader.state(), ModulationSwitcher::FadeOut);
    a = ones(1);
    b = ones(1);
    fader.process(a.data(), b.data(), 1);
    QVERIFY(a[0].re < g);
}

void TestEngineFader::agcClamps_data()
{
    QTest::addColumn<double>("attack");
    QTest::addColumn<double>("decay");
    QTest::addColumn<uint>("hang");
    QTest::addColumn<double>("attackOut");
    QTest::addColumn<double>("decayOut");
    QTest::addColumn<uint>("hangOut");
    QTest::newRow("below limits") << 0.01 << 5000.0 << 0u << 0.1 << 3000.0 << 1u;
    QTest::newRow("above limits") << 9.0 << 0.5 << 5000u << 5.0 << 1.0 << 3000u;
    QTest::newRow("inside") << 0.7 << 100.0 << 100u << 0.7 << 100.0 << 100u;
    QTest::newRow("edges") << 0.1 << 3000.0 << 1u << 0.1 << 3000.0 << 1u;
}

void TestEngineFader::agcClamps()
{
    QFETCH(double, attack);
    QFETCH(double, decay);
    QFETCH(uint, hang);
    QFETCH(double, attackOut);
    QFETCH(double, decayOut);
    QFETCH(uint, hangOut);
    AgcQueue queue;
    queue.push(AgcSettings{attack, decay, hang, false});
    int applied = 0;
    queue.drain([&](const AgcSettings& s) {
        ++applied;
        QCOMPARE(s.attackMs, attackOut);
        QCOMPARE(s.decayMs, decayOut);
        QCOMPARE(s.hangMs, uint32_t(hangOut));
        QCOMPARE(s.enabled, false);
    });
    QCOMPARE(applied, 1);
    QCOMPARE(queue.size(), 0);
}

void TestEngineFader::agcQueueKeepsNewestWhenFull()
{
    AgcQueue queue;
    for (int i = 0; i < AgcQueue::kCapacity + 5; ++i)
        queue.push(AgcSettings{1.0, double(100 + i), 100, true});
    QCOMPARE(queue.size(), AgcQueue::kCapacity);
    std::vector<double> decays;
    queue.drain([&](const AgcSettings& s) { decays.push_back(s.decayMs); });
    QCOMPARE(int(decays.size()), AgcQueue::kCapacity);
    QCOMPARE(decays.front(), 100.0);
    QCOMPARE(decays.back(), double(100 + AgcQueue::kCapacity + 4)); // the last set wins
}

void TestEngineFader::mixerSingleChannelRule_data()
{
    QTest::addColumn<int>("enabledMask"); // bit rx*2+ch
    QTest::addColumn<bool>("single");
    QTest::newRow("only rx0 ch0") << 0b0001 << true;
    QTest::newRow("rx0 ch0 and rx1 ch1") << 0b1001 << true;
    QTest::newRow("rx0 both") << 0b0011 << false;
    QTest::newRow("rx0 ch0 and rx1 ch0") << 0b0101 << false;
    QTest::newRow("all") << 0b1111 << false;
    QTest::newRow("none") << 0b0000 << false;
}

void TestEngineFader::mixerSingleChannelRule()
{
    QFETCH(int, enabledMask);
    QFETCH(bool, single);
    bool enabled[2][2];
    const double volume[2][2] = {{-80.0, -6.0}, {-60.0, 20.0}};
    const double balance[2][2] = {{0.5, -0.25}, {0.75, -1.0}};
    for (int i = 0; i < 4; ++i)
        enabled[i / 2][i % 2] = (enabledMask >> i) & 1;
    const MixerGainTable table = mixerGains(enabled, volume, balance);
    if (single) {
        QCOMPARE(table[0][0].gain, 1.0);
        QCOMPARE(table[0][0].balance, 0.0);
        QCOMPARE(table[0][1].gain, 0.0);
        QCOMPARE(table[1][0].gain, 0.0);
        QCOMPARE(table[1][1].gain, 0.0);
    } else {
        QCOMPARE(table[0][0].gain, 0.0);                  // -80 dB
        QVERIFY(std::fabs(table[0][1].gain - 0.501187233627) < 1e-9); // -6 dB
        QCOMPARE(table[1][0].gain, 0.0);                  // -60 dB is silence
        QVERIFY(std::fabs(table[1][1].gain - 10.0) < 1e-12);          // +20 dB
        for (int rx = 0; rx < 2; ++rx)
            for (int ch = 0; ch < 2; ++ch)
                QCOMPARE(table[rx][ch].balance, balance[rx][ch]);
    }
}

QTEST_GUILESS_MAIN(TestEngineFader)
#include "tst_enginefader.moc"
