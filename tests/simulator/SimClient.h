#pragma once

#include "Protocol.h"
#include "Simulator.h"
#include "TestPorts.h"

#include <QDeadlineTimer>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <memory>

namespace simtest {

using namespace zorvani::sim;
using namespace zorvani::sim::proto;

inline QByteArray app(quint16 code, const QByteArray& payload = {}, quint32 param = 0)
{
    return packet(kMagicApp, code, param, 1, payload);
}
inline QByteArray boot(quint16 code, const QByteArray& payload = {}, quint32 param = 0)
{
    return packet(kMagicBoot, code, param, code == BootReadSerial ? 1 : 0, payload);
}
inline QByteArray u32(quint32 v)
{
    QByteArray d(4, '\0');
    wr32(d, 0, v);
    return d;
}
// The start command: rate parameters, receivers, the rate index twice.
inline QByteArray startBlock(int rate, int receivers)
{
    QByteArray d(50, '\0');
    for (int i = 0; i < 8; ++i)
        wr32(d, 4 * i, kRateParams[size_t(rate)][size_t(i)]);
    wr16(d, 36, quint16(receivers));
    wr16(d, 38, quint16(rate));
    wr16(d, 40, quint16(rate));
    return app(CmdStart, d);
}
inline quint32 status(const QByteArray& reply) { return reply.size() >= 14 ? rd32(reply, 10) : 0xDEAD; }
inline quint16 codeOf(const QByteArray& d) { return d.size() >= 4 ? rd16(d, 2) : 0; }
// The plug-in's acknowledge-only answer to an IQ packet.
inline QByteArray ack(const QByteArray& iq)
{
    QByteArray a = iq.left(kIqAckBytes);
    wr16(a, 4, 0);
    return a;
}
inline Scene sceneOf(const QString& text)
{
    Scene s;
    QString error;
    if (!Scene::parse(text, &s, &error))
        qFatal("bad scene in a test: %s", qPrintable(error));
    return s;
}

// A hand-driven peer of the emulator: hand-built datagrams out, bounded waits for what comes back.
class SimClient {
public:
    explicit SimClient(quint16 port = 0, const QHostAddress& address = QHostAddress(QStringLiteral("127.0.0.1")))
    {
        m_socket.bind(address, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    }
    bool isBound() const { return m_socket.state() == QAbstractSocket::BoundState; }
    void send(const QByteArray& d, const QHostAddress& to, quint16 port) { m_socket.writeDatagram(d, to, port); }
    // The next datagram whose word at offset 2 is `mark` (any when 0); others stay queued.
    QByteArray receive(int timeoutMs, quint16 mark = 0, QHostAddress* from = nullptr)
    {
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            for (int i = 0; i < m_queue.size(); ++i)
                if (mark == 0 || codeOf(m_queue[i].data()) == mark) {
                    if (from)
                        *from = m_queue[i].senderAddress();
                    return m_queue.takeAt(i).data();
                }
            if (deadline.hasExpired())
                return {};
            if (m_socket.hasPendingDatagrams() || m_socket.waitForReadyRead(int(deadline.remainingTime())))
                while (m_socket.hasPendingDatagrams())
                    m_queue.append(m_socket.receiveDatagram());
        }
    }
    void drain()
    {
        for (m_queue.clear(); m_socket.hasPendingDatagrams();)
            m_socket.receiveDatagram();
    }
    QUdpSocket& socket() { return m_socket; }

private:
    QUdpSocket m_socket;
    QList<QNetworkDatagram> m_queue;
};

} // namespace simtest
