// The driver's own discovery (limited broadcast), inside a private network namespace only.
#include "DiscoveryNetwork.h"
#include "DriverFixture.h"

#include <QtTest>

using zorvani::sim::Simulator;

class TestDriverSearch : public QObject {
    Q_OBJECT

    static std::unique_ptr<Simulator> emulator(const char* address, quint16 port, quint32 decimal)
    {
        return testsupport::startedReceiver(testsupport::networkReceiver(address, port, decimal));
    }

private slots:
    void initTestCase()
    {
        REQUIRE_DISCOVERY_NETWORK();
    }

    // Both receivers are listed, in descending order of serial, the same
    // serial at two addresses twice; the requested one is found.
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
        auto a = emulator("10.77.0.2", port, 5);
        auto b = emulator("10.77.0.3", port, quint32(second));
        QVERIFY(a && b);
        ZorvaniDriver driver(nullptr, nullptr);
        driver.setDiscoveryPort(port);
        const QString serial = b->serialText();
        const Receiver r = driver.searchCurrent(serial);
        QCOMPARE(r.serial, serial);
        QCOMPARE(r.port, port);
        if (second != 5)
            QCOMPARE(r.address, QHostAddress(QStringLiteral("10.77.0.3")));
        const QList<Receiver> found = driver.foundReceivers();
        QCOMPARE(found.size(), 2);
        QCOMPARE(found[0].serial, serial);
        QCOMPARE(found[1].serial, a->serialText());
        QVERIFY(driver.searchCurrent(QStringLiteral("OXD01000100077")).serial.isEmpty());
    }

    void addNewDeviceRules()
    {
        ZorvaniDriver driver(nullptr, nullptr);
        const QString serial = QStringLiteral("OXD01000100001");
        // Without port or address nothing is added; the same record once; another port is another receiver.
        for (const auto& [address, port] : {std::pair{"10.0.0.1", 0}, {"0.0.0.0", 5}, {"10.0.0.1", 5}, {"10.0.0.1", 5}, {"10.0.0.1", 6}}) {
            Receiver r = testsupport::receiver(serial, QLatin1String(address), quint16(port));
            driver.addNewDevice(r);
        }
        QCOMPARE(driver.foundReceivers().size(), 2);
        QList<Receiver> list;
        for (const char* s : {"OXD01000100001", "OXD01000300001", "OXD01000200001"})
            list << testsupport::receiver(QLatin1String(s), QStringLiteral("1.1.1.1"), 1);
        driver.sortRxList(list);
        QCOMPARE(list[0].serial, QStringLiteral("OXD01000300001"));
        QCOMPARE(list[2].serial, QStringLiteral("OXD01000100001"));
        QVERIFY(ZorvaniDriver::lessThan(list[0], list[2]));
        QVERIFY(!ZorvaniDriver::lessThan(list[2], list[0]));
    }
};

QTEST_MAIN(TestDriverSearch)
#include "tst_driversearch.moc"
