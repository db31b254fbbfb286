// Every mode through the whole host, in step with the emulator: the plug-in
// loaded as the host loads it, one station per mode, the audio heard both in
// the answers to the receiver and at the 48000 Hz main output. Built twice:
// tst_e2emodes hears a second of each station, checks its tone, broadcast FM
// stereo separation, the meter and a held stream; tst_modeminute (MODE_MINUTE) hears a minute
// of each and asks for the exact frequency, a clean noise floor and not a
// single break (no sample step the tone cannot make, no dip in its level).
#include "Lockstep.h"
#include "ToneAnalysis.h"

#include <complex>

using Host = systest::SteppedHost;

namespace {

// Listening checks on one channel of audio holding one
// steady tone (or two): its exact frequency, its signal to noise and
// distortion, and its continuity (no sample step the tones cannot make, no
// dip in level). Written here from first principles; nothing of the plug-in
// is used.
constexpr double kPi = 3.14159265358979323846;

// Least-squares fit of x = sum of a_k cos(w_k n) + b_k sin(w_k n) + c over a
// window, for known frequencies: the tones' amplitudes and the power of what
// is left (noise and distortion).
struct Fit {
    std::vector<double> amplitude; // per tone
    double residualPower = 0.0;
};

Fit fitTones(const double* x, int n, double fs, const std::vector<double>& hz)
{
    const int m = 2 * int(hz.size()) + 1;
    const auto basis = [&](int j, int i) {
        return j == m - 1 ? 1.0 : j % 2 ? std::sin(2.0 * kPi * hz[size_t(j / 2)] * i / fs)
                                        : std::cos(2.0 * kPi * hz[size_t(j / 2)] * i / fs);
    };
    std::vector<double> a(size_t(m * (m + 1)), 0.0), row(size_t(m), 0.0); // normal equations, augmented
    const auto at = [&](int r, int k) -> double& { return a[size_t(r * (m + 1) + k)]; };
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < m; ++j)
            row[size_t(j)] = basis(j, i);
        for (int j = 0; j < m; ++j) {
            for (int k = 0; k < m; ++k)
                at(j, k) += row[size_t(j)] * row[size_t(k)];
            at(j, m) += row[size_t(j)] * x[i];
        }
    }
    for (int p = 0; p < m; ++p) { // Gauss-Jordan with partial pivoting
        int best = p;
        for (int r = p + 1; r < m; ++r)
            best = std::abs(at(r, p)) > std::abs(at(best, p)) ? r : best;
        for (int k = 0; k <= m; ++k)
            std::swap(at(p, k), at(best, k));
        for (int k = m; k >= p; --k)
            at(p, k) /= at(p, p);
        for (int r = 0; r < m; ++r)
            for (int k = m; k >= p && r != p; --k)
                at(r, k) -= at(r, p) * at(p, k);
    }
    Fit fit;
    for (int t = 0; t < int(hz.size()); ++t)
        fit.amplitude.push_back(std::hypot(at(2 * t, m), at(2 * t + 1, m)));
    for (int i = 0; i < n; ++i) {
        double model = 0.0;
        for (int j = 0; j < m; ++j)
            model += at(j, m) * basis(j, i);
        fit.residualPower += (x[i] - model) * (x[i] - model) / n;
    }
    return fit;
}

// Frequency of the tone near guessHz to a small fraction of a hertz: the
// phase advance of the tone between consecutive 0.1 s segments.
double toneFrequency(const std::vector<double>& x, double fs, double guessHz)
{
    const int segment = int(0.1 * fs);
    std::complex<double> previous, advance;
    for (int s = 0; s < int(x.size()) / segment; ++s) {
        std::complex<double> sum;
        for (int k = s * segment; k < (s + 1) * segment; ++k)
            sum += x[size_t(k)] * std::polar(1.0, -2.0 * kPi * guessHz / fs * k);
        advance += s > 0 ? sum * std::conj(previous) : std::complex<double>();
        previous = sum;
    }
    return guessHz + std::arg(advance) / (2.0 * kPi * segment / fs);
}

// The first place where the audio breaks, or empty. A step is a sample that
// the tones cannot reach from the ones before: what is left after a notch at
// every tone and at DC (their second-order predictors and a first difference)
// exceeds `stepFraction` of the tones' amplitude; a step of s leaves up to 2 s,
// a lost sample at least the tone's own step (0.09 for 700 Hz at 48000 Hz),
// noise 70 dB down about 0.002 and a WFM pilot residue 0.014. A dip is a
// window of whole tone periods, 5 ms or more, whose level is `dipDb` under the
// record's median.
struct Continuity {
    QString problem;
    double worstStep = 0.0; // of the amplitude
    double worstDipDb = 0.0;
};

Continuity checkContinuity(const std::vector<double>& x, double fs, const std::vector<double>& hz,
                                  double amplitude, double stepFraction = 0.05, double dipDb = 0.5)
{
    Continuity c;
    std::vector<double> r(x);
    for (double f : hz)
        for (size_t i = r.size() - 1; i >= 2; --i)
            r[i] += r[i - 2] - 2.0 * std::cos(2.0 * kPi * f / fs) * r[i - 1];
    const size_t settled = 2 * hz.size() + 1;
    for (size_t i = r.size() - 1; i >= settled; --i)
        r[i] -= r[i - 1];
    for (size_t i = settled; i < r.size(); ++i) {
        const double step = std::abs(r[i]) / amplitude;
        if (step > stepFraction && c.problem.isEmpty())
            c.problem = QStringLiteral("step of %1 of the amplitude at %2 s").arg(step).arg(double(i) / fs);
        c.worstStep = std::max(c.worstStep, step);
    }
    const double lowest = *std::min_element(hz.begin(), hz.end());
    const size_t window = size_t(std::max(1L, std::lround(std::ceil(0.005 * lowest) * fs / lowest)));
    std::vector<double> levels;
    for (size_t i = 0; i + window <= x.size(); i += window)
        levels.push_back(std::sqrt(std::inner_product(&x[i], &x[i] + window, &x[i], 0.0) / double(window)));
    if (levels.empty())
        return c;
    std::vector<double> sorted(levels);
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    for (size_t w = 0; w < levels.size(); ++w) {
        const double db = 20.0 * std::log10(std::max(levels[w], 1e-30) / sorted[sorted.size() / 2]);
        if (db < -dipDb && c.problem.isEmpty())
            c.problem = QStringLiteral("level %1 dB at %2 s").arg(db).arg(double(w * window) / fs);
        c.worstDipDb = std::min(c.worstDipDb, db);
    }
    return c;
}

#ifdef MODE_MINUTE
constexpr double kSeconds = 60.0;
constexpr double kSettleSeconds = 6.0; // the fader, the AGC's slow presets and the pilot
#else
constexpr double kSeconds = 1.0;
constexpr double kSettleSeconds = 1.5;
#endif

// Broadcast FM stations with a tone per channel (the emulator's transmitter:
// an exact multiplex with pre-emphasis and a 9 % pilot), 350 kHz apart so
// that each tune at 312500 Hz hears one; the last has no pilot.
struct Stereo {
    double left, right;
    const char* options;
};
const Stereo kStereo[] = {{200.0, 2000.0, ""},  {1000.0, 3000.0, ""}, {3000.0, 1000.0, ""},        {400.0, 6000.0, ""},
                          {6000.0, 200.0, ""}, {1000.0, 3000.0, "rds=0.05"}, {1000.0, 3000.0, "pilot=0"}};
constexpr double kFirstStereo = 10000000.0, kStereoSpacing = 350000.0;
constexpr int kMeterCarrier = 1; // emitter index of the carrier the meter follows

// Stations 300 kHz apart: each tune hears its own alone.
QString sceneText()
{
    QString text = QStringLiteral("seed 11\nnoise -150\ncarrier 6700000 -70\nam 7000000 -40 tone=1000 depth=0.6\n"
                                  "usb 7300000 -40 tone=700\nlsb 7600000 -40 tone=900\ncarrier 7900000 -50\n"
                                  "nfm 8200000 -40 tone=1000 dev=2500\nusb 8500000 -40 tone=500\nlsb 8800000 -40 tone=2500\n"
                                  "carrier 9100000 -50\nwfm 9400000 -30 left=1000 right=2500\n");
    for (const Stereo& s : kStereo)
        text += QStringLiteral("wfm %1 -30 left=%2 right=%3 %4\n")
                    .arg(kFirstStereo + kStereoSpacing * double(&s - kStereo), 0, 'f', 0).arg(s.left).arg(s.right).arg(s.options);
    return text;
}

struct Row {
    const char* name;
    int mode;
    double station;
    int rate;           // stream rate index
    int filter;         // catalogue choice, -1: the mode's default
    double left;        // Hz; 0: the CW pitch
    double right;       // Hz; 0: as left; -1: not a tone
    const char* offset; // option whose value moves the tone (leading '-': down)
    double minSinadDb;  // about 10 dB under what the chain gives
};

struct Output {
    QString where;
    const Host::Audio* audio;
    double fs;
};

// The narrow modes at the lowest rate, NFM also at the highest (its
// decimation path), WFM at the highest as it needs. The carrier stays in DSB
// and its right side holds the (empty) quadrature; NFM's 2.5 kHz deviation by
// 1 kHz needs the widest channel (choice 8, 16 kHz) for its sidebands; WFM's
// discriminator leaves distortion near -54 dB.
const Row kRows[] = {
    {"AM", Host::AM, 7000000.0, 0, -1, 1000.0, 0.0, "", 58.0},
    {"SAM", Host::SAM, 7000000.0, 0, -1, 1000.0, 0.0, "", 58.0},
    {"DSB", Host::DSB, 7000000.0, 0, -1, 1000.0, -1.0, "", 58.0},
    {"LSB", Host::LSB, 7600000.0, 0, -1, 900.0, 0.0, "", 65.0},
    {"USB", Host::USB, 7300000.0, 0, -1, 700.0, 0.0, "", 65.0},
    {"CW", Host::CW, 7900000.0, 0, -1, 0.0, 0.0, "", 70.0},
    {"NFM", Host::NFM, 8200000.0, 0, 8, 1000.0, 0.0, "", 52.0},
    {"NFM at 312500 Hz", Host::NFM, 8200000.0, 3, 8, 1000.0, 0.0, "", 52.0},
    {"DIGL", Host::DIGL, 8800000.0, 0, -1, 2500.0, 0.0, "-sbDspDiglOffset", 65.0},
    {"DIGU", Host::DIGU, 8500000.0, 0, -1, 500.0, 0.0, "sbDspDiguOffset", 65.0},
    {"WFM stereo", Host::WFM, 9400000.0, 3, -1, 1000.0, 2500.0, "", 45.0},
    {"DRM", Host::DRM, 9100000.0, 0, -1, 5200.0, 0.0, "", 50.0},
};

} // namespace

class TestModes : public QObject {
    Q_OBJECT

    Host m_host;
    Host::Audio m_answers, m_main; // the last recording
    const Output m_outputs[2] = {{"answers", &m_answers, systest::kAnswerRate}, {"main output", &m_main, Host::kMainRate}};

    // One channel: the tone where it belongs (and, over a minute, clean and unbroken).
    static void verifyChannel(const QString& where, const std::vector<double>& x, double fs, double tone, double other,
                              double minSinadDb)
    {
        QVERIFY2(double(x.size()) >= (kSeconds - 0.1) * fs, qPrintable(QStringLiteral("%1: %2 s of audio").arg(where).arg(double(x.size()) / fs)));
        const systest::Tone t = systest::strongestTone({x.begin(), x.begin() + 8192}, fs, 150.0, std::min(9000.0, fs / 2 - 500));
        QVERIFY2(std::abs(t.hz - tone) < 2.0 * fs / 8192.0 && t.dominance > 0.5,
                 qPrintable(QStringLiteral("%1: strongest tone %2 Hz holding %3 of the band, expected %4 Hz")
                                .arg(where).arg(t.hz).arg(t.dominance).arg(tone)));
        if (kSeconds < 10.0)
            return;
        const double heard = toneFrequency(x, fs, t.hz);
        std::vector<double> tones{tone};
        if (other > 0.0)
            tones.push_back(other);
        // Noise and distortion second by second; the typical second counts (a break shows in the continuity check).
        std::vector<double> sinad;
        double amplitude = 0.0;
        for (size_t at = 0; at + size_t(fs) <= x.size(); at += size_t(fs)) {
            const Fit fit = fitTones(x.data() + at, int(fs), fs, tones);
            amplitude = std::max(amplitude, fit.amplitude[0]);
            sinad.push_back(10.0 * std::log10(fit.amplitude[0] * fit.amplitude[0] / 2.0 / fit.residualPower));
        }
        std::sort(sinad.begin(), sinad.end());
        const Continuity c = checkContinuity(x, fs, tones, amplitude);
        const QString text = QStringLiteral("%1: %2 Hz, amplitude %3, SINAD %4 dB (worst second %5 dB), largest step %6, "
                                            "deepest dip %7 dB: %8")
                                 .arg(where).arg(heard, 0, 'f', 4).arg(amplitude, 0, 'f', 3).arg(sinad[sinad.size() / 2], 0, 'f', 1)
                                 .arg(sinad.front(), 0, 'f', 1).arg(c.worstStep, 0, 'g', 3).arg(c.worstDipDb, 0, 'f', 2).arg(c.problem);
        QVERIFY2(std::abs(heard - tone) < 0.02 && sinad[sinad.size() / 2] >= minSinadDb && c.problem.isEmpty(), qPrintable(text));
    }

    void tuneAndRecord(int mode, double hz, int filter)
    {
        m_host.device()->setWfmStereo(0, mode == Host::WFM);
        QVERIFY(m_host.tune(mode, hz, filter));
        // A retune changes the AGC preset too: the fader mutes, resets the chain and restores.
        QVERIFY2(m_host.streamFor(kSettleSeconds), "the stream stalled");
        QVERIFY2(m_host.record(kSeconds, &m_answers, &m_main), "the stream stalled");
    }

private slots:
    void initTestCase()
    {
        const QString failed = m_host.start(53600, sceneText());
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }

    void cleanupTestCase()
    {
        m_host.stop();
        QVERIFY2(m_host.plugin.seen.isEmpty(), qPrintable(m_host.plugin.boxTexts().join(QLatin1Char(','))));
    }

    void everyMode_data() { systest::addRows(kRows); }
    void everyMode()
    {
        QFETCH(int, row);
        const Row& r = kRows[row];
        double left = r.left ? r.left : m_host.plugin.option<QSpinBox>("sbCwPitch")->value();
        if (*r.offset)
            left += (*r.offset == '-' ? -1 : 1) * m_host.plugin.option<QSpinBox>(r.offset + (*r.offset == '-'))->value();
        const double right = r.right == 0.0 ? left : r.right;
        const bool stereo = r.mode == Host::WFM;
        QVERIFY(m_host.setRate(r.rate));
        tuneAndRecord(r.mode, r.station, r.filter);
        for (const auto& [where, audio, fs] : m_outputs) {
            verifyChannel(where + ", left", audio->left, fs, left, stereo ? right : 0.0, r.minSinadDb);
            if (right > 0.0)
                verifyChannel(where + ", right", audio->right, fs, right, stereo ? left : 0.0, r.minSinadDb);
        }
        QVERIFY2(!stereo || m_host.plugin.manager.wfmStereo(0), "stereo was not reported");
    }

#ifndef MODE_MINUTE
    // Each channel keeps its own tone 40 dB over its leak into the other, at
    // the same level (the pre-emphasis undone); without a pilot both ears hear
    // both tones alike, and no stereo is reported.
    void stereoSeparation_data()
    {
        QTest::addColumn<int>("station");
        for (int i = 0; i < int(std::size(kStereo)); ++i)
            QTest::addRow("%g Hz left, %g Hz right %s", kStereo[i].left, kStereo[i].right, kStereo[i].options) << i;
    }
    void stereoSeparation()
    {
        QFETCH(int, station);
        const Stereo& s = kStereo[station];
        const bool pilot = station + 1 < int(std::size(kStereo));
        QVERIFY(m_host.setRate(3));
        tuneAndRecord(Host::WFM, kFirstStereo + kStereoSpacing * station, -1);
        QCOMPARE(m_host.plugin.manager.wfmStereo(0), pilot);
        for (const auto& [where, audio, fs] : m_outputs) {
            QVERIFY(audio->left.size() > size_t(0.9 * fs));
            const Fit l = fitTones(audio->left.data(), int(audio->left.size()), fs, {s.left, s.right});
            const Fit r = fitTones(audio->right.data(), int(audio->right.size()), fs, {s.right, s.left});
            const double leftDb = 20.0 * std::log10(r.amplitude[0] / l.amplitude[1]);
            const double rightDb = 20.0 * std::log10(l.amplitude[0] / r.amplitude[1]);
            const QString text = QStringLiteral("%1: separation left %2 dB, right %3 dB (tones %4, %5)")
                                     .arg(where).arg(leftDb, 0, 'f', 1).arg(rightDb, 0, 'f', 1).arg(l.amplitude[0]).arg(r.amplitude[0]);
            QVERIFY2(std::abs(20.0 * std::log10(l.amplitude[0] / r.amplitude[0])) < 0.5, qPrintable(text));
            if (pilot) {
                QVERIFY2(leftDb >= 40.0 && rightDb >= 40.0, qPrintable(text));
                continue;
            }
            QVERIFY2(fs != Host::kMainRate || audio->left == audio->right, "mono ears differ");
            QVERIFY2(l.amplitude[0] > 0.01 && std::abs(20.0 * std::log10(l.amplitude[0] / l.amplitude[1])) < 0.5, qPrintable(text));
        }
    }

    // The meter of receiver 0 channel 0 follows a 20 dB step of a carrier. A
    // stream held beyond the plug-in's 2 s watchdog, as a thread of the
    // plug-in starved by a loaded machine holds it, is not taken for lost.
    void meterAndHeldStream()
    {
        QVERIFY(m_host.setRate(0));
        QVERIFY(m_host.tune(Host::AM, 6700000.0));
        const double before = systest::settledMeter(m_host.device(), m_host.sim());
        m_host.sim().setEmitterLevel(kMeterCarrier, -50.0);
        const double after = systest::settledMeter(m_host.device(), m_host.sim());
        QVERIFY2(std::abs((after - before) - 20.0) <= 1.0, qPrintable(QStringLiteral("meter %1 dBm -> %2 dBm").arg(before).arg(after)));
        QVERIFY(m_host.pump->hold());
        QTest::qWait(3000);
        m_host.pump->release();
        QVERIFY2(m_host.streamFor(0.5), "the stream stalled");
        QVERIFY(m_host.device()->isStarted());
    }
#endif
};

QTEST_MAIN(TestModes)
#include "tst_modes.moc"
