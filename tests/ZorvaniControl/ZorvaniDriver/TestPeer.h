#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QUdpSocket>
#include <QtEndian>

#include <functional>

// A stand-in receiver on a loopback address: logs every datagram it gets and
// answers with whatever the test's responder returns. Lives in the test's
// thread; the driver's waits and QTRY_* keep its events flowing.
class TestPeer : public QObject {
public:
    using Responder = std::function<QList<QByteArray>(const QByteArray& request)>;

    TestPeer(quint16 port, const QHostAddress& address = QHostAddress(QStringLiteral("127.0.0.2")))
    {
        m_bound = m_socket.bind(address, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
        connect(&m_socket, &QUdpSocket::readyRead, this, &TestPeer::drain);
    }

    bool isBound() const { return m_bound; }
    void setResponder(Responder r) { m_responder = std::move(r); }
    QList<QByteArray> log() const { return m_log; }
    void clearLog() { m_log.clear(); }
    // Where the plug-in sends from.
    QHostAddress clientAddress() const { return m_client; }
    quint16 clientPort() const { return m_clientPort; }

    void send(const QByteArray& datagram)
    {
        m_socket.writeDatagram(datagram, m_client, m_clientPort);
    }
    void sendTo(const QByteArray& datagram, const QHostAddress& to, quint16 port)
    {
        m_socket.writeDatagram(datagram, to, port);
    }

    // The requests with the given command code.
    QList<QByteArray> requests(quint16 command) const
    {
        QList<QByteArray> found;
        for (const QByteArray& d : m_log)
            if (d.size() >= 4 && qFromLittleEndian<quint16>(d.constData() + 2) == command)
                found << d;
        return found;
    }

    // A reply header for a request: same magic and command, the given status and payload.
    static QByteArray reply(const QByteArray& request, quint32 status, const QByteArray& payload = {})
    {
        QByteArray r(18, '\0');
        std::copy(request.cbegin(), request.cbegin() + 4, r.begin());
        qToLittleEndian<quint16>(quint16(payload.size()), r.data() + 4);
        qToLittleEndian<quint32>(status, r.data() + 10);
        return r + payload;
    }

private:
    void drain()
    {
        while (m_socket.hasPendingDatagrams()) {
            QByteArray d(int(m_socket.pendingDatagramSize()), '\0');
            QHostAddress from;
            quint16 port = 0;
            m_socket.readDatagram(d.data(), d.size(), &from, &port);
            m_client = from;
            m_clientPort = port;
            m_log << d;
            if (m_responder)
                for (const QByteArray& answer : m_responder(d))
                    m_socket.writeDatagram(answer, from, port);
        }
    }

    QUdpSocket m_socket;
    bool m_bound = false;
    Responder m_responder;
    QList<QByteArray> m_log;
    QHostAddress m_client;
    quint16 m_clientPort = 0;
};
