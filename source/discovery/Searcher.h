#pragma once

#include "discovery/Receiver.h"

#include <QHostAddress>
#include <QList>
#include <QObject>

#include <functional>

class QUdpSocket;

// Finds receivers by broadcasting the discovery request on every IPv4
// interface and collecting the replies that arrive within 250 ms.
class Searcher : public QObject {
    Q_OBJECT
public:
    // Where requests go; the default enumerates the machine's interfaces.
    using TargetProvider = std::function<QList<QHostAddress>()>;

    explicit Searcher(QObject* parent = nullptr);
    ~Searcher() override;

    QList<Receiver> search(quint16 port);
    Receiver findBySerial(const QString& serial, quint16 port);
    Receiver findByAddress(const QHostAddress& address, quint16 port);

    void sendBroadcastPacket(quint16 port);
    QList<Receiver> receiveBroadcastPacket();

    void setTargetProvider(TargetProvider provider);
    static QList<QHostAddress> interfaceBroadcastAddresses();

private:
    QUdpSocket* m_socket;
    TargetProvider m_targets;
};
