#pragma once

#include <QByteArray>
#include <QtEndian>

#include <functional>

// Builds receiver IQ packets: 200 samples of 24-bit I and Q, little-endian.
namespace iqtest {

inline void put24(char* p, qint32 v)
{
    const auto u = quint32(v);
    p[0] = char(u & 0xFF);
    p[1] = char((u >> 8) & 0xFF);
    p[2] = char((u >> 16) & 0xFF);
}

inline qint32 get24(const char* p)
{
    const quint32 u = quint8(p[0]) | quint32(quint8(p[1])) << 8 | quint32(quint8(p[2])) << 16;
    return (u & 0x800000) ? qint32(u | 0xFF000000u) : qint32(u);
}

// `sample(i, q)` gives the 24-bit value of sample i, component q (0 = I, 1 = Q).
inline QByteArray packet(quint16 sequence, quint8 channel,
                         const std::function<qint32(int, int)>& sample = [](int i, int q) { return (i + 1) * (q ? -3 : 5); })
{
    QByteArray p(1210, '\0');
    qToLittleEndian<quint16>(0xFF12, p.data());
    qToLittleEndian<quint16>(0xFFFE, p.data() + 2);
    qToLittleEndian<quint16>(1200, p.data() + 4);
    qToLittleEndian<quint16>(sequence, p.data() + 6);
    p[9] = char(channel);
    for (int i = 0; i < 200; ++i) {
        put24(p.data() + 10 + 6 * i, sample(i, 0));
        put24(p.data() + 13 + 6 * i, sample(i, 1));
    }
    return p;
}

inline quint16 sequenceOf(const QByteArray& p) { return qFromLittleEndian<quint16>(p.constData() + 6); }
inline quint16 lengthOf(const QByteArray& p) { return qFromLittleEndian<quint16>(p.constData() + 4); }

} // namespace iqtest
