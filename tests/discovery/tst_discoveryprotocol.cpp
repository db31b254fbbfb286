#include "discovery/DiscoverLockMediator.h"
#include "discovery/DiscoveryProtocol.h"
#include "discovery/ZorvaniSearcher.h"

#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

namespace {
QByteArray reply(quint32 decimal, quint8 hi, quint8 lo, const QByteArray& address, quint16 port, quint16 mode)
{
    QByteArray r(22, '\0');
    qToLittleEndian<quint16>(0xFF12, r.data());
    qToLittleEndian<quint16>(0x1A01, r.data() + 2);
    qToLittleEndian<quint32>(decimal, r.data() + 4);
    r[8] = char(hi);
    r[9] = char(lo);
    r.replace(10, 4, address);
    qToLittleEndian<quint16>(port, r.data() + 18);
    qToLittleEndian<quint16>(mode, r.data() + 20);
    return r;
}
} // namespace

class TestDiscoveryProtocol : public QObject {
    Q_OBJECT
private slots:
    void requestAndChecksum()
    {
        const QByteArray request = zorvani::discovery::requestPacket();
        QCOMPARE(request.toHex(), QByteArray("12ff001a" "000000000000000000000000000000000000" "ece6"));
        // A block that carries its own checksum sums to all ones; carries fold back in.
        QCOMPARE(zorvani::discovery::checksum(request.constData(), 12), quint16(0));
        QCOMPARE(zorvani::discovery::checksum(QByteArray::fromHex("ffff0100").constData(), 2), quint16(0xFFFE));
    }

    void replyParsing_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("bootloader");
        QTest::newRow("example") << reply(123, 0x0A, 0x1B, QByteArray::fromHex("c0a80105"), 50001, 1) << true
                                 << "OXD010a1b00123" << "192.168.1.5" << 50001 << false;
        QTest::newRow("small serial") << reply(7, 0x01, 0x02, QByteArray::fromHex("0a4d0002"), 50002, 0x55) << true
                                      << "OXD01010200007" << "10.77.0.2" << 50002 << false;
        QTest::newRow("bootloader") << reply(99999, 0xFF, 0xFF, QByteArray::fromHex("7f000002"), 1, 0) << true
                                    << "OXD01ffff99999" << "127.0.0.2" << 1 << true;
        QTest::newRow("longer datagram") << reply(5, 0, 1, QByteArray::fromHex("01020304"), 7, 1) + QByteArray(40, 'x')
                                         << true << "OXD01000100005" << "1.2.3.4" << 7 << false;
        QTest::newRow("21 bytes") << reply(5, 0, 1, QByteArray::fromHex("01020304"), 7, 1).left(21) << false << ""
                                  << "" << 0 << false;
        QByteArray request = zorvani::discovery::requestPacket();
        QTest::newRow("own request") << request << false << "" << "" << 0 << false;
        QByteArray wrongMagic = reply(5, 0, 1, QByteArray::fromHex("01020304"), 7, 1);
        wrongMagic[0] = 0x11;
        QTest::newRow("wrong magic") << wrongMagic << false << "" << "" << 0 << false;
    }
    void replyParsing()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, valid);
        Receiver r;
        QCOMPARE(zorvani::discovery::parseReply(datagram.constData(), datagram.size(), r), valid);
        if (!valid) {
            QCOMPARE(r, Receiver());
            return;
        }
        QFETCH(QString, serial);
        QFETCH(QString, address);
        QFETCH(int, port);
        QFETCH(bool, bootloader);
        QCOMPARE(r.name, QStringLiteral("ZorvaniDDC"));
        QCOMPARE(r.serial, serial);
        QCOMPARE(r.address, QHostAddress(address));
        QCOMPARE(int(r.port), port);
        QCOMPARE(r.bootloader, bootloader);
    }

    void lockAndCurrentReceiverAnnounceChanges()
    {
        DiscoverLockMediator m;
        QSignalSpy lock(&m, &DiscoverLockMediator::lockChanged);
        for (bool start : {true, true, false}) {
            m.setStart(start);
            QCOMPARE(m.isLocked(), start);
        }
        QCOMPARE(lock.count(), 2);

        ZorvaniSearcher& s = ZorvaniSearcher::instance();
        QCOMPARE(s.current().port, quint16(50001));
        QSignalSpy update(&s, &ZorvaniSearcher::update);
        Receiver r;
        r.serial = QStringLiteral("OXD01000100001");
        r.port = 50010;
        s.setCurrent(r);
        QCOMPARE(update.count(), 1);
        QCOMPARE(s.current(), r);
    }
};

QTEST_GUILESS_MAIN(TestDiscoveryProtocol)
#include "tst_discoveryprotocol.moc"
