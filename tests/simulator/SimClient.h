#pragma once

#include "Protocol.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QUdpSocket>
#include <QCoreApplication>
#include <QNetworkDatagram>

// A hand-driven peer of the emulator on 127.0.0.1: sends hand-built datagrams
// and waits (bounded) for what comes back.
class SimClient {
public:
    explicit SimClient(quint16 bindPort = 0, const QHostAddress& bindAddress = QHostAddress(QStringLiteral("127.0.0.1")))
    {
        m_socket.bind(bindAddress, bindPort, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    }
    bool isBound() const { return m_socket.state() == QAbstractSocket::BoundState; }
    quint16 port() const { return m_socket.localPort(); }

    void send(const QByteArray& d, const QHostAddress& to, quint16 port)
    {
        m_socket.writeDatagram(d, to, port);
    }

    // Next datagram whose word at offset 2 equals `mark` (any when mark is 0), other
    // datagrams are kept aside; empty after timeoutMs.
    QByteArray receive(int timeoutMs, quint16 mark = 0, QHostAddress* from = nullptr)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            for (int i = 0; i < m_queue.size(); ++i) {
                if (mark == 0 || (m_queue[i].data.size() >= 4 && zorvani::sim::proto::rd16(m_queue[i].data, 2) == mark)) {
                    const Item item = m_queue.takeAt(i);
                    if (from)
                        *from = item.from;
                    return item.data;
                }
            }
            const int left = timeoutMs - int(t.elapsed());
            if (left <= 0)
                return QByteArray();
            if (!m_socket.hasPendingDatagrams() && !m_socket.waitForReadyRead(left))
                continue;
            while (m_socket.hasPendingDatagrams()) {
                Item item;
                item.data.resize(int(m_socket.pendingDatagramSize()));
                m_socket.readDatagram(item.data.data(), item.data.size(), &item.from, &item.fromPort);
                m_queue.append(item);
            }
        }
    }
    // Drops everything received so far and pending now.
    void drain()
    {
        m_queue.clear();
        while (m_socket.hasPendingDatagrams())
            m_socket.receiveDatagram();
    }
    QUdpSocket& socket() { return m_socket; }

private:
    struct Item {
        QByteArray data;
        QHostAddress from;
        quint16 fromPort = 0;
    };
    QUdpSocket m_socket;
    QList<Item> m_queue;
};
