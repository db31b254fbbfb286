#include "IqWavFile.h"

#include "common/ZorvaniSR.h"

#include <QtEndian>

#include <cmath>
#include <cstring>

namespace zorvani::sim {

namespace {

constexpr int kFrameBytes = 6;
constexpr double kFullScale = 8388607.0; // the emulator's own 24-bit scale

struct Layout {
    const char* chunk;   // identifier at offset 36
    int format;
    qint64 dataOffset;
    qint64 sizeOffset;   // where D is stored; -1: D is the RIFF size - 100
    double gain;
};

const Layout kLayouts[] = {
    {"vmsd", 0, 112, -1, 1.0},
    {"data", 1, 44, 40, 100.0},
    {"auxi", 2, 216, 212, 31.62277660168379332}, // 10^1.5
};

quint32 u32(const uchar* p, qint64 at)
{
    return qFromLittleEndian<quint32>(p + at);
}
quint16 u16(const uchar* p, qint64 at)
{
    return qFromLittleEndian<quint16>(p + at);
}
double f64(const uchar* p, qint64 at)
{
    const quint64 bits = qFromLittleEndian<quint64>(p + at);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}
bool tag(const uchar* p, qint64 at, const char* text)
{
    return std::memcmp(p + at, text, 4) == 0;
}

int deviceRateIndex(double hz)
{
    for (int i = 0; i < 4; ++i)
        if (std::abs(hz - kStreamRates[i]) < 1.0)
            return i;
    return -1;
}

} // namespace

bool IqWavFile::open(const QString& path, QString* error)
{
    auto refuse = [&](const QString& why) {
        *error = QStringLiteral("%1: %2").arg(path, why);
        m_file.close();
        m_samples = nullptr;
        return false;
    };
    m_file.close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        return refuse(m_file.errorString());
    const qint64 size = m_file.size();
    if (size < 44)
        return refuse(QStringLiteral("too short for a WAV header"));
    const uchar* p = m_file.map(0, size);
    if (!p)
        return refuse(m_file.errorString());
    if (!tag(p, 0, "RIFF") || !tag(p, 8, "WAVE") || !tag(p, 12, "fmt "))
        return refuse(QStringLiteral("no RIFF/WAVE header (was the recording finished?)"));
    if (u32(p, 16) != 16 || u16(p, 20) != 1 || u16(p, 22) != 2 || u16(p, 32) != kFrameBytes || u16(p, 34) != 24)
        return refuse(QStringLiteral("not two channels of 24-bit integer samples"));

    const Layout* layout = nullptr;
    for (const Layout& l : kLayouts)
        if (tag(p, 36, l.chunk) && size >= l.dataOffset)
            layout = &l;
    if (!layout)
        return refuse(QStringLiteral("none of the plug-in's IQ layouts"));

    IqWavInfo info;
    info.format = layout->format;
    info.gain = layout->gain;
    double rate = double(u32(p, 24));
    if (layout->format == 0) {
        if (deviceRateIndex(f64(p, 92)) >= 0)
            rate = f64(p, 92);
        info.hasCentre = true;
        info.centreHz = f64(p, 84);
    } else if (layout->format == 2) {
        info.hasCentre = true;
        info.centreHz = double(u32(p, 76));
    }
    info.rateIndex = deviceRateIndex(rate);
    if (info.rateIndex < 0)
        return refuse(QStringLiteral("recorded at %1 Hz, a rate the receiver does not stream").arg(rate));
    info.rateHz = kStreamRates[info.rateIndex];
    if (!(info.centreHz >= 0.0 && info.centreHz < 1e9)) {
        info.hasCentre = false;
        info.centreHz = 0.0;
    }

    const qint64 available = size - layout->dataOffset;
    const qint64 riff = qint64(u32(p, 4));
    qint64 bytes = layout->sizeOffset >= 0 ? qint64(u32(p, layout->sizeOffset)) : riff - 100;
    // A header that was never finalised holds no sizes (or the previous
    // recording's): the samples then run to the end of the file.
    if (bytes <= 0 || bytes > available)
        bytes = available;
    info.frames = bytes / kFrameBytes;

    m_samples = p + layout->dataOffset;
    m_info = info;
    return true;
}

void IqWavFile::read(qint64 first, Ostrovix::complex<double>* out, int n) const
{
    const double scale = 1.0 / (kFullScale * m_info.gain);
    auto value = [](const uchar* b) {
        const qint32 v = qint32(quint32(b[0]) << 8 | quint32(b[1]) << 16 | quint32(b[2]) << 24) >> 8;
        return double(v);
    };
    for (int i = 0; i < n; ++i) {
        const qint64 frame = first + i;
        if (!m_samples || frame < 0 || frame >= m_info.frames) {
            out[i] = {0.0, 0.0};
            continue;
        }
        const uchar* b = m_samples + frame * kFrameBytes;
        out[i] = {value(b) * scale, value(b + 3) * scale};
    }
}

} // namespace zorvani::sim
