#include "discovery/DiscoverLockMediator.h"
#include "discovery/DiscoveryProtocol.h"
#include "discovery/ZorvaniSearcher.h"

#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

namespace {
QByteArray reply(quint32 decimal, quint8 hi, quint8 lo, const char* addressHex, quint16 port, quint16 mode)
{
    QByteArray r(22, '\0');
    qToLittleEndian<quint16>(0xFF12, r.data());
    qToLittleEndian<quint16>(0x1A01, r.data() + 2);
    qToLittleEndian<quint32>(decimal, r.data() + 4);
    r[8] = char(hi);
    r[9] = char(lo);
    r.replace(10, 4, QByteArray::fromHex(addressHex));
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

    void replyParsing()
    {
        struct Row { QByteArray datagram; const char* serial; const char* address; int port; bool bootloader; };
        QByteArray wrongMagic = reply(5, 0, 1, "01020304", 7, 1);
        wrongMagic[0] = 0x11;
        const Row rows[] = {
            {reply(123, 0x0A, 0x1B, "c0a80105", 50001, 1), "OXD010a1b00123", "192.168.1.5", 50001, false},
            {reply(7, 0x01, 0x02, "0a4d0002", 50002, 0x55), "OXD01010200007", "10.77.0.2", 50002, false},
            {reply(99999, 0xFF, 0xFF, "7f000002", 1, 0), "OXD01ffff99999", "127.0.0.2", 1, true},
            {reply(5, 0, 1, "01020304", 7, 1) + QByteArray(40, 'x'), "OXD01000100005", "1.2.3.4", 7, false},
            {reply(5, 0, 1, "01020304", 7, 1).left(21), nullptr, nullptr, 0, false},
            {zorvani::discovery::requestPacket(), nullptr, nullptr, 0, false},
            {wrongMagic, nullptr, nullptr, 0, false},
        };
        for (const Row& row : rows) {
            Receiver r;
            const bool valid = zorvani::discovery::parseReply(row.datagram.constData(), row.datagram.size(), r);
            QVERIFY2(valid == bool(row.serial), row.datagram.toHex().constData());
            if (!valid) {
                QCOMPARE(r, Receiver());
                continue;
            }
            QCOMPARE(r.name, QStringLiteral("ZorvaniDDC"));
            QCOMPARE(r.serial, QString(row.serial));
            QCOMPARE(r.address, QHostAddress(row.address));
            QCOMPARE(int(r.port), row.port);
            QCOMPARE(r.bootloader, row.bootloader);
        }
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
