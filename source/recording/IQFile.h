#pragma once

#include "recording/safe_ptr.h"
#include "common/SpinLock.h"

#include <QFile>
#include <QString>
#include <QThread>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace ox::file {

// Records the raw IQ of one receiver into a RIFF/WAVE file (2 channels, 24-bit
// samples at the device rate). The packet handler hands payloads to a byte
// ring; the object's own thread drains the ring to disk. The file is a valid
// WAV at every moment: it starts with a complete header, the thread rewrites
// the header with the sizes written so far at least twice a second, and once
// more with the final sizes and the stop time when the recording ends. At the
// size limit the recording goes on in the next numbered file; a write error
// ends it with a valid file of what was written and the failed() signal.
// Callers reach it through an IqFileSlot, whose mutex serialises hand-off,
// start, stop and the setters.
class IQFile : public QThread {
    Q_OBJECT
public:
    // Header variant and sample scaling; the host's value is clamped to 0..2.
    enum Format {
        Format0 = 0, // "vmsd" chunk, device bytes unchanged, no name suffix
        Format1 = 1, // plain 44-byte header, samples x 100, suffix "wv"
        Format2 = 2, // "auxi" chunk, samples x 10^1.5, suffix "hd"
    };

    // Eight 16-bit values, local time: year, month 1-12, day of week
    // (1 Monday .. 7 Sunday), day, hour 0-23, minute, second, millisecond.
    using TimeStamp = std::array<uint16_t, 8>;

    static constexpr int kPacketBytes = 1200; // 200 frames of 6 bytes
    // About half a second of IQ at 312500 Hz: the writer thread may be held
    // up by the disk or the scheduler for that long without losing a packet.
    static constexpr uint32_t kRingBytes = 1u << 20;
    // Largest D for which the RIFF size field (D + 100) still fits in 32
    // bits, in whole packets: about 38 minutes at 312500 Hz.
    static constexpr uint64_t kMaxDataBytes = (0xFFFFFFFFull - 100) / kPacketBytes * kPacketBytes;
    // Longest time the header on disk lags behind the samples written.
    static constexpr std::chrono::milliseconds kHeaderInterval{500};

    IQFile();
    // Stops a running recording (the file is finalised).
    ~IQFile() override;

    // Starts a recording into path (created or truncated). False when already
    // recording ("already opened!") or the file cannot be created.
    bool open(const QString& path);
    // Ends the recording and waits until the header is final and the file closed.
    void stop();
    bool isRecording() const { return m_recording.load(std::memory_order_acquire); }

    // Hands over one IQ packet payload (kPacketBytes); the whole packet is
    // dropped when the ring has no room for it. Allocation-free.
    void writePacket(const unsigned char* payload);
    // Packets dropped since the last open().
    uint64_t droppedPackets() const { return m_dropped.load(std::memory_order_acquire); }
    // Sample bytes written by the current or last recording, over all its files.
    uint64_t dataBytes() const { return m_dataBytes.load(std::memory_order_acquire); }

    // Format of the next recording (a running one keeps its own).
    void setFormat(Format format);
    Format format() const { return m_format; }
    // Tuning frequency, Hz, stored in every header written from now on.
    void setFrequency(double hz) { m_frequency.store(hz, std::memory_order_release); }
    double frequency() const { return m_frequency.load(std::memory_order_acquire); }
    // Device sample rate, Hz (156250 at construction); the header holds it
    // truncated to an integer.
    void setSampleRate(double hz) { m_sampleRate.store(hz, std::memory_order_release); }
    double sampleRate() const { return m_sampleRate.load(std::memory_order_acquire); }
    // Largest number of sample bytes per file, in whole packets (at least
    // one; at most, and by default, kMaxDataBytes). A recording that reaches it
    // goes on in the next numbered file (partFileName) without a gap.
    void setDataLimit(uint64_t bytes);

    // Name of file `part` (2, 3, ...) of a recording whose first file is
    // `first`: "_002", "_003", ... before the ".wav".
    static QString partFileName(const QString& first, int part);
    // Scales one 6-byte frame in place by gain g, saturating at the 24-bit limits.
    static void scaleFrame(unsigned char* frame, double gain);
    static double gainOf(Format format);
    static TimeStamp timeStamp(const QDateTime& local);

signals:
    // Emitted on the writer thread when the file at `path` could not be
    // written (disk full, device gone): the recording has ended and the file
    // holds, under a valid header, the whole frames written before the error.
    void failed(const QString& path, const QString& reason);

protected:
    void run() override;

private:
    using Clock = std::chrono::steady_clock;
    static constexpr int kLongestHeader = 44 + 164 + 8;
    // The writer waits for this many bytes (about 10 ms at 312500 Hz) or this
    // long, whichever comes first.
    static constexpr uint32_t kWriteBatch = 16 * kPacketBytes;
    static constexpr std::chrono::milliseconds kWriteWait{20};

    bool openPart(const QString& path);
    bool store(const unsigned char* data, uint32_t n);
    bool writeHeader();
    bool endPart(bool failed);
    int headerLength() const;
    int buildHeader(std::array<unsigned char, kLongestHeader>& image) const;
    void resetRing();
    uint32_t takeFromRing(unsigned char* dst);

    // Set by open() before the writer starts; the writer's afterwards.
    QString m_firstPath;
    int m_part = 1;
    Format m_activeFormat = Format2;
    TimeStamp m_start{};
    uint64_t m_written = 0;     // bytes of samples in the current file
    uint64_t m_earlierParts = 0; // sample bytes in the recording's finished files
    Clock::time_point m_headerDue;
    QString m_error;
    QFile m_file;

    std::atomic<double> m_frequency{0.0};
    std::atomic<double> m_sampleRate{156250.0};
    Format m_format = Format2;
    std::atomic<uint64_t> m_dataLimit{kMaxDataBytes};

    std::vector<unsigned char> m_ring;
    std::vector<unsigned char> m_work;
    uint32_t m_mask = kRingBytes - 1;
    uint32_t m_read = 0;
    uint32_t m_write = 0;
    uint32_t m_used = 0;
    uint32_t m_free = kRingBytes;
    SpinLock m_ringLock;

    std::atomic<bool> m_recording{false};
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<uint64_t> m_dataBytes{0};
};

} // namespace ox::file

using IqFileSlot = ox::memory::safe_ptr<ox::file::IQFile, std::recursive_mutex>;
using IqFileSlots = std::vector<IqFileSlot>;
