// Discovery against emulated receivers on the far side of a private network
// namespace's wire; nothing here runs outside that namespace.
#include "DiscoveryNetwork.h"
#include "discovery/Searcher.h"

#include <QUdpSocket>
#include <QtTest>

#include <memory>

using zorvani::sim::Config;
using zorvani::sim::Simulator;

namespace {
std::unique_ptr<Simulator> emulator(const char* address, quint16 port, quint32 decimal, quint8 hi, quint8 lo,
                                    bool bootloader = false)
{
    Config c = testsupport::networkReceiver(address, port, decimal, bootloader);
    c.serialHi = hi;
    c.serialLo = lo;
    return testsupport::startedReceiver(c);
}
} // namespace

class TestSearcher : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        REQUIRE_DISCOVERY_NETWORK();
    }

    void findsReceiversWithSerialAndBootloaderFlag()
    {
        auto a = emulator("10.77.0.2", 52001, 7, 0x01, 0x02);
        auto b = emulator("10.77.0.3", 52001, 123, 0x0A, 0x1B, true);
        QVERIFY(a && b);
        Searcher searcher;
        const QList<Receiver> found = searcher.search(52001);
        QCOMPARE(found.size(), 2);
        const Receiver& first = found[0].serial == QLatin1String("OXD01010200007") ? found[0] : found[1];
        const Receiver& second = &first == &found[0] ? found[1] : found[0];
        QCOMPARE(first.serial, QStringLiteral("OXD01010200007"));
        QCOMPARE(first.address, QHostAddress(QStringLiteral("10.77.0.2")));
        QVERIFY(!first.bootloader);
        QCOMPARE(second.serial, QStringLiteral("OXD010a1b00123"));
        QVERIFY(second.bootloader);
        QCOMPARE(searcher.findBySerial(QStringLiteral("OXD010a1b00123"), 52001).address,
                 QHostAddress(QStringLiteral("10.77.0.3")));
        QVERIFY(searcher.findBySerial(QStringLiteral("OXD01999999999"), 52001).serial.isEmpty());
    }

    void sameSerialTwiceIsOneRecord()
    {
        auto a = emulator("10.77.0.2", 52002, 42, 0x00, 0x01);
        auto b = emulator("10.77.0.3", 52002, 42, 0x00, 0x01);
        QVERIFY(a && b);
        Searcher searcher;
        // Both targets reach both receivers: four replies, one serial.
        searcher.setTargetProvider([] {
            return QList<QHostAddress>{QHostAddress(QStringLiteral("10.77.0.255")), QHostAddress::Broadcast};
        });
        const QList<Receiver> found = searcher.search(52002);
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].serial, QStringLiteral("OXD01000100042"));
    }

    void takenPortFallsBackToNextLower()
    {
        auto a = emulator("10.77.0.2", 52009, 9, 0x00, 0x09);
        QVERIFY(a);
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, 52010, QUdpSocket::DontShareAddress));
        Searcher searcher;
        const QList<Receiver> found = searcher.search(52010);
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].port, quint16(52009));
        QCOMPARE(a->counters().discoveryReplies, quint64(1));
    }

    void noFreePortGivesEmptyList()
    {
        std::vector<std::unique_ptr<QUdpSocket>> holders;
        for (quint16 p = 52020; p > 52000; --p) {
            holders.push_back(std::make_unique<QUdpSocket>());
            QVERIFY(holders.back()->bind(QHostAddress::AnyIPv4, p, QUdpSocket::DontShareAddress));
        }
        QVERIFY(Searcher().search(52020).isEmpty());
    }

    void findByAddressOnAbsentReceiver()
    {
        Searcher searcher;
        const QHostAddress absent(QStringLiteral("10.77.0.99"));
        const Receiver r = searcher.findByAddress(absent, 52030);
        QCOMPARE(r.address, absent);
        QCOMPARE(r.port, quint16(52030));
        QVERIFY(r.serial.isEmpty());
        // A present one comes back as discovered.
        auto a = emulator("10.77.0.2", 52030, 30, 0x00, 0x30);
        QVERIFY(a);
        const Receiver found = searcher.findByAddress(QHostAddress(QStringLiteral("10.77.0.2")), 52030);
        QCOMPARE(found.serial, QStringLiteral("OXD01003000030"));
    }

    void defaultTargetsAreInterfaceBroadcasts()
    {
        const QList<QHostAddress> targets = Searcher::interfaceBroadcastAddresses();
        QVERIFY(targets.contains(QHostAddress(QStringLiteral("10.77.0.255"))));
        for (const QHostAddress& t : targets) {
            QCOMPARE(t.protocol(), QAbstractSocket::IPv4Protocol);
            QVERIFY(t != QHostAddress(QHostAddress::LocalHost));
        }
    }
};

QTEST_GUILESS_MAIN(TestSearcher)
#include "tst_searcher.moc"
