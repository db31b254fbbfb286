// The channel's audio stages: the AGC, the biquads of the peak filters and
// the WFM high-pass, and the binaural CW split.
#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/AgcZorvani.h"
#include "zorvaniDsp/Filters/BiQuadFilter.h"
#include "zorvaniDsp/Filters/SurrounfCW.h"

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

// Steady-state amplitude of the filter's answer to a cosine at hz in both
// parts (-1 if they differ), or to a constant at 0 Hz.
double measuredGain(BiQuadFilter& f, double hz, double extraDb)
{
    Signal x = hz > 0.0 ? monoTone(40000, hz, 0.01) : Signal(40000, C{0.01, 0.01});
    inBlocks(x, 200, [&](C* p, int n) { f.process(p, n, extraDb); });
    if (hz == 0.0)
        return x.back().re / 0.01;
    const double re = realAmplitude(x, 8750, 31250, hz, 0) / 0.01, im = realAmplitude(x, 8750, 31250, hz, 1) / 0.01;
    return std::fabs(re - im) < 1e-9 ? re : -1.0;
}

// Left over right power (dB) of the stage's answer to the complex audio tone
// exp(j 2 pi hz t), as the CW channel filter delivers it.
double leftOverRight(SurrounfCW& stage, double hz)
{
    stage.reset();
    Signal x = toneHz(20000, hz, 0.5);
    inBlocks(x, 200, [&](C* p, int n) { QVERIFY(stage.process(p, n)); });
    return db(rms(x, 10000, 10000, 0) / rms(x, 10000, 10000, 1));
}

} // namespace

class TestAudioStages : public QObject {
    Q_OBJECT
private slots:
    // An impulse leaves after the look-ahead (the attack time, 0.1 .. 5 ms),
    // its gain already lowered for it (1/0.5 = 2 at most); nothing else
    // leaves. Reset empties the line: an impulse in it never comes out.
    void agcLookAheadHangAndDecay()
    {
        const double rows[][2] = {{1.0, 1172}, {0.1, 117}, {5.0, 5859}, {0.01, 117}, {9.0, 5859}}; // 1 ms: 1171.875
        for (const auto& r : rows) {
            const size_t length = size_t(r[1]);
            AgcZorvani agc;
            setUp(agc, r[0], 400.0, 400);
            QVERIFY2(agc.delayLength() == int(length), qPrintable(QString::number(r[0])));
            Signal x(7000, C{0.0, 0.0});
            x[0] = {0.5, -0.25};
            QVERIFY(agc.process(x.data(), 7000));
            QVERIFY(x[length].re > 0.0 && x[length].re <= 1.0 + 1e-12 && x[length].im < 0.0);
            x[length] = {0.0, 0.0};
            QVERIFY(silent(x.data(), 7000));
            x[0] = {0.5, -0.25};
            QVERIFY(agc.process(x.data(), 1));
            agc.reset();
            QVERIFY(agc.process(x.data(), 7000) && silent(x.data(), 7000));
        }
        // From silence g rises to the maximum without a division fault (the
        // target is unbounded). A strong burst lowers g at the attack rate at
        // once and leaves at 0 dBFS without overshoot; after it has left the
        // line g stays for H + 1 samples, then rises at the decay rate.
        AgcZorvani agc;
        setUp(agc, 1.0, 100.0, 100, 40.0);
        const int L = agc.delayLength(), H = int(agc.hangLimit()), burst = 8000;
        QCOMPARE(H, int(0.1 * kFs + 1172));
        const double ea = std::exp(-1.0 / (kFs * 0.001)), ed = std::exp(-1.0 / (kFs * 0.1));
        Signal silence(80000, C{0.0, 0.0}), out(burst);
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
        QVERIFY(largest <= 1.0 + 1e-3 && std::abs(std::abs(out[burst - 1].re) - 1.0) < 1e-6);
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
        QVERIFY2(firstChange == L + 1 + H && std::abs(agc.gain() - (100.0 * (1 - ed) + before * ed)) < 1e-9,
                 qPrintable(QString("decay from %1 samples after the burst").arg(firstChange)));
        // The RF gain sets the fixed gain (up to 120 dB, down to -60) and limits
        // the AGC's maximum (not below -39 dB); the fixed gain heard with the AGC
        // off: tst_enginechain.
        const double rf[][3] = {{130, 120.0, 120.0}, {20, 20.0, 20.0}, {-80, -60.0, -39.0}};
        for (const auto& row : rf) {
            agc.setRfGain(int(row[0]));
            QVERIFY2(agc.fixedGainDb() == row[1] && agc.maxGainDb() == row[2],
                     qPrintable(QString::number(row[0])));
        }
    }

    // At the centre (1000 Hz): closed forms of the analogue prototypes at
    // s = j (the bilinear transform is prewarped there), times the output
    // scale 1 / V of the peaking type (V = 10^(|gain| / 20)), times the extra
    // gain, which the high-pass (scale 1) ignores. A peaking filter lowers the
    // rest of the band by its gain (at DC).
    void biquadsAndBinaural()
    {
        const double v12 = std::pow(10.0, 12.0 / 20.0);
        using B = BiQuadFilter;
        const struct { const char* name; B::Type type; double q, gainDb, extraDb, hz, expected; } rows[] = {
            {"high-pass, |H| = Q", B::HighPass, 0.7, 0.0, 0.0, 1000.0, 0.7},
            {"peaking +20 dB, V / V", B::Peaking, 1.0, 20.0, 0.0, 1000.0, 1.0},
            {"peaking -12 dB, 1 / V / V", B::Peaking, 2.0, -12.0, 0.0, 1000.0, 1.0 / (v12 * v12)},
            {"peaking +12 dB at DC", B::Peaking, 1.0, 12.0, 0.0, 0.0, 1.0 / v12},
            {"peaking +20 dB, 6 dB extra", B::Peaking, 2.0, 20.0, 6.0, 1000.0, std::pow(10.0, 6.0 / 20.0)},
            {"high-pass, 6 dB extra ignored", B::HighPass, 2.0, 0.0, 6.0, 1000.0, 2.0}};
        for (const auto& r : rows) {
            BiQuadFilter f;
            f.init(r.type, 1000.0 / kFs, r.q, r.gainDb);
            f.setEnabled(true);
            const double g = measuredGain(f, r.hz, r.extraDb);
            QVERIFY2(std::fabs(g - r.expected) < 1e-3 * std::max(1.0, r.expected),
                     qPrintable(QString("%1: gain %2").arg(r.name).arg(g, 0, 'g', 8)));
        }
        // A refused design keeps the working one: a bad type, a centre outside
        // (0, 0.5), or a value that is not finite. A Q under 0.1 counts as 0.1.
        BiQuadFilter f, floor;
        f.init(BiQuadFilter::Peaking, 0.02, 2.0, 10.0);
        const double b0 = f.b0(), a2 = f.a2(), scale = f.outputScale();
        MessageCapture capture;
        f.init(static_cast<BiQuadFilter::Type>(7), 0.1, 1.0, 3.0);
        const double bad[][3] = {{0.0, 1.0, 6.0}, {0.5, 1.0, 6.0}, {NAN, 1.0, 6.0}, {0.1, NAN, 6.0},
                                 {0.1, 1.0, HUGE_VAL}};
        for (const auto& d : bad)
            f.init(BiQuadFilter::Peaking, d[0], d[1], d[2]);
        QVERIFY(capture.all().size() == 6 && capture.all().first().contains("Incorrect filter type!"));
        QVERIFY(f.b0() == b0 && f.a2() == a2 && f.outputScale() == scale);
        f.init(BiQuadFilter::Peaking, 0.02, 0.01, 10.0);
        floor.init(BiQuadFilter::Peaking, 0.02, 0.1, 10.0);
        QVERIFY(f.b0() == floor.b0() && f.b2() == floor.b2() && f.a2() == floor.a2());
        // The CW peak filter's Q: 5 x 700 Hz over the passband's width, 7 at most.
        QVERIFY(::cwApfQuality(5.0, 700.0, -250.0, 250.0) == 7.0 && ::cwApfQuality(5.0, 700.0, 250.0, -250.0) == 7.0);
        QVERIFY(::cwApfQuality(5.0, 700.0, -150.0, 150.0) == 5.0 * 700.0 / 450.0);
        QVERIFY(::cwApfQuality(5.0, 700.0, 0.0, 1000.0) == 3.5);
        // Binaural CW, without swap: below the pitch (700 Hz) on the right, above it on the
    // left. 140 taps leave a transition of about 1 kHz, so 500 and 900 Hz
    // only lean to their sides (6 dB); 500 taps separate them cleanly (30 dB).
        // A new pitch moves the split.
        for (int taps : {140, 500})
            for (bool swap : {false, true}) {
                SurrounfCW stage;
                stage.setEnabled(true);
                stage.setTaps(taps);
                stage.setSwap(swap);
                const double below = leftOverRight(stage, 500.0), above = leftOverRight(stage, 900.0);
                const double sign = swap ? -1.0 : 1.0, minimum = taps == 140 ? 6.0 : 30.0;
                QVERIFY2(-sign * below >= minimum && sign * above >= minimum,
                         qPrintable(QString("%1 taps, swap %2: %3, %4 dB").arg(taps).arg(swap).arg(below).arg(above)));
                stage.setPitch(1200.0);
                QVERIFY(swap || taps == 140 || leftOverRight(stage, 900.0) <= -30.0);
            }
        // 0 dB peaking is exact pass-through; so is a filter switched off and
        // the binaural stage, off by default. A tap count of 0 is refused.
        const Signal input = gaussian(2000, 0.5, 1);
        Signal a = input, b = input, c = input;
        BiQuadFilter flat, off;
        SurrounfCW stage;
        flat.init(BiQuadFilter::Peaking, 700.0 / kFs, 5.0, 0.0);
        off.init(BiQuadFilter::Peaking, 700.0 / kFs, 5.0, 20.0);
        flat.setEnabled(true);
        off.setEnabled(false);
        QVERIFY(flat.process(a.data(), 2000) && off.process(b.data(), 2000) && stage.process(c.data(), 2000));
        QVERIFY(sameBits(a, input) && sameBits(b, input) && sameBits(c, input));
        stage.setTaps(0);
        QCOMPARE(stage.taps(), 140);
    }
};

QTEST_APPLESS_MAIN(TestAudioStages)
#include "tst_audiostages.moc"
