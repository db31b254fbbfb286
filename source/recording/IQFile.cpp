#include "recording/IQFile.h"

#include <QDateTime>
#include <QDebug>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ox::file {

namespace {

const char* const kOpenSignature = "bool __cdecl ox::file::IQFile::open(const class QString &)";
const char* const kRunSignature = "void __cdecl ox::file::IQFile::run(void)";

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
    const uint64_t packets = std::clamp<uint64_t>(bytes / kPacketBytes, 1, kMaxDataBytes / kPacketBytes);
    m_dataLimit.store(packets * kPacketBytes, std::memory_order_release);
}

QString IQFile::partFileName(const QString& first, int part)
{
    const QString number = QStringLiteral("_%1").arg(part, 3, 10, QLatin1Char('0'));
    if (first.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive))
        return first.left(first.size() - 4) + number + first.right(4);
    return first + number;
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

int IQFile::headerLength() const
{
    switch (m_activeFormat) {
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
    // A recording that ended itself (disk error) has a finished or finishing
    // thread: let it close its file first.
    wait();
    m_activeFormat = m_format;
    m_firstPath = path;
    m_part = 1;
    m_earlierParts = 0;
    if (!openPart(path)) {
        qWarning().nospace().noquote() << kOpenSignature << " Failed to open file for writing!\n";
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

bool IQFile::openPart(const QString& path)
{
    m_file.setFileName(path);
    // Unbuffered: every sample byte the header counts is already in the file,
    // and a failed write tells exactly how much got there.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        return false;
    }
    m_start = timeStamp(QDateTime::currentDateTime());
    m_written = 0;
    if (!writeHeader()) {
        m_file.remove();
        return false;
    }
    return true;
}

int IQFile::buildHeader(std::array<unsigned char, kLongestHeader>& image) const
{
    const Format format = m_activeFormat;
    const uint32_t d = uint32_t(m_written / 6 * 6);
    const uint32_t rate = truncatedToU32(sampleRate());
    const double frequency = this->frequency();
    const TimeStamp stop = timeStamp(QDateTime::currentDateTime());
    unsigned char* h = image.data();
    image.fill(0);

    putId(h, "RIFF");
    put32(h + 4, format == Format1 ? d + 36 : d + 100);
    putId(h + 8, "WAVE");
    putId(h + 12, "fmt ");
    put32(h + 16, 16);
    put16(h + 20, 1);
    put16(h + 22, 2);
    put32(h + 24, rate);
    put32(h + 28, rate * 6);
    put16(h + 32, 6);
    put16(h + 34, 24);
    switch (format) {
    case Format0: // "vmsd": version, start, stop, 0, frequency, rate, spare; then "data" without a size
        putId(h + 36, "vmsd");
        put32(h + 40, 64);
        put32(h + 44, 1);
        putTime(h + 48, m_start);
        putTime(h + 64, stop);
        putDouble(h + 84, frequency);
        putDouble(h + 92, sampleRate());
        putDouble(h + 100, 0.0);
        putId(h + 108, "data");
        break;
    case Format1:
        putId(h + 36, "data");
        put32(h + 40, d);
        break;
    case Format2: // "auxi": start, stop, frequency as an integer, the rest unused
        putId(h + 36, "auxi");
        put32(h + 40, 164);
        putTime(h + 44, m_start);
        putTime(h + 60, stop);
        put32(h + 76, truncatedToU32(frequency));
        putId(h + 208, "data");
        put32(h + 212, d);
        break;
    }
    return headerLength();
}

bool IQFile::writeHeader()
{
    // One write of the whole header, so that a reader (or a crash) never
    // meets half of an old one.
    std::array<unsigned char, kLongestHeader> image;
    const int length = buildHeader(image);
    const qint64 end = std::max<qint64>(m_file.pos(), length);
    const bool ok = m_file.seek(0) && m_file.write(reinterpret_cast<const char*>(image.data()), length) == length
                    && m_file.seek(end);
    if (!ok)
        m_error = m_file.errorString();
    m_headerDue = Clock::now() + kHeaderInterval;
    return ok;
}

bool IQFile::store(const unsigned char* data, uint32_t n)
{
    while (n > 0) {
        const uint64_t limit = m_dataLimit.load(std::memory_order_acquire);
        if (m_written >= limit) {
            // The next numbered file takes over without a gap.
            if (!endPart(false) || !openPart(partFileName(m_firstPath, ++m_part)))
                return false;
        }
        const uint32_t take = uint32_t(std::min<uint64_t>(n, limit - m_written));
        qint64 done = 0;
        while (done < take) {
            const qint64 r = m_file.write(reinterpret_cast<const char*>(data) + done, take - done);
            if (r <= 0)
                break;
            done += r;
        }
        m_written += uint64_t(done);
        m_dataBytes.store(m_earlierParts + m_written / 6 * 6, std::memory_order_release);
        if (done < take) {
            m_error = m_file.errorString();
            return false;
        }
        data += take;
        n -= take;
    }
    return true;
}

bool IQFile::endPart(bool failed)
{
    if (!m_file.isOpen())
        return false;
    const uint64_t whole = m_written / 6 * 6;
    // After a failed write: whole frames only, nothing half-written behind them.
    if (failed)
        m_file.resize(headerLength() + qint64(whole));
    const bool ok = writeHeader();
    m_earlierParts += whole;
    m_written = 0;
    m_file.close();
    return ok;
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

void IQFile::run()
{
    const double gain = gainOf(m_activeFormat);
    const auto drain = [&] {
        const uint32_t n = takeFromRing(m_work.data());
        if (m_activeFormat != Format0)
            for (uint32_t i = 0; i + 6 <= n; i += 6)
                scaleFrame(m_work.data() + i, gain);
        return store(m_work.data(), n);
    };
    bool ok = true;
    Clock::time_point lastWrite = Clock::now();
    while (ok && isRecording()) {
        uint32_t used;
        {
            std::lock_guard<SpinLock> guard(m_ringLock);
            used = m_used;
        }
        // Batches of a few kilobytes, or whatever waited long enough: the
        // file is unbuffered, and each write is a system call.
        if (used >= kWriteBatch || (used >= 101 && Clock::now() - lastWrite >= kWriteWait)) {
            ok = drain();
            lastWrite = Clock::now();
        } else {
            QThread::msleep(1);
        }
        if (ok && Clock::now() >= m_headerDue)
            ok = writeHeader();
    }
    // The stop request holds the slot's lock, so nothing more arrives: what
    // is still in the ring belongs to the recording.
    if (ok)
        ok = drain();
    m_recording.store(false, std::memory_order_release);
    const QString path = m_file.fileName();
    ok = endPart(!ok) && ok;
    resetRing();
    if (!ok) {
        qWarning().nospace().noquote() << kRunSignature << " write failed: " << path << ": " << m_error;
        emit failed(path, m_error);
    }
}

} // namespace ox::file
