#include "ZorvaniControl/ZorvaniDriver/IqStream.h"

#include "ZorvaniControl/ZorvaniDriver/Packet.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr int kOffLength = 4;
constexpr int kOffSequence = 6;
constexpr int kOffChannel = 9;
constexpr double kInputScale = 1.0 / 2147483648.0; // 2^-31
constexpr double kOutputScale = 2147483647.0;

quint16 sequenceOf(const char* packet)
{
    return zorvani::packet::get<quint16>(packet, kOffSequence);
}

void setLength(char* packet, quint16 length)
{
    qToLittleEndian<quint16>(length, packet + kOffLength);
}

quint16 lengthOf(const char* packet)
{
    return zorvani::packet::get<quint16>(packet, kOffLength);
}
} // namespace

IqStream::IqStream(BlockEntry entry, const IqFileSlots* files) : m_entry(std::move(entry)), m_files(files) {}

void IqStream::resetSequence()
{
    m_expected.store(0);
    m_startTime.store(Clock::now().time_since_epoch().count());
    m_resetPending.store(true);
}

int IqStream::slotOf(quint16 sequence) const
{
    for (int i = 0; i < kSlots; ++i)
        if (m_slotValid[i] && sequenceOf(m_ring[i]) == sequence)
            return i;
    return -1;
}

void IqStream::resynchronise(char* packet, quint16 sequence)
{
    setLength(packet, 0);
    const quint16 expected = quint16(sequence + 8);
    m_expected.store(expected);
    // Slots that never held an answer take this packet's header, so that an
    // answer from them still carries the receiver's marker and channel.
    for (int i = 0; i < kSlots; ++i) {
        std::memcpy(m_ring[i], packet, kHeaderSize);
        qToLittleEndian<quint16>(quint16(expected - i), m_ring[i] + kOffSequence);
        m_slotValid[i] = true;
    }
}

void IqStream::record(const char* payload, quint32 rx)
{
    if (!m_files)
        return;
    const IqFileSlot& slot = (*m_files)[rx];
    auto file = slot.lock();
    if (file->isRecording())
        file->writePacket(reinterpret_cast<const unsigned char*>(payload));
}

void IqStream::convert(const char* payload)
{
    const double scale = m_gain.load() * kInputScale;
    const auto* p = reinterpret_cast<const unsigned char*>(payload);
    for (int i = 0; i < kSamples; ++i, p += 6) {
        // The 24-bit value goes to the upper three bytes of a 32-bit word.
        const qint32 re = qint32(quint32(p[0]) << 8 | quint32(p[1]) << 16 | quint32(p[2]) << 24);
        const qint32 im = qint32(quint32(p[3]) << 8 | quint32(p[4]) << 16 | quint32(p[5]) << 24);
        m_input[i].re = re * scale;
        m_input[i].im = im * scale;
    }
}

void IqStream::encode(char* payload) const
{
    auto* p = reinterpret_cast<unsigned char*>(payload);
    const auto put24 = [](unsigned char* out, double v) {
        // Audio beyond full scale is clipped rather than wrapped.
        const auto word = quint32(qint32(std::clamp(v, -1.0, 1.0) * kOutputScale));
        out[0] = quint8(word >> 8);
        out[1] = quint8(word >> 16);
        out[2] = quint8(word >> 24);
    };
    for (int i = 0; i < kSamples; ++i, p += 6) {
        put24(p, m_audio[i].re);
        put24(p + 3, m_audio[i].im);
    }
}

qint64 IqStream::handle(char* packet, qint64 size)
{
    if (size < kPacketSize)
        return 0;
    const quint32 rx = quint8(packet[kOffChannel]);
    const quint32 receivers = m_files ? quint32(m_files->size()) : 2;
    if (rx >= receivers)
        return 0;

    if (m_resetPending.exchange(false)) {
        m_misses = 0;
        m_startMute = true;
    }

    const quint16 sequence = sequenceOf(packet);
    if (sequence != m_expected.load()) {
        const int slot = slotOf(sequence);
        if (slot >= 0) {
            m_misses = 0;
            std::memcpy(packet, m_ring[slot], kPacketSize);
            return lengthOf(packet) ? kPacketSize : kHeaderSize;
        }
        if (m_misses++ < kDroppedMisses)
            return 0;
        resynchronise(packet, sequence);
        return kHeaderSize;
    }
    m_misses = 0;

    char* payload = packet + kHeaderSize;
    record(payload, rx);
    convert(payload);

    if (m_startMute) {
        const auto since = Clock::now() - Clock::time_point(Clock::duration(m_startTime.load()));
        if (since < std::chrono::milliseconds(kStartMuteMs))
            std::fill(m_input, m_input + kSamples, Sample{0.0, 0.0});
        else
            m_startMute = false;
    }

    const bool audio = m_entry && m_entry(m_input, m_audio, rx);
    if (audio) {
        encode(payload);
        setLength(packet, kPayloadSize);
    } else {
        setLength(packet, 0);
    }

    std::memcpy(m_ring[m_writeIndex], packet, kPacketSize);
    m_slotValid[m_writeIndex] = true;
    m_writeIndex = (m_writeIndex + 1) % kSlots;
    m_expected.store(quint16(sequence + 1));

    if (audio && m_mute.load())
        setLength(packet, 0);
    return lengthOf(packet) ? kPacketSize : kHeaderSize;
}
