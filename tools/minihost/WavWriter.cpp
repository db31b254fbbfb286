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
    m_error.clear();
    // Unbuffered: the header never counts audio that is not in the file yet.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        return false;
    }
    m_sampleRate = sampleRate;
    m_channels = channels;
    m_dataBytes = 0;
    m_full = false;
    // Whole frames only, and room for the 36 header bytes the RIFF size counts.
    const std::uint64_t frameBytes = 3u * std::uint64_t(channels);
    m_maxDataBytes = (0xFFFFFFFFull - 36u) / frameBytes * frameBytes;
    if (!writeHeader()) {
        m_error = m_file.errorString();
        m_file.remove();
        return false;
    }
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
    qint64 done = 0;
    const qint64 size = qint64(m_bytes.size());
    while (done < size) {
        const qint64 r = m_file.write(m_bytes.data() + done, size - done);
        if (r <= 0)
            break;
        done += r;
    }
    m_dataBytes += std::uint64_t(done);
    if (done < size) {
        fail();
        return;
    }
    if (m_dataBytes >= m_headerDue && !writeHeader())
        fail();
}

void WavWriter::fail()
{
    m_error = m_file.errorString();
    // Whole frames under a header that counts them; the rest is cut off.
    const std::uint64_t frameBytes = 3u * std::uint64_t(m_channels);
    m_dataBytes = m_dataBytes / frameBytes * frameBytes;
    m_file.resize(qint64(44 + m_dataBytes));
    writeHeader();
    m_file.close();
}

void WavWriter::close()
{
    if (!m_file.isOpen())
        return;
    if (!writeHeader())
        m_error = m_file.errorString();
    m_file.close();
}

bool WavWriter::writeHeader()
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
    // Half a second of audio until the next rewrite.
    m_headerDue = m_dataBytes + std::uint64_t(m_sampleRate) * std::uint64_t(m_channels) * 3u / 2u;
    const qint64 end = std::max<qint64>(m_file.pos(), qint64(sizeof h));
    return m_file.seek(0) && m_file.write(h, sizeof h) == qint64(sizeof h) && m_file.seek(end);
}
