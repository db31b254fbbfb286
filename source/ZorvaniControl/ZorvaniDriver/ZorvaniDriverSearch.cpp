// The driver's own discovery: one broadcast to the limited broadcast address.
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "common/EventPause.h"
#include "discovery/DiscoveryProtocol.h"

#include <QElapsedTimer>
#include <QUdpSocket>

#include <algorithm>

namespace {
constexpr int kBindAttempts = 10;
constexpr int kReplyWindowMs = 250;
constexpr int kSettleMs = 200;
} // namespace

Receiver ZorvaniDriver::searchCurrent(QString serial)
{
    m_found.clear();
    m_discovery = std::make_unique<QUdpSocket>();
    connect(m_discovery.get(), &QUdpSocket::readyRead, this, &ZorvaniDriver::receiveBroadcastPacket);
    bool bound = false;
    for (int i = 0; i < kBindAttempts && !bound && m_discoveryPort >= i; ++i)
        bound = m_discovery->bind(QHostAddress::AnyIPv4, quint16(m_discoveryPort - i));
    if (bound) {
        sendBroadcastPacket();
        ox::ui::pauseProcessingEvents(kReplyWindowMs);
    }
    m_discovery->close();
    m_discovery.reset();
    for (const Receiver& r : qAsConst(m_found))
        if (r.serial == serial)
            return r;
    return Receiver();
}

void ZorvaniDriver::sendBroadcastPacket()
{
    if (m_discovery)
        m_discovery->writeDatagram(zorvani::discovery::requestPacket(), QHostAddress::Broadcast, m_discoveryPort);
}

void ZorvaniDriver::receiveBroadcastPacket()
{
    if (!m_discovery)
        return;
    QUdpSocket* socket = m_discovery.get();
    disconnect(socket, &QUdpSocket::readyRead, this, &ZorvaniDriver::receiveBroadcastPacket);
    QElapsedTimer elapsed;
    elapsed.start();
    QByteArray datagram;
    for (;;) {
        if (!socket->hasPendingDatagrams()) {
            if (elapsed.elapsed() >= kSettleMs)
                break;
            ox::ui::pauseProcessingEvents(kSliceMs);
            continue;
        }
        datagram.resize(int(qMax<qint64>(socket->pendingDatagramSize(), 0)));
        QHostAddress sender;
        const qint64 size = socket->readDatagram(datagram.data(), datagram.size(), &sender);
        Receiver r;
        if (size < 0 || !zorvani::discovery::parseReply(datagram.constData(), size, r))
            continue;
        addNewDevice(r);
        ox::ui::pauseProcessingEvents(kSettleMs);
    }
    if (!m_found.isEmpty())
        sortRxList(m_found);
}

void ZorvaniDriver::addNewDevice(Receiver& r)
{
    if (r.port == 0 || r.address.toIPv4Address() == 0)
        return;
    for (const Receiver& known : qAsConst(m_found))
        if (known.address == r.address && known.port == r.port && known.serial == r.serial)
            return;
    m_found.append(r);
    if (m_found.size() == 1)
        r = m_found.first();
}

void ZorvaniDriver::sortRxList(QList<Receiver>& list)
{
    std::sort(list.begin(), list.end(), &ZorvaniDriver::lessThan);
}

bool ZorvaniDriver::lessThan(Receiver s1, Receiver s2)
{
    return s2.serial < s1.serial;
}
