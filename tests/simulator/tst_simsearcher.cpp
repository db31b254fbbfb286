#include "Simulator.h"

#include "discovery/Searcher.h"

#include <QtTest>

using namespace zorvani::sim;

// The plug-in's Searcher finds emulated receivers by broadcast, inside the
// private namespace of tests/netns-run, in the same process.
class TestSimSearcher : public QObject {
    Q_OBJECT

    static constexpr quint16 kPort = 50001;

    static Config receiver(const char* address, quint32 serial, bool bootloader)
    {
        Config c;
        c.address = QHostAddress(QString::fromLatin1(address));
        c.port = kPort;
        c.receiverNamespace = true;
        c.serialDecimal = serial;
        c.serialHi = 0x01;
        c.serialLo = 0x02;
        c.startInBootloader = bootloader;
        return c;
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariable("ZORVANI_NETNS") != QLatin1String("1"))
            QSKIP("needs the private network namespace of tests/netns-run (root)");
        QVERIFY(Simulator::prepareNamespace({QHostAddress(QStringLiteral("10.77.0.2")),
                                             QHostAddress(QStringLiteral("10.77.0.3"))}));
    }

    void searchFindsEveryReceiverOnce()
    {
        Simulator a(receiver("10.77.0.2", 7, false));
        Simulator b(receiver("10.77.0.3", 8, true));
        Config elsewhere = receiver("10.77.0.2", 9, false);
        elsewhere.port = kPort + 7; // another port: not asked
        Simulator c(elsewhere);
        QVERIFY(a.start());
        QVERIFY(b.start());
        QVERIFY(c.start());

        Searcher searcher;
        QList<Receiver> found = searcher.search(kPort);
        std::sort(found.begin(), found.end(), [](const Receiver& x, const Receiver& y) { return x.serial < y.serial; });
        QVERIFY2(found.size() == 2, qPrintable(QStringLiteral("found %1, requests seen %2, replies %3, malformed %4")
                                                    .arg(found.size())
                                                    .arg(a.commandLog().size())
                                                    .arg(a.counters().discoveryReplies)
                                                    .arg(a.counters().malformed)));
        QCOMPARE(found[0].name, QStringLiteral("ZorvaniDDC"));
        QCOMPARE(found[0].serial, QStringLiteral("OXD01010200007"));
        QCOMPARE(found[0].address, QHostAddress(QStringLiteral("10.77.0.2")));
        QCOMPARE(found[0].port, kPort);
        QCOMPARE(found[0].bootloader, false);
        QCOMPARE(found[1].serial, QStringLiteral("OXD01010200008"));
        QCOMPARE(found[1].address, QHostAddress(QStringLiteral("10.77.0.3")));
        QCOMPARE(found[1].bootloader, true);
        QCOMPARE(found[0].serial, a.serialText());
        QCOMPARE(c.counters().discoveryReplies, 0u);

        const Receiver r = searcher.findBySerial(QStringLiteral("OXD01010200008"), kPort);
        QCOMPARE(r.address, QHostAddress(QStringLiteral("10.77.0.3")));
        QVERIFY(searcher.findBySerial(QStringLiteral("OXD01010200009"), kPort).serial.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSimSearcher)
#include "tst_simsearcher.moc"
