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
inline quint32 status(const QByteArray& reply)
{
    return reply.size() >= 14 ? rd32(reply, 10) : 0xDEAD;
}
// The command code or stream mark of a datagram (0 when too short).
inline quint16 codeOf(const QByteArray& d)
{
    return d.size() >= 4 ? rd16(d, 2) : 0;
}
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

// A hand-driven peer of the emulator: sends hand-built datagrams and waits
// (bounded) for what comes back.
class SimClient {
public:
    explicit SimClient(quint16 port = 0, const QHostAddress& address = QHostAddress(QStringLiteral("127.0.0.1")))
    {
        m_socket.bind(address, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    }
    bool isBound() const { return m_socket.state() == QAbstractSocket::BoundState; }
    void send(const QByteArray& d, const QHostAddress& to, quint16 port) { m_socket.writeDatagram(d, to, port); }
    // The next datagram whose word at offset 2 is `mark` (any when 0); others
    // are kept for later calls. Empty after timeoutMs.
    QByteArray receive(int timeoutMs, quint16 mark = 0, QHostAddress* from = nullptr)
    {
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            for (int i = 0; i < m_queue.size(); ++i) {
                const QByteArray d = m_queue[i].data();
                if (mark == 0 || codeOf(d) == mark) {
                    if (from)
                        *from = m_queue[i].senderAddress();
                    m_queue.removeAt(i);
                    return d;
                }
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
        m_queue.clear();
        while (m_socket.hasPendingDatagrams())
            m_socket.receiveDatagram();
    }
    QUdpSocket& socket() { return m_socket; }

private:
    QUdpSocket m_socket;
    QList<QNetworkDatagram> m_queue;
};

// An emulator on 127.0.0.2 and a peer talking to it.
struct SimFixture {
    std::unique_ptr<Simulator> sim;
    SimClient client;

    // Unpaced, quick to reset, re-sending only where a test asks (a loaded
    // machine must not cause re-sends).
    static Config quiet(quint16 port)
    {
        Config c;
        c.port = port;
        c.paced = false;
        c.resendAfterMs = 2000;
        c.resetSilenceMs = 300;
        c.bootSwitchMs = 50;
        return c;
    }
    bool start(const Config& c)
    {
        sim.reset();
        sim = std::make_unique<Simulator>(c);
        return client.isBound() && sim->start();
    }
    void send(const QByteArray& d) { client.send(d, sim->config().address, sim->config().port); }
    // A request and the reply of its code.
    QByteArray ask(const QByteArray& d, int timeoutMs = 1000)
    {
        send(d);
        const quint16 code = rd16(d, 2);
        return client.receive(timeoutMs, code == kDiscoveryRequest ? kDiscoveryReply : code);
    }
};

} // namespace simtest
