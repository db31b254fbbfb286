// The main job against a receiver it does not start itself: found by
// discovery, or named with --receiver. Discovery broadcasts, so this runs only
// in the private network namespace of tests/netns-run, with the emulator in the
// receivers' namespace behind the veth pair.
#include "Simulator.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using zorvani::sim::Config;
using zorvani::sim::Simulator;

namespace {
constexpr quint16 kPort = 54900;
constexpr quint16 kSilentPort = 54910;

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runMinihost(const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // A configuration folder of its own: no run takes another's remembered choices.
    QTemporaryDir config;
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(MINIHOST_PATH),
                  QStringList{QStringLiteral("--plugin"), qEnvironmentVariable("ZORVANI_PLUGIN")} + arguments);
    Run run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll()) : QString();
}
} // namespace

class TestMainJobNetwork : public QObject {
    Q_OBJECT

    std::unique_ptr<Simulator> m_sim;
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        if (qgetenv("ZORVANI_NETNS") != "1")
            QSKIP("discovery broadcasts; only inside the private network namespace of tests/netns-run");
        QVERIFY(m_dir.isValid());
        QVERIFY(Simulator::prepareNamespace({QHostAddress(QStringLiteral("10.77.0.2"))}));
        Config c;
        c.address = QHostAddress(QStringLiteral("10.77.0.2"));
        c.port = kPort;
        c.receiverNamespace = true;
        c.serialDecimal = 77;
        m_sim = std::make_unique<Simulator>(c);
        QVERIFY(m_sim->start());
    }

    void discoveryFindsTheReceiverAndStreams()
    {
        m_sim->clearCommandLog();
        const quint64 before = m_sim->counters().iqAnswered;
        const QString out = m_dir.filePath(QStringLiteral("discover"));
        const Run run = runMinihost({QStringLiteral("--discover"), QStringLiteral("--port"), QString::number(kPort),
                                     QStringLiteral("--duration"), QStringLiteral("2"), QStringLiteral("--out"), out,
                                     QStringLiteral("--no-png")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
        // About two seconds of packets at 312500 Hz reached the plug-in and were answered.
        const quint64 answered = m_sim->counters().iqAnswered - before;
        QVERIFY2(answered > 1562 && answered < 1562 * 4, qPrintable(QString::number(answered)));
        QVERIFY(m_sim->waitUntil([this] { return !m_sim->state().streaming; }, 2000));
        // The log sees broadcasts: what the default job's check below relies on.
        int requests = 0;
        for (const zorvani::sim::LoggedCommand& c : m_sim->commandLog())
            requests += c.command == 0x1A00 ? 1 : 0;
        QVERIFY(requests > 0);
        const QString summary = readAll(QDir(out).filePath(QStringLiteral("summary.txt")));
        QVERIFY2(summary.contains(QStringLiteral("receiver: discovered on port %1 (Auto)").arg(kPort)),
                 qPrintable(summary));
        QVERIFY2(!summary.contains(QStringLiteral("emulator:")), qPrintable(summary));
        QVERIFY(QFile::exists(QDir(out).filePath(QStringLiteral("audio.wav"))));
    }

    void namedReceiverStreams()
    {
        const quint64 before = m_sim->counters().iqAnswered;
        const QString out = m_dir.filePath(QStringLiteral("named"));
        const Run run = runMinihost({QStringLiteral("--receiver"), QStringLiteral("10.77.0.2:%1").arg(kPort),
                                     QStringLiteral("--rate"), QStringLiteral("39062.5"), QStringLiteral("--duration"),
                                     QStringLiteral("2"), QStringLiteral("--out"), out, QStringLiteral("--no-iq")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
        QVERIFY2(m_sim->counters().iqAnswered - before > 195 * 1.5, "about 195 packets per second at 39062.5 Hz");
        QCOMPARE(m_sim->state().rateIndex, 0);
        const QString summary = readAll(QDir(out).filePath(QStringLiteral("summary.txt")));
        QVERIFY2(summary.contains(QStringLiteral("receiver: 10.77.0.2:%1 (Static IP)").arg(kPort)), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("rate: 39062.5 Hz (index 0)")), qPrintable(summary));
    }

    void defaultJobSendsNothingBeyondLoopback()
    {
        // The receiver behind the veth pair hears every broadcast and every
        // datagram sent its way: the default job, with its own emulator on
        // loopback at the same port, must reach it with nothing.
        m_sim->clearCommandLog();
        const zorvani::sim::Counters before = m_sim->counters();
        const QString out = m_dir.filePath(QStringLiteral("default"));
        const Run run = runMinihost({QStringLiteral("--port"), QString::number(kPort), QStringLiteral("--duration"),
                                     QStringLiteral("2"), QStringLiteral("--out"), out, QStringLiteral("--no-png")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
        QVERIFY2(run.out.contains(QStringLiteral("streaming from 127.0.0.2:")), qPrintable(run.out));
        const zorvani::sim::Counters after = m_sim->counters();
        QVERIFY2(m_sim->commandLog().isEmpty(),
                 qPrintable(QStringLiteral("%1 datagrams arrived").arg(m_sim->commandLog().size())));
        QCOMPARE(after.discoveryReplies, before.discoveryReplies);
        QCOMPARE(after.iqAnswered, before.iqAnswered);
        QCOMPARE(after.malformed, before.malformed);
    }

    void refusedStartReportsThePluginsMessage()
    {
        // The receiver asks for a firmware update: the plug-in's box is
        // answered headless, and its text ends up in the failure message.
        m_sim->setStartStatus(2);
        const Run run = runMinihost({QStringLiteral("--receiver"), QStringLiteral("10.77.0.2:%1").arg(kPort),
                                     QStringLiteral("--duration"), QStringLiteral("2"), QStringLiteral("--out"),
                                     m_dir.filePath(QStringLiteral("refused"))});
        m_sim->setStartStatus(1);
        QVERIFY2(run.exitCode > 0, qPrintable(run.out + run.err));
        QVERIFY2(run.err.contains(QStringLiteral("did not start its stream")), qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("You need update the ZorvaniDDC firmware.")), qPrintable(run.err));
        QVERIFY(m_sim->waitUntil([this] { return !m_sim->state().streaming; }, 2000));
    }

    void discoveryWithoutAnswerFails()
    {
        const Run run = runMinihost({QStringLiteral("--discover"), QStringLiteral("--port"),
                                     QString::number(kSilentPort), QStringLiteral("--out"),
                                     m_dir.filePath(QStringLiteral("silent"))});
        QVERIFY2(run.exitCode > 0, qPrintable(run.out + run.err));
        QVERIFY2(run.err.contains(QStringLiteral("minihost: discovery found no receiver")), qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(TestMainJobNetwork)
#include "tst_mainjobnetwork.moc"
