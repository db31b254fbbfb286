#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/AgcZorvani.h"

#include <QtTest>

using namespace dsptest;

namespace {

// The AGC as a receiver sets it up: working rate, gains `max` / -40 dB.
void setUp(AgcZorvani& agc, double attack, double decay, uint32_t hang, double max = 120.0)
{
    agc.setSampleRate(kFs);
    agc.setMaxGain(max);
    agc.setMinGain(-40.0);
    agc.setParameters(attack, decay, hang, true);
}

} // namespace

class TestAgc : public QObject {
    Q_OBJECT
private slots:
    // An impulse leaves after the look-ahead (the attack time, 0.1 .. 5 ms),
    // its gain already lowered for it (1/0.5 = 2 at most); nothing else
    // leaves. Reset empties the line: an impulse in it never comes out.
    void lookAhead()
    {
        const double rows[][2] = {{1.0, 1172}, {0.1, 117}, {5.0, 5859}, {0.01, 117}, {9.0, 5859}}; // round(1171.875) for 1 ms
        for (const auto& r : rows) {
            const int length = int(r[1]);
            AgcZorvani agc;
            setUp(agc, r[0], 400.0, 400);
            agc.setSampleRate(0.0);
            agc.setSampleRate(std::nan(""));
            QVERIFY2(agc.sampleRate() == kFs && agc.delayLength() == length, qPrintable(QString::number(r[0])));
            Signal x(7000, C{0.0, 0.0});
            x[0] = {0.5, -0.25};
            QVERIFY(agc.process(x.data(), 7000));
            QVERIFY(x[size_t(length)].re > 0.0 && x[size_t(length)].re <= 1.0 + 1e-12 && x[size_t(length)].im < 0.0);
            x[size_t(length)] = {0.0, 0.0};
            QVERIFY(silent(x.data(), 7000));
            x[0] = {0.5, -0.25};
            QVERIFY(agc.process(x.data(), 1));
            agc.reset();
            QVERIFY(agc.process(x.data(), 7000) && silent(x.data(), 7000));
        }
    }

    // From silence g holds for H + 1 samples, then rises at the decay rate to
    // the maximum without a division fault (the target is unbounded). A
    // strong burst lowers g at the attack rate at once and leaves at 0 dBFS
    // without overshoot; after it has left the line g stays for H + 1
    // samples, then rises at the decay rate.
    void hangAttackDecay()
    {
        AgcZorvani agc;
        setUp(agc, 1.0, 100.0, 100, 40.0);
        const int L = agc.delayLength(), H = int(agc.hangLimit()), burst = 8000;
        QCOMPARE(H, int(0.1 * kFs + 1172));
        const double ea = std::exp(-1.0 / (kFs * 0.001)), ed = std::exp(-1.0 / (kFs * 0.1));
        C zero{0.0, 0.0};
        for (int k = 0; k <= H; ++k)
            QVERIFY(agc.process(&zero, 1) && agc.gain() == 1.0);
        QVERIFY(agc.process(&zero, 1) && std::abs(agc.gain() - (100.0 * (1 - ed) + ed)) < 1e-9);
        Signal silence(80000, zero), out(burst);
        QVERIFY(agc.process(silence.data(), int(silence.size())) && silent(silence.data(), 80000));
        const double g0 = agc.gain();
        QVERIFY2(std::abs(g0 - 100.0) < 1e-3 && g0 <= 100.0, qPrintable(QString::number(g0)));
        for (int k = 0; k < burst; ++k) // constant peak 0.5: the target is exactly 2
            out[k] = {k % 2 ? -0.5 : 0.5, 0.25};
        QVERIFY(agc.process(out.data(), 1));
        QVERIFY2(std::abs(agc.gain() - (2.0 * (1 - ea) + g0 * ea)) < 1e-9, "no immediate attack");
        QVERIFY(agc.process(out.data() + 1, burst - 1) && std::abs(agc.gain() - 2.0) < 1e-9);
        double largest = 0.0;
        for (int k = L; k < burst; ++k)
            largest = std::max({largest, std::abs(out[k].re), std::abs(out[k].im)});
        QVERIFY2(largest <= 1.0 + 1e-3 && std::abs(std::abs(out[burst - 1].re) - 1.0) < 1e-6, qPrintable(QString::number(largest)));
        const double held = agc.gain();
        double before = held;
        int firstChange = -1;
        for (int k = 0; k < L + H + 10 && firstChange < 0; ++k) {
            before = agc.gain();
            C quiet{0.0, 0.0}; // the line's output lands here
            QVERIFY(agc.process(&quiet, 1));
            firstChange = agc.gain() > held * (1.0 + 1e-12) ? k : -1;
        }
        // The burst's last sample stays in the line for L more samples, then
        // the hang counter must pass H.
        QCOMPARE(firstChange, L + 1 + H);
        QVERIFY(std::abs(agc.gain() - (100.0 * (1 - ed) + before * ed)) < 1e-9);
    }

    // The RF gain sets the fixed gain (up to 120 dB, down to -60) and limits
    // the AGC's maximum (not below -39 dB); with the AGC off the fixed gain is
    // reached over 50 ms, without delay.
    void rfGain()
    {
        const double rows[][3] = {{130, 120.0, 120.0}, {50, 50.0, 50.0}, {20, 20.0, 20.0}, {-60, -60.0, -39.0}, {-80, -60.0, -39.0}};
        for (const auto& row : rows) {
            AgcZorvani agc;
            setUp(agc, 1.0, 400.0, 400);
            agc.setRfGain(int(row[0]));
            QVERIFY2(agc.fixedGainDb() == row[1] && agc.maxGainDb() == row[2], qPrintable(QString::number(row[0])));
            agc.setParameters(1.0, 400.0, 400, false);
            QVERIFY(!agc.isEnabled());
            const double e0 = std::exp(-1.0 / (0.05 * kFs)), target = std::pow(10.0, row[1] / 20.0);
            Signal x(static_cast<size_t>(kFs), C{0.01, -0.02});
            QVERIFY(agc.process(x.data(), int(x.size())));
            const double g1 = (1 - e0) * target + e0, tolerance = 1e-6 * std::max(1.0, target);
            QVERIFY(std::abs(x[0].re - 0.01 * g1) < 1e-15 * target && std::abs(x[0].im + 0.02 * g1) < 1e-15 * target);
            QVERIFY(std::abs(x.back().re / 0.01 - target) < tolerance && std::abs(agc.fixedGain() - target) < tolerance);
        }
    }
};

QTEST_APPLESS_MAIN(TestAgc)
#include "tst_agc.moc"
