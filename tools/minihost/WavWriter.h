#pragma once

#include <QFile>
#include <QString>

#include <cstdint>
#include <vector>

// Writes interleaved float audio as a 24-bit PCM RIFF/WAVE file; the header
// is completed on close(). Audio beyond the format's 32-bit size limit is
// dropped, so a long run still ends with a valid file.
class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool open(const QString& path, int sampleRate, int channels);
    void write(const float* interleaved, std::size_t values);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    std::uint64_t frames() const { return m_channels ? m_dataBytes / (3u * m_channels) : 0; }
    // True once audio was dropped at the size limit.
    bool isFull() const { return m_full; }

private:
    void writeHeader();

    QFile m_file;
    int m_sampleRate = 0;
    int m_channels = 0;
    std::uint64_t m_dataBytes = 0;
    std::uint64_t m_maxDataBytes = 0;
    bool m_full = false;
    std::vector<char> m_bytes; // reused, so a steady stream allocates nothing
};
