#include "DspTestSupport.h"

#include "WfmTransmitter.h"
#include "zorvaniDsp/Demodulators/WfmInterpolator.h"
#include "zorvaniDsp/Demodulators/WfmReceiverZorvani.h"

#include <QtTest>

using namespace dsptest;
using zorvani::sim::WfmProgramme;
using zorvani::sim::WfmTransmitter;

namespace {

constexpr double kIn = 312500.0;

using CF = Ostrovix::complex<float>;

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
        s = {static_cast<float>(std::cos(phase)), static_cast<float>(std::sin(phase))};
    }
    return x;
}

WfmProgramme tones(double leftHz, double rightHz, double tauSeconds = 50e-6)
{
    WfmProgramme p;
    p.leftHz = leftHz;
    p.rightHz = rightHz;
    p.tauSeconds = tauSeconds;
    return p;
}

std::vector<CF> complexNoiseFloat(int n)
{
    const Signal x = gaussian(n, 0.5, 17);
    std::vector<CF> y(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k)
        y[static_cast<size_t>(k)] = {static_cast<float>(x[k].re), static_cast<float>(x[k].im)};
    return y;
}

// Runs the receiver over `in` in blocks of `block` inputs; returns the audio.
Signal run(WfmReceiverZorvani& rx, const std::vector<CF>& in, int block)
{
    Signal out;
    Signal buffer(
        static_cast<size_t>(WfmReceiverZorvani::maxOutput(block, rx.inputRate(), rx.outputRate())));
    for (size_t done = 0; done < in.size(); done += static_cast<size_t>(block)) {
        const int n = static_cast<int>(std::min(in.size() - done, static_cast<size_t>(block)));
        const int frames = rx.process(in.data() + done, n, buffer.data());
        out.insert(out.end(), buffer.begin(), buffer.begin() + frames);
    }
    return out;
}

// One-pole de-emphasis y = (1 - a) x + a y at the audio rate, |H(f)|.
double deemphasis(double hz, double tau)
{
    const double a = std::exp(-1.0 / (kFs * tau));
    return (1.0 - a) / std::abs(1.0 - a * std::polar(1.0, -2.0 * kPi * hz / kFs));
}

// Level of a tone in its own channel: the programme share of the tone's
// amplitude, pre-emphasised by the transmitter and de-emphasised here.
double expectedLevel(const WfmProgramme& p, double audio, double hz)
{
    const double programme = 1.0 - p.pilot - p.data;
    return programme * audio * std::hypot(1.0, 2.0 * kPi * hz * p.tauSeconds) * deemphasis(hz, p.tauSeconds);
}

} // namespace

class TestWfm : public QObject {
    Q_OBJECT

private slots:
    // Two tones at once, one per channel, against the emulator's broadcast
    // multiplex (exact FM phase, pre-emphasis, pilot at 9 %): each tone in its
    // own channel over its leak into the other, 40 dB or more.
    void stereoSeparation_data()
    {
        QTest::addColumn<double>("leftHz");
        QTest::addColumn<double>("rightHz");
        QTest::addColumn<double>("tauUs");
        QTest::addColumn<double>("data");
        QTest::newRow("1 kHz / 3 kHz") << 1000.0 << 3000.0 << 50.0 << 0.0;
        QTest::newRow("3 kHz / 1 kHz") << 3000.0 << 1000.0 << 50.0 << 0.0;
        QTest::newRow("400 Hz / 6 kHz") << 400.0 << 6000.0 << 50.0 << 0.0;
        QTest::newRow("6 kHz / 200 Hz, 75 us") << 6000.0 << 200.0 << 75.0 << 0.0;
        QTest::newRow("200 Hz / 2 kHz, 57 kHz data at 5 %") << 200.0 << 2000.0 << 50.0 << 0.05;
    }

    void stereoSeparation()
    {
        QFETCH(double, leftHz);
        QFETCH(double, rightHz);
        QFETCH(double, tauUs);
        QFETCH(double, data);
        WfmProgramme p = tones(leftHz, rightHz, tauUs * 1e-6);
        p.data = data;
        const double audio = WfmTransmitter(p).audioAmplitude();
        WfmReceiverZorvani rx(kIn, kFs, true, p.tauSeconds);
        const Signal out = run(rx, broadcast(p, static_cast<int>(0.6 * kIn), 1234), 1600);
        QVERIFY2(rx.stereo(), "no stereo");
        // The last 0.4 s: 2.5 Hz bins, every tone on a bin.
        const int n = 15625, first = static_cast<int>(out.size()) - n;
        const double ll = realAmplitude(out, first, n, leftHz, 0), lr = realAmplitude(out, first, n, leftHz, 1);
        const double rr = realAmplitude(out, first, n, rightHz, 1), rl = realAmplitude(out, first, n, rightHz, 0);
        const QString text = QString("L->R %1 dB, R->L %2 dB, levels %3 %4 (expected %5 %6)")
                                 .arg(db(ll / lr)).arg(db(rr / rl)).arg(ll).arg(rr)
                                 .arg(expectedLevel(p, audio, leftHz)).arg(expectedLevel(p, audio, rightHz));
        QVERIFY2(db(ll / lr) >= 40.0 && db(rr / rl) >= 40.0, qPrintable(text));
        // Levels within 0.2 dB of what the chain's own filters predict.
        QVERIFY2(std::fabs(db(ll / expectedLevel(p, audio, leftHz))) < 0.2, qPrintable(text));
        QVERIFY2(std::fabs(db(rr / expectedLevel(p, audio, rightHz))) < 0.2, qPrintable(text));
    }

    // From any pilot phase the decoder is in stereo within 100 ms of signal,
    // counted in input samples; in 1600-sample blocks as the receiver gets them.
    void pilotLockTime()
    {
        const WfmProgramme p = tones(1000.0, 3000.0);
        for (int skip = 0; skip < 17; ++skip) { // 17 samples: a whole pilot cycle
            const std::vector<CF> in = broadcast(p, static_cast<int>(0.2 * kIn), skip);
            WfmReceiverZorvani rx(kIn, kFs, true, 50e-6);
            Signal out(static_cast<size_t>(WfmReceiverZorvani::maxOutput(1600, kIn, kFs)));
            int samples = 0;
            while (!rx.stereo() && samples + 1600 <= static_cast<int>(in.size())) {
                rx.process(in.data() + samples, 1600, out.data());
                samples += 1600;
            }
            QVERIFY2(rx.stereo() && samples <= 0.1 * kIn,
                     qPrintable(QString("start %1: stereo after %2 ms").arg(skip).arg(1000.0 * samples / kIn)));
        }
    }

    void monoWithoutPilot_data()
    {
        QTest::addColumn<bool>("stereoFlag");
        QTest::addColumn<double>("pilot");
        QTest::newRow("stereo on, mono station") << true << 0.0;
        QTest::newRow("stereo off, stereo station") << false << 0.09;
    }

    void monoWithoutPilot()
    {
        QFETCH(bool, stereoFlag);
        QFETCH(double, pilot);
        WfmProgramme p = tones(1000.0, 3000.0);
        p.pilot = pilot;
        const double audio = WfmTransmitter(p).audioAmplitude();
        WfmReceiverZorvani rx(kIn, kFs, stereoFlag, 50e-6);
        const Signal out = run(rx, broadcast(p, static_cast<int>(0.8 * kIn)), 1600);
        QVERIFY(!rx.pilotDetected() || !stereoFlag);
        QVERIFY(!rx.stereo());
        QCOMPARE(rx.stereoEnabled(), stereoFlag);
        for (const C& s : out)
            QVERIFY2(s.re == s.im, "mono frames differ between the ears");
        // Both tones in both ears at half the programme level.
        const int first = static_cast<int>(out.size()) - 6250;
        for (double hz : {1000.0, 3000.0}) {
            const double level = realAmplitude(out, first, 6250, hz, 0);
            const double expected = expectedLevel(p, audio, hz) / 2.0;
            QVERIFY2(std::fabs(db(level / expected)) < 0.2,
                     qPrintable(QString("%1 Hz at %2, expected %3").arg(hz).arg(level).arg(expected)));
        }
    }

    void pilotDetection_data()
    {
        QTest::addColumn<double>("level");
        QTest::addColumn<double>("offsetHz");
        QTest::addColumn<bool>("detected");
        // Locked, the in-phase arm settles at level / 2; detection needs
        // twice the block's smallest in-phase value above 0.04, and the loop
        // holds only 19000 +- 50 Hz.
        QTest::newRow("9 %") << 0.09 << 0.0 << true;
        QTest::newRow("5 %") << 0.05 << 0.0 << true;
        QTest::newRow("3 %, too weak") << 0.03 << 0.0 << false;
        QTest::newRow("9 %, +30 Hz") << 0.09 << 30.0 << true;
        QTest::newRow("9 %, -30 Hz") << 0.09 << -30.0 << true;
        QTest::newRow("9 %, +120 Hz, out of range") << 0.09 << 120.0 << false;
    }

    // Detected, the pilot is also lost again once it goes.
    void pilotDetection()
    {
        QFETCH(double, level);
        QFETCH(double, offsetHz);
        QFETCH(bool, detected);
        WfmProgramme p = tones(1000.0, 3000.0);
        p.pilot = level;
        WfmReceiverZorvani rx(kIn, kFs, true, 50e-6);
        run(rx, broadcast(p, static_cast<int>(1.2 * kIn), 0, (19000.0 + offsetHz) / 19000.0), 1600);
        QCOMPARE(rx.pilotDetected(), detected);
        QCOMPARE(rx.stereo(), detected);
        p.pilot = 0.0;
        run(rx, broadcast(p, 16000), 1600);
        QVERIFY2(!rx.pilotDetected() && !rx.stereo(), "pilot still reported after it went");
    }

    void converterMask_data()
    {
        QTest::addColumn<double>("inRate");
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("lowDb");
        QTest::addColumn<double>("highDb");
        // Passband flat to 10 kHz; inputs above the audio rate's Nyquist
        // frequency (aliasing to hz' = fs - hz) are suppressed.
        QTest::newRow("312500: 1 kHz") << kIn << 1000.0 << -0.05 << 0.05;
        QTest::newRow("312500: 10 kHz") << kIn << 10000.0 << -0.05 << 0.05;
        QTest::newRow("312500: 25 kHz") << kIn << 25000.0 << -300.0 << -80.0;
        QTest::newRow("312500: 30 kHz") << kIn << 30000.0 << -300.0 << -80.0;
        QTest::newRow("100000 (ratio 2.56): 1 kHz") << 100000.0 << 1000.0 << -0.05 << 0.05;
        QTest::newRow("100000 (ratio 2.56): 10 kHz") << 100000.0 << 10000.0 << -0.5 << 0.05;
        QTest::newRow("100000 (ratio 2.56): 30 kHz") << 100000.0 << 30000.0 << -300.0 << -80.0;
        QTest::newRow("39062.5 (ratio 1): 10 kHz") << kFs << 10000.0 << -0.05 << 0.05;
    }

    void converterMask()
    {
        QFETCH(double, inRate);
        QFETCH(double, hz);
        QFETCH(double, lowDb);
        QFETCH(double, highDb);
        WfmInterpolator converter(inRate, kFs, static_cast<int>(std::lround(inRate / 1000.0)), 15000.0 / inRate, 4096);
        const int n = static_cast<int>(inRate);
        Signal in(static_cast<size_t>(n));
        for (int k = 0; k < n; ++k)
            in[static_cast<size_t>(k)] = {std::cos(2.0 * kPi * hz * k / inRate), 0.0};
        Signal out, buffer(static_cast<size_t>(converter.maxOutput(4096)));
        for (int done = 0; done < n; done += 4096) {
            const int frames = converter.process(in.data() + done, std::min(4096, n - done), buffer.data());
            out.insert(out.end(), buffer.begin(), buffer.begin() + frames);
        }
        QVERIFY(std::fabs(out.size() - kFs) <= 1.0);
        const double heard = hz < kFs / 2.0 ? hz : kFs - hz;
        const double level = db(realAmplitude(out, 20000, 6250, heard));
        QVERIFY2(level >= lowDb && level <= highDb, qPrintable(QString("%1 Hz heard at %2 dB").arg(heard).arg(level)));
    }

    void everyDeviceRate_data()
    {
        QTest::addColumn<double>("inRate");
        for (double rate : {39062.5, 78125.0, 156250.0, 312500.0})
            QTest::addRow("%g", rate) << rate;
    }

    // Built for whatever rate the device streams at, the receiver gives 200
    // frames (+-1) per 200 x inRate / 39062.5 inputs, 8000 (+-1) for 40 such
    // blocks, and finite audio.
    void everyDeviceRate()
    {
        QFETCH(double, inRate);
        WfmReceiverZorvani rx(inRate, kFs, true, 50e-6);
        const int block = static_cast<int>(200 * inRate / kFs);
        const std::vector<CF> in = complexNoiseFloat(40 * block);
        Signal buffer(static_cast<size_t>(WfmReceiverZorvani::maxOutput(block, inRate, kFs)));
        QVERIFY(buffer.size() >= 200);
        int total = 0;
        for (size_t done = 0; done + size_t(block) <= in.size(); done += size_t(block)) {
            const int frames = rx.process(in.data() + done, block, buffer.data());
            QVERIFY(frames >= 199 && frames <= 201);
            total += frames;
            for (int k = 0; k < frames; ++k)
                QVERIFY2(std::isfinite(buffer[k].re) && std::isfinite(buffer[k].im), "audio not finite");
        }
        QVERIFY2(std::abs(total - 8000) <= 1, qPrintable(QString::number(total)));
    }
};

QTEST_APPLESS_MAIN(TestWfm)
#include "tst_wfm.moc"
