// The demodulators, the squelches that gate their audio, and the broadcast FM
// stereo decoder against the emulator's transmitter.
#include "DspTestSupport.h"
#include "WfmTransmitter.h"
#include "zorvaniDsp/Demodulators/CtcssDetector.h"
#include "zorvaniDsp/Demodulators/CtcssTones.h"
#include "zorvaniDsp/Demodulators/DemodAMZorvani.h"
#include "zorvaniDsp/Demodulators/FmDemodZorvani.h"
#include "zorvaniDsp/Demodulators/SamDemodZorvani.h"
#include "zorvaniDsp/Demodulators/SquelchZorvani.h"
#include "zorvaniDsp/Demodulators/WfmInterpolator.h"
#include "zorvaniDsp/Demodulators/WfmReceiverZorvani.h"

#include <QtTest>

using namespace dsptest;
using zorvani::sim::WfmProgramme;
using zorvani::sim::WfmTransmitter;
using CF = Ostrovix::complex<float>;

namespace {

// n samples of the carrier f(t) (t in seconds) plus complex noise of the given rms.
template <typename F>
Signal carrier(int n, F f, double noiseRms = 0.0, unsigned seed = 7)
{
    Signal x = gaussian(n, noiseRms, seed);
    for (int k = 0; k < n; ++k)
        x[k] = {x[k].re + f(k / kFs).real(), x[k].im + f(k / kFs).imag()};
    return x;
}

// Carrier at `offsetHz`, modulated 50 % by a 1 kHz tone, with faint noise.
Signal amSignal(int n, double offsetHz, double phase)
{
    const auto am = [&](double t) {
        return std::polar(0.5 + 0.25 * std::cos(2.0 * kPi * 1000.0 * t), 2.0 * kPi * offsetHz * t + phase);
    };
    return carrier(n, am, 1e-4);
}

// FM carrier whose instantaneous frequency is deviationHz * cos(2 pi toneHz t),
// or a constant offset when toneHz is 0.
Signal fmSignal(int n, double deviationHz, double toneHz)
{
    return carrier(n, [&](double t) {
        const double w = 2.0 * kPi * (toneHz > 0.0 ? toneHz : deviationHz) * t;
        return std::polar(1.0, toneHz > 0.0 ? deviationHz / toneHz * std::sin(w) : w);
    });
}

template <typename Demod>
void demodulate(Demod& d, Signal& x)
{
    inBlocks(x, 200, [&](C* p, int n) { QVERIFY(d.process(p, n)); });
}

// NFM audio as the receiver has it: a carrier frequency-modulated by a 1 kHz
// "voice" tone (2.5 kHz deviation) plus a sub-audible tone (350 Hz
// deviation), demodulated by the FM detector. toneHz 0: no sub-audible tone.
Signal nfmAudio(int n, double toneHz, FmDemodZorvani& fm, double noiseRms = 0.0)
{
    Signal x = carrier(n, [&](double t) {
        const double subTone = toneHz > 0.0 ? 350.0 / toneHz * (1.0 - std::cos(2.0 * kPi * toneHz * t)) : 0.0;
        return std::polar(1.0, 2.5 * (1.0 - std::cos(2.0 * kPi * 1000.0 * t)) + subTone);
    }, noiseRms, 99);
    demodulate(fm, x);
    return x;
}

constexpr double kIn = 312500.0;

// n samples of the emulator's broadcast transmitter, after `skip` samples
// (another pilot phase). The transmitter runs at rateScale x kIn while the
// receiver assumes kIn: every frequency, pilot included, is off by that factor.
std::vector<CF> broadcast(const WfmProgramme& p, int n, int skip = 0, double rateScale = 1.0)
{
    WfmTransmitter tx(p);
    tx.setRate(kIn * rateScale);
    std::vector<CF> x(static_cast<size_t>(skip + n));
    const auto unit = [](double phase) { return CF{float(std::cos(phase)), float(std::sin(phase))}; };
    for (CF& s : x)
        s = unit(tx.next());
    return {x.begin() + skip, x.end()};
}

// Runs process(in, count, out) over `in` in blocks of `block` into a buffer
// of maxOut frames; returns all the frames.
template <typename In, typename P>
Signal inBlocksOut(const std::vector<In>& in, int block, int maxOut, P process)
{
    Signal out, buffer(static_cast<size_t>(maxOut));
    for (size_t done = 0; done < in.size(); done += size_t(block)) {
        const int count = int(std::min<size_t>(in.size() - done, size_t(block)));
        const int frames = process(in.data() + done, count, buffer.data());
        out.insert(out.end(), buffer.begin(), buffer.begin() + std::max(frames, 0));
    }
    return out;
}

// The receiver's audio for `in`, in blocks of 1600 inputs as the device sends them.
Signal run(WfmReceiverZorvani& rx, const std::vector<CF>& in)
{
    return inBlocksOut(in, 1600, WfmReceiverZorvani::maxOutput(1600, rx.inputRate(), rx.outputRate()),
                       [&](const CF* x, int n, C* out) { return rx.process(x, n, out); });
}

// Level of a tone in its own channel: the programme share of the tone's
// amplitude, pre-emphasised by the transmitter and undone by the one-pole
// de-emphasis y = (1 - a) x + a y at the audio rate.
double expectedLevel(const WfmProgramme& p, double hz)
{
    const double a = std::exp(-1.0 / (kFs * p.tauSeconds));
    const double deemphasis = (1.0 - a) / std::abs(1.0 - a * std::polar(1.0, -2.0 * kPi * hz / kFs));
    const double preemphasis = std::hypot(1.0, 2.0 * kPi * hz * p.tauSeconds);
    return (1.0 - p.pilot - p.data) * WfmTransmitter(p).audioAmplitude() * preemphasis * deemphasis;
}

} // namespace

class TestDemodulators : public QObject {
    Q_OBJECT

private slots:
    // AM centred or 300 Hz off: the detected audio is clean (THD under 1 %)
    // and mono at full level: 0.5 x 50 % = 0.25.
    void detectorsAndSquelch()
    {
        for (double offsetHz : {0.0, 300.0}) {
            DemodAMZorvani am;
            QVERIFY(!am.setBandwidth(0.0) && am.setBandwidth(5000.0 / kFs));
            Signal x = amSignal(20000, offsetHz, 0.4);
            demodulate(am, x);
            // 6250 samples hold whole cycles of 1 kHz and its harmonics.
            const double distortion = thd(x, 12000, 6250, 1000.0), re = realAmplitude(x, 12000, 6250, 1000.0, 0);
            QVERIFY2(distortion < 0.01 && std::fabs(re - 0.25) < 0.005,
                     qPrintable(QString("%1 Hz: THD %2, amplitude %3").arg(offsetHz).arg(distortion).arg(re)));
            for (int k = 12000; k < 18250; ++k)
                QVERIFY2(std::fabs(x[k].re - x[k].im) < 1e-9, qPrintable(QString("re and im differ at %1").arg(k)));
        }
        // One NaN sample must not leave the loop's state broken: locked again,
        // the loop frequency cancels the 50 Hz offset (x e^(j theta)) within the
        // loop's steady chatter of beta * pi, and the audio is clean.
        SamDemodZorvani sam;
        QVERIFY(!sam.setBandwidth(0.7) && sam.setBandwidth(5000.0 / kFs));
        Signal x = amSignal(60000, 50.0, 2.0);
        x[20000] = {std::nan(""), 0.0};
        demodulate(sam, x);
        const double samThd = thd(x, 50000, 6250, 1000.0);
        QVERIFY2(samThd < 0.01 && std::isfinite(sam.phase())
                     && std::fabs(sam.frequency() + 2.0 * kPi * 50.0 / kFs) < 2.0 * SamDemodZorvani::kBeta * kPi,
                 qPrintable(QString("THD %1, nu %2").arg(samThd).arg(sam.frequency())));
        // FM: a steady 1 kHz offset: the loop settles on it, also after a NaN
        // sample, and the DC blocker removes it. 3 kHz peak deviation by a 1 kHz
        // tone: the input frequency swings by 2 pi 3000 / fs; nu follows it
        // through the loop's closed-loop response beta z / (z^2 + (alpha + beta
        // - 2) z + 1 - alpha) (from the loop recursion), then the gain and the DC
        // blocker apply.
        FmDemodZorvani fm, tone;
        Signal z = fmSignal(200000, 1000.0, 0.0), y = fmSignal(40000, 3000.0, 1000.0);
        z[20000] = {std::nan(""), 0.0};
        demodulate(fm, z);
        QVERIFY(std::fabs(fm.frequency() - 2.0 * kPi * 1000.0 / kFs) < 1e-6);
        QVERIFY(fm.phase() >= 0.0 && fm.phase() < 2.0 * kPi);
        QVERIFY2(std::fabs(z.back().re) < 1e-3, qPrintable(QString("residual %1").arg(z.back().re)));
        demodulate(tone, y);
        const double w = 2.0 * kPi * 1000.0 / kFs, alpha = 0.4825486315913922, beta = 0.058213295462681294;
        const std::complex<double> zm = std::polar(1.0, -w), zp = std::polar(1.0, w);
        const double blocker = std::abs((1.0 - zm) / (1.0 - 0.995 * zm));
        const double loop = std::abs(beta * zp / (zp * zp + (alpha + beta - 2.0) * zp + 1.0 - alpha));
        const double expected = 0.5595290968074446 * 2.0 * kPi * 3000.0 / kFs * loop * blocker;
        const double measured = realAmplitude(y, 30000, 6250, 1000.0);
        QVERIFY2(std::fabs(measured / expected - 1.0) < 0.02, qPrintable(QString("amplitude %1").arg(measured)));
        QVERIFY2(thd(y, 30000, 6250, 1000.0) < 0.01, "FM audio distorted");
        QCOMPARE(realAmplitude(y, 30000, 6250, 1000.0, 1), measured);
        // The CTCSS detector names the table tone within 1 Hz. Falling crossings closer
        // than the minimum spacing (130 samples) count every second one: 520 Hz
        // measures 260 Hz, no table tone; 2 x 254.1 Hz measures its true period.
        const double tones[][2] = {{67.0, 0}, {100.0, 12}, {206.5, 33}, {254.1, 41}, {100.8, 12},
                                   {101.5, -1}, {60.0, -1}, {520.0, -1}, {508.2, 41}};
        for (const auto& r : tones) { // tone, table index
            const int expected = int(r[1]);
            CtcssDetector detector;
            std::vector<double> v(8000);
            for (size_t k = 0; k < v.size(); ++k)
                v[k] = std::sin(2.0 * kPi * r[0] * k / kFs + 0.3);
            detector.setTone(expected < 0 ? 12 : expected);
            detector.process(v.data(), 8000, 1);
            QVERIFY2(detector.lastDetection() == expected && detector.tonePresent() == (expected >= 0),
                     qPrintable(QString("%1 Hz: %2").arg(r[0]).arg(detector.lastDetection())));
        }
        // Only the selected tone opens (an unknown one is not taken), with noise
        // too, and only while the level is at most the meter + 3 dB; an open
        // block passes untouched, a closed one is silent (the squelch switched
        // off: the mode tests hear NFM). When the tone goes the squelch closes fs / 6 samples
        // later, once the 500-tap band-pass has emptied its tail (500 samples),
        // counted per 200-sample block.
        const double rows[][4] = {{100.0, 1, 0.0, -60.0}, {100.0, 1, 0.1, -60.0}, {100.0, 0, 0.0, -110.0},
                                  {100.0, 1, 0.0, -103.0}, {100.0, 0, 0.0, -104.0},
                                  {97.4, 0, 0.0, -60.0},  {103.5, 0, 0.0, -60.0}, {103.5, 0, 0.1, -60.0},
                                  {203.5, 0, 0.0, -60.0}, {0.0, 0, 0.0, -60.0},   {0.0, 0, 1.0, -60.0}};
        for (const auto& r : rows) { // tone, opens, noise, meter
            FmDemodZorvani demod;
            Signal audio = nfmAudio(40000, r[0], demod, r[2]);
            const Signal original = audio;
            FmSquelch squelch; // on tone 12 (100.0 Hz), the level far down
            squelch.setEnabled(true);
            squelch.setLevel(-100.0);
            squelch.setCtcssEnabled(true);
            squelch.setTone(12);
            squelch.setTone(42); // no such tones: not taken
            squelch.setTone(-1);
            int openBlocks = 0;
            for (int done = 0; done < 40000; done += 200) {
                QVERIFY(squelch.process(audio.data() + done, 200, r[3]));
                openBlocks += squelch.isOpen();
                const bool same = std::memcmp(audio.data() + done, original.data() + done, 200 * sizeof(C)) == 0;
                QVERIFY2(squelch.isOpen() ? same : silent(&audio[done], 200), qPrintable(QString::number(done)));
            }
            QVERIFY2(squelch.tone() == 12 && (r[1] ? squelch.isOpen() && openBlocks > 150 : openBlocks == 0),
                     qPrintable(QString("%1 Hz, noise %2: %3 open blocks").arg(r[0]).arg(r[2]).arg(openBlocks)));
            if (&r != &rows[0])
                continue;
            Signal without = nfmAudio(20000, 0.0, demod);
            int closedAfter = -1;
            for (int done = 0; done < 20000 && closedAfter < 0; done += 200) {
                QVERIFY(squelch.process(without.data() + done, 200, -60.0));
                closedAfter = squelch.isOpen() ? -1 : done + 200;
            }
            QVERIFY(closedAfter > int(kFs / 6.0) && closedAfter <= int(kFs / 6.0) + 500 + 2 * 200);
        }
    }

    // The stereo decoder against the emulator's broadcast multiplex (exact FM
    // phase, pre-emphasis, pilot at 9 %); its channel separation and levels
    // through the whole host: tst_e2emodes.
    void wfm()
    {
        // From any pilot phase the decoder is in stereo within 100 ms of signal,
        // counted in input samples; in 1600-sample blocks as the receiver gets them.
        for (int skip = 0; skip < 17; ++skip) { // 17 samples: a whole pilot cycle
            const std::vector<CF> in = broadcast(WfmProgramme{1000.0, 3000.0}, static_cast<int>(0.2 * kIn), skip);
            WfmReceiverZorvani rx(kIn, kFs, true, 50e-6);
            int samples = 0;
            inBlocksOut(in, 1600, WfmReceiverZorvani::maxOutput(1600, kIn, kFs), [&](const CF* x, int n, C* out) {
                samples += rx.stereo() ? 0 : n;
                return rx.stereo() ? 0 : rx.process(x, n, out);
            });
            QVERIFY2(rx.stereo() && samples <= 0.1 * kIn, qPrintable(QString("start %1: %2").arg(skip).arg(samples)));
        }
        // Locked, the in-phase arm settles at level / 2; detection needs twice
        // the block's smallest in-phase value above 0.04, and the loop holds only
        // 19000 +- 50 Hz. Detected, the pilot is also lost again once it goes.
        // A mono station with stereo on, or a stereo station with stereo off,
        // gives identical ears, both tones in both at half the programme level.
        const double pilots[][4] = {{0.09, 0.0, 1, 1},   {0.05, 0.0, 1, 1},   {0.03, 0.0, 1, 0}, // pilot, its offset
                                    {0.09, 30.0, 1, 1},  {0.09, -30.0, 1, 1}, {0.09, 120.0, 1, 0}, // (Hz), stereo on,
                                    {0.0, 0.0, 1, 0},    {0.09, 0.0, 0, 0}};                       // detected
        for (const auto& r : pilots) {
            const QString row = QString("pilot %1 at %2 Hz, stereo %3").arg(r[0]).arg(r[1]).arg(r[2]);
            const WfmProgramme p{1000.0, 3000.0, 50e-6, r[0]};
            WfmReceiverZorvani rx(kIn, kFs, r[2] != 0, 50e-6);
            const Signal out = run(rx, broadcast(p, static_cast<int>(1.2 * kIn), 0, (19000.0 + r[1]) / 19000.0));
            QVERIFY2((rx.pilotDetected() == bool(r[3]) || !r[2]) && rx.stereo() == bool(r[3])
                         && rx.stereoEnabled() == bool(r[2]), qPrintable(row));
            for (double hz : {1000.0, 3000.0}) {
                if (r[0] != 0.0 && r[2] != 0) // a stereo station received in stereo
                    continue;
                const double level = realAmplitude(out, static_cast<int>(out.size()) - 6250, 6250, hz, 0);
                const bool mono = std::all_of(out.begin(), out.end(), [](const C& s) { return s.re == s.im; });
                QVERIFY2(mono && std::fabs(db(level / (expectedLevel(p, hz) / 2.0))) < 0.2,
                         qPrintable(QString("%1: %2 Hz at %3, or the ears differ").arg(row).arg(hz).arg(level)));
            }
            run(rx, broadcast(WfmProgramme{1000.0, 3000.0, 50e-6, 0.0}, 16000));
            QVERIFY2(!rx.pilotDetected() && !rx.stereo(), qPrintable(row + ": pilot still reported after it went"));
        }
        // The converter's passband is flat to 10 kHz; inputs above the audio
        // rate's Nyquist frequency (aliasing to hz' = fs - hz) are suppressed.
        const double rows[][4] = {{kIn, 1000.0, -0.05, 0.05},   {kIn, 10000.0, -0.05, 0.05}, // rate in, tone, dB range
                                  {kIn, 25000.0, -300.0, -80.0}, {kIn, 30000.0, -300.0, -80.0},
                                  {kFs, 10000.0, -0.05, 0.05}};
        for (const auto& r : rows) {
            const double inRate = r[0], hz = r[1];
            WfmInterpolator converter(inRate, kFs, int(std::lround(inRate / 1000.0)), 15000.0 / inRate, 4096);
            Signal in(static_cast<size_t>(inRate));
            for (size_t k = 0; k < in.size(); ++k)
                in[k] = {std::cos(2.0 * kPi * hz * double(k) / inRate), 0.0};
            const auto convert = [&](const C* x, int n, C* o) { return converter.process(x, n, o); };
            const Signal out = inBlocksOut(in, 4096, converter.maxOutput(4096), convert);
            const double heard = hz < kFs / 2.0 ? hz : kFs - hz, level = db(realAmplitude(out, 20000, 6250, heard));
            QVERIFY2(std::fabs(out.size() - kFs) <= 1.0 && level >= r[2] && level <= r[3],
                     qPrintable(QString("%1 Hz at %2 Hz: %3 dB").arg(hz).arg(inRate).arg(level)));
        }
        // Built for whatever rate the device streams at, the receiver gives 200
        // frames (+-1) per 200 x inRate / 39062.5 inputs, 8000 (+-1) for 40 such
        // blocks, and finite audio.
        for (double inRate : {39062.5, 78125.0, 156250.0, 312500.0}) {
            WfmReceiverZorvani rx(inRate, kFs, true, 50e-6);
            const int block = int(200 * inRate / kFs), maxOut = WfmReceiverZorvani::maxOutput(block, inRate, kFs);
            const Signal noise = gaussian(40 * block, 0.5, 17);
            std::vector<CF> in(noise.size());
            for (size_t k = 0; k < in.size(); ++k)
                in[k] = CF{float(noise[k].re), float(noise[k].im)};
            int outside = 0;
            const Signal out = inBlocksOut(in, block, maxOut, [&](const CF* x, int n, C* o) {
                const int frames = rx.process(x, n, o);
                outside += frames < 199 || frames > 201;
                return frames;
            });
            const bool finite = std::all_of(out.begin(), out.end(),
                                            [](const C& c) { return std::isfinite(c.re + c.im); });
            QVERIFY2(maxOut >= 200 && outside == 0 && std::abs(int(out.size()) - 8000) <= 1 && finite,
                     qPrintable(QString("%1 Hz: %2 frames, %3 blocks off").arg(inRate).arg(out.size()).arg(outside)));
        }
    }
};

QTEST_APPLESS_MAIN(TestDemodulators)
#include "tst_demodulators.moc"
