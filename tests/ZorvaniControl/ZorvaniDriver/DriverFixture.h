#pragma once

#include "Protocol.h"
#include "ReceiverRecord.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDevice.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"

#include <QUdpSocket>
#include <QtEndian>

#include <functional>

namespace proto = zorvani::sim::proto;

// Datagrams as the receiver sends and expects them: little-endian.
template <typename T>
QByteArray le(T value)
{
    QByteArray b(int(sizeof(T)), '\0');
    return qToLittleEndian<T>(value, b.data()), b;
}
inline quint16 commandOf(const QByteArray& d) { return d.size() >= 4 ? qFromLittleEndian<quint16>(d.constData() + 2) : 0xFFFF; }
inline quint32 paramOf(const QByteArray& d) { return qFromLittleEndian<quint32>(d.constData() + 6); }

// Receiver IQ packets: 200 samples of 24-bit I and Q.
namespace iqtest {
// `sample(i, q)` gives the 24-bit value of sample i, component q (0 = I, 1 = Q).
inline QByteArray packet(quint16 sequence, quint8 channel,
                         const std::function<qint32(int, int)>& sample = [](int i, int q) { return (i + 1) * (q ? -3 : 5); })
{
    QByteArray p = le<quint16>(0xFF12) + le<quint16>(0xFFFE) + le<quint16>(1200) + le(sequence) + char(0) + char(channel);
    p.resize(1211);
    for (int i = 0; i < 400; ++i)
        qToLittleEndian<qint32>(sample(i / 2, i % 2), p.data() + 10 + 3 * i); // the fourth byte is overwritten or spare
    p.resize(1210);
    return p;
}
inline quint16 sequenceOf(const QByteArray& p) { return qFromLittleEndian<quint16>(p.constData() + 6); }
inline quint16 lengthOf(const QByteArray& p) { return qFromLittleEndian<quint16>(p.constData() + 4); }
} // namespace iqtest

// A stand-in receiver on a loopback address: logs every datagram and answers
// with what the test's responder returns. Lives in the test's thread.
class TestPeer : public QObject {
public:
    using Responder = std::function<QList<QByteArray>(const QByteArray& request)>;

    explicit TestPeer(quint16 port, const QHostAddress& address = QHostAddress(QStringLiteral("127.0.0.2")))
    {
        m_bound = m_socket.bind(address, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
        connect(&m_socket, &QUdpSocket::readyRead, this, [this] {
            while (m_socket.hasPendingDatagrams()) {
                QByteArray d(int(m_socket.pendingDatagramSize()), '\0');
                m_socket.readDatagram(d.data(), d.size(), &m_client, &m_clientPort);
                m_log << d;
                for (const QByteArray& answer : m_responder ? m_responder(d) : QList<QByteArray>())
                    send(answer);
            }
        });
    }
    bool isBound() const { return m_bound; }
    void setResponder(Responder r) { m_responder = std::move(r); }
    QList<QByteArray> log() const { return m_log; }
    // To the plug-in's socket (known once it has sent something).
    void send(const QByteArray& datagram) { m_socket.writeDatagram(datagram, m_client, m_clientPort); }
    void sendTo(const TestPeer& peer, const QByteArray& datagram) { m_socket.writeDatagram(datagram, peer.m_client, peer.m_clientPort); }
    QList<QByteArray> requests(quint16 command) const
    {
        QList<QByteArray> found;
        for (const QByteArray& d : m_log)
            if (commandOf(d) == command)
                found << d;
        return found;
    }
    // A reply to a request: same magic and command, the given status and payload.
    static QByteArray reply(const QByteArray& request, quint32 status, const QByteArray& payload = {})
    {
        return proto::packet(proto::rd16(request, 0), commandOf(request), 0, status, payload);
    }
    // A healthy receiver: status 1, the information record where one is asked for; IQ answers need none.
    static QList<QByteArray> ok(const QByteArray& r)
    {
        return commandOf(r) == 0xFFFE ? QList<QByteArray>() : QList<QByteArray>{reply(r, 1, commandOf(r) == 26 ? QByteArray(36, 2) : QByteArray())};
    }

private:
    QUdpSocket m_socket;
    bool m_bound = false;
    Responder m_responder;
    QList<QByteArray> m_log;
    QHostAddress m_client;
    quint16 m_clientPort = 0;
};

// A driver on a stand-in receiver at 127.0.0.2:port; `openLink` false lets
// the test set what the socket thread uses before open().
struct DriverFixture {
    TestPeer peer;
    ZorvaniDriver driver{nullptr, nullptr};
    quint16 port;

    explicit DriverFixture(quint16 port, bool openLink = true) : peer(port), port(port)
    {
        driver.setBootSettleTime(0);
        if (openLink)
            open();
    }
    bool open() { return driver.open(testsupport::receiver(QStringLiteral("OXD01000100001"), QStringLiteral("127.0.0.2"), port)); }
};
