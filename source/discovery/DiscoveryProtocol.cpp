#include "discovery/DiscoveryProtocol.h"

#include <QtEndian>

namespace zorvani::discovery {
namespace {
constexpr quint16 kMagic = 0xFF12;
constexpr quint16 kRequest = 0x1A00;
constexpr quint16 kReply = 0x1A01;
} // namespace

quint16 checksum(const char* data, int words)
{
    quint32 sum = 0;
    for (int i = 0; i < words; ++i) {
        sum += qFromLittleEndian<quint16>(data + 2 * i);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return quint16(~sum);
}

QByteArray requestPacket()
{
    QByteArray p(kRequestSize, '\0');
    qToLittleEndian<quint16>(kMagic, p.data());
    qToLittleEndian<quint16>(kRequest, p.data() + 2);
    qToLittleEndian<quint16>(checksum(p.constData(), 11), p.data() + 22);
    return p;
}

bool parseReply(const char* data, qint64 size, Receiver& receiver)
{
    if (size < kReplySize || qFromLittleEndian<quint16>(data) != kMagic ||
        qFromLittleEndian<quint16>(data + 2) != kReply)
        return false;
    const auto* b = reinterpret_cast<const unsigned char*>(data);
    receiver.name = QStringLiteral("ZorvaniDDC");
    receiver.serial = receiverSerialText(qFromLittleEndian<quint32>(data + 4), b[8], b[9]);
    receiver.address = QHostAddress(quint32(b[10]) << 24 | quint32(b[11]) << 16 | quint32(b[12]) << 8 | b[13]);
    receiver.port = qFromLittleEndian<quint16>(data + 18);
    receiver.bootloader = qFromLittleEndian<quint16>(data + 20) == 0;
    return true;
}

} // namespace zorvani::discovery
