#include "ZorvaniControl/ZorvaniDriver/Crc32.h"

#include <array>

namespace {
constexpr std::array<quint32, 256> makeTable()
{
    std::array<quint32, 256> table{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        table[i] = c;
    }
    return table;
}
constexpr auto kTable = makeTable();
} // namespace

quint32 crc32(const void* data, qint64 size)
{
    const auto* p = static_cast<const unsigned char*>(data);
    quint32 c = 0xFFFFFFFFu;
    for (qint64 i = 0; i < size; ++i)
        c = kTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}
