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

void setSequence(char* packet, quint16 sequence)
{
    qToLittleEndian<quint16>(sequence, packet + kOffSequence);
}

void setLength(char* packet, quint16 length)
{
    qToLittleEndian<quint16>(length, packet + kOffLength);
}

quint16 lengthOf(const char* packet)
{
    return zorvani::packet::get<quint16>(packet, kOffLength);
}

// Signed distance from `from` to `to` on the wrapping 16-bit sequence.
int distance(quint16 from, quint16 to)
{
    return qint16(quint16(to - from));
}

// Counters have one writer, the socket thread: no read-modify-write needed.
void bump(std::atomic<quint64>& counter, quint64 by = 1)
{
    counter.store(counter.load(std::memory_order_relaxed) + by, std::memory_order_relaxed);
}
} // namespace

IqStream::IqStream(BlockEntry entry, const IqFileSlots* files)
    : m_entry(std::move(entry)), m_files(files), m_slots(kRingSlots), m_bytes(size_t(kRingSlots) * kPacketSize)
{
}

void IqStream::resetSequence()
{
    m_expected.store(0);
    m_startTime.store(Clock::now().time_since_epoch().count());
    m_resetPending.store(true);
}

IqStream::Counters IqStream::counters() const
{
    Counters c;
    c.processed = m_processed.load(std::memory_order_relaxed);
    c.givenUp = m_givenUp.load(std::memory_order_relaxed);
    c.resyncs = m_resyncs.load(std::memory_order_relaxed);
    c.malformed = m_malformed.load(std::memory_order_relaxed);
    c.late = m_late.load(std::memory_order_relaxed);
    return c;
}

int IqStream::handle(const char* packet, qint64 size, Clock::time_point now)
{
    const quint32 receivers = m_files ? quint32(m_files->size()) : 2;
    if (size != kPacketSize || lengthOf(packet) != kPayloadSize || quint8(packet[kOffChannel]) >= receivers) {
        bump(m_malformed);
        return 0;
    }
    if (m_resetPending.exchange(false)) {
        m_misses = 0;
        m_startMute = true;
        m_held = 0;
        m_heldSince = 0;
        for (Slot& slot : m_slots)
            if (slot.state == SlotState::Held)
                slot.state = SlotState::Empty;
    }
    m_answers = 0;
    std::memcpy(m_header, packet, kHeaderSize);

    const quint16 sequence = sequenceOf(packet);
    const int ahead = distance(expected(), sequence);
    if (ahead >= 0 && ahead < kRingSlots) {
        m_misses = 0;
        accept(packet, sequence, now);
    } else if (slotOf(sequence).state == SlotState::Answered && slotOf(sequence).sequence == sequence) {
        m_misses = 0;
        sendStored(sequence);
    } else if (ahead < 0 && -ahead <= kLateWindow) {
        // A re-send whose answer the ring no longer has: the receiver is
        // catching up, not moving on. Resynchronising onto it would take the
        // stream back and process what follows it a second time.
        bump(m_late);
    } else if (m_misses++ >= kDroppedMisses) {
        resynchronise(sequence, now);
    }
    return m_answers;
}

int IqStream::expireGaps(Clock::time_point now)
{
    m_answers = 0;
    const Clock::rep limit = std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(kGapTimeoutMs)).count();
    while (m_held > 0 && m_heldSince >= kGapEvidence && now.time_since_epoch().count() - m_gapSince > limit)
        giveUpExpected(now);
    return m_answers;
}

void IqStream::accept(const char* packet, quint16 sequence, Clock::time_point now)
{
    // Too far ahead to hold: the oldest gaps are given up until it fits.
    while (distance(expected(), sequence) >= kHoldWindow)
        giveUpExpected(now);
    const Slot& slot = slotOf(sequence);
    if (slot.state == SlotState::Held && slot.sequence == sequence)
        return; // a re-send of a packet already held
    if (sequence != expected()) {
        hold(packet, sequence, now);
        return;
    }
    std::memcpy(bytesOf(sequence), packet, kPacketSize);
    process(sequence, now);
    drain(now);
}

void IqStream::hold(const char* packet, quint16 sequence, Clock::time_point now)
{
    std::memcpy(bytesOf(sequence), packet, kPacketSize);
    Slot& slot = slotOf(sequence);
    slot.state = SlotState::Held;
    slot.sequence = sequence;
    if (m_held++ == 0) {
        m_gapSince = now.time_since_epoch().count();
        m_heldSince = 0;
    }
    ++m_heldSince;
}

void IqStream::drain(Clock::time_point now)
{
    for (;;) {
        const Slot& slot = slotOf(expected());
        if (slot.state != SlotState::Held || slot.sequence != expected())
            break;
        --m_held;
        process(expected(), now);
    }
}

void IqStream::giveUpExpected(Clock::time_point now)
{
    const quint16 sequence = expected();
    storeAcknowledge(sequence);
    m_expected.store(quint16(sequence + 1));
    bump(m_givenUp);
    sendStored(sequence);
    drain(now);
}

void IqStream::resynchronise(quint16 sequence, Clock::time_point now)
{
    // What is still held came before the receiver moved on: processed, not lost.
    while (m_held > 0)
        giveUpExpected(now);
    bump(m_resyncs);
    // This packet and the next seven get acknowledges; sequence + 8 is processed.
    for (int i = 0; i < 8; ++i)
        storeAcknowledge(quint16(sequence + i));
    m_expected.store(quint16(sequence + 8));
    sendStored(sequence);
}

void IqStream::storeAcknowledge(quint16 sequence)
{
    // The latest packet's header carries the receiver's marker and channel.
    char* bytes = bytesOf(sequence);
    std::memcpy(bytes, m_header, kHeaderSize);
    setSequence(bytes, sequence);
    setLength(bytes, 0);
    Slot& slot = slotOf(sequence);
    slot.state = SlotState::Answered;
    slot.sequence = sequence;
}

void IqStream::process(quint16 sequence, Clock::time_point now)
{
    char* packet = bytesOf(sequence);
    char* payload = packet + kHeaderSize;
    const quint32 rx = quint8(packet[kOffChannel]);
    record(payload, rx);
    convert(payload);

    if (m_startMute) {
        const auto since = now - Clock::time_point(Clock::duration(m_startTime.load()));
        if (since < std::chrono::milliseconds(kStartMuteMs))
            std::fill(m_input, m_input + kSamples, Sample{0.0, 0.0});
        else
            m_startMute = false;
    }

    const bool audio = m_entry && m_entry(m_input, m_audio, rx);
    if (audio)
        encode(payload);
    setLength(packet, audio ? kPayloadSize : 0);

    Slot& slot = slotOf(sequence);
    slot.state = SlotState::Answered;
    slot.sequence = sequence;
    m_expected.store(quint16(sequence + 1));
    bump(m_processed);
    // A gap's clock starts when the stream last moved: a packet held far ahead
    // (sent early, or forged) says nothing about when the receiver sent the one
    // now expected. Packets given up in a row share one clock.
    m_gapSince = now.time_since_epoch().count();
    m_heldSince = 0;
    send(packet, audio && !m_mute.load());
}

void IqStream::send(const char* datagram, bool full)
{
    ++m_answers;
    if (!m_sink)
        return;
    if (full || lengthOf(datagram) == 0) {
        m_sink(datagram, full ? kPacketSize : kHeaderSize);
        return;
    }
    // Muted: the ring keeps the audio, the wire gets the acknowledge.
    std::memcpy(m_short, datagram, kHeaderSize);
    setLength(m_short, 0);
    m_sink(m_short, kHeaderSize);
}

void IqStream::sendStored(quint16 sequence)
{
    const char* stored = bytesOf(sequence);
    send(stored, lengthOf(stored) != 0);
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
