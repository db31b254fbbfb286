#pragma once

#include "SceneGenerator.h"
#include "Simulator.h"
#include "SimulatorReceiver.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDevice.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"

#include <QString>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <vector>

// A driver on an in-process emulator over loopback whose engine entry takes a
// fingerprint of every block, so that a test can tell which packets of the
// emulator's stream were processed and in what order: the stream is
// regenerated from the scene (receiver 0's generator, tuned once at the start).
// The entry answers with half the IQ as audio when asked to. For tests that
// link zorvani_link and zorvani_simulator.
class EmulatedLink {
public:
    using Sample = IqStream::Sample;

    explicit EmulatedLink(const zorvani::sim::Config& config, int maxBlocks = 100000)
        : sim(config), driver(nullptr, nullptr), m_prints(size_t(maxBlocks))
    {
        driver.device()->stream().setBlockEntry([this](Sample* in, Sample* audio, quint32) {
            const int n = m_blocks.load(std::memory_order_relaxed);
            if (n < int(m_prints.size())) {
                m_prints[size_t(n)] = hash(in, false);
                m_blocks.store(n + 1, std::memory_order_release);
            }
            if (!m_audio)
                return false;
            for (int i = 0; i < IqStream::kSamples; ++i)
                audio[i] = Sample{in[i].re * 0.5, in[i].im * 0.5};
            return true;
        });
    }

    // Set before start().
    void answerWithAudio(bool on) { m_audio = on; }

    // Opens the link and starts the stream at `rateIndex`.
    bool start(int rateIndex)
    {
        if (!sim.start() || !driver.open(zorvani::sim::receiverRecord(sim)))
            return false;
        driver.setSampleRateId(rateIndex);
        m_rate = 39062.5 * (1 << rateIndex);
        m_centreHz = double(sim.state().freq[0]) / 10.0;
        return driver.Start();
    }

    int blocks() const { return m_blocks.load(std::memory_order_acquire); }

    struct Order {
        bool ok = false;
        QString why;
        qint64 processed = 0; // blocks that reached the engine
        qint64 span = 0;      // stream packets up to the last one processed
        double fraction() const { return span ? double(processed) / double(span) : 0.0; }
    };

    // Call once the socket thread has ended (after close()). The engine must
    // have seen each block at most once and in stream order; the first blocks
    // after the start arrive muted (all zero) and count without a match.
    Order order() const
    {
        Order o;
        zorvani::sim::SceneGenerator generator(sim.config().scene, 1);
        generator.setTuning(m_centreHz, m_rate);
        std::vector<Sample> block(IqStream::kSamples);
        qint64 next = 0; // stream index of the next regenerated block
        const int count = blocks();
        for (int i = 0; i < count; ++i) {
            const quint64 print = m_prints[size_t(i)];
            ++o.processed;
            if (print == kSilent && next == 0)
                continue;
            const qint64 limit = next + kSearch;
            bool found = false;
            while (!found && next < limit) {
                generator.generate(block.data(), IqStream::kSamples);
                ++next;
                found = hash(block.data(), true) == print;
            }
            if (!found) {
                o.why = QStringLiteral("block %1 of %2 is none of stream packets up to %3: out of order or twice")
                            .arg(i).arg(count).arg(limit);
                return o;
            }
        }
        o.span = std::max(next, o.processed);
        o.ok = true;
        return o;
    }

    zorvani::sim::Simulator sim;
    ZorvaniDriver driver;

private:
    static constexpr qint64 kSearch = 4096; // a block may follow this many lost ones
    static constexpr quint64 kSilent = 0;

    // FNV-1a over the 400 24-bit values, 0 for an all-zero block: of what the
    // engine got (the value over 2^23, gain 1) or of what the emulator put on
    // the wire for a generated block.
    static quint64 hash(const Sample* s, bool wire)
    {
        quint64 h = 1469598103934665603ull;
        bool silent = true;
        for (int i = 0; i < IqStream::kSamples; ++i)
            for (const double v : {s[i].re, s[i].im}) {
                const qint32 x = wire ? qint32(std::clamp(std::round(v * 8388607.0), -8388608.0, 8388607.0))
                                      : qint32(std::lround(v * 8388608.0));
                silent = silent && x == 0;
                h = (h ^ quint32(x)) * 1099511628211ull;
            }
        return silent ? kSilent : h;
    }

    std::vector<quint64> m_prints;
    std::atomic<int> m_blocks{0};
    bool m_audio = false;
    double m_rate = 39062.5;
    double m_centreHz = 0.0;
};
