#pragma once

// The engine with receiver 0 alone audible, driven block by block on the
// test's thread: each stage's step runs on the calling thread, so a run is
// exact and repeatable.
#include "DeviceFunctionsAbstract.h"
#include "DspTestSupport.h"
#include "zorvaniDsp/Audio/MixerZorvani.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <functional>
#include <numeric>

namespace dsptest {

class BandCatalogue : public DeviceFunctionsAbstract {
public:
    QList<DeviceBand> bands() const override
    {
        return {{3500000, 3800000, "80m"}, {7000000, 7200000, "40m"}, {14000000, 14350000, "20m"}};
    }
};

// Input signal: complex sample at time t seconds.
using Waveform = std::function<C(double t)>;

inline Waveform toneAt(double hz, double a) { return [=](double t) { return C{a * std::cos(2.0 * kPi * hz * t), a * std::sin(2.0 * kPi * hz * t)}; }; }

// Samples first .. first + 199 of `signal` at the rate fs.
inline void sample(Signal& block, const Waveform& signal, long first, double fs)
{
    for (int k = 0; k < 200; ++k)
        block[size_t(k)] = signal(double(first + k) / fs);
}

// Amplitude of a cosine at hz in the newest n frames of x, left (part 0) or right (1).
inline double level(const Signal& x, double hz, int part = 0, double fs = kFs, int n = 8192)
{
    return realAmplitude(x, int(x.size()) - n, n, hz, part, fs);
}

// Largest left value from frame `from` on.
inline double peak(const Signal& x, size_t from)
{
    const auto larger = [](double p, const C& c) { return std::max(p, std::fabs(c.re)); };
    return std::accumulate(x.begin() + long(from), x.end(), 0.0, larger);
}

// Receiver 0 alone, in USB (100 .. 2900 Hz) with the fast AGC.
struct Rig {
    zorvaniDsp dsp{nullptr, nullptr, nullptr};
    Signal entry; // audio at the block entry
    long t = 0;

    Rig()
    {
        dsp.setChannelEnable(0, 1, false);
        dsp.setRxEnable(1, false);
        dsp.setMode(0, ReceiverZorvani::USB);
        dsp.setAgc(0, 4); // "Fast"
        dsp.setFilter(0, 100.0, 2900.0);
    }

    // Feeds `seconds` more of the signal to receiver 0, woken for every block.
    void run(const Waveform& signal, double seconds)
    {
        ReceiverZorvani* rx = dsp.receiver(0);
        Signal block(200), audio(200);
        for (const long end = t + long(seconds * kFs); t < end; t += 200) {
            sample(block, signal, t, kFs);
            if (dsp.processBlock(block.data(), audio.data(), 0))
                entry.insert(entry.end(), audio.begin(), audio.end());
            rx->inputRing().write(block.data(), 200);
            rx->processBuffered();
            while (dsp.mixer().mixOnce()) {
            }
        }
    }
};

} // namespace dsptest
