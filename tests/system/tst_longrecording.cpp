// Two minutes of IQ (187500 packets) recorded at 312500 Hz: every packet the
// emulator sent between start and stop is in the file, in order, and was
// answered. It waits for the packets, however long the machine takes.
#include "RecordingCheck.h"
#include "SystemHost.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>

using zorvani::sim::Scene;
using zorvani::sim::Simulator;

namespace {
constexpr double kCentre = 7100000.0;
constexpr double kRate = 312500.0;
constexpr double kSeconds = 120.0;
constexpr qint64 kEdgePackets = 16; // in flight (answer window, writer ring) when the recording starts or stops

Scene scene()
{
    Scene s;
    Scene::parse(QStringLiteral("seed 5; noise -125; am 7120000 -40; usb 7050000 -45 tone=900; carrier 7100000 -60"),
                 &s, nullptr);
    return s;
}
} // namespace

class TestLongRecording : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QTemporaryDir m_folder;
    std::unique_ptr<Simulator> m_sim;
    systest::LoadedPlugin m_plugin;

    DeviceAbstract* device() { return m_plugin.device(); }

private slots:
    void initTestCase()
    {
        QVERIFY(systest::LoadedPlugin::isolateHome(m_home));
        QVERIFY(m_folder.isValid());
        const QString failed = m_plugin.attachEmulator(m_sim, 53300, scene());
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        m_plugin.option<QComboBox>("cbSampleRate")->setCurrentIndex(3);
        m_plugin.bridge.hostRecorder().setFolder(m_folder.path());
        m_plugin.bridge.hostRecorder().setFormat(0);
    }

    void cleanupTestCase()
    {
        m_plugin.unload();
        QVERIFY2(m_plugin.boxes.isEmpty(), qPrintable(m_plugin.boxes.join(QLatin1Char(','))));
        m_sim.reset();
    }

    void twoMinutesAtTheWidestRate()
    {
        QVERIFY(device()->open());
        device()->setFreq(0, 0, kCentre);
        QVERIFY(device()->start());
        QVERIFY(m_sim->waitUntil([&] { return m_sim->state().streaming; }, 2000));
        QCOMPARE(m_sim->state().rateIndex, 3);
        QTest::qWait(200);

        QSignalSpy refused(device(), &DeviceAbstract::sWriteIQ);
        const qint64 sentBefore = qint64(m_sim->counters().iqSent);
        device()->setWriteIQ(true, 0);
        QVERIFY(refused.isEmpty());
        const qint64 packets = qint64(kRate / 200.0 * kSeconds);
        // A generous limit: only a stream that stops makes it run out.
        QTRY_VERIFY_WITH_TIMEOUT(qint64(m_sim->counters().iqSent) - sentBefore >= packets, int(kSeconds * 1000) * 3);
        device()->setWriteIQ(false, 0);
        const qint64 sentAfter = qint64(m_sim->counters().iqSent);
        device()->stop();
        device()->close();

        const QStringList files = QDir(m_folder.path()).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QFile file(m_folder.filePath(files.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const qint64 d = file.size() - 112;
        QCOMPARE(systest::le32(file.read(8), 4), quint32(d + 100));

        systest::StreamReplica replica(scene(), 0, kCentre, kRate);
        const systest::SampleMatch match =
            systest::matchStream(replica, d, 1.0, sentBefore + kEdgePackets, [&](qint64 offset, qint64 bytes) {
                file.seek(112 + offset);
                return file.read(bytes);
            });
        const auto link = m_sim->counters();
        QVERIFY2(match.ok, qPrintable(match.why + QStringLiteral(" (link: %1 sent, %2 answered, %3 re-sent)")
                                                      .arg(link.iqSent)
                                                      .arg(link.iqAnswered)
                                                      .arg(link.iqResent)));
        const qint64 last = match.firstPacket + match.packets; // one past the file's last packet
        const QString counts = QStringLiteral("sent %1..%2, file %3..%4")
                                   .arg(sentBefore)
                                   .arg(sentAfter)
                                   .arg(match.firstPacket)
                                   .arg(last);
        QVERIFY2(match.firstPacket >= sentBefore - kEdgePackets && match.firstPacket <= sentBefore + kEdgePackets,
                 qPrintable(counts));
        QVERIFY2(last <= sentAfter && last >= sentAfter - kEdgePackets, qPrintable(counts));
        // Every packet that reached the file was answered, and no answer was foreign.
        const auto counters = m_sim->counters();
        QVERIFY2(qint64(counters.iqAnswered) >= last - kEdgePackets,
                 qPrintable(counts + QStringLiteral(", answered %1").arg(counters.iqAnswered)));
        QCOMPARE(counters.iqAnswersUnknown, quint64(0));
    }
};

QTEST_MAIN(TestLongRecording)
#include "tst_longrecording.moc"
