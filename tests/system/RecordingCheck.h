#pragma once

#include "SceneGenerator.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <cmath>
#include <functional>
#include <vector>

// Reads back an IQ recording and compares its samples with the stream the
// emulator sent, regenerated from the same scene: receiver r's stream is the
// scene generator salted r + 1, tuned once at the start, block after block.
namespace systest {

constexpr int kPacketBytes = 1200; // 200 frames of two 24-bit values

inline quint16 le16(const QByteArray& d, int at)
{
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(d.constData() + at));
}
inline quint32 le32(const QByteArray& d, int at)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(d.constData() + at));
}
inline double leDouble(const QByteArray& d, int at)
{
    quint64 bits = qFromLittleEndian<quint64>(reinterpret_cast<const uchar*>(d.constData() + at));
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}
inline qint32 le24(const char* p)
{
    const qint32 v = qint32(quint8(p[0])) | qint32(quint8(p[1])) << 8 | qint32(quint8(p[2])) << 16;
    return v >= 0x800000 ? v - 0x1000000 : v;
}

// Eight u16: year, month, day of week (1 = Monday), day, hour, minute, second, ms.
inline QDateTime stamp(const QByteArray& d, int at)
{
    const QDate date(le16(d, at), le16(d, at + 2), le16(d, at + 6));
    if (!date.isValid() || date.dayOfWeek() != le16(d, at + 4))
        return {};
    return QDateTime(date, QTime(le16(d, at + 8), le16(d, at + 10), le16(d, at + 12), le16(d, at + 14)));
}

// The emulator's 24-bit conversion of a full-scale-1.0 value.
inline qint32 sample24(double v)
{
    return qint32(std::clamp(std::round(v * 8388607.0), -8388608.0, 8388607.0));
}

// A recorded value: the 24-bit value in the top of 32 bits, times gain g, kept
// within the 24-bit range (formats 1 and 2 saturate rather than wrap).
inline qint32 scaled24(qint32 v, double g)
{
    if (g == 1.0)
        return v;
    const double x = std::trunc(double(v) * 256.0 * g * 2147483392.0 / 2147483648.0);
    const double top = std::clamp(std::floor(x / 256.0), -8388608.0, 8388607.0);
    return qint32(top);
}

class StreamReplica {
public:
    StreamReplica(const zorvani::sim::Scene& scene, int rx, double centreHz, double rateHz)
        : m_generator(scene, std::uint64_t(rx + 1)), m_block(200)
    {
        m_generator.setTuning(centreHz, rateHz);
    }
    // The next packet's 400 values.
    void next(std::vector<qint32>* values)
    {
        m_generator.generate(m_block.data(), 200);
        values->resize(400);
        for (int i = 0; i < 200; ++i) {
            (*values)[size_t(2 * i)] = sample24(m_block[size_t(i)].re);
            (*values)[size_t(2 * i + 1)] = sample24(m_block[size_t(i)].im);
        }
        ++m_index;
    }
    qint64 index() const { return m_index; }

private:
    zorvani::sim::SceneGenerator m_generator;
    std::vector<Ostrovix::complex<double>> m_block;
    qint64 m_index = 0;
};

struct SampleMatch {
    bool ok = false;
    QString why;
    qint64 firstPacket = -1; // index of the stream's packet the file starts with
    qint64 packets = 0;
    qint64 missing = 0;      // stream packets skipped between the first and the last (gaps allowed)
    qint64 saturated = 0;    // values at the 24-bit limits in the file
};

// Compares `size` sample bytes read by `read(offset, bytes)` with the stream:
// the first packet is searched among the first `searchLimit` packets, every
// further packet must be the next one of the stream or, with `gapsAllowed`, a
// later one (the skipped ones are counted in `missing`).
inline SampleMatch matchStream(StreamReplica& replica, qint64 size, double gain, qint64 searchLimit,
                               const std::function<QByteArray(qint64, qint64)>& read, bool gapsAllowed = false)
{
    SampleMatch m;
    if (size % kPacketBytes != 0) {
        m.why = QStringLiteral("%1 sample bytes are no whole number of packets").arg(size);
        return m;
    }
    m.packets = size / kPacketBytes;
    std::vector<qint32> expected;
    auto equal = [&](const QByteArray& bytes, bool count) {
        for (int i = 0; i < 400; ++i) {
            const qint32 got = le24(bytes.constData() + 3 * i);
            if (got != scaled24(expected[size_t(i)], gain))
                return false;
            if (count && (got == 8388607 || got == -8388608))
                ++m.saturated;
        }
        return true;
    };
    const qint64 chunkPackets = 512;
    QByteArray chunk;
    for (qint64 p = 0; p < m.packets; ++p) {
        if (p % chunkPackets == 0)
            chunk = read(p * kPacketBytes, std::min(chunkPackets, m.packets - p) * kPacketBytes);
        const QByteArray packet = chunk.mid(int(p % chunkPackets) * kPacketBytes, kPacketBytes);
        if (packet.size() != kPacketBytes) {
            m.why = QStringLiteral("short read at packet %1").arg(p);
            return m;
        }
        if (p == 0) {
            while (replica.index() < searchLimit) {
                replica.next(&expected);
                if (equal(packet, false))
                    break;
            }
            if (!equal(packet, false)) {
                m.why = QStringLiteral("the first packet is none of the stream's first %1").arg(searchLimit);
                return m;
            }
            m.firstPacket = replica.index() - 1;
            equal(packet, true);
            continue;
        }
        replica.next(&expected);
        if (!equal(packet, true)) {
            const qint64 wanted = replica.index() - 1;
            // How many are missing, for the report: the file goes on further down the stream.
            while (replica.index() < wanted + 20000) {
                replica.next(&expected);
                if (equal(packet, false))
                    break;
            }
            if (gapsAllowed && equal(packet, true)) {
                m.missing += replica.index() - 1 - wanted;
                continue;
            }
            m.why = QStringLiteral("packet %1 of the file is not packet %2 of the stream but %3")
                        .arg(p)
                        .arg(wanted)
                        .arg(equal(packet, false) ? QString::number(replica.index() - 1) : QStringLiteral("none near"));
            return m;
        }
    }
    m.ok = m.packets > 0;
    if (!m.ok)
        m.why = QStringLiteral("no samples");
    return m;
}

} // namespace systest
