#pragma once

#include "DeviceAbstract.h"
#include "HostOutputs.h"
#include "IqTapAbstract.h"
#include "Simulator.h"
#include "common/CircularBuffer.h"
#include "zorvaniDsp/ReceiverZorvani.h"

#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

// Runs an unpaced emulator stream in step with the plug-in, so that system
// tests never depend on the machine keeping up with real time. IQ packets are
// granted only a little beyond what receiver 0 has processed (the host's
// signal-analyzer tap counts it) and what has been pulled from the main
// output: the samples in flight fit the receiver's input ring, and the audio
// processed but not pulled fits every ring behind it, even with a thread
// stalled. No ring can overflow or run dry however slow the machine is (it
// only takes longer), so every gap or step in the audio is the plug-in's own.
//
// Nothing is granted from a start or restart of the stream (another rate)
// until release(): the engine drops what arrives before it runs again, and
// the count must not include it. The caller holds the stream before a rate
// change and releases it once the plug-in's start or rate change has returned.
//
// The main output is pulled on the pump's thread, as a host's audio thread
// would, taking whatever the ring holds beyond its reserve each time. One receiver streams.
namespace systest {

class Lockstep : private SignalAnalyzerAbstract {
public:
    static constexpr quint64 kPacket = 200; // samples
    // Input samples that may wait, per unit of decimation: the same time at
    // every rate, the whole input ring at the widest (decimation 8).
    static constexpr quint64 kLeadPerDecimation = ReceiverZorvani::kInputRingSize / 8;
    // Audio frames at the working rate that may be processed or granted but
    // not pulled: the smallest ring behind the receiver (the sound-card
    // converter's output, 4096 frames at 48000 Hz) less a converter chunk's
    // output and a block. Its reserve is among them: the pump leaves it there.
    static constexpr double kBehind = (4096 - 629) * 39062.5 / 48000.0 - 200;
    static constexpr double kWorkingRate = 39062.5;
    static constexpr double kMainRate = 48000.0;

    Lockstep(zorvani::sim::Simulator& sim, PullEngine& mainOut) : m_sim(sim), m_mainOut(mainOut) {}
    ~Lockstep() override { stop(); }
    Lockstep(const Lockstep&) = delete;
    Lockstep& operator=(const Lockstep&) = delete;

    // Taps the receivers and opens the plug-in's main output, then pulls it;
    // before the stream starts.
    void start(DeviceAbstract* device)
    {
        m_sim.setPacketLimit(0);
        m_device = device;
        device->setSignalAnalyzer(this);
        device->setSoundCardOutput(true);
        m_ring = device->soundCardSource();
        m_running = true;
        m_thread = std::thread([this] { run(); });
    }

    void stop()
    {
        m_running = false;
        if (m_thread.joinable())
            m_thread.join();
        if (m_device)
            m_device->setSignalAnalyzer(nullptr);
        m_device = nullptr;
    }

    // Grants nothing more until release(); true once in force.
    bool hold()
    {
        m_holdWanted = true;
        for (int i = 0; i < 5000 && m_holdWanted; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return !m_holdWanted;
    }
    // The stream runs at its rate with the engine running: grant from here.
    void release() { m_release = true; }

    // From the next pull on: the emulator's capture of the answers starts
    // afresh and the main output is kept (interleaved left, right) until takeMain().
    void recordMain() { m_startRecording = true; }
    bool recording() const { return !m_startRecording; }

    std::vector<float> takeMain()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_recording = false;
        std::vector<float> out;
        out.swap(m_recorded);
        return out;
    }

    // What the pump last saw, for a stalled stream's message.
    QString describe() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_state;
    }

private:
    // SignalAnalyzerAbstract, called on the receivers' threads.
    void setSampleRate(double) override {}
    bool isActive(int) const override { return true; }
    void write(quint32 receiver, const Ostrovix::complex<double>*, std::size_t count) override
    {
        if (receiver == 0)
            m_processed += count;
    }

    void run()
    {
        while (m_running) {
            if (m_startRecording) {
                m_sim.clearCapture();
                std::lock_guard<std::mutex> lock(m_mutex);
                m_recorded.clear();
                m_recording = true;
                m_startRecording = false;
            }
            pullMain();
            grant();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    void pullMain()
    {
        // All beyond the ring's reserve, as a host's audio thread at a steady pace would.
        const quint32 fill = m_ring ? m_ring->fill() : 0;
        const quint32 reserve = m_ring ? m_ring->prefill() : 0;
        if (fill <= reserve)
            return;
        const quint32 n = fill - reserve;
        const std::vector<float> frames = m_mainOut.pullOnce(n);
        m_pulled += n;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_recording)
            m_recorded.insert(m_recorded.end(), frames.begin(), frames.end());
    }

    // A block of 200 working-rate frames takes `decimation` packets.
    void grant()
    {
        const zorvani::sim::Counters c = m_sim.counters();
        const zorvani::sim::State s = m_sim.state();
        const quint64 decimation = quint64(1) << s.rateIndex;
        const double processed = double(m_processed.load());
        const double pulled = double(m_pulled) * kWorkingRate / kMainRate;
        if (!s.streaming || decimation != m_decimation || m_holdWanted) {
            m_decimation = s.streaming ? decimation : 0;
            m_release = false;
            m_held = true;
            m_sim.setPacketLimit(c.iqSent);
            m_holdWanted = false;
        }
        if (m_held && m_release) {
            m_held = false;
            m_sentBase = c.iqSent;
            m_processedBase = processed;
            // Audio from before (the reserve, or all if the rings were not
            // flushed) is pulled on top of what the granted packets make.
            m_pulledBase = pulled + (m_ring ? double(m_ring->fill()) * kWorkingRate / kMainRate : 0.0);
        }
        if (m_held) {
            m_sim.setPacketLimit(c.iqSent);
            return;
        }
        // Unprocessed samples fit the input ring's share at this rate, less
        // the packet that may be on its way; audio not yet pulled, made or
        // still to be made from the granted samples, fits the rings behind.
        const double frames = double(kPacket) / double(decimation); // per packet
        const double lead = double(kLeadPerDecimation * decimation - kPacket) / double(kPacket);
        const double byInput = (processed - m_processedBase) / frames + lead;
        const double byOutput = (pulled - m_pulledBase + kBehind) / frames;
        const quint64 limit = m_sentBase + quint64(std::max(0.0, std::min(byInput, byOutput)));
        m_sim.setPacketLimit(limit);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = QStringLiteral("sent %1 of %2 granted, answered %3; since released: sent %4, processed %5 frames; "
                                 "pulled %6 of %7 frames processed")
                      .arg(c.iqSent).arg(limit).arg(c.iqAnswered).arg(c.iqSent - m_sentBase)
                      .arg(processed - m_processedBase).arg(pulled, 0, 'f', 0).arg(processed, 0, 'f', 0);
    }

    zorvani::sim::Simulator& m_sim;
    PullEngine& m_mainOut;
    DeviceAbstract* m_device = nullptr;
    StereoRing* m_ring = nullptr; // set before the thread starts
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_release{false};
    std::atomic<bool> m_holdWanted{false};
    std::atomic<bool> m_startRecording{false};
    std::atomic<quint64> m_processed{0}; // frames of receiver 0
    std::thread m_thread;
    // The pump thread's own.
    quint64 m_pulled = 0; // frames at 48000 Hz
    quint64 m_decimation = 0;
    bool m_held = true;
    quint64 m_sentBase = 0;
    double m_processedBase = 0.0;
    double m_pulledBase = 0.0; // working-rate frames
    mutable std::mutex m_mutex; // guards the recording and the description
    bool m_recording = false;
    std::vector<float> m_recorded;
    QString m_state;
};

} // namespace systest
