#include "DspTestSupport.h"
#include "WfmTransmitter.h"
#include "zorvaniDsp/Demodulators/WfmInterpolator.h"
#include "zorvaniDsp/Demodulators/WfmReceiverZorvani.h"

#include <QtTest>

using namespace dsptest;
using zorvani::sim::WfmProgramme;
using zorvani::sim::WfmTransmitter;
using CF = Ostrovix::complex<float>;

namespace {

constexpr double kIn = 312500.0;

// n samples of the emulator's broadcast transmitter, after `skip` samples
// (another pilot phase). The transmitter runs at rateScale x kIn while the
// receiver assumes kIn: every frequency, pilot included, is off by that factor.
std::vector<CF> broadcast(const WfmProgramme& p, int n, int skip = 0, double rateScale = 1.0)
{
    WfmTransmitter tx(p);
    tx.setRate(kIn * rateScale);
    for (int k = 0; k < skip; ++k)
        tx.next();
    std::vector<CF> x(static_cast<size_t>(n));
    for (CF& s : x) {
        const double phase = tx.next();
        s = {float(std::cos(phase)), float(std::sin(phase))};
    }
    return x;
}

WfmProgramme tones(double leftHz, double rightHz, double tauSeconds = 50e-6, double pilot = 0.09, double data = 0.0)
{
    WfmProgramme p;
    p.leftHz = leftHz, p.rightHz = rightHz, p.tauSeconds = tauSeconds, p.pilot = pilot, p.data = data;
    return p;
}

// Runs process(in, count, out) over `in` in blocks of `block` into a buffer
// of maxOut frames; returns all the frames.
template <typename In, typename P>
Signal inBlocksOut(const std::vector<In>& in, int block, int maxOut, P process)
{
    Signal out, buffer(static_cast<size_t>(maxOut));
    for (size_t done = 0; done < in.size(); done += size_t(block)) {
        const int frames = process(in.data() + done, int(std::min<size_t>(in.size() - done, size_t(block))), buffer.data());
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
    return (1.0 - p.pilot - p.data) * WfmTransmitter(p).audioAmplitude() * std::hypot(1.0, 2.0 * kPi * hz * p.tauSeconds) * deemphasis;
}

} // namespace

class TestWfm : public QObject {
    Q_OBJECT

private slots:
    // Two tones at once, one per channel, against the emulator's broadcast
    // multiplex (exact FM phase, pre-emphasis, pilot at 9 %): each tone in its
    // own channel over its leak into the other, 40 dB or more, at a level
    // within 0.2 dB of what the chain's own filters predict.
    void stereoSeparation()
    {
        const double rows[][4] = {{1000.0, 3000.0, 50.0, 0.0}, {3000.0, 1000.0, 50.0, 0.0}, {400.0, 6000.0, 50.0, 0.0},
                                  {6000.0, 200.0, 75.0, 0.0}, {200.0, 2000.0, 50.0, 0.05}}; // left, right, tau (us), 57 kHz data
        for (const auto& r : rows) {
            const WfmProgramme p = tones(r[0], r[1], r[2] * 1e-6, 0.09, r[3]);
            WfmReceiverZorvani rx(kIn, kFs, true, p.tauSeconds);
            const Signal out = run(rx, broadcast(p, static_cast<int>(0.6 * kIn), 1234));
            QVERIFY2(rx.stereo(), "no stereo");
            // The last 0.4 s: 2.5 Hz bins, every tone on a bin.
            const int n = 15625, first = static_cast<int>(out.size()) - n;
            const double ll = realAmplitude(out, first, n, r[0], 0), lr = realAmplitude(out, first, n, r[0], 1);
            const double rr = realAmplitude(out, first, n, r[1], 1), rl = realAmplitude(out, first, n, r[1], 0);
            QVERIFY2(db(ll / lr) >= 40.0 && db(rr / rl) >= 40.0 && std::fabs(db(ll / expectedLevel(p, r[0]))) < 0.2
                         && std::fabs(db(rr / expectedLevel(p, r[1]))) < 0.2,
                     qPrintable(QString("%1/%2 Hz: L->R %3 dB, R->L %4 dB, levels %5 %6 (expected %7 %8)").arg(r[0]).arg(r[1])
                                    .arg(db(ll / lr)).arg(db(rr / rl)).arg(ll).arg(rr).arg(expectedLevel(p, r[0])).arg(expectedLevel(p, r[1]))));
        }
    }

    // From any pilot phase the decoder is in stereo within 100 ms of signal,
    // counted in input samples; in 1600-sample blocks as the receiver gets them.
    void pilotLockTime()
    {
        for (int skip = 0; skip < 17; ++skip) { // 17 samples: a whole pilot cycle
            const std::vector<CF> in = broadcast(tones(1000.0, 3000.0), static_cast<int>(0.2 * kIn), skip);
            WfmReceiverZorvani rx(kIn, kFs, true, 50e-6);
            Signal out(static_cast<size_t>(WfmReceiverZorvani::maxOutput(1600, kIn, kFs)));
            int samples = 0;
            for (; !rx.stereo() && samples + 1600 <= static_cast<int>(in.size()); samples += 1600)
                rx.process(in.data() + samples, 1600, out.data());
            QVERIFY2(rx.stereo() && samples <= 0.1 * kIn, qPrintable(QString("start %1: stereo after %2 ms").arg(skip).arg(1000.0 * samples / kIn)));
        }
    }

    // Locked, the in-phase arm settles at level / 2; detection needs twice
    // the block's smallest in-phase value above 0.04, and the loop holds only
    // 19000 +- 50 Hz. Detected, the pilot is also lost again once it goes.
    // A mono station with stereo on, or a stereo station with stereo off,
    // gives identical ears, both tones in both at half the programme level.
    void pilotDetectionAndMono()
    {
        const double rows[][4] = {{0.09, 0.0, 1, 1}, {0.05, 0.0, 1, 1}, {0.03, 0.0, 1, 0}, {0.09, 30.0, 1, 1}, {0.09, -30.0, 1, 1},
                                  {0.09, 120.0, 1, 0}, {0.0, 0.0, 1, 0}, {0.09, 0.0, 0, 0}}; // pilot, its offset (Hz), stereo on, detected
        for (const auto& r : rows) {
            const QString row = QString("pilot %1 at %2 Hz, stereo %3").arg(r[0]).arg(r[1]).arg(r[2]);
            const WfmProgramme p = tones(1000.0, 3000.0, 50e-6, r[0]);
            WfmReceiverZorvani rx(kIn, kFs, r[2] != 0, 50e-6);
            const Signal out = run(rx, broadcast(p, static_cast<int>(1.2 * kIn), 0, (19000.0 + r[1]) / 19000.0));
            QVERIFY2((rx.pilotDetected() == bool(r[3]) || !r[2]) && rx.stereo() == bool(r[3]) && rx.stereoEnabled() == bool(r[2]), qPrintable(row));
            for (double hz : {1000.0, 3000.0}) {
                if (r[0] != 0.0 && r[2] != 0) // a stereo station received in stereo
                    continue;
                const double level = realAmplitude(out, static_cast<int>(out.size()) - 6250, 6250, hz, 0), expected = expectedLevel(p, hz) / 2.0;
                QVERIFY2(std::all_of(out.begin(), out.end(), [](const C& s) { return s.re == s.im; }) && std::fabs(db(level / expected)) < 0.2,
                         qPrintable(QString("%1: %2 Hz at %3, expected %4, or the ears differ").arg(row).arg(hz).arg(level).arg(expected)));
            }
            run(rx, broadcast(tones(1000.0, 3000.0, 50e-6, 0.0), 16000));
            QVERIFY2(!rx.pilotDetected() && !rx.stereo(), qPrintable(row + ": pilot still reported after it went"));
        }
    }

    // Passband flat to 10 kHz; inputs above the audio rate's Nyquist
    // frequency (aliasing to hz' = fs - hz) are suppressed.
    void converterMask()
    {
        const double rows[][4] = {{kIn, 1000.0, -0.05, 0.05}, {kIn, 10000.0, -0.05, 0.05}, {kIn, 25000.0, -300.0, -80.0},
                                  {kIn, 30000.0, -300.0, -80.0}, {100000.0, 1000.0, -0.05, 0.05}, {100000.0, 10000.0, -0.5, 0.05},
                                  {100000.0, 30000.0, -300.0, -80.0}, {kFs, 10000.0, -0.05, 0.05}}; // rate in, tone, dB range
        for (const auto& r : rows) {
            const double inRate = r[0], hz = r[1];
            WfmInterpolator converter(inRate, kFs, static_cast<int>(std::lround(inRate / 1000.0)), 15000.0 / inRate, 4096);
            Signal in(static_cast<size_t>(inRate));
            for (size_t k = 0; k < in.size(); ++k)
                in[k] = {std::cos(2.0 * kPi * hz * double(k) / inRate), 0.0};
            const Signal out = inBlocksOut(in, 4096, converter.maxOutput(4096), [&](const C* x, int n, C* o) { return converter.process(x, n, o); });
            const double heard = hz < kFs / 2.0 ? hz : kFs - hz, level = db(realAmplitude(out, 20000, 6250, heard));
            QVERIFY2(std::fabs(out.size() - kFs) <= 1.0 && level >= r[2] && level <= r[3],
                     qPrintable(QString("%1 Hz in at %2 Hz: %3 frames, heard at %4 dB").arg(hz).arg(inRate).arg(out.size()).arg(level)));
        }
    }

    // Built for whatever rate the device streams at, the receiver gives 200
    // frames (+-1) per 200 x inRate / 39062.5 inputs, 8000 (+-1) for 40 such
    // blocks, and finite audio.
    void everyDeviceRate()
    {
        for (double inRate : {39062.5, 78125.0, 156250.0, 312500.0}) {
            WfmReceiverZorvani rx(inRate, kFs, true, 50e-6);
            const int block = static_cast<int>(200 * inRate / kFs), maxOut = WfmReceiverZorvani::maxOutput(block, inRate, kFs);
            const Signal noise = gaussian(40 * block, 0.5, 17);
            std::vector<CF> in(noise.size());
            std::transform(noise.begin(), noise.end(), in.begin(), [](const C& c) { return CF{float(c.re), float(c.im)}; });
            int outside = 0;
            const Signal out = inBlocksOut(in, block, maxOut, [&](const CF* x, int n, C* o) {
                const int frames = rx.process(x, n, o);
                return outside += frames < 199 || frames > 201, frames;
            });
            QVERIFY2(maxOut >= 200 && outside == 0 && std::abs(int(out.size()) - 8000) <= 1
                         && std::all_of(out.begin(), out.end(), [](const C& c) { return std::isfinite(c.re) && std::isfinite(c.im); }),
                     qPrintable(QString("%1 Hz: %2 frames, %3 blocks off 200").arg(inRate).arg(out.size()).arg(outside)));
        }
    }
};

QTEST_APPLESS_MAIN(TestWfm)
#include "tst_wfm.moc"
