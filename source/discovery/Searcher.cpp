#include "discovery/Searcher.h"

#include <QUdpSocket>

// Placeholder bodies; the discovery procedure itself comes with the device link.
Searcher::Searcher(QObject* parent) : QObject(parent), m_socket(new QUdpSocket(this)) {}
Searcher::~Searcher() = default;
QList<Receiver> Searcher::search(quint16) { return {}; }
Receiver Searcher::findBySerial(const QString&, quint16) { return {}; }
Receiver Searcher::findByAddress(const QHostAddress& address, quint16 port)
{
    Receiver r;
    r.address = address;
    r.port = port;
    return r;
}
void Searcher::sendBroadcastPacket(quint16) {}
QList<Receiver> Searcher::receiveBroadcastPacket() { return {}; }
void Searcher::setTargetProvider(TargetProvider provider) { m_targets = std::move(provider); }
QList<QHostAddress> Searcher::interfaceBroadcastAddresses() { return {}; }
