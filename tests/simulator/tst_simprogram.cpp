// The stand-alone emulator program: its help, its refusals, and a
// hand-written client talking to it, with reply faults from the command line.
#include "SimClient.h"

#include <QtTest>

using namespace simtest;

class TestSimProgram : public QObject {
    Q_OBJECT

    const quint16 m_port = testsupport::processPort(43200, 0);
    const QHostAddress m_sim{QStringLiteral("127.0.0.2")};

    // Starts the program and waits until it says it is up.
    bool launch(QProcess& p, const QStringList& args)
    {
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(ZORVANI_SIM_PROGRAM), QStringList{"--port", QString::number(m_port)} + args);
        QByteArray out;
        while (!out.contains("zorvani-sim: receiver") && p.waitForReadyRead(5000))
            out += p.readAll();
        return out.contains("zorvani-sim: receiver");
    }

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
        for (const char* word : {"--address", "--port", "--serial", "--firmware", "--bootloader", "--fast", "--scene",
                                 "--scene-file", "--calibration", "--capture", "--iq-loss", "--start-status", "127.0.0.2",
                                 "noise LEVEL", "wfm FREQ", "ctcss"})
            QVERIFY2(help.contains(QLatin1String(word)), word);
    }

    void answersAHandWrittenClient()
    {
        QTemporaryDir dir;
        const QString wav = dir.filePath(QStringLiteral("out.wav"));
        QProcess p;
        QVERIFY(launch(p, {"--serial", "123:0a1b", "--firmware", "10.2", "--fast", "--capture", wav, "--scene",
                           "carrier 7100500 -20", "--drop-replies", "26:1", "--delay-replies", "27:1000",
                           "--drop-replies", "boot:5:-1"}));
        SimClient client;
        client.send(discoveryRequest(), m_sim, m_port);
        const QByteArray d = client.receive(2000, kDiscoveryReply);
        QVERIFY(d.size() == kDiscoveryReplyBytes && d.mid(4, 6) == QByteArray::fromHex("7b0000000a1b"));
        // Reply faults: the first information and every serial read lost, the
        // filter's reply late (after the information asked after it).
        client.send(app(CmdInformation), m_sim, m_port);
        QVERIFY(client.receive(300, CmdInformation).isEmpty());
        client.send(boot(BootReadSerial), m_sim, m_port);
        QVERIFY(client.receive(300, BootReadSerial).isEmpty());
        client.send(app(CmdLpf, u32(0)), m_sim, m_port);
        client.send(app(CmdInformation), m_sim, m_port);
        QCOMPARE(client.receive(3000).mid(22, 4), QByteArray::fromHex("0a000200"));
        QCOMPARE(codeOf(client.receive(3000)), quint16(CmdLpf));

        client.send(startBlock(0, 1), m_sim, m_port);
        QCOMPARE(status(client.receive(2000, CmdStart)), 1u);
        // Ten packets answered with audio: frame i carries (i, -i).
        for (int k = 0; k < 10; ++k) {
            QByteArray iq = client.receive(2000, kIqMark);
            QVERIFY(iq.size() == kIqPacketBytes && rd16(iq, 6) == k);
            for (int i = 0; i < 200; ++i) {
                wr24(iq.data() + 10 + 6 * i, k * 200 + i);
                wr24(iq.data() + 13 + 6 * i, -(k * 200 + i));
            }
            client.send(iq, m_sim, m_port);
        }
        client.send(app(CmdStop, u32(0)), m_sim, m_port);
        QCOMPARE(status(client.receive(2000, CmdStop)), 1u);
        p.terminate();
        QVERIFY(p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0);
        QFile f(wav);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray w = f.readAll();
        QVERIFY(w.size() == 44 + 2000 * 6 && w.left(4) + w.mid(8, 8) == "RIFFWAVEfmt ");
        QVERIFY(w.mid(20, 4) == QByteArray::fromHex("01000200") && rd32(w, 24) == 39063u && rd16(w, 34) == 24); // PCM, stereo
        for (int i = 0; i < 2000; i += 111)
            QVERIFY2(rd24(w.constData() + 44 + 6 * i) == i && rd24(w.constData() + 47 + 6 * i) == -i, qPrintable(QString::number(i)));
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "tst_simprogram.moc"
