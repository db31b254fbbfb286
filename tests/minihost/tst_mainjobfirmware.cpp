// The minimal host, headless, with a firmware update the user asked for: the
// update runs to its end with its steps on the console, its outcome goes into
// the summary and the exit status, and the receiver streams afterwards.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Ports of this program only.
quint16 testPort(int offset)
{
    return quint16(37400 + (QCoreApplication::applicationPid() % 20) * 5 + offset);
}

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
    QString summary;
};

Run runMinihost(const QString& outDir, int portOffset, const QStringList& extra)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Settings of its own, away from the user's and from the other runs'.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), outDir + QStringLiteral("-config"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(MINIHOST_PATH),
                  QStringList{QStringLiteral("--plugin"), qEnvironmentVariable("ZORVANI_PLUGIN"),
                              QStringLiteral("--duration"), QStringLiteral("1"), QStringLiteral("--no-png"),
                              QStringLiteral("--no-iq"), QStringLiteral("--out"), outDir, QStringLiteral("--port"),
                              QString::number(testPort(portOffset))} +
                      extra);
    Run run;
    if (!process.waitForFinished(150000)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("timed out");
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    QFile summary(QDir(outDir).filePath(QStringLiteral("summary.txt")));
    if (summary.open(QIODevice::ReadOnly | QIODevice::Text))
        run.summary = QString::fromUtf8(summary.readAll());
    return run;
}
} // namespace

class TestMainJobFirmware : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_runs = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(!qEnvironmentVariableIsEmpty("ZORVANI_PLUGIN"), "ZORVANI_PLUGIN names the built plug-in");
    }

    void updateRunsToItsEnd_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("console"); // lines on standard output, in order
        QTest::addColumn<QStringList>("summary"); // lines of summary.txt; empty: none written
        const QStringList written = {QStringLiteral("firmware: Connection (state 1)"),
                                     QStringLiteral("firmware: Executing step 1 (state 3)"),
                                     QStringLiteral("firmware: 50 % written"),
                                     QStringLiteral("firmware: 100 % written"),
                                     QStringLiteral("firmware: Firmware updated. (state 13)"),
                                     QStringLiteral("streaming from 127.0.0.2:")};
        const QStringList updated = {QStringLiteral("firmware update: finished: Firmware updated. (state 13)"),
                                     QStringLiteral("emulator firmware: 11.3")};
        QTest::newRow("receiver in its bootloader")
            << QStringList{QStringLiteral("--emulator-firmware"), QStringLiteral("bootloader"),
                           QStringLiteral("--update-firmware")}
            << 0 << written << updated;
        // "admin" among the application's arguments: a current receiver is updated anyway.
        QTest::newRow("admin, current receiver")
            << QStringList{QStringLiteral("--admin"), QStringLiteral("--update-firmware")} << 0 << written << updated;
        QTest::newRow("current receiver")
            << QStringList{QStringLiteral("--update-firmware")} << 0
            << QStringList{QStringLiteral("firmware: Firmware is up to date. (state 14)"),
                           QStringLiteral("streaming from 127.0.0.2:")}
            << QStringList{QStringLiteral("firmware update: finished: Firmware is up to date. (state 14)")};
        // A failed update leaves nothing to stream: the summary says why.
        QTest::newRow("flash that cannot be erased")
            << QStringList{QStringLiteral("--emulator-firmware"), QStringLiteral("unerasable"),
                           QStringLiteral("--update-firmware")}
            << 1 << QStringList{QStringLiteral("firmware: Connection (state 2)")}
            << QStringList{QStringLiteral("firmware update: failed: Can not firmware update for ZorvaniDDC. (state 8)"),
                           QStringLiteral("problem: firmware update failed: Can not firmware update for ZorvaniDDC. "
                                          "(state 8)"),
                           QStringLiteral("emulator firmware: bootloader")};
        // Not asked to update: the offer is declined and nothing streams.
        QTest::newRow("bootloader, update not asked for")
            << QStringList{QStringLiteral("--emulator-firmware"), QStringLiteral("bootloader")} << 1 << QStringList()
            << QStringList();
    }
    void updateRunsToItsEnd()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, console);
        QFETCH(QStringList, summary);
        const int runIndex = m_runs++;
        const Run run = runMinihost(m_dir.filePath(QString::number(runIndex)), runIndex, arguments);
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.err + run.out));
        int from = 0;
        for (const QString& line : console) {
            const int at = run.out.indexOf(line, from);
            QVERIFY2(at >= 0, qPrintable(QStringLiteral("\"%1\" missing or out of order in:\n%2").arg(line, run.out)));
            from = at + line.size();
        }
        for (const QString& line : summary)
            QVERIFY2(run.summary.contains(line + QLatin1Char('\n')), qPrintable(run.summary));
        if (summary.isEmpty()) {
            QVERIFY(run.summary.isEmpty());
            QVERIFY2(run.err.contains(QStringLiteral("firmware updating mode")), qPrintable(run.err));
        }
    }
};

QTEST_MAIN(TestMainJobFirmware)
#include "tst_mainjobfirmware.moc"
