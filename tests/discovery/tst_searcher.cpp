// Discovery against emulated receivers on the far side of a private network
// namespace's wire; nothing here runs outside that namespace.
#include "DiscoveryNetwork.h"
#include "discovery/Searcher.h"

#include <QUdpSocket>
#include <QtTest>

#include <memory>

namespace {
std::unique_ptr<zorvani::sim::Simulator> emulator(const char* address, quint16 port, quint32 decimal, quint8 lo,
                                                  bool bootloader = false, quint8 hi = 0)
{
    zorvani::sim::Config c = testsupport::networkReceiver(address, port, decimal, bootloader);
    c.serialHi = hi;
    c.serialLo = lo;
    return testsupport::startedReceiver(c);
}
const QHostAddress kFirst(QStringLiteral("10.77.0.2")), kSecond(QStringLiteral("10.77.0.3"));
} // namespace

class TestSearcher : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { REQUIRE_DISCOVERY_NETWORK(); }

    void findsReceiversWithSerialAndBootloaderFlag()
    {
        auto a = emulator("10.77.0.2", 52001, 7, 0x02, false, 0x01);
        auto b = emulator("10.77.0.3", 52001, 123, 0x1B, true, 0x0A);
        QVERIFY(a && b);
        const QList<QHostAddress> targets = Searcher::interfaceBroadcastAddresses();
        QVERIFY(targets.contains(QHostAddress(QStringLiteral("10.77.0.255"))));
        QVERIFY(!targets.contains(QHostAddress(QHostAddress::LocalHost)));
        Searcher searcher;
        QList<Receiver> found = searcher.search(52001);
        QCOMPARE(found.size(), 2);
        if (found[0].address != kFirst)
            found.swapItemsAt(0, 1);
        QCOMPARE(found[0].serial, QStringLiteral("OXD01010200007"));
        QVERIFY(!found[0].bootloader);
        QCOMPARE(found[1].serial, QStringLiteral("OXD010a1b00123"));
        QCOMPARE(found[1].address, kSecond);
        QVERIFY(found[1].bootloader);
        QCOMPARE(searcher.findBySerial(QStringLiteral("OXD010a1b00123"), 52001).address, kSecond);
        QVERIFY(searcher.findBySerial(QStringLiteral("OXD01999999999"), 52001).serial.isEmpty());
    }

    void sameSerialTwiceIsOneRecord()
    {
        auto a = emulator("10.77.0.2", 52002, 42, 0x01);
        auto b = emulator("10.77.0.3", 52002, 42, 0x01);
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

    // A taken port falls back to the next lower one; with none free the list is empty.
    void searchPortFallsBack()
    {
        auto a = emulator("10.77.0.2", 52009, 9, 0x09);
        QVERIFY(a);
        std::vector<std::unique_ptr<QUdpSocket>> holders;
        auto hold = [&](quint16 p) {
            holders.push_back(std::make_unique<QUdpSocket>());
            return holders.back()->bind(QHostAddress::AnyIPv4, p, QUdpSocket::DontShareAddress);
        };
        QVERIFY(hold(52010));
        const QList<Receiver> found = Searcher().search(52010);
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].port, quint16(52009));
        QCOMPARE(a->counters().discoveryReplies, quint64(1));
        a.reset();
        for (quint16 p = 52020; p > 52000; --p)
            QVERIFY(p == 52010 || hold(p));
        QVERIFY(Searcher().search(52020).isEmpty());
    }

    void findByAddressOnAbsentAndPresentReceiver()
    {
        Searcher searcher;
        const QHostAddress absent(QStringLiteral("10.77.0.99"));
        const Receiver r = searcher.findByAddress(absent, 52030);
        QVERIFY(r.address == absent && r.port == 52030 && r.serial.isEmpty());
        auto a = emulator("10.77.0.2", 52030, 30, 0x30);
        QVERIFY(a);
        QCOMPARE(searcher.findByAddress(kFirst, 52030).serial, QStringLiteral("OXD01003000030"));
    }
};

QTEST_GUILESS_MAIN(TestSearcher)
#include "tst_searcher.moc"
