// The socket thread's IQ path, socket calls included, allocates nothing once
// running: the socket is connected to the receiver, so reads need no sender
// address and answers go out with write(), both free of Qt's per-datagram headers.
#include "AllocationCounter.h"
#include "IqPackets.h"
#include "ZorvaniControl/ZorvaniDriver/IqStream.h"

#include <QUdpSocket>
#include <QtTest>

#include <vector>

class TestIqPathAllocations : public QObject {
    Q_OBJECT
private slots:
    void receiveHandleAnswerDoesNotAllocate()
    {
        QUdpSocket device;
        QUdpSocket receiver;
        QVERIFY(device.bind(QHostAddress::AnyIPv4, 51401, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
        device.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), 51401);
        QVERIFY(device.waitForConnected(1000));
        QCOMPARE(device.localPort(), quint16(51401));
        QVERIFY(receiver.bind(QHostAddress(QStringLiteral("127.0.0.2")), 51401, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
        IqStream stream([](IqStream::Sample* in, IqStream::Sample* audio, quint32) {
            std::copy(in, in + 200, audio);
            return true;
        }, nullptr);
        stream.setAnswerSink([&device](const char* answer, qint64 size) { device.write(answer, size); });

        std::vector<QByteArray> packets;
        for (int s = 0; s < 40; ++s)
            packets.push_back(iqtest::packet(quint16(s), 0));
        std::vector<char> buffer(65536);
        char drain[2048];

        for (int s = 0; s < 40; ++s) {
            receiver.writeDatagram(packets[size_t(s)], QHostAddress(QStringLiteral("127.0.0.1")), 51401);
            QVERIFY(device.waitForReadyRead(1000));
            // Counted: what the socket thread does for one packet.
            qint64 received = 0;
            testsupport::AllocationScope scope;
            while (device.hasPendingDatagrams()) {
                const qint64 n = device.readDatagram(buffer.data(), qint64(buffer.size()));
                received += n;
                stream.handle(buffer.data(), n);
            }
            const auto count = scope.count();
            QVERIFY2(count == 0, qPrintable(QStringLiteral("%1 allocations for packet %2").arg(count).arg(s)));
            QCOMPARE(received, qint64(1210));
            QVERIFY(receiver.waitForReadyRead(1000));
            QCOMPARE(receiver.readDatagram(drain, sizeof drain), qint64(1210));
        }
    }
};

QTEST_GUILESS_MAIN(TestIqPathAllocations)
#include "tst_iqpathalloc.moc"
