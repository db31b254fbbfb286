#pragma once

#include "OstrovixComplex.h"
#include "recording/IQFile.h"

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <functional>
#include <vector>

// Handles the receiver's IQ packets on the socket thread: keeps them in
// sequence, hands the raw payload to a running recording, scales the samples,
// runs the engine's per-block entry and answers.
//
// Packets are processed strictly in sequence order. One that arrives ahead of
// a missing packet is held (not answered) until the missing one comes back -
// the receiver re-sends what it got no answer for - or the gap is given up;
// then the held packets are processed in order. Every packet is answered once,
// in sequence order (a given-up one with an acknowledge); a re-sent packet gets
// its stored answer again. Held packets and stored answers share one ring
// indexed by sequence number. Nothing here allocates once constructed.
class IqStream {
public:
    using Clock = std::chrono::steady_clock;
    using Sample = Ostrovix::complex<double>;
    // Per-block entry: 200 samples of receiver `rx` (may be modified), room
    // for 200 stereo frames; true when the frames were written.
    using BlockEntry = std::function<bool(Sample* samples, Sample* audio, quint32 rx)>;
    // Where answers go, in the order they are to be sent: 1210 or 10 bytes.
    using AnswerSink = std::function<void(const char* datagram, qint64 size)>;

    static constexpr int kSamples = 200;
    static constexpr int kHeaderSize = 10;
    static constexpr int kPayloadSize = 1200;
    static constexpr int kPacketSize = kHeaderSize + kPayloadSize;
    // Held packets and stored answers, by sequence number modulo the ring size.
    static constexpr int kRingSlots = 512;
    // Packets up to this far ahead of the expected one are held. One further
    // ahead (but within the ring) gives up the oldest gaps until it fits; the
    // other half of the ring keeps the answers for re-sends.
    static constexpr int kHoldWindow = kRingSlots / 2;
    // A gap is given up when none was processed for this long (see
    // expireGaps), ms: room for a few of the receiver's re-sends ...
    static constexpr int kGapTimeoutMs = 150;
    // ... and at least this many newer packets came meanwhile: a receiver that
    // sends nothing (busy, stalled) has not given up its re-sends either.
    static constexpr int kGapEvidence = 4;
    // A packet up to this far behind the expected one without a stored answer
    // is a late re-send: dropped, and no sign that the receiver moved on.
    static constexpr int kLateWindow = 2 * kRingSlots;
    // Consecutive foreign sequence numbers (neither held, answered nor late)
    // dropped before resynchronising.
    static constexpr int kDroppedMisses = 33;
    // Time after a start during which the engine receives zeros, ms.
    static constexpr int kStartMuteMs = 20;

    struct Counters {
        quint64 processed = 0; // packets that reached the engine
        quint64 givenUp = 0;   // sequence numbers given up: acknowledged, never processed
        quint64 resyncs = 0;
        quint64 malformed = 0; // IQ datagrams of the wrong size, length word or channel
        quint64 late = 0;      // re-sends too late for the ring: dropped
    };

    // `files`: one IQ file slot per receiver (may be null: no recording, two receivers).
    IqStream(BlockEntry entry, const IqFileSlots* files);

    // Not synchronised: set before the socket thread runs, or on it.
    void setBlockEntry(BlockEntry entry) { m_entry = std::move(entry); }
    void setAnswerSink(AnswerSink sink) { m_sink = std::move(sink); }

    // Linear gain applied on top of the full-scale scaling (1.0 = full scale maps to ±1).
    void setGain(double gain) { m_gain.store(gain); }
    double gain() const { return m_gain.load(); }
    // Acknowledge-only answers while set; the ring keeps the audio.
    void setMute(bool mute) { m_mute.store(mute); }
    bool mute() const { return m_mute.load(); }

    // Start hook, from any thread: sequence 0, miss counter 0, held packets
    // dropped, engine input muted for the next 20 ms.
    void resetSequence();
    quint16 expectedSequence() const { return m_expected.load(); }
    // From any thread.
    Counters counters() const;

    // Handles one datagram whose marker says IQ; its answers (none, one, or
    // several when it closes a gap) go to the sink. Returns how many were sent.
    int handle(const char* packet, qint64 size) { return handle(packet, size, Clock::now()); }
    // Gives up the gap in front when its packet has been overdue for the gap
    // timeout, and so on for the gaps behind it. Call it when no datagram waits
    // to be read: a thread that was kept busy must not give up a packet that
    // is already queued. Returns the answers sent.
    int expireGaps() { return m_held > 0 ? expireGaps(Clock::now()) : 0; }
    // Packets wait behind a gap: expireGaps() has work to come.
    bool holding() const { return m_held > 0; }
    // The same at a given time (tests).
    int handle(const char* packet, qint64 size, Clock::time_point now);
    int expireGaps(Clock::time_point now);

private:
    enum class SlotState : quint8 { Empty, Held, Answered };
    struct Slot {
        SlotState state = SlotState::Empty;
        quint16 sequence = 0;
    };

    Slot& slotOf(quint16 sequence) { return m_slots[sequence & (kRingSlots - 1)]; }
    char* bytesOf(quint16 sequence) { return m_bytes.data() + (sequence & (kRingSlots - 1)) * kPacketSize; }
    quint16 expected() const { return m_expected.load(std::memory_order_relaxed); }

    void accept(const char* packet, quint16 sequence, Clock::time_point now);
    void hold(const char* packet, quint16 sequence, Clock::time_point now);
    void drain(Clock::time_point now);
    void giveUpExpected(Clock::time_point now);
    void resynchronise(quint16 sequence, Clock::time_point now);
    void storeAcknowledge(quint16 sequence);
    void process(quint16 sequence, Clock::time_point now);
    void send(const char* datagram, bool full);
    void sendStored(quint16 sequence);
    void record(const char* payload, quint32 rx);
    void convert(const char* payload);
    void encode(char* payload) const;

    BlockEntry m_entry;
    AnswerSink m_sink;
    const IqFileSlots* m_files;
    std::atomic<double> m_gain{1.0};
    std::atomic<bool> m_mute{false};
    std::atomic<quint16> m_expected{0};
    std::atomic<bool> m_resetPending{false};
    std::atomic<Clock::rep> m_startTime{0};
    std::atomic<quint64> m_processed{0};
    std::atomic<quint64> m_givenUp{0};
    std::atomic<quint64> m_resyncs{0};
    std::atomic<quint64> m_malformed{0};
    std::atomic<quint64> m_late{0};
    quint16 m_misses = 0;
    bool m_startMute = false;
    int m_held = 0;
    Clock::rep m_gapSince = 0; // since when the packet in front of the held ones is overdue
    int m_heldSince = 0;       // packets held since then
    int m_answers = 0;         // sent by the current handle()
    char m_header[kHeaderSize] = {}; // of the latest packet: template for acknowledges
    char m_short[kHeaderSize] = {};
    std::vector<Slot> m_slots;
    std::vector<char> m_bytes;
    Sample m_input[kSamples] = {};
    Sample m_audio[kSamples] = {};
};
