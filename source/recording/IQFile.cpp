#include "recording/IQFile.h"

#include <QDateTime>
#include <QDebug>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ox::file {

namespace {

const char* const kOpenSignature = "bool __cdecl ox::file::IQFile::open(const class QString &)";

void put16(unsigned char* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

void putDouble(unsigned char* p, double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i)
        p[i] = uint8_t(bits >> (8 * i));
}

void putTime(unsigned char* p, const IQFile::TimeStamp& t)
{
    for (size_t i = 0; i < t.size(); ++i)
        put16(p + 2 * i, t[i]);
}

void putId(unsigned char* p, const char* id)
{
    std::memcpy(p, id, 4);
}

uint32_t truncatedToU32(double v)
{
    if (!(v > 0.0))
        return 0;
    return v >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(v);
}

} // namespace

IQFile::IQFile() : m_ring(kRingBytes), m_work(kRingBytes) {}

IQFile::~IQFile()
{
    stop();
}

void IQFile::setFormat(Format format)
{
    m_format = Format(std::clamp(int(format), int(Format0), int(Format2)));
}

void IQFile::setDataLimit(uint64_t bytes)
{
    m_dataLimit.store(std::min(bytes / kPacketBytes * kPacketBytes, kMaxDataBytes), std::memory_order_release);
}

double IQFile::gainOf(Format format)
{
    switch (format) {
    case Format1:
        return 100.0;
    case Format2:
        return std::pow(10.0, 1.5);
    default:
        return 1.0;
    }
}

IQFile::TimeStamp IQFile::timeStamp(const QDateTime& local)
{
    const QDate d = local.date();
    const QTime t = local.time();
    return {uint16_t(d.year()), uint16_t(d.month()), uint16_t(d.dayOfWeek()), uint16_t(d.day()),
            uint16_t(t.hour()), uint16_t(t.minute()), uint16_t(t.second()), uint16_t(t.msec())};
}

int IQFile::headerLength(Format format) const
{
    switch (format) {
    case Format0:
        return 44 + 64 + 4;
    case Format2:
        return 44 + 164 + 8;
    default:
        return 44;
    }
}

bool IQFile::open(const QString& path)
{
    if (isRecording()) {
        qWarning().nospace().noquote() << kOpenSignature << " already opened!";
        return false;
    }
    // A recording that ended itself (size limit, disk error) has a finished
    // or finishing thread: let it close its file first.
    wait();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qWarning().nospace().noquote() << kOpenSignature << " Failed to open file for writing!\n";
        return false;
    }
    m_start = timeStamp(QDateTime::currentDateTime());
    m_activeFormat = m_format;
    // Placeholder of the final header's length; rewritten when stopping.
    bool ok = m_file.write(reinterpret_cast<const char*>(m_header.data()), qint64(m_header.size())) == qint64(m_header.size());
    const std::array<unsigned char, 8> tail{};
    if (m_activeFormat == Format0) {
        ok = ok && m_file.write(reinterpret_cast<const char*>(m_private.data()), 64) == 64;
        ok = ok && m_file.write(reinterpret_cast<const char*>(tail.data()), 4) == 4;
    } else if (m_activeFormat == Format2) {
        ok = ok && m_file.write(reinterpret_cast<const char*>(m_auxi.data()), 164) == 164;
        ok = ok && m_file.write(reinterpret_cast<const char*>(tail.data()), 8) == 8;
    }
    if (!ok) {
        qWarning().nospace().noquote() << kOpenSignature << " Failed to open file for writing!\n";
        m_file.close();
        return false;
    }
    resetRing();
    m_dropped.store(0, std::memory_order_release);
    m_dataBytes.store(0, std::memory_order_release);
    m_recording.store(true, std::memory_order_release);
    start(QThread::InheritPriority);
    return true;
}

void IQFile::stop()
{
    m_recording.store(false, std::memory_order_release);
    wait();
}

void IQFile::resetRing()
{
    std::lock_guard<SpinLock> guard(m_ringLock);
    m_read = 0;
    m_write = 0;
    m_used = 0;
    m_free = kRingBytes;
}

void IQFile::writePacket(const unsigned char* payload)
{
    if (!payload || !isRecording())
        return;
    std::lock_guard<SpinLock> guard(m_ringLock);
    if (m_free < uint32_t(kPacketBytes)) {
        m_dropped.fetch_add(1, std::memory_order_acq_rel);
        return;
    }
    const uint32_t first = std::min<uint32_t>(kPacketBytes, kRingBytes - m_write);
    std::memcpy(m_ring.data() + m_write, payload, first);
    std::memcpy(m_ring.data(), payload + first, kPacketBytes - first);
    m_write = (m_write + kPacketBytes) & m_mask;
    m_used += kPacketBytes;
    m_free -= kPacketBytes;
}

uint32_t IQFile::takeFromRing(unsigned char* dst)
{
    std::lock_guard<SpinLock> guard(m_ringLock);
    const uint32_t n = m_used;
    const uint32_t first = std::min(n, kRingBytes - m_read);
    std::memcpy(dst, m_ring.data() + m_read, first);
    std::memcpy(dst + first, m_ring.data(), n - first);
    m_read = (m_read + n) & m_mask;
    m_used -= n;
    m_free += n;
    return n;
}

void IQFile::scaleFrame(unsigned char* frame, double gain)
{
    // The 24-bit value sits in the upper three bytes of v; x = v 2^-31 g
    // 2147483392, truncated, then clamped so that its upper bytes stay within
    // the 24-bit range instead of wrapping.
    const double k = gain * 2147483392.0 / 2147483648.0;
    for (int c = 0; c < 2; ++c) {
        unsigned char* p = frame + 3 * c;
        const int32_t v = int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24);
        const double x = std::clamp(std::trunc(double(v) * k), -2147483648.0, 2147483392.0);
        const uint32_t out = uint32_t(int32_t(x));
        p[0] = uint8_t(out >> 8);
        p[1] = uint8_t(out >> 16);
        p[2] = uint8_t(out >> 24);
    }
}

bool IQFile::append(unsigned char* data, uint32_t n, Format format, uint64_t& written)
{
    // Whole packets only, and never beyond what the 32-bit size fields hold.
    const uint64_t limit = m_dataLimit.load(std::memory_order_acquire);
    const uint64_t room = limit > written ? limit - written : 0;
    const uint32_t take = uint32_t(std::min<uint64_t>(n, room));
    if (format != Format0) {
        const double gain = gainOf(format);
        for (uint32_t i = 0; i + 6 <= take; i += 6)
            scaleFrame(data + i, gain);
    }
    const qint64 done = m_file.write(reinterpret_cast<const char*>(data), take);
    if (done > 0)
        written += uint64_t(done) / 6 * 6;
    m_dataBytes.store(written, std::memory_order_release);
    if (done != qint64(take)) {
        qWarning().nospace().noquote() << "void __cdecl ox::file::IQFile::run(void) write failed: " << m_file.errorString();
        return false;
    }
    return take == n;
}

void IQFile::run()
{
    const Format format = m_activeFormat;
    uint64_t written = 0;
    bool ok = true;
    while (ok && isRecording()) {
        uint32_t used;
        {
            std::lock_guard<SpinLock> guard(m_ringLock);
            used = m_used;
        }
        if (used < 101) {
            QThread::msleep(1);
            continue;
        }
        const uint32_t n = takeFromRing(m_work.data());
        ok = append(m_work.data(), n, format, written);
    }
    // The stop request holds the slot's lock, so nothing more arrives: what
    // is still in the ring belongs to the recording.
    if (ok) {
        const uint32_t n = takeFromRing(m_work.data());
        if (n > 0)
            append(m_work.data(), n, format, written);
    }
    m_recording.store(false, std::memory_order_release);
    finalise(format, written);
    resetRing();
}

void IQFile::finalise(Format format, uint64_t written)
{
    m_stop = timeStamp(QDateTime::currentDateTime());
    const uint32_t d = uint32_t(written);
    const uint32_t rate = truncatedToU32(sampleRate());
    const double frequency = this->frequency();

    putId(m_header.data(), "RIFF");
    put32(m_header.data() + 4, format == Format1 ? d + 36 : d + 100);
    putId(m_header.data() + 8, "WAVE");
    putId(m_header.data() + 12, "fmt ");
    put32(m_header.data() + 16, 16);
    put16(m_header.data() + 20, 1);
    put16(m_header.data() + 22, 2);
    put32(m_header.data() + 24, rate);
    put32(m_header.data() + 28, rate * 6);
    put16(m_header.data() + 32, 6);
    put16(m_header.data() + 34, 24);
    const char* next = format == Format0 ? "vmsd" : (format == Format1 ? "data" : "auxi");
    putId(m_header.data() + 36, next);
    put32(m_header.data() + 40, format == Format0 ? 64 : (format == Format1 ? d : 164));

    put32(m_private.data(), 1);
    putTime(m_private.data() + 4, m_start);
    putTime(m_private.data() + 20, m_stop);
    put32(m_private.data() + 36, 0);
    putDouble(m_private.data() + 40, frequency);
    putDouble(m_private.data() + 48, sampleRate());
    putDouble(m_private.data() + 56, m_spare);

    m_auxi.fill(0);
    putTime(m_auxi.data(), m_start);
    putTime(m_auxi.data() + 16, m_stop);
    put32(m_auxi.data() + 32, truncatedToU32(frequency));

    std::array<unsigned char, 8> tail{};
    putId(tail.data(), "data");
    put32(tail.data() + 4, d);

    bool ok = m_file.seek(0);
    ok = ok && m_file.write(reinterpret_cast<const char*>(m_header.data()), 44) == 44;
    if (format == Format0) {
        ok = ok && m_file.write(reinterpret_cast<const char*>(m_private.data()), 64) == 64;
        ok = ok && m_file.write(reinterpret_cast<const char*>(tail.data()), 4) == 4;
    } else if (format == Format2) {
        ok = ok && m_file.write(reinterpret_cast<const char*>(m_auxi.data()), 164) == 164;
        ok = ok && m_file.write(reinterpret_cast<const char*>(tail.data()), 8) == 8;
    }
    if (!ok)
        qWarning().nospace().noquote() << "void __cdecl ox::file::IQFile::run(void) header write failed: "
                                       << m_file.errorString();
    m_file.close();
}

} // namespace ox::file
