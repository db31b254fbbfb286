#include "SimClient.h"
#include "Simulator.h"

#include <QtTest>

#include <memory>

using namespace zorvani::sim;
using namespace zorvani::sim::proto;

// Discovery by broadcast, inside the private namespace of tests/netns-run
// (veth zs0 10.77.0.1/24 <-> zs1, zs1 moved to the receivers' namespace). The
// searcher binds any address on the discovery port, as the plug-in's does, in
// this same process.
class TestSimDiscovery : public QObject {
    Q_OBJECT

    static constexpr quint16 kPort = 50001;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariable("ZORVANI_NETNS") != QLatin1String("1"))
            QSKIP("needs the private network namespace of tests/netns-run (root)");
        QVERIFY(Simulator::prepareNamespace({QHostAddress(QStringLiteral("10.77.0.2")),
                                             QHostAddress(QStringLiteral("10.77.0.3"))}));
    }

    void broadcastsFindEveryReceiver_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::newRow("subnet broadcast") << "10.77.0.255";
        QTest::newRow("limited broadcast") << "255.255.255.255";
    }
    void broadcastsFindEveryReceiver()
    {
        QFETCH(QString, destination);
        Config a;
        a.address = QHostAddress(QStringLiteral("10.77.0.2"));
        a.port = kPort;
        a.receiverNamespace = true;
        a.serialDecimal = 11;
        Config b = a;
        b.address = QHostAddress(QStringLiteral("10.77.0.3"));
        b.serialDecimal = 22;
        b.startInBootloader = true;
        Simulator simA(a), simB(b);
        QVERIFY(simA.start());
        QVERIFY(simB.start());

        SimClient searcher(kPort, QHostAddress::AnyIPv4);
        QVERIFY(searcher.isBound());
        searcher.send(discoveryRequest(), QHostAddress(destination), kPort);
        QMap<quint32, QByteArray> replies;
        for (int i = 0; i < 4 && replies.size() < 2; ++i) {
            QHostAddress from;
            const QByteArray r = searcher.receive(2000, kDiscoveryReply, &from);
            if (r.isEmpty())
                break;
            QCOMPARE(r.size(), kDiscoveryReplyBytes);
            replies.insert(rd32(r, 4), r);
        }
        QCOMPARE(replies.keys(), (QList<quint32>{11, 22}));
        QCOMPARE(replies[11].mid(10, 4), QByteArray::fromHex("0a4d0002"));
        QCOMPARE(replies[22].mid(10, 4), QByteArray::fromHex("0a4d0003"));
        QCOMPARE(rd16(replies[11], 18), kPort);
        QVERIFY(rd16(replies[11], 20) != 0);
        QCOMPARE(rd16(replies[22], 20), quint16(0)); // bootloader
        // Neither emulator heard its own or the other's reply.
        QCOMPARE(simA.counters().malformed, 0u);
        QCOMPARE(simB.counters().malformed, 0u);
        QCOMPARE(simA.counters().discoveryReplies, 1u);

        // The announced address serves the control link from the same any:port socket.
        searcher.send(packet(kMagicApp, CmdInformation, 0, 1, QByteArray()), QHostAddress(QStringLiteral("10.77.0.2")),
                      kPort);
        QHostAddress from;
        const QByteArray info = searcher.receive(2000, CmdInformation, &from);
        QCOMPARE(info.size(), 54);
        QCOMPARE(from, QHostAddress(QStringLiteral("10.77.0.2")));
        QCOMPARE(simB.commands(CmdInformation).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSimDiscovery)
#include "tst_simdiscovery.moc"
