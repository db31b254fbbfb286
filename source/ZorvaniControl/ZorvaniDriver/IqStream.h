#pragma once

#include "OstrovixComplex.h"
#include "recording/IQFile.h"

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <functional>

// Handles the receiver's IQ packets on the socket thread: keeps them in
// sequence, hands the raw payload to a running recording, scales the samples,
// runs the engine's per-block entry and builds the answer in place. Nothing
// here allocates once constructed.
class IqStream {
public:
    using Sample = Ostrovix::complex<double>;
    // Per-block entry: 200 samples of receiver `rx` (may be modified), room
    // for 200 stereo frames; true when the frames were written.
    using BlockEntry = std::function<bool(Sample* samples, Sample* audio, quint32 rx)>;

    static constexpr int kSamples = 200;
    static constexpr int kHeaderSize = 10;
    static constexpr int kPayloadSize = 1200;
    static constexpr int kPacketSize = kHeaderSize + kPayloadSize;
    static constexpr int kSlots = 8;
    // Consecutive foreign sequence numbers dropped before resynchronising.
    static constexpr int kDroppedMisses = 33;
    // Time after a start during which the engine receives zeros, ms.
    static constexpr int kStartMuteMs = 20;

    // `files`: one IQ file slot per receiver (may be null: no recording, two receivers).
    IqStream(BlockEntry entry, const IqFileSlots* files);

    // Not synchronised: set before the socket thread runs.
    void setBlockEntry(BlockEntry entry) { m_entry = std::move(entry); }

    // Linear gain applied on top of the full-scale scaling (1.0 = full scale maps to ±1).
    void setGain(double gain) { m_gain.store(gain); }
    double gain() const { return m_gain.load(); }
    // Acknowledge-only answers while set; the ring keeps the audio.
    void setMute(bool mute) { m_mute.store(mute); }
    bool mute() const { return m_mute.load(); }

    // Start hook, from any thread: sequence 0, miss counter 0, engine input
    // muted for the next 20 ms.
    void resetSequence();
    quint16 expectedSequence() const { return m_expected.load(); }

    // Handles one datagram whose marker says IQ, in place: on return `packet`
    // holds the answer. Returns the answer's length (1210 or 10), 0 when the
    // packet gets no answer. `size` is the datagram's length; the buffer holds at least 1210 bytes when `size` does.
    qint64 handle(char* packet, qint64 size);

private:
    using Clock = std::chrono::steady_clock;

    int slotOf(quint16 sequence) const;
    void resynchronise(char* packet, quint16 sequence);
    void record(const char* payload, quint32 rx);
    void convert(const char* payload);
    void encode(char* payload) const;

    BlockEntry m_entry;
    const IqFileSlots* m_files;
    std::atomic<double> m_gain{1.0};
    std::atomic<bool> m_mute{false};
    std::atomic<quint16> m_expected{0};
    std::atomic<bool> m_resetPending{false};
    std::atomic<Clock::rep> m_startTime{0};
    quint16 m_misses = 0;
    bool m_startMute = false;
    int m_writeIndex = 0;
    char m_ring[kSlots][kPacketSize] = {};
    bool m_slotValid[kSlots] = {};
    Sample m_input[kSamples] = {};
    Sample m_audio[kSamples] = {};
};
