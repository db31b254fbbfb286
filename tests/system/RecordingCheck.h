#pragma once

#include "SceneGenerator.h"

#include <QtCore>

#include <algorithm>
#include <cmath>
#include <vector>

// Reads back an IQ recording and compares its samples with the stream the
// emulator sent, regenerated from the same scene: receiver 0's stream is the
// scene generator salted 1, tuned once at the start, block after block.
namespace systest {

constexpr int kPacketBytes = 1200; // 200 frames of two 24-bit values

template <typename T> T le(const QByteArray& d, int at)
{
    return qFromLittleEndian<T>(d.constData() + at);
}
inline qint32 le24(const char* p)
{
    const qint32 v = qint32(quint8(p[0])) | qint32(quint8(p[1])) << 8 | qint32(quint8(p[2])) << 16;
    return v >= 0x800000 ? v - 0x1000000 : v;
}

inline bool atLimit(qint32 v) { return v == 8388607 || v == -8388608; }

// Eight u16: year, month, day of week (1 = Monday), day, hour, minute, second, ms.
inline QDateTime stamp(const QByteArray& d, int at)
{
    const auto u = [&](int i) { return le<quint16>(d, at + 2 * i); };
    const QDate date(u(0), u(1), u(3));
    return date.isValid() && date.dayOfWeek() == u(2) ? QDateTime(date, QTime(u(4), u(5), u(6), u(7))) : QDateTime();
}

// A recorded value: the 24-bit value in the top of 32 bits, times gain g, kept
// within the 24-bit range (the scaled formats saturate rather than wrap).
inline qint32 scaled24(qint32 v, double g)
{
    const double x = std::trunc(double(v) * 256.0 * g * 2147483392.0 / 2147483648.0);
    return g == 1.0 ? v : qint32(std::clamp(std::floor(x / 256.0), -8388608.0, 8388607.0));
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
        for (size_t i = 0; i < 400; ++i)
            (*values)[i] = qint32(std::clamp(std::round((i % 2 ? m_block[i / 2].im : m_block[i / 2].re) * 8388607.0),
                                             -8388608.0, 8388607.0));
        ++m_index;
    }
    qint64 index() const { return m_index; }

private:
    zorvani::sim::SceneGenerator m_generator;
    std::vector<Ostrovix::complex<double>> m_block;
    qint64 m_index = 0;
};

struct SampleMatch {
    QString why; // empty when the samples match
    qint64 firstPacket = -1; // index of the stream's packet the file starts with
    qint64 packets = 0;
    qint64 missing = 0;   // stream packets skipped between the first and the last (gaps allowed)
    qint64 saturated = 0; // values at the 24-bit limits in the file
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
    std::vector<qint32> expected;
    for (qint64 p = 0; p < size / kPacketBytes; ++p, ++m.packets) {
        const QByteArray packet = file.read(kPacketBytes);
        const qint64 wanted = replica.index();
        const qint64 limit = p == 0 ? searchLimit : gapsAllowed ? wanted + 20000 : wanted + 1;
        bool equal = false;
        while (!equal && packet.size() == kPacketBytes && replica.index() < limit) {
            replica.next(&expected);
            equal = true;
            for (int i = 0; i < 400 && equal; ++i)
                equal = le24(packet.constData() + 3 * i) == scaled24(expected[size_t(i)], gain);
        }
        if (!equal) {
            m.why = p == 0 ? QStringLiteral("the first packet is none of the stream's first %1").arg(searchLimit)
                           : QStringLiteral("packet %1 of the file is not packet %2 of the stream").arg(p).arg(wanted);
            return m;
        }
        if (p == 0)
            m.firstPacket = replica.index() - 1;
        else
            m.missing += replica.index() - 1 - wanted;
        for (int i = 0; i < 400; ++i)
            m.saturated += atLimit(le24(packet.constData() + 3 * i)) ? 1 : 0;
    }
    return m;
}

} // namespace systest
