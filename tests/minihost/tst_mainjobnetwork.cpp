// The main job against a receiver it does not start itself, found by
// discovery. Discovery broadcasts, so this runs only in the private network
// namespace of tests/netns-run, with the emulator in the receivers' namespace
// behind the veth pair. (A receiver named with --receiver: tst_mainjob.)
#include "DiscoveryNetwork.h"
#include "MinihostRun.h"

#include <QtTest>

using namespace hosttest;

class TestMainJobNetwork : public QObject {
    Q_OBJECT

    static constexpr quint16 kPort = 54900;
    std::unique_ptr<zorvani::sim::Simulator> m_sim;
    QTemporaryDir m_dir;

    // A two-second run writing to `out`.
    Run run(const QString& out, const QStringList& extra)
    {
        return runMinihost(withPlugin({"--duration", "2", "--out", m_dir.filePath(out)}) + extra);
    }

private slots:
    void initTestCase()
    {
        REQUIRE_DISCOVERY_NETWORK();
        zorvani::sim::Config c = testsupport::networkReceiver("10.77.0.2", kPort, 77);
        c.paced = true; // the host streams in real time
        m_sim = testsupport::startedReceiver(c);
        QVERIFY(m_sim);
    }

    // About two seconds of packets at 312500 Hz reach the plug-in and are
    // answered. The log sees broadcasts: what the default job's check relies on.
    void discoveryFindsTheReceiverAndStreams()
    {
        m_sim->clearCommandLog();
        const quint64 before = m_sim->counters().iqAnswered;
        const Run r = run("discover", {"--discover", "--port", QString::number(kPort), "--no-png"});
        QVERIFY2(r.exitCode == 0, qPrintable(r.said()));
        const quint64 answered = m_sim->counters().iqAnswered - before;
        QVERIFY2(answered > 1562 && answered < 1562 * 4, qPrintable(QString::number(answered)));
        QVERIFY(m_sim->waitUntil([this] { return !m_sim->state().streaming; }, 2000));
        const auto log = m_sim->commandLog();
        QVERIFY(std::any_of(log.begin(), log.end(), [](const auto& c) { return c.command == 0x1A00; }));
    }

    // The receiver behind the veth pair hears every broadcast and every
    // datagram sent its way: the default job, with its own emulator on
    // loopback at the same port, must reach it with nothing.
    void defaultJobSendsNothingBeyondLoopback()
    {
        m_sim->clearCommandLog();
        const zorvani::sim::Counters before = m_sim->counters();
        const Run r = run("default", {"--port", QString::number(kPort), "--no-png"});
        QVERIFY2(r.exitCode == 0 && r.out.contains(QStringLiteral("streaming from 127.0.0.2:")), qPrintable(r.said()));
        const zorvani::sim::Counters after = m_sim->counters();
        QVERIFY2(m_sim->commandLog().isEmpty(), qPrintable(QStringLiteral("%1 datagrams arrived").arg(m_sim->commandLog().size())));
        QVERIFY(after.discoveryReplies == before.discoveryReplies && after.iqAnswered == before.iqAnswered &&
                after.malformed == before.malformed);
    }
};

QTEST_GUILESS_MAIN(TestMainJobNetwork)
#include "tst_mainjobnetwork.moc"
