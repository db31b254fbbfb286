#pragma once

#include <QFile>
#include <QString>

#include <cstdint>
#include <vector>

// Writes interleaved float audio as a 24-bit PCM RIFF/WAVE file that is valid
// at every moment: a complete header from the start, rewritten with the sizes
// so far after every half second of audio, and final on close(). A write error
// (disk full, device gone) ends the file there, with a valid header for the
// whole frames it holds, and is kept in error(). Audio beyond the format's
// 32-bit size limit is dropped, so a long run still ends with a valid file.
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
    // Why the file ended early; empty when every write succeeded.
    QString error() const { return m_error; }

private:
    bool writeHeader();
    void fail();

    QFile m_file;
    int m_sampleRate = 0;
    int m_channels = 0;
    std::uint64_t m_dataBytes = 0;
    std::uint64_t m_maxDataBytes = 0;
    std::uint64_t m_headerDue = 0; // data bytes at which the header is rewritten next
    bool m_full = false;
    QString m_error;
    std::vector<char> m_bytes; // reused, so a steady stream allocates nothing
};
