#include "WavWriter.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>

WavWriter::~WavWriter()
{
    close();
}

bool WavWriter::open(const QString& path, int sampleRate, int channels)
{
    close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    m_sampleRate = sampleRate;
    m_channels = channels;
    m_dataBytes = 0;
    m_full = false;
    // Whole frames only, and room for the 36 header bytes the RIFF size counts.
    const std::uint64_t frameBytes = 3u * std::uint64_t(channels);
    m_maxDataBytes = (0xFFFFFFFFull - 36u) / frameBytes * frameBytes;
    writeHeader();
    return true;
}

void WavWriter::write(const float* interleaved, std::size_t values)
{
    if (!m_file.isOpen() || m_full)
        return;
    if (m_dataBytes + values * 3 > m_maxDataBytes) {
        m_full = true;
        return;
    }
    m_bytes.resize(values * 3);
    for (std::size_t i = 0; i < values; ++i) {
        const double v = std::clamp(double(interleaved[i]), -1.0, 1.0);
        const auto s = static_cast<std::int32_t>(std::lround(v * 8388607.0));
        m_bytes[3 * i] = char(s & 0xFF);
        m_bytes[3 * i + 1] = char((s >> 8) & 0xFF);
        m_bytes[3 * i + 2] = char((s >> 16) & 0xFF);
    }
    m_file.write(m_bytes.data(), qint64(m_bytes.size()));
    m_dataBytes += m_bytes.size();
}

void WavWriter::close()
{
    if (!m_file.isOpen())
        return;
    m_file.seek(0);
    writeHeader();
    m_file.close();
}

void WavWriter::writeHeader()
{
    char h[44];
    const auto put32 = [&](int at, quint32 v) { qToLittleEndian<quint32>(v, h + at); };
    const auto put16 = [&](int at, quint16 v) { qToLittleEndian<quint16>(v, h + at); };
    const quint32 data = quint32(m_dataBytes);
    std::copy_n("RIFF", 4, h);
    put32(4, data + 36);
    std::copy_n("WAVEfmt ", 8, h + 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, quint16(m_channels));
    put32(24, quint32(m_sampleRate));
    put32(28, quint32(m_sampleRate * m_channels * 3));
    put16(32, quint16(m_channels * 3));
    put16(34, 24);
    std::copy_n("data", 4, h + 36);
    put32(40, data);
    m_file.write(h, sizeof h);
}
