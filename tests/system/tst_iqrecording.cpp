// IQ recordings of a real stream, in the three formats of the host's
// recorder configuration, read back by the test and by Python's wave module.
#include "RecordingCheck.h"
#include "SystemHost.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

using zorvani::sim::Scene;
using zorvani::sim::Simulator;

namespace {
constexpr double kCentre = 7100000.0;
constexpr double kRate = 39062.5;

Scene scene()
{
    Scene s;
    // The strong carrier goes beyond full scale once scaled by 100.
    Scene::parse(QStringLiteral("seed 11; noise -120; carrier 7105000 -30; am 7090000 -50 tone=700"), &s, nullptr);
    return s;
}
} // namespace

class TestIqRecording : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QTemporaryDir m_folder;
    std::unique_ptr<Simulator> m_sim;
    systest::LoadedPlugin m_plugin;

    DeviceAbstract* device() { return m_plugin.device(); }

    bool streamFor(double seconds)
    {
        const quint64 start = m_sim->counters().iqSent;
        QElapsedTimer timer;
        timer.start();
        while (double(m_sim->counters().iqSent - start) < kRate / 200.0 * seconds) {
            if (timer.elapsed() > qint64(seconds * 1000) + 3000)
                return false;
            QTest::qWait(10);
        }
        return true;
    }

    // Records for `seconds`; returns the new file's path.
    QString record(int format, double seconds, QDateTime* started, QDateTime* stopped, QDateTime* stopEnd)
    {
        const QStringList before = QDir(m_folder.path()).entryList(QDir::Files);
        m_plugin.bridge.hostRecorder().setFormat(format);
        QSignalSpy refused(device(), &DeviceAbstract::sWriteIQ);
        *started = QDateTime::currentDateTime();
        device()->setWriteIQ(true, 0);
        if (!refused.isEmpty() || !streamFor(seconds))
            return {};
        *stopped = QDateTime::currentDateTime();
        device()->setWriteIQ(false, 0);
        *stopEnd = QDateTime::currentDateTime();
        QStringList after = QDir(m_folder.path()).entryList(QDir::Files);
        for (const QString& name : before)
            after.removeAll(name);
        return after.size() == 1 ? m_folder.filePath(after.first()) : QString();
    }

    // Python's wave module: channels, sample width, rate, frames, and the
    // frames' bytes (hex) it reads.
    static QStringList pythonWave(const QString& path, bool* ran)
    {
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        *ran = !python.isEmpty();
        if (!*ran)
            return {};
        QProcess p;
        p.start(python, {QStringLiteral("-c"),
                         QStringLiteral("import sys, wave, hashlib\n"
                                        "w = wave.open(sys.argv[1], 'rb')\n"
                                        "d = w.readframes(w.getnframes())\n"
                                        "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(), "
                                        "len(d), hashlib.sha256(d).hexdigest())\n"),
                         path});
        if (!p.waitForFinished(20000) || p.exitCode() != 0)
            return {QStringLiteral("error"), QString::fromLocal8Bit(p.readAllStandardError())};
        return QString::fromLatin1(p.readAllStandardOutput()).simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(systest::LoadedPlugin::isolateHome(m_home));
        QVERIFY(m_folder.isValid());
        const QString failed = m_plugin.attachEmulator(m_sim, 53200, scene());
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        m_plugin.bridge.hostRecorder().setFolder(m_folder.path());
        QVERIFY(device()->open());
        // Tuned where the emulator already is, so its stream is one generator run.
        device()->setFreq(0, 0, kCentre);
        QVERIFY(device()->start());
        QVERIFY(m_sim->waitUntil([&] { return m_sim->state().streaming; }, 2000));
        QCOMPARE(m_sim->state().freq[0], quint64(kCentre * 10));
        QVERIFY(streamFor(0.3));
    }

    void cleanupTestCase()
    {
        m_plugin.unload();
        QVERIFY2(m_plugin.boxes.isEmpty(), qPrintable(m_plugin.boxes.join(QLatin1Char(','))));
        m_sim.reset();
    }

    void formats_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("dataOffset");
        QTest::addColumn<double>("gain");
        QTest::newRow("0: vmsd chunk, payloads as sent") << 0 << "_.wav" << 112 << 1.0;
        QTest::newRow("1: plain, x100") << 1 << "_wv.wav" << 44 << 100.0;
        QTest::newRow("2: auxi chunk, x10^1.5") << 2 << "_hd.wav" << 216 << std::pow(10.0, 1.5);
    }
    void formats()
    {
        QFETCH(int, format);
        QFETCH(QString, suffix);
        QFETCH(int, dataOffset);
        QFETCH(double, gain);

        QDateTime started, stopped, stopEnd;
        const QString path = record(format, 1.0, &started, &stopped, &stopEnd);
        QVERIFY2(!path.isEmpty(), "one new file per recording");
        QVERIFY2(path.endsWith(suffix), qPrintable(path));
        QVERIFY2(QFileInfo(path).fileName().startsWith(QCoreApplication::applicationName() + "_ZorvaniDDC_"),
                 qPrintable(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray head = file.read(dataOffset);
        QCOMPARE(head.size(), dataOffset);
        const qint64 d = file.size() - dataOffset;
        QVERIFY2(d > 0 && d % 1200 == 0, qPrintable(QStringLiteral("%1 sample bytes").arg(d)));

        QCOMPARE(head.left(4), QByteArray("RIFF"));
        QCOMPARE(systest::le32(head, 4), quint32(format == 1 ? d + 36 : d + 100));
        QCOMPARE(head.mid(8, 8), QByteArray("WAVEfmt "));
        QCOMPARE(systest::le32(head, 16), 16u);
        QCOMPARE(systest::le16(head, 20), quint16(1));
        QCOMPARE(systest::le16(head, 22), quint16(2));
        QCOMPARE(systest::le32(head, 24), 39062u);
        QCOMPARE(systest::le32(head, 28), 39062u * 6);
        QCOMPARE(systest::le16(head, 32), quint16(6));
        QCOMPARE(systest::le16(head, 34), quint16(24));
        QDateTime start, stop;
        switch (format) {
        case 0:
            QCOMPARE(head.mid(36, 4), QByteArray("vmsd"));
            QCOMPARE(systest::le32(head, 40), 64u);
            QCOMPARE(systest::le32(head, 44), 1u);
            start = systest::stamp(head, 48);
            stop = systest::stamp(head, 64);
            QCOMPARE(systest::le32(head, 80), 0u);
            QCOMPARE(systest::leDouble(head, 84), kCentre);
            QCOMPARE(systest::leDouble(head, 92), kRate);
            QCOMPARE(systest::leDouble(head, 100), 0.0);
            QCOMPARE(head.mid(108, 4), QByteArray("data"));
            break;
        case 1:
            QCOMPARE(head.mid(36, 4), QByteArray("data"));
            QCOMPARE(systest::le32(head, 40), quint32(d));
            break;
        case 2:
            QCOMPARE(head.mid(36, 4), QByteArray("auxi"));
            QCOMPARE(systest::le32(head, 40), 164u);
            start = systest::stamp(head, 44);
            stop = systest::stamp(head, 60);
            QCOMPARE(systest::le32(head, 76), quint32(kCentre));
            QCOMPARE(head.mid(80, 128), QByteArray(128, '\0'));
            QCOMPARE(head.mid(208, 4), QByteArray("data"));
            QCOMPARE(systest::le32(head, 212), quint32(d));
            break;
        }
        if (format != 1) {
            // Local time, to the millisecond: opened within the start call, closed within the stop call.
            QVERIFY2(start.isValid() && stop.isValid(), "valid time stamps with a matching day of week");
            QVERIFY2(start >= started.addMSecs(-1) && start <= stopped,
                     qPrintable(start.toString(Qt::ISODateWithMs) + " vs " + started.toString(Qt::ISODateWithMs)));
            QVERIFY2(stop >= stopped.addMSecs(-1) && stop <= stopEnd.addMSecs(1),
                     qPrintable(stop.toString(Qt::ISODateWithMs) + " vs " + stopped.toString(Qt::ISODateWithMs)));
        }

        // The samples: the stream's packets, in order, none missing, as the format scales them.
        systest::StreamReplica replica(scene(), 0, kCentre, kRate);
        const systest::SampleMatch match =
            systest::matchStream(replica, d, gain, 5000, [&](qint64 offset, qint64 bytes) {
                file.seek(dataOffset + offset);
                return file.read(bytes);
            });
        QVERIFY2(match.ok, qPrintable(match.why));
        QVERIFY2(match.packets >= 150, qPrintable(QStringLiteral("%1 packets in 1 s").arg(match.packets)));
        if (format == 0)
            QCOMPARE(match.saturated, 0);
        else
            QVERIFY2(match.saturated > 0, "the scaled carrier reaches the 24-bit limits");

        // An independent reader.
        bool ran = false;
        const QStringList py = pythonWave(path, &ran);
        if (!ran)
            QSKIP("python3 is not installed: no independent WAV reader");
        QVERIFY2(py.size() == 6, qPrintable(py.join(' ')));
        QCOMPARE(py[0], QStringLiteral("2"));
        QCOMPARE(py[1], QStringLiteral("3"));
        QCOMPARE(py[2], QStringLiteral("39062"));
        if (format == 0)
            return; // no size after "data": a reader takes the first samples for one
        QCOMPARE(py[3].toLongLong(), d / 6);
        file.seek(dataOffset);
        const QByteArray samples = file.read(d);
        if (format == 1) {
            QCOMPARE(py[4].toLongLong(), d);
            QCOMPARE(py[5], QString::fromLatin1(QCryptographicHash::hash(samples, QCryptographicHash::Sha256).toHex()));
        } else {
            // The RIFF size (D + 100) ends the form 108 bytes before the file
            // does: a strict reader takes the samples up to there.
            const qint64 readable = std::min<qint64>(d, d + 108 - dataOffset);
            QCOMPARE(py[4].toLongLong(), readable);
            QCOMPARE(py[5], QString::fromLatin1(
                                QCryptographicHash::hash(samples.left(int(readable)), QCryptographicHash::Sha256).toHex()));
        }
    }

    // Stopped at once: a complete header and no samples.
    void stopRightAfterStart()
    {
        const QStringList before = QDir(m_folder.path()).entryList(QDir::Files);
        m_plugin.bridge.hostRecorder().setFormat(1);
        QTest::qWait(1100); // a new second, so a new file name
        device()->setWriteIQ(true, 0);
        device()->setWriteIQ(false, 0);
        QStringList after = QDir(m_folder.path()).entryList(QDir::Files);
        for (const QString& name : before)
            after.removeAll(name);
        QCOMPARE(after.size(), 1);
        QFile file(m_folder.filePath(after.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray all = file.readAll();
        QCOMPARE(all.size(), 44);
        QCOMPARE(systest::le32(all, 4), 36u);
        QCOMPARE(systest::le32(all, 40), 0u);
    }
};

QTEST_MAIN(TestIqRecording)
#include "tst_iqrecording.moc"
