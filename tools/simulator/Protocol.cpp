#include "Protocol.h"

namespace zorvani::sim::proto {

namespace {
std::array<quint32, 256> makeCrcTable()
{
    std::array<quint32, 256> t{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}
} // namespace

quint32 crc32(const char* data, qsizetype size)
{
    static const std::array<quint32, 256> table = makeCrcTable();
    quint32 c = 0xFFFFFFFFu;
    for (qsizetype i = 0; i < size; ++i)
        c = table[(c ^ quint8(data[i])) & 0xFFu] ^ (c >> 8);
    return ~c;
}

quint16 discoveryChecksum(const QByteArray& d, int words)
{
    quint32 sum = 0;
    for (int i = 0; i < words; ++i)
        sum += rd16(d, 2 * i);
    while (sum >> 16)
        sum = (sum & 0xFFFFu) + (sum >> 16);
    return quint16(~sum);
}

QByteArray discoveryRequest()
{
    QByteArray d(kDiscoveryRequestBytes, '\0');
    wr16(d, kOffMagic, kMagicApp);
    wr16(d, kOffCommand, kDiscoveryRequest);
    wr16(d, kOffDiscoveryChecksum, discoveryChecksum(d, kOffDiscoveryChecksum / 2));
    return d;
}

QByteArray packet(quint16 magic, quint16 command, quint32 param, quint32 status, const QByteArray& payload,
                  quint32 crc)
{
    QByteArray d(kHeaderBytes, '\0');
    wr16(d, kOffMagic, magic);
    wr16(d, kOffCommand, command);
    wr16(d, kOffLength, quint16(payload.size()));
    wr32(d, kOffParam, param);
    wr32(d, kOffStatus, status);
    wr32(d, kOffCrc, crc);
    d.append(payload);
    return d;
}

} // namespace zorvani::sim::proto
