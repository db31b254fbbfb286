#include "SimClient.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace zorvani::sim::proto;

// The stand-alone program: its help, its refusals, and a hand-written client
// talking to it on loopback.
class TestSimProgram : public QObject {
    Q_OBJECT

    static quint16 port() { return quint16(30000 + QCoreApplication::applicationPid() % 3000); }

    // Starts the program and waits until it says it is up.
    static bool launch(QProcess& p, const QStringList& args)
    {
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(ZORVANI_SIM_PROGRAM), args);
        if (!p.waitForStarted(5000))
            return false;
        QByteArray out;
        while (!out.contains("zorvani-sim: receiver")) {
            if (!p.waitForReadyRead(5000))
                return false;
            out += p.readAll();
        }
        return true;
    }

private slots:
    void helpDocumentsOptionsAndScene()
    {
        QProcess p;
        p.start(QStringLiteral(ZORVANI_SIM_PROGRAM), {QStringLiteral("--help")});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        const QString help = QString::fromUtf8(p.readAllStandardOutput());
        for (const char* word : {"--address", "--port", "--serial", "--firmware", "--bootloader", "--fast", "--scene",
                                 "--scene-file", "--calibration", "--capture", "--iq-loss", "--start-status",
                                 "127.0.0.2", "noise LEVEL", "wfm FREQ", "ctcss"})
            QVERIFY2(help.contains(QLatin1String(word)), word);
    }

    void refusesUnsafeOrBadArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("real network address") << QStringList{"--address", "192.168.1.50"};
        QTest::newRow("namespace outside a namespace") << QStringList{"--netns"};
        QTest::newRow("bad scene") << QStringList{"--scene", "carrier 7000000"};
        QTest::newRow("bad serial") << QStringList{"--serial", "12"};
        QTest::newRow("bad port") << QStringList{"--port", "0"};
        QTest::newRow("bad reply fault") << QStringList{"--drop-replies", "26"};
    }
    void refusesUnsafeOrBadArguments()
    {
        QFETCH(QStringList, args);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("ZORVANI_NETNS"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ZORVANI_SIM_PROGRAM), args + QStringList{"--duration", "5"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
    }

    void replyFaultsFromTheCommandLine()
    {
        QProcess p;
        QVERIFY(launch(p, {"--port", QString::number(port()), "--drop-replies", "26:1", "--delay-replies", "27:300",
                           "--drop-replies", "boot:5:-1"}));
        SimClient client;
        const QHostAddress sim(QStringLiteral("127.0.0.2"));
        client.send(packet(kMagicApp, CmdInformation, 0, 1, QByteArray()), sim, port());
        QVERIFY(client.receive(300, CmdInformation).isEmpty());
        client.send(packet(kMagicApp, CmdInformation, 0, 1, QByteArray()), sim, port());
        QCOMPARE(client.receive(2000, CmdInformation).size(), 54);
        client.send(packet(kMagicBoot, BootReadSerial, 0, 1, QByteArray()), sim, port());
        QVERIFY(client.receive(300, BootReadSerial).isEmpty());
        QElapsedTimer t;
        t.start();
        client.send(packet(kMagicApp, CmdLpf, 0, 1, QByteArray(4, '\0')), sim, port());
        QVERIFY(!client.receive(2000, CmdLpf).isEmpty());
        QVERIFY2(t.elapsed() >= 290, qPrintable(QString::number(t.elapsed())));
        p.terminate();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
    }

    void answersAHandWrittenClient()
    {
        QTemporaryDir dir;
        const QString wav = dir.filePath(QStringLiteral("out.wav"));
        QProcess p;
        QVERIFY(launch(p, {"--port", QString::number(port()), "--serial", "123:0a1b", "--firmware", "10.2", "--fast",
                           "--capture", wav, "--scene", "carrier 7100500 -20"}));
        SimClient client;
        const QHostAddress sim(QStringLiteral("127.0.0.2"));
        client.send(discoveryRequest(), sim, port());
        const QByteArray d = client.receive(2000, kDiscoveryReply);
        QCOMPARE(d.size(), kDiscoveryReplyBytes);
        QCOMPARE(rd32(d, 4), 123u);
        QCOMPARE(quint8(d[8]), quint8(0x0A));

        client.send(packet(kMagicApp, CmdInformation, 0, 1, QByteArray()), sim, port());
        const QByteArray info = client.receive(2000, CmdInformation);
        QCOMPARE(info.size(), 54);
        QCOMPARE(rd16(info, 22), quint16(10));
        QCOMPARE(rd16(info, 24), quint16(2));

        QByteArray start(50, '\0');
        for (int i = 0; i < 8; ++i)
            wr32(start, 4 * i, kRateParams[0][size_t(i)]);
        wr16(start, 36, 1);
        client.send(packet(kMagicApp, CmdStart, 0, 1, start), sim, port());
        QCOMPARE(rd32(client.receive(2000, CmdStart), 10), 1u);
        // Answer ten packets with audio: frame i carries (i, -i).
        for (int k = 0; k < 10; ++k) {
            QByteArray iq = client.receive(2000, kIqMark);
            QCOMPARE(iq.size(), kIqPacketBytes);
            QCOMPARE(rd16(iq, 6), quint16(k));
            for (int i = 0; i < 200; ++i) {
                wr24(iq.data() + 10 + 6 * i, k * 200 + i);
                wr24(iq.data() + 13 + 6 * i, -(k * 200 + i));
            }
            client.send(iq, sim, port());
        }
        client.send(packet(kMagicApp, CmdStop, 0, 1, QByteArray(4, '\0')), sim, port());
        QCOMPARE(rd32(client.receive(2000, CmdStop), 10), 1u);
        p.terminate();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QFile f(wav);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray w = f.readAll();
        QCOMPARE(w.size(), 44 + 2000 * 6);
        for (int i = 0; i < 2000; i += 111) {
            QCOMPARE(rd24(w.constData() + 44 + 6 * i), i);
            QCOMPARE(rd24(w.constData() + 47 + 6 * i), -i);
        }
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "tst_simprogram.moc"
