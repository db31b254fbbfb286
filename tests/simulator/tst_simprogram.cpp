// The stand-alone emulator program: its help and its refusals.
#include <QtTest>

class TestSimProgram : public QObject {
    Q_OBJECT

private slots:
    // --help documents the options and the scene format; unsafe or bad arguments are refused.
    void arguments()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("ZORVANI_NETNS"));
        const QList<QStringList> refused{{"--address", "192.168.1.50"}, {"--netns"}, {"--scene", "carrier 7000000"},
                                         {"--serial", "12"}, {"--port", "0"}, {"--drop-replies", "26"}};
        QString help;
        for (const QStringList& args : QList<QStringList>{{"--help"}} + refused) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(QStringLiteral(ZORVANI_SIM_PROGRAM), args + QStringList{"--duration", "5"});
            QVERIFY(p.waitForFinished(10000));
            const bool isHelp = args[0] == QLatin1String("--help");
            QVERIFY2(p.exitCode() == (isHelp ? 0 : 2), qPrintable(args.join(' ')));
            if (isHelp)
                help = QString::fromUtf8(p.readAllStandardOutput());
        }
        for (const char* word : {"--address", "--scene", "127.0.0.2", "noise LEVEL", "wfm FREQ"})
            QVERIFY2(help.contains(QLatin1String(word)), word);
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "tst_simprogram.moc"
