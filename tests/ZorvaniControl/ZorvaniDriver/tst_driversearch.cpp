// The driver's own discovery (limited broadcast), inside a private network namespace only.
#include "DiscoveryNetwork.h"
#include "DriverFixture.h"

#include <QtTest>

class TestDriverSearch : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { REQUIRE_DISCOVERY_NETWORK(); }

    // Both receivers are listed in descending order of serial, the same serial
    // at two addresses twice; the requested one is found, an absent one not.
    void findsTheRequestedSerial_data()
    {
        QTest::addColumn<int>("second"); // serial of the receiver at 10.77.0.3; the one at .2 has 5
        QTest::newRow("two serials") << 9;
        QTest::newRow("one serial at two addresses") << 5;
    }
    void findsTheRequestedSerial()
    {
        QFETCH(int, second);
        const quint16 port = quint16(52101 + second);
        auto a = testsupport::startedReceiver(testsupport::networkReceiver("10.77.0.2", port, 5));
        auto b = testsupport::startedReceiver(testsupport::networkReceiver("10.77.0.3", port, quint32(second)));
        QVERIFY(a && b);
        ZorvaniDriver driver(nullptr, nullptr);
        driver.setDiscoveryPort(port);
        const Receiver r = driver.searchCurrent(b->serialText());
        QVERIFY(r.serial == b->serialText() && r.port == port);
        QVERIFY(second == 5 || r.address == QHostAddress(QStringLiteral("10.77.0.3")));
        const QList<Receiver> found = driver.foundReceivers();
        QCOMPARE(found.size(), 2);
        QVERIFY(found[0].serial == b->serialText() && found[1].serial == a->serialText());
        QVERIFY(driver.searchCurrent(QStringLiteral("OXD01000100077")).serial.isEmpty());
    }

    // Without port or address nothing is added; the same record once; another port is another receiver.
    void addNewDeviceRules()
    {
        ZorvaniDriver driver(nullptr, nullptr);
        for (const auto& [address, port] : {std::pair{"10.0.0.1", 0}, {"0.0.0.0", 5}, {"10.0.0.1", 5}, {"10.0.0.1", 5}, {"10.0.0.1", 6}}) {
            Receiver r = testsupport::receiver(QStringLiteral("OXD01000100001"), QLatin1String(address), quint16(port));
            driver.addNewDevice(r);
        }
        QCOMPARE(driver.foundReceivers().size(), 2);
        QList<Receiver> list;
        for (const char* s : {"OXD01000100001", "OXD01000300001", "OXD01000200001"})
            list << testsupport::receiver(QLatin1String(s), QStringLiteral("1.1.1.1"), 1);
        driver.sortRxList(list);
        QVERIFY(list[0].serial == "OXD01000300001" && list[1].serial == "OXD01000200001" && list[2].serial == "OXD01000100001");
    }
};

QTEST_MAIN(TestDriverSearch)
#include "tst_driversearch.moc"
