// Discovery by broadcast inside the private namespace of tests/netns-run: a
// searcher bound to any address on the discovery port, as the plug-in's is,
// hears every emulator on that port once, and the announced address serves
// the control link.
#include "DiscoveryNetwork.h"
#include "SimClient.h"

#include <QtTest>

using namespace simtest;

class TestSimDiscovery : public QObject {
    Q_OBJECT

    static constexpr quint16 kPort = 50001;

private slots:
    void initTestCase()
    {
        REQUIRE_DISCOVERY_NETWORK();
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
        using testsupport::networkReceiver;
        Simulator a(networkReceiver("10.77.0.2", kPort, 11)), b(networkReceiver("10.77.0.3", kPort, 22, true));
        Simulator elsewhere(networkReceiver("10.77.0.2", kPort + 7, 33)); // another port: not asked
        QVERIFY(a.start() && b.start() && elsewhere.start());

        SimClient searcher(kPort, QHostAddress::AnyIPv4);
        QVERIFY(searcher.isBound());
        searcher.send(discoveryRequest(), QHostAddress(destination), kPort);
        QMap<quint32, QByteArray> replies;
        int count = 0;
        for (QByteArray r; !(r = searcher.receive(2000, kDiscoveryReply)).isEmpty(); ++count) {
            QCOMPARE(r.size(), kDiscoveryReplyBytes);
            replies.insert(rd32(r, kOffDiscoverySerial), r);
        }
        QCOMPARE(count, 2);
        QCOMPARE(replies.keys(), (QList<quint32>{11, 22}));
        QCOMPARE(replies[11].mid(kOffDiscoveryAddress, 4), QByteArray::fromHex("0a4d0002"));
        QCOMPARE(replies[22].mid(kOffDiscoveryAddress, 4), QByteArray::fromHex("0a4d0003"));
        QCOMPARE(rd16(replies[11], kOffDiscoveryPort), kPort);
        QVERIFY(rd16(replies[11], kOffDiscoveryMode) != 0);
        QCOMPARE(rd16(replies[22], kOffDiscoveryMode), quint16(0)); // bootloader
        // Neither heard its own or the other's reply as a request.
        QCOMPARE(a.counters().malformed + b.counters().malformed, 0u);
        QCOMPARE(a.counters().discoveryReplies, 1u);
        QCOMPARE(elsewhere.counters().discoveryReplies, 0u);

        // The announced address serves the control link from the same any:port socket.
        searcher.send(app(CmdInformation), QHostAddress(QStringLiteral("10.77.0.2")), kPort);
        QHostAddress from;
        QCOMPARE(searcher.receive(2000, CmdInformation, &from).size(), 54);
        QCOMPARE(from, QHostAddress(QStringLiteral("10.77.0.2")));
        QCOMPARE(b.commands(CmdInformation).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSimDiscovery)
#include "tst_simdiscovery.moc"
