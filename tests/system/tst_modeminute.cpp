// A minute of every mode through the whole host: the plug-in loaded as the
// host loads it, one station per mode, the audio heard both in the answers to
// the receiver and at the 48000 Hz main output. Each must carry the station's
// tone at its exact frequency, with a clean noise floor, and without a single
// break: no sample step the tone cannot make, no dip in its level. The stream
// runs in step with the test, so a slow machine takes longer but cannot make
// a gap.
#include "AudioChecks.h"
#include "SteppedHost.h"

#include <QSpinBox>
#include <QtTest>

using zorvani::sim::Scene;
using Host = systest::SteppedHost;

namespace {

constexpr double kSeconds = 60.0;
// After a tune: the fader, the AGC's slow presets and the pilot settle.
constexpr double kSettleSeconds = 6.0;

// Stations 300 kHz apart: each tune hears its own alone.
Scene scene()
{
    Scene s;
    QString error;
    const bool ok = Scene::parse(QStringLiteral("seed 11\n"
                                                "noise -150\n"
                                                "am 7000000 -40 tone=1000 depth=0.6\n"
                                                "usb 7300000 -40 tone=700\n"
                                                "lsb 7600000 -40 tone=900\n"
                                                "carrier 7900000 -50\n"
                                                "nfm 8200000 -40 tone=1000 dev=2500\n"
                                                "usb 8500000 -40 tone=500\n"
                                                "lsb 8800000 -40 tone=2500\n"
                                                "carrier 9100000 -50\n"
                                                "wfm 9400000 -30 left=1000 right=2500\n"),
                                 &s, &error);
    Q_ASSERT_X(ok, "scene", qPrintable(error));
    return s;
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

class TestModeMinute : public QObject {
    Q_OBJECT

    Host m_host;
    double m_minSinadDb = 0.0;

    // One channel: the tone where it belongs, clean and unbroken.
    void verifyChannel(const QString& where, const std::vector<double>& x, double fs, double tone, double other)
    {
        QVERIFY2(double(x.size()) >= (kSeconds - 0.5) * fs,
                 qPrintable(QStringLiteral("%1: %2 s of audio").arg(where).arg(double(x.size()) / fs)));
        const std::vector<double> start(x.begin(), x.begin() + 16384);
        const double heard = systest::toneFrequency(x, fs, systest::strongestTone(start, fs, tone / 2, tone * 1.5).hz);
        std::vector<double> tones{tone};
        if (other > 0.0)
            tones.push_back(other);
        // Noise and distortion second by second; the typical second counts
        // (a break shows in the continuity check).
        std::vector<double> sinad;
        double amplitude = 0.0;
        const int second = int(fs);
        for (size_t at = 0; at + size_t(second) <= x.size(); at += size_t(second)) {
            const systest::Fit fit = systest::fitTones(x.data() + at, second, fs, tones);
            amplitude = std::max(amplitude, fit.amplitude[0]);
            sinad.push_back(10.0 * std::log10(fit.amplitude[0] * fit.amplitude[0] / 2.0 / fit.residualPower));
        }
        std::sort(sinad.begin(), sinad.end());
        const systest::Continuity c = systest::checkContinuity(x, fs, tones, amplitude);
        const QString text = QStringLiteral("%1: %2 Hz, amplitude %3, SINAD %4 dB (worst second %5 dB), "
                                            "largest step %6, deepest dip %7 dB")
                                 .arg(where).arg(heard, 0, 'f', 4).arg(amplitude, 0, 'f', 3)
                                 .arg(sinad[sinad.size() / 2], 0, 'f', 1).arg(sinad.front(), 0, 'f', 1)
                                 .arg(c.worstStep, 0, 'g', 3).arg(c.worstDipDb, 0, 'f', 2);
        qDebug().noquote() << text;
        QVERIFY2(std::abs(heard - tone) < 0.02, qPrintable(text));
        QVERIFY2(sinad[sinad.size() / 2] >= m_minSinadDb, qPrintable(text));
        QVERIFY2(c.problem.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(where, c.problem)));
    }

private slots:
    void initTestCase()
    {
        const QString failed = m_host.start(53600, scene());
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }

    void cleanupTestCase()
    {
        m_host.stop();
        QVERIFY2(m_host.plugin.boxes.isEmpty(), qPrintable(m_host.plugin.boxes.join(QLatin1Char(','))));
    }

    void everyMode_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kRows)); ++i)
            QTest::newRow(kRows[i].name) << i;
    }

    void everyMode()
    {
        QFETCH(int, row);
        const Row& r = kRows[row];
        double left = r.left, right = r.right;
        if (left == 0.0)
            left = m_host.plugin.option<QSpinBox>("sbCwPitch")->value();
        if (*r.offset) {
            const bool down = *r.offset == '-';
            const double shift = m_host.plugin.option<QSpinBox>(r.offset + (down ? 1 : 0))->value();
            left += down ? -shift : shift;
        }
        if (right == 0.0)
            right = left;
        const int mode = r.mode;
        m_minSinadDb = r.minSinadDb;
        QVERIFY(m_host.setRate(r.rate));
        m_host.device()->setWfmStereo(0, mode == Host::WFM);
        QVERIFY(m_host.tune(mode, r.station, r.filter));
        QVERIFY2(m_host.streamFor(kSettleSeconds), "the stream stalled"); // fader, AGC, pilot
        Host::Audio answers, main;
        QVERIFY2(m_host.record(kSeconds, &answers, &main), "the stream stalled");

        const bool stereo = mode == Host::WFM;
        verifyChannel("answers, left", answers.left, Host::kAnswerRate, left, stereo ? right : 0.0);
        verifyChannel("main output, left", main.left, Host::kMainRate, left, stereo ? right : 0.0);
        if (right > 0.0) {
            verifyChannel("answers, right", answers.right, Host::kAnswerRate, right, stereo ? left : 0.0);
            verifyChannel("main output, right", main.right, Host::kMainRate, right, stereo ? left : 0.0);
        }
        if (stereo)
            QVERIFY2(m_host.plugin.manager.wfmStereo(0), "stereo was not reported");
    }
};

QTEST_MAIN(TestModeMinute)
#include "tst_modeminute.moc"
