// The driver's own discovery (limited broadcast), inside a private network namespace only.
#include "Simulator.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"

#include <QtTest>

#include <memory>

using zorvani::sim::Config;
using zorvani::sim::Simulator;

namespace {
std::unique_ptr<Simulator> emulator(const char* address, quint16 port, quint32 decimal)
{
    Config c;
    c.address = QHostAddress(QLatin1String(address));
    c.port = port;
    c.receiverNamespace = true;
    c.serialDecimal = decimal;
    c.paced = false;
    auto sim = std::make_unique<Simulator>(c);
    return sim->start() ? std::move(sim) : nullptr;
}

Receiver record(const char* serial, const char* address, quint16 port)
{
    Receiver r;
    r.name = QStringLiteral("ZorvaniDDC");
    r.serial = QLatin1String(serial);
    r.address = QHostAddress(QLatin1String(address));
    r.port = port;
    return r;
}
} // namespace

class TestDriverSearch : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (qgetenv("ZORVANI_NETNS") != "1")
            QSKIP("discovery broadcasts only inside the private network namespace of tests/netns-run");
        QVERIFY(Simulator::prepareNamespace(
            {QHostAddress(QStringLiteral("10.77.0.2")), QHostAddress(QStringLiteral("10.77.0.3"))}));
    }

    void findsTheRequestedSerial()
    {
        auto a = emulator("10.77.0.2", 52101, 5);
        auto b = emulator("10.77.0.3", 52101, 9);
        QVERIFY(a && b);
        ZorvaniDriver driver(nullptr, nullptr);
        driver.setDiscoveryPort(52101);
        const Receiver r = driver.searchCurrent(QStringLiteral("OXD01000100009"));
        QCOMPARE(r.address, QHostAddress(QStringLiteral("10.77.0.3")));
        QCOMPARE(r.port, quint16(52101));
        // Both are listed, in descending order of serial.
        const QList<Receiver> found = driver.foundReceivers();
        QCOMPARE(found.size(), 2);
        QCOMPARE(found[0].serial, QStringLiteral("OXD01000100009"));
        QCOMPARE(found[1].serial, QStringLiteral("OXD01000100005"));
        QVERIFY(driver.searchCurrent(QStringLiteral("OXD01000100077")).serial.isEmpty());
    }

    void sameSerialAtTwoAddressesIsKept()
    {
        auto a = emulator("10.77.0.2", 52102, 42);
        auto b = emulator("10.77.0.3", 52102, 42);
        QVERIFY(a && b);
        ZorvaniDriver driver(nullptr, nullptr);
        driver.setDiscoveryPort(52102);
        QVERIFY(!driver.searchCurrent(QStringLiteral("OXD01000100042")).serial.isEmpty());
        QCOMPARE(driver.foundReceivers().size(), 2);
    }

    void addNewDeviceRules()
    {
        ZorvaniDriver driver(nullptr, nullptr);
        Receiver noPort = record("OXD01000100001", "10.0.0.1", 0);
        driver.addNewDevice(noPort);
        Receiver noAddress = record("OXD01000100001", "0.0.0.0", 5);
        driver.addNewDevice(noAddress);
        QVERIFY(driver.foundReceivers().isEmpty());
        Receiver a = record("OXD01000100001", "10.0.0.1", 5);
        driver.addNewDevice(a);
        Receiver again = record("OXD01000100001", "10.0.0.1", 5);
        driver.addNewDevice(again);
        Receiver otherPort = record("OXD01000100001", "10.0.0.1", 6);
        driver.addNewDevice(otherPort);
        QCOMPARE(driver.foundReceivers().size(), 2);
        QList<Receiver> list{record("OXD01000100001", "1.1.1.1", 1), record("OXD01000300001", "1.1.1.1", 1),
                             record("OXD01000200001", "1.1.1.1", 1)};
        driver.sortRxList(list);
        QCOMPARE(list[0].serial, QStringLiteral("OXD01000300001"));
        QCOMPARE(list[2].serial, QStringLiteral("OXD01000100001"));
        QVERIFY(ZorvaniDriver::lessThan(list[0], list[2]));
        QVERIFY(!ZorvaniDriver::lessThan(list[2], list[0]));
    }
};

QTEST_MAIN(TestDriverSearch)
#include "tst_driversearch.moc"
