// Two minutes of IQ (187500 packets) recorded at 312500 Hz: every packet the
// plug-in answered while recording is in the file, in the stream's order, and
// nothing else is. It waits for the packets however long the machine takes, and
// does not ask the link to lose nothing: on a busy machine the link may give
// packets up (its own tests count those); the recording must hold all the rest.
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
        device()->setWriteIQ(true, 0);
        const quint64 sentAtStart = m_sim->counters().iqSent;
        QVERIFY(refused.isEmpty());
        // Answers arrive in the order they are sent. Once more packets are
        // answered than had been sent at the start, one of them was handled
        // with the recording on, and every answer to a packet handled before
        // the start has been counted: a packet answered with audio from here
        // on was handled, so it must be in the file. (A bare acknowledge may
        // be a packet the link skipped to resynchronise.)
        QVERIFY(m_sim->waitUntil([&] { return m_sim->counters().iqAnswered > sentAtStart; }, 10000));
        const auto atStart = m_sim->counters();
        const qint64 packets = qint64(kRate / 200.0 * kSeconds);
        // A generous limit: only a stream that stops makes it run out.
        QTRY_VERIFY_WITH_TIMEOUT(qint64(m_sim->counters().iqSent - sentAtStart) >= packets, int(kSeconds * 1000) * 3);
        const auto beforeStop = m_sim->counters();
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
            systest::matchStream(
                replica, d, 1.0, sentAfter,
                [&](qint64 offset, qint64 bytes) {
                    file.seek(112 + offset);
                    return file.read(bytes);
                },
                true);
        const auto link = m_sim->counters();
        QVERIFY2(match.ok, qPrintable(match.why + QStringLiteral(" (link: %1 sent, %2 answered, %3 re-sent)")
                                                      .arg(link.iqSent)
                                                      .arg(link.iqAnswered)
                                                      .arg(link.iqResent)));
        const qint64 handled = qint64(beforeStop.iqAnswered - atStart.iqAnswered) -
                               qint64(beforeStop.iqAnswersShort - atStart.iqAnswersShort);
        const QString counts = QStringLiteral("answered with audio while recording %1, file %2 packets from %3 with %4 "
                                              "missing, %5 re-sent")
                                   .arg(handled)
                                   .arg(match.packets)
                                   .arg(match.firstPacket)
                                   .arg(match.missing)
                                   .arg(link.iqResent);
        // Nothing the plug-in handled while recording is missing from the
        // file, and a gap in it is only where the receiver had to re-send.
        QVERIFY2(match.packets >= handled, qPrintable(counts));
        QVERIFY2(match.missing <= qint64(link.iqResent), qPrintable(counts));
        QCOMPARE(link.iqAnswersUnknown, quint64(0));
    }
};

QTEST_MAIN(TestLongRecording)
#include "tst_longrecording.moc"
