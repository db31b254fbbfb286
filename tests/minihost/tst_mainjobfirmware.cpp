// The minimal host, headless, with a firmware update the user asked for: the
// update runs to its end with its steps on the console, its outcome goes into
// the summary and the exit status, and the receiver streams afterwards.
#include "MinihostRun.h"
#include "TestPorts.h"

#include <QtTest>

using namespace hosttest;

class TestMainJobFirmware : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_runs = 0;

private slots:
    void updateRunsToItsEnd_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("console"); // lines on standard output, in order
        QTest::addColumn<QStringList>("summary"); // lines of summary.txt; empty: none written
        const QStringList written = {"firmware: Connection (state 1)", "firmware: Executing step 1 (state 3)",
                                     "firmware: 50 % written", "firmware: 100 % written",
                                     "firmware: Firmware updated. (state 13)", "streaming from 127.0.0.2:"};
        const QStringList updated = {"firmware update: finished: Firmware updated. (state 13)", "emulator firmware: 11.3"};
        QTest::newRow("receiver in its bootloader")
            << QStringList{"--emulator-firmware", "bootloader", "--update-firmware"} << 0 << written << updated;
        // "admin" among the application's arguments: a current receiver is updated anyway.
        QTest::newRow("admin, current receiver") << QStringList{"--admin", "--update-firmware"} << 0 << written << updated;
        QTest::newRow("current receiver")
            << QStringList{"--update-firmware"} << 0
            << QStringList{"firmware: Firmware is up to date. (state 14)", "streaming from 127.0.0.2:"}
            << QStringList{"firmware update: finished: Firmware is up to date. (state 14)"};
        // A failed update leaves nothing to stream: the summary says why.
        QTest::newRow("flash that cannot be erased")
            << QStringList{"--emulator-firmware", "unerasable", "--update-firmware"} << 1
            << QStringList{"firmware: Connection (state 2)"}
            << QStringList{"firmware update: failed: Can not firmware update for ZorvaniDDC. (state 8)",
                           "problem: firmware update failed: Can not firmware update for ZorvaniDDC. (state 8)",
                           "emulator firmware: bootloader"};
        // Not asked to update: the offer is declined and nothing streams.
        QTest::newRow("bootloader, update not asked for")
            << QStringList{"--emulator-firmware", "bootloader"} << 1 << QStringList() << QStringList();
    }
    void updateRunsToItsEnd()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, console);
        QFETCH(QStringList, summary);
        const QString out = m_dir.filePath(QString::number(m_runs));
        const Run run = runMinihost(withPlugin({"--duration", "1", "--no-png", "--no-iq", "--out", out, "--port",
                                                QString::number(testsupport::processPort(46500, m_runs++))}) + arguments,
                                    150000);
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.said()));
        int from = 0;
        for (const QString& line : console) {
            const int at = run.out.indexOf(line, from);
            QVERIFY2(at >= 0, qPrintable(QStringLiteral("\"%1\" missing or out of order in:\n%2").arg(line, run.out)));
            from = at + line.size();
        }
        const QString written = readText(QDir(out).filePath(QStringLiteral("summary.txt")));
        for (const QString& line : summary)
            QVERIFY2(written.contains(line + QLatin1Char('\n')), qPrintable(written));
        if (summary.isEmpty()) {
            QVERIFY(written.isEmpty());
            QVERIFY2(run.err.contains(QStringLiteral("firmware updating mode")), qPrintable(run.err));
        }
    }
};

QTEST_MAIN(TestMainJobFirmware)
#include "tst_mainjobfirmware.moc"
