#include "discovery/Searcher.h"

#include "discovery/DiscoveryProtocol.h"

#include <QEventLoop>
#include <QNetworkInterface>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>

namespace {
constexpr int kBindAttempts = 20;
constexpr int kReplyWindowMs = 250;
} // namespace

Searcher::Searcher(QObject* parent)
    : QObject(parent), m_socket(new QUdpSocket(this)), m_targets(&Searcher::interfaceBroadcastAddresses)
{
}

Searcher::~Searcher() = default;

QList<Receiver> Searcher::search(quint16 port)
{
    bool bound = false;
    quint16 local = port;
    for (int i = 0; i < kBindAttempts && !bound && port >= i; ++i) {
        local = quint16(port - i);
        bound = m_socket->bind(QHostAddress::AnyIPv4, local);
    }
    if (!bound) {
        qWarning() << Q_FUNC_INFO << "no free port from" << port << "down";
        return {};
    }
    sendBroadcastPacket(local);
    QEventLoop loop;
    QTimer::singleShot(kReplyWindowMs, &loop, &QEventLoop::quit);
    loop.exec();
    QList<Receiver> found = receiveBroadcastPacket();
    m_socket->close();
    return found;
}

Receiver Searcher::findBySerial(const QString& serial, quint16 port)
{
    for (const Receiver& r : search(port))
        if (r.serial == serial)
            return r;
    return {};
}

Receiver Searcher::findByAddress(const QHostAddress& address, quint16 port)
{
    for (const Receiver& r : search(port))
        if (r.address == address && r.port == port)
            return r;
    Receiver r;
    r.address = address;
    r.port = port;
    return r;
}

void Searcher::sendBroadcastPacket(quint16 port)
{
    const QByteArray request = zorvani::discovery::requestPacket();
    for (const QHostAddress& target : m_targets())
        m_socket->writeDatagram(request, target, port);
}

QList<Receiver> Searcher::receiveBroadcastPacket()
{
    QList<Receiver> found;
    QByteArray datagram;
    while (m_socket->hasPendingDatagrams()) {
        datagram.resize(int(qMax<qint64>(m_socket->pendingDatagramSize(), 0)));
        const qint64 size = m_socket->readDatagram(datagram.data(), datagram.size());
        Receiver r;
        if (size < 0 || !zorvani::discovery::parseReply(datagram.constData(), size, r))
            continue;
        const bool known = std::any_of(found.cbegin(), found.cend(), [&](const Receiver& k) { return k.serial == r.serial; });
        if (!known)
            found.append(r);
    }
    return found;
}

void Searcher::setTargetProvider(TargetProvider provider)
{
    m_targets = provider ? std::move(provider) : TargetProvider(&Searcher::interfaceBroadcastAddresses);
}

QList<QHostAddress> Searcher::interfaceBroadcastAddresses()
{
    QList<QHostAddress> targets;
    const QHostAddress loopback(QHostAddress::LocalHost);
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces())
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            const QHostAddress broadcast = entry.broadcast();
            if (broadcast.protocol() == QAbstractSocket::IPv4Protocol && broadcast != loopback)
                targets.append(broadcast);
        }
    return targets;
}
