#include "BlockTestSupport.h"
#include "zorvaniDsp/Filters/AgcZorvani.h"

#include <QtTest>

using namespace blocktest;

namespace {

constexpr double kFs = 39062.5;

// The AGC as a receiver sets it up: working rate, gains 120 / -40 dB.
void receiverSetup(AgcZorvani& agc, double attack, double decay, uint32_t hang)
{
    agc.setSampleRate(kFs);
    agc.setMaxGain(120.0);
    agc.setMinGain(-40.0);
    agc.setParameters(attack, decay, hang, true);
}

} // namespace

class TestAgc : public QObject {
    Q_OBJECT
private slots:
    // Attack 1 ms at 39062.5 Hz: round(1171.875) = 1172 samples of look-ahead.
    void lookAheadDelay()
    {
        AgcZorvani agc;
        receiverSetup(agc, 1.0, 400.0, 400);
        Signal x(3000, C{0.0, 0.0});
        x[0] = {0.5, -0.25};
        QVERIFY(agc.process(x.data(), 3000));
        for (int k = 0; k < 3000; ++k) {
            if (k == 1172)
                QVERIFY2(x[k].re > 0.0 && x[k].im < 0.0, "impulse not at 1172");
            else
                QVERIFY2(x[k].re == 0.0 && x[k].im == 0.0, qPrintable(QString("output at %1").arg(k)));
        }
        // The gain applied to it already saw the impulse coming: 1/0.5 = 2 at most.
        QVERIFY(x[1172].re <= 0.5 * 2.0 + 1e-12);
    }

    void lookAheadFollowsAttack_data()
    {
        QTest::addColumn<double>("attack");
        QTest::addColumn<int>("length");
        QTest::newRow("1 ms") << 1.0 << 1172;
        QTest::newRow("0.1 ms") << 0.1 << 117;
        QTest::newRow("5 ms") << 5.0 << 5859;
        QTest::newRow("0.01 ms clamped to 0.1") << 0.01 << 117;
        QTest::newRow("9 ms clamped to 5") << 9.0 << 5859;
    }

    void lookAheadFollowsAttack()
    {
        QFETCH(double, attack);
        QFETCH(int, length);
        AgcZorvani agc;
        receiverSetup(agc, attack, 400.0, 400);
        QCOMPARE(agc.delayLength(), length);
    }

    // A silent line gives an unbounded target without any division fault:
    // g holds for H + 1 samples, then rises at the decay rate to the maximum.
    void silentInputRisesToMaximumAfterHang()
    {
        AgcZorvani agc;
        receiverSetup(agc, 1.0, 400.0, 400);
        const uint32_t H = agc.hangLimit();
        QCOMPARE(H, uint32_t(0.4 * kFs + 1172));
        Signal x(1, C{0.0, 0.0});
        for (uint32_t k = 0; k <= H; ++k) {
            QVERIFY(agc.process(x.data(), 1));
            QCOMPARE(agc.gain(), 1.0);
        }
        QVERIFY(agc.process(x.data(), 1));
        const double ed = std::exp(-1.0 / (kFs * 0.4));
        const double max = 1e6;
        QVERIFY(std::abs(agc.gain() - (max * (1 - ed) + 1.0 * ed)) < 1e-6);
        Signal rest(static_cast<size_t>(6 * kFs), C{0.0, 0.0});
        QVERIFY(agc.process(rest.data(), int(rest.size())));
        QVERIFY2(std::isfinite(agc.gain()), "gain is not finite");
        QVERIFY2(std::abs(agc.gain() / max - 1.0) < 1e-4, qPrintable(QString::number(agc.gain())));
        for (const C& c : rest)
            QVERIFY(c.re == 0.0 && c.im == 0.0);
        QVERIFY(agc.gain() <= max);
    }

    // A strong burst lowers g at the attack rate at once; after it has left
    // the line g stays constant for H + 1 samples, then rises at the decay rate.
    void burstAttackHangDecay()
    {
        AgcZorvani agc;
        agc.setSampleRate(kFs);
        agc.setMaxGain(40.0);
        agc.setMinGain(-40.0);
        agc.setParameters(1.0, 100.0, 100, true);
        const int L = agc.delayLength();
        const uint32_t H = agc.hangLimit();
        const double ea = std::exp(-1.0 / (kFs * 0.001));
        const double ed = std::exp(-1.0 / (kFs * 0.1));

        Signal silence(80000, C{0.0, 0.0});
        QVERIFY(agc.process(silence.data(), int(silence.size())));
        const double g0 = agc.gain();
        QVERIFY(std::abs(g0 - 100.0) < 1e-3);

        // Constant peak 0.5: the target is exactly 2.
        const int burst = 8000;
        Signal out(burst);
        for (int k = 0; k < burst; ++k)
            out[k] = {k % 2 ? -0.5 : 0.5, 0.25};
        QVERIFY(agc.process(out.data(), 1));
        QVERIFY2(std::abs(agc.gain() - (2.0 * (1 - ea) + g0 * ea)) < 1e-9, "no immediate attack");
        QVERIFY(agc.process(out.data() + 1, burst - 1));
        QVERIFY(std::abs(agc.gain() - 2.0) < 1e-9);
        // The delayed burst leaves at the reference level (0 dBFS), no overshoot.
        double largest = 0.0;
        for (int k = L; k < burst; ++k)
            largest = std::max({largest, std::abs(out[k].re), std::abs(out[k].im)});
        QVERIFY2(largest <= 1.0 + 1e-3, qPrintable(QString::number(largest)));
        QVERIFY(std::abs(std::abs(out[burst - 1].re) - 1.0) < 1e-6);

        // Silence after the burst, one sample at a time.
        const double held = agc.gain();
        double before = held;
        Signal zero(1, C{0.0, 0.0});
        int firstChange = -1;
        for (int k = 0; k < L + int(H) + 10; ++k) {
            before = agc.gain();
            zero[0] = {0.0, 0.0};
            QVERIFY(agc.process(zero.data(), 1));
            if (agc.gain() > held * (1.0 + 1e-12)) {
                firstChange = k;
                break;
            }
        }
        // The burst's last sample is in the line for L more samples, then
        // the hang counter must pass H.
        QCOMPARE(firstChange, L + 1 + int(H));
        QVERIFY(std::abs(agc.gain() - (100.0 * (1 - ed) + before * ed)) < 1e-9);
    }

    void rfGain_data()
    {
        QTest::addColumn<int>("rf");
        QTest::addColumn<double>("fixed");
        QTest::addColumn<double>("max");
        QTest::newRow("130") << 130 << 120.0 << 120.0;
        QTest::newRow("50") << 50 << 50.0 << 50.0;
        QTest::newRow("-60") << -60 << -60.0 << -39.0;
        QTest::newRow("-80") << -80 << -60.0 << -39.0;
    }

    void rfGain()
    {
        QFETCH(int, rf);
        QFETCH(double, fixed);
        QFETCH(double, max);
        AgcZorvani agc;
        receiverSetup(agc, 1.0, 400.0, 400);
        agc.setRfGain(rf);
        QCOMPARE(agc.fixedGainDb(), fixed);
        QCOMPARE(agc.maxGainDb(), max);
    }

    // AGC off: a fixed gain smoothed over 50 ms, no delay.
    void fixedGainWhenOff()
    {
        AgcZorvani agc;
        receiverSetup(agc, 1.0, 400.0, 400);
        agc.setRfGain(20);
        agc.setParameters(1.0, 400.0, 400, false);
        QVERIFY(!agc.isEnabled());
        const double e0 = std::exp(-1.0 / (0.05 * kFs));
        Signal x(static_cast<size_t>(kFs), C{0.01, -0.02});
        QVERIFY(agc.process(x.data(), int(x.size())));
        const double g1 = (1 - e0) * 10.0 + e0 * 1.0;
        QVERIFY(std::abs(x[0].re - 0.01 * g1) < 1e-15);
        QVERIFY(std::abs(x[0].im + 0.02 * g1) < 1e-15);
        QVERIFY(std::abs(x.back().re - 0.1) < 1e-9);
        QVERIFY(std::abs(agc.fixedGain() - 10.0) < 1e-6);
    }

    void continuity_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("on") << true;
        QTest::newRow("off") << false;
    }

    void continuity()
    {
        QFETCH(bool, enabled);
        AgcZorvani whole, split;
        for (auto* agc : {&whole, &split}) {
            receiverSetup(*agc, 0.2, 50.0, 5);
            agc->setParameters(0.2, 50.0, 5, enabled);
            agc->setRfGain(30);
        }
        Signal input = noise(4000, 8, 0.01);
        for (int k = 1000; k < 1300; ++k)
            input[k] = {0.7, -0.4};
        for (int start = 0; start < 4000; start += 400) {
            Signal a(input.begin() + start, input.begin() + start + 400), b = a;
            QVERIFY(whole.process(a.data(), 400));
            QVERIFY(split.process(b.data(), 200));
            QVERIFY(split.process(b.data() + 200, 200));
            QVERIFY2(sameBits(a, b), qPrintable(QString("block at %1 differs").arg(start)));
        }
        QCOMPARE(whole.gain(), split.gain());
        // Reset empties the line: nothing old comes out.
        whole.reset();
        Signal y(1172, C{0.0, 0.0});
        QVERIFY(whole.process(y.data(), 1172));
        for (const C& c : y)
            QVERIFY2(c.re == 0.0 && c.im == 0.0, "old samples left the line after reset");
    }

    void invalidInputRefused()
    {
        AgcZorvani agc;
        MessageCapture capture;
        QVERIFY(!agc.process(nullptr, 10));
        Signal x(4, C{1.0, 1.0});
        QVERIFY(!agc.process(x.data(), 0));
        agc.setSampleRate(0.0);
        agc.setSampleRate(std::nan(""));
        QCOMPARE(agc.sampleRate(), 48000.0);
        QCOMPARE(capture.all().size(), 4);
        QCOMPARE(x[0].re, 1.0);
    }
};

QTEST_APPLESS_MAIN(TestAgc)
#include "tst_agc.moc"
