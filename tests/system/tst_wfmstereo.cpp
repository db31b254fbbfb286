// Broadcast FM stereo through the whole host: the emulator's transmitter (an
// exact broadcast multiplex with pre-emphasis and a 9 % pilot) sends two
// tones at once, one per channel; the plug-in, loaded as the host loads it,
// must keep each in its own channel, 40 dB over its leak into the other, in
// the answers to the receiver and at the 48000 Hz main output. A station
// without a pilot is heard in mono.
#include "AudioChecks.h"
#include "SteppedHost.h"

#include <QtTest>

using zorvani::sim::Scene;
using Host = systest::SteppedHost;

namespace {

constexpr double kFirstStation = 10000000.0;
constexpr double kSpacing = 350000.0; // each tune at 312500 Hz hears one station
constexpr double kMinSeparationDb = 40.0;

struct Station {
    double left, right;
    const char* options;
};

// Stereo stations in order, then the mono one.
const Station kStations[] = {
    {200.0, 2000.0, ""},
    {1000.0, 3000.0, ""},
    {3000.0, 1000.0, ""},
    {400.0, 6000.0, ""},
    {6000.0, 200.0, ""},
    {1000.0, 3000.0, "rds=0.05"},
    {1000.0, 3000.0, "pilot=0"},
};

Scene scene()
{
    QString text = QStringLiteral("seed 5\nnoise -150\n");
    for (size_t i = 0; i < std::size(kStations); ++i)
        text += QStringLiteral("wfm %1 -30 left=%2 right=%3 %4\n")
                    .arg(kFirstStation + kSpacing * double(i), 0, 'f', 0)
                    .arg(kStations[i].left)
                    .arg(kStations[i].right)
                    .arg(QLatin1String(kStations[i].options));
    Scene s;
    QString error;
    const bool ok = Scene::parse(text, &s, &error);
    Q_ASSERT_X(ok, "scene", qPrintable(error));
    return s;
}

struct Levels {
    double own, leak; // a channel's own tone and the other channel's tone in it
};

Levels levels(const std::vector<double>& x, double fs, double own, double other)
{
    const systest::Fit fit = systest::fitTones(x.data(), int(x.size()), fs, {own, other});
    return {fit.amplitude[0], fit.amplitude[1]};
}

} // namespace

class TestWfmStereo : public QObject {
    Q_OBJECT

    Host m_host;

    void tuneAndRecord(int station, Host::Audio* answers, Host::Audio* main)
    {
        QVERIFY(m_host.tune(Host::WFM, kFirstStation + kSpacing * station));
        // A retune changes the AGC preset too: the fader mutes, resets the chain and restores.
        QVERIFY2(m_host.streamFor(1.5), "the stream stalled");
        QVERIFY2(m_host.record(1.0, answers, main), "the stream stalled");
        QVERIFY(answers->left.size() > 30000 && main->left.size() > 40000);
    }

private slots:
    void initTestCase()
    {
        const QString failed = m_host.start(53650, scene());
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        m_host.device()->setWfmStereo(0, true);
    }

    void cleanupTestCase()
    {
        m_host.stop();
        QVERIFY2(m_host.plugin.boxes.isEmpty(), qPrintable(m_host.plugin.boxes.join(QLatin1Char(','))));
    }

    void separation_data()
    {
        QTest::addColumn<int>("station");
        for (int i = 0; i + 1 < int(std::size(kStations)); ++i)
            QTest::addRow("%g Hz left, %g Hz right%s%s", kStations[i].left, kStations[i].right,
                          *kStations[i].options ? ", " : "", kStations[i].options)
                << i;
    }

    void separation()
    {
        QFETCH(int, station);
        const Station& s = kStations[station];
        Host::Audio answers, main;
        tuneAndRecord(station, &answers, &main);
        QVERIFY2(m_host.plugin.manager.wfmStereo(0), "stereo was not reported");
        const struct {
            const char* where;
            const Host::Audio& audio;
            double fs;
        } outputs[] = {{"answers", answers, Host::kAnswerRate}, {"main output", main, Host::kMainRate}};
        for (const auto& o : outputs) {
            const Levels l = levels(o.audio.left, o.fs, s.left, s.right);
            const Levels r = levels(o.audio.right, o.fs, s.right, s.left);
            // Each channel: the other side's tone in its own channel over its leak into this one.
            const double leftDb = 20.0 * std::log10(r.own / l.leak);
            const double rightDb = 20.0 * std::log10(l.own / r.leak);
            const QString text = QStringLiteral("%1: separation left %2 dB, right %3 dB (tones %4, %5)")
                                     .arg(QLatin1String(o.where)).arg(leftDb, 0, 'f', 1).arg(rightDb, 0, 'f', 1)
                                     .arg(l.own).arg(r.own);
            qDebug().noquote() << text;
            QVERIFY2(leftDb >= kMinSeparationDb && rightDb >= kMinSeparationDb, qPrintable(text));
            // Both tones as loud as each other: the transmitter's pre-emphasis undone.
            QVERIFY2(std::abs(20.0 * std::log10(l.own / r.own)) < 0.5, qPrintable(text));
        }
    }

    void monoWithoutPilot()
    {
        const int station = int(std::size(kStations)) - 1;
        const Station& s = kStations[station];
        Host::Audio answers, main;
        tuneAndRecord(station, &answers, &main);
        QVERIFY2(!m_host.plugin.manager.wfmStereo(0), "stereo reported without a pilot");
        for (size_t i = 0; i < main.left.size(); ++i)
            QVERIFY2(main.left[i] == main.right[i], "mono ears differ");
        // Both tones in both ears, at the same level.
        const Levels l = levels(main.left, Host::kMainRate, s.left, s.right);
        QVERIFY2(l.own > 0.01 && std::abs(20.0 * std::log10(l.own / l.leak)) < 0.5,
                 qPrintable(QStringLiteral("mono tones %1 and %2").arg(l.own).arg(l.leak)));
    }
};

QTEST_MAIN(TestWfmStereo)
#include "tst_wfmstereo.moc"
