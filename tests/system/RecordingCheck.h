#pragma once

#include "SceneGenerator.h"

#include <QtCore>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

// Reads back an IQ recording and compares its samples with the stream the
// emulator sent, regenerated from the same scene: receiver 0's stream is the
// scene generator salted 1, tuned once at the start, block after block.
namespace systest {

constexpr int kPacketBytes = 1200; // 200 frames of two 24-bit values

inline quint16 le16(const QByteArray& d, int at)
{
    return qFromLittleEndian<quint16>(d.constData() + at);
}
inline quint32 le32(const QByteArray& d, int at)
{
    return qFromLittleEndian<quint32>(d.constData() + at);
}
inline double leDouble(const QByteArray& d, int at)
{
    const quint64 bits = qFromLittleEndian<quint64>(d.constData() + at);
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

// A recorded value: the 24-bit value in the top of 32 bits, times gain g, kept
// within the 24-bit range (the scaled formats saturate rather than wrap).
inline qint32 scaled24(qint32 v, double g)
{
    if (g == 1.0)
        return v;
    const double x = std::trunc(double(v) * 256.0 * g * 2147483392.0 / 2147483648.0);
    return qint32(std::clamp(std::floor(x / 256.0), -8388608.0, 8388607.0));
}

class StreamReplica {
public:
    StreamReplica(const zorvani::sim::Scene& scene, double centreHz, double rateHz) : m_generator(scene, 1), m_block(200)
    {
        m_generator.setTuning(centreHz, rateHz);
    }
    // The next packet's 400 values, as the emulator converts them.
    void next(std::vector<qint32>* values)
    {
        m_generator.generate(m_block.data(), 200);
        values->resize(400);
        for (size_t i = 0; i < 400; ++i) {
            const double v = i % 2 ? m_block[i / 2].im : m_block[i / 2].re;
            (*values)[i] = qint32(std::clamp(std::round(v * 8388607.0), -8388608.0, 8388607.0));
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

// Compares the samples of `file` from `offset` to its end with the stream:
// the first packet is searched among the stream's first `searchLimit`, every
// further one must be the next one of the stream or, with `gapsAllowed`, a
// later one (the skipped ones are counted in `missing`).
inline SampleMatch matchStream(StreamReplica& replica, QFile& file, qint64 offset, double gain, qint64 searchLimit,
                               bool gapsAllowed = false)
{
    SampleMatch m;
    const qint64 size = file.size() - offset;
    if (size <= 0 || size % kPacketBytes != 0 || !file.seek(offset)) {
        m.why = QStringLiteral("%1 sample bytes are no whole number of packets").arg(size);
        return m;
    }
    m.packets = size / kPacketBytes;
    std::vector<qint32> expected;
    const auto find = [&](const QByteArray& bytes, qint64 limit) {
        while (replica.index() < limit) {
            replica.next(&expected);
            bool equal = true;
            for (int i = 0; i < 400 && equal; ++i)
                equal = le24(bytes.constData() + 3 * i) == scaled24(expected[size_t(i)], gain);
            if (equal)
                return true;
        }
        return false;
    };
    for (qint64 p = 0; p < m.packets; ++p) {
        const QByteArray packet = file.read(kPacketBytes);
        const qint64 wanted = replica.index();
        const qint64 limit = p == 0 ? searchLimit : gapsAllowed ? wanted + 20000 : wanted + 1;
        if (packet.size() != kPacketBytes || !find(packet, limit)) {
            m.why = p == 0 ? QStringLiteral("the first packet is none of the stream's first %1").arg(searchLimit)
                           : QStringLiteral("packet %1 of the file is not packet %2 of the stream").arg(p).arg(wanted);
            return m;
        }
        if (p == 0)
            m.firstPacket = replica.index() - 1;
        else
            m.missing += replica.index() - 1 - wanted;
        for (int i = 0; i < 400; ++i) {
            const qint32 v = le24(packet.constData() + 3 * i);
            m.saturated += v == 8388607 || v == -8388608 ? 1 : 0;
        }
    }
    m.ok = true;
    return m;
}

} // namespace systest
