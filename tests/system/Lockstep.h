#pragma once

#include "DeviceFunctionsAbstract.h"
#include "HostOutputs.h"
#include "IqTapAbstract.h"
#include "SystemHost.h"
#include "common/CircularBuffer.h"
#include "zorvaniDsp/ReceiverZorvani.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

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
// the count must not include it. The main output is pulled on the pump's
// thread, as a host's audio thread would. One receiver streams.
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
    static constexpr double kWorkingPerMain = 39062.5 / 48000.0;
    // The plug-in ends a stream that brings no IQ packet for 2 s. A stream
    // held here (a thread of the plug-in starved by the machine's load, or a
    // start not yet released) is not a lost one: after this long without a
    // packet the emulator sends an IQ datagram without samples, which the
    // plug-in takes as a sign of life and drops as malformed.
    static constexpr auto kKeepAlive = std::chrono::milliseconds(500);
    // Granted, answered and processed, yet nothing more to pull: audio the
    // plug-in did not deliver (a chain reset after a retune, a demodulator
    // starting over) would hold the stream for good, since the count expects
    // it. After this long without progress the count starts afresh; what is
    // recorded is still checked for gaps.
    static constexpr auto kRecount = std::chrono::seconds(2);

    // Taps the receivers and opens the plug-in's main output, then pulls it; before the stream starts.
    Lockstep(Simulator& sim, PullEngine& mainOut, DeviceAbstract* device) : m_sim(sim), m_mainOut(mainOut), m_device(device)
    {
        m_sim.setPacketLimit(0);
        device->setSignalAnalyzer(this);
        device->setSoundCardOutput(true);
        m_ring = device->soundCardSource();
        m_running = true;
        m_thread = std::thread([this] { run(); });
    }

    ~Lockstep() override
    {
        m_running = false;
        m_thread.join();
        m_device->setSignalAnalyzer(nullptr);
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
        return std::move(m_recorded);
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
        auto lastPacket = std::chrono::steady_clock::now();
        quint64 lastSent = 0;
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
            const auto now = std::chrono::steady_clock::now();
            const quint64 sent = m_sim.counters().iqSent;
            if (sent != lastSent || !m_sim.state().streaming) {
                lastSent = sent;
                lastPacket = now;
            } else if (now - lastPacket > kKeepAlive) {
                m_sim.sendJunk(Simulator::Junk::ShortIq);
                lastPacket = now;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    // All beyond the ring's reserve, as a host's audio thread at a steady pace would.
    void pullMain()
    {
        const quint32 fill = m_ring ? m_ring->fill() : 0, reserve = m_ring ? m_ring->prefill() : 0;
        if (fill <= reserve)
            return;
        const std::vector<float> frames = m_mainOut.pullOnce(fill - reserve);
        m_pulled += fill - reserve;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_recording)
            m_recorded.insert(m_recorded.end(), frames.begin(), frames.end());
    }

    // Counts from here; audio from before (the reserve, or all if the rings
    // were not flushed) is pulled on top of what the granted packets make.
    void rebase(quint64 sent, double processed, double pulled)
    {
        m_sentBase = sent;
        m_processedBase = processed;
        m_pulledBase = pulled + (m_ring ? double(m_ring->fill()) * kWorkingPerMain : 0.0);
    }

    // A block of 200 working-rate frames takes `decimation` packets.
    void grant()
    {
        const zorvani::sim::Counters c = m_sim.counters();
        const zorvani::sim::State s = m_sim.state();
        const quint64 decimation = quint64(1) << s.rateIndex;
        const double processed = double(m_processed.load()), pulled = double(m_pulled) * kWorkingPerMain;
        if (!s.streaming || decimation != m_decimation || m_holdWanted) {
            m_decimation = s.streaming ? decimation : 0;
            m_release = false;
            m_held = true;
            m_holdWanted = false;
        }
        if (m_held && m_release) {
            m_held = false;
            rebase(c.iqSent, processed, pulled);
        }
        if (m_held)
            return m_sim.setPacketLimit(c.iqSent);
        // Unprocessed samples fit the input ring's share at this rate, less
        // the packet that may be on its way; audio not yet pulled, made or
        // still to be made from the granted samples, fits the rings behind.
        const double frames = double(kPacket) / double(decimation); // per packet
        const double lead = double(kLeadPerDecimation * decimation - kPacket) / double(kPacket);
        const double byInput = (processed - m_processedBase) / frames + lead;
        const double byOutput = (pulled - m_pulledBase + kBehind) / frames;
        const quint64 limit = m_sentBase + quint64(std::max(0.0, std::min(byInput, byOutput)));
        m_sim.setPacketLimit(limit);
        const auto now = std::chrono::steady_clock::now();
        if (c.iqSent < limit || c.iqAnswered < c.iqSent || processed != m_lastProcessed || pulled != m_lastPulled) {
            m_lastProcessed = processed;
            m_lastPulled = pulled;
            m_lastProgress = now;
        } else if (now - m_lastProgress > kRecount) {
            qWarning().noquote() << "lockstep: no audio for the granted packets, counting afresh";
            rebase(c.iqSent, processed, pulled);
            m_lastProgress = now;
        }
    }

    Simulator& m_sim;
    PullEngine& m_mainOut;
    DeviceAbstract* m_device;
    StereoRing* m_ring = nullptr; // set before the thread starts
    std::atomic<bool> m_running{false}, m_release{false}, m_holdWanted{false}, m_startRecording{false};
    std::atomic<quint64> m_processed{0}; // frames of receiver 0
    std::thread m_thread;
    // The pump thread's own; pulled frames at 48000 Hz, bases at the working rate.
    quint64 m_pulled = 0, m_decimation = 0, m_sentBase = 0;
    bool m_held = true;
    double m_processedBase = 0.0, m_pulledBase = 0.0, m_lastProcessed = 0.0, m_lastPulled = 0.0;
    std::chrono::steady_clock::time_point m_lastProgress;
    std::mutex m_mutex; // guards the recording
    bool m_recording = false;
    std::vector<float> m_recorded;
};

// The plug-in streaming (at 312500 Hz unless changed) from an unpaced
// emulator in step with the test: receiver 0 channel 0 alone, main volume at
// -10 dB (headroom: the envelope modes keep the carrier as a constant level),
// the main output open and pulled.
class SteppedHost {
public:
    enum Mode { AM = 0, SAM, DSB, LSB, USB, CW, NFM, DIGL, DIGU, WFM, DRM };
    static constexpr double kMainRate = 48000.0;
    struct Audio {
        std::vector<double> left, right;
    };

    // Empty on success, else what failed.
    QString start(quint16 port, const QString& sceneText)
    {
        Config c = emulator(port, sceneText);
        c.logCommands = c.paced = false;
        c.fastWindow = 8;
        c.resendAfterMs = 5000; // a slow answer is late, not lost
        const QString failed = plugin.attach(c);
        if (!failed.isEmpty())
            return failed;
        pump = std::make_unique<Lockstep>(*plugin.sim, plugin.bridge.hostSoundOut().engine(), device());
        if (!device()->open())
            return QStringLiteral("the emulator was not found");
        device()->setRxEnable(0, true);
        device()->setChannelEnable(0, 0, true);
        device()->setMainVolume(-10);
        device()->setVolume(0, 0, 0);
        if (!device()->start())
            return QStringLiteral("the stream did not start");
        pump->release();
        return setRate(3) ? QString() : QStringLiteral("the stream did not restart at 312500 Hz");
    }

    void stop()
    {
        pump.reset();
        plugin.unload();
    }

    DeviceAbstract* device() const { return plugin.device(); }
    Simulator& sim() const { return *plugin.sim; }

    // Stream rate index 0..3 (39062.5 .. 312500 Hz), through the options page.
    bool setRate(int index)
    {
        if (sim().state().rateIndex == index)
            return true;
        if (!pump->hold())
            return false;
        plugin.option<QComboBox>("cbSampleRate")->setCurrentIndex(index);
        const bool restarted =
            sim().waitUntil([&] { return sim().state().streaming && sim().state().rateIndex == index; }, kStalledMs);
        pump->release();
        return restarted;
    }

    // Through the host's setters: frequency, mode, filter (the catalogue's
    // choice; -1: the mode's default, the widest for WFM, whose stereo
    // multiplex reaches 53 kHz) and the mode's default AGC.
    bool tune(int mode, double hz, int filterChoice = -1)
    {
        device()->setFreq(0, 0, hz);
        device()->setMode(0, 0, mode);
        const DeviceFunctionsAbstract* f = device()->functions();
        const uint choice = filterChoice >= 0 ? uint(filterChoice) : mode == WFM ? 8u : uint(f->defaultFilter(uint(mode)));
        const FilterEdges edges = f->filterEdges(mode, choice);
        device()->setFilter(0, 0, 0, edges.first, edges.second);
        device()->setAgc(0, 0, f->defaultAgc(uint(mode)));
        return sim().waitUntil([&] { return sim().state().freq[0] == quint64(std::llround(hz * 10)); }, kStalledMs);
    }

    bool streamFor(double seconds) { return systest::streamFor(sim(), seconds); }

    // `seconds` of signal as heard in the answers to the receiver and at the main output.
    bool record(double seconds, Audio* answers, Audio* main)
    {
        pump->recordMain();
        if (!sim().waitUntil([&] { return pump->recording(); }, kStalledMs) || !streamFor(seconds))
            return false;
        *main = split(pump->takeMain(), 1.0);
        *answers = split(sim().capture(), 1.0 / 8388608.0);
        return true;
    }

    LoadedPlugin plugin;
    std::unique_ptr<Lockstep> pump;

private:
    template <typename Interleaved> static Audio split(const Interleaved& v, double scale)
    {
        Audio a;
        for (int i = 0; i + 1 < int(v.size()); i += 2) {
            a.left.push_back(v[i] * scale);
            a.right.push_back(v[i + 1] * scale);
        }
        return a;
    }
};

} // namespace systest
