#pragma once

// Shared by the engine tests: a tone analyser written independently of the
// code under test, and a rig that drives the engine block by block.
#include "zorvaniDsp/Audio/MixerZorvani.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace enginetest {

using Sample = Ostrovix::complex<double>;

constexpr double kPi = 3.14159265358979323846;

// Input signal: complex sample at time t seconds.
using Signal = std::function<Sample(double t)>;

// A complex tone of the given amplitude at hz (negative: below the centre).
inline Signal toneSignal(double hz, double amplitude)
{
    return [hz, amplitude](double t) {
        const double ph = 2.0 * kPi * hz * t;
        return Sample{amplitude * std::cos(ph), amplitude * std::sin(ph)};
    };
}

struct Spectrum {
    double peakHz = 0.0;
    double toneFraction = 0.0; // power at the peak / total power (mean removed)
    double amplitude = 0.0;
};

// Hann-windowed single-frequency DFT of the mean-free signal, searched on a
// grid: where the energy is and how much of it the tone holds.
inline Spectrum analyse(const std::vector<double>& input, double fs, double fromHz, double toHz)
{
    std::vector<double> x = input;
    double mean = 0.0;
    for (double v : x)
        mean += v;
    mean /= double(x.size());
    double power = 0.0;
    for (double& v : x) {
        v -= mean;
        power += v * v;
    }
    power /= double(x.size());
    const size_t n = x.size();
    std::vector<double> w(n);
    double wsum = 0.0;
    for (size_t k = 0; k < n; ++k) {
        w[k] = 0.5 - 0.5 * std::cos(2.0 * kPi * double(k) / double(n));
        wsum += w[k];
    }
    auto amplitudeAt = [&](double f) {
        double re = 0.0, im = 0.0;
        for (size_t k = 0; k < n; ++k) {
            const double ph = 2.0 * kPi * f * double(k) / fs;
            re += x[k] * w[k] * std::cos(ph);
            im -= x[k] * w[k] * std::sin(ph);
        }
        return 2.0 * std::hypot(re, im) / wsum;
    };
    Spectrum s;
    for (double f = fromHz; f <= toHz; f += 5.0) {
        const double a = amplitudeAt(f);
        if (a > s.amplitude) {
            s.amplitude = a;
            s.peakHz = f;
        }
    }
    s.toneFraction = power > 0.0 ? (s.amplitude * s.amplitude / 2.0) / power : 0.0;
    return s;
}

// The engine with receiver 0 alone audible, driven block by block: each
// stage's step runs on the calling thread, so a run is exact and repeatable.
struct Rig {
    zorvaniDsp dsp{nullptr, nullptr, nullptr};
    std::vector<double> entryLeft, entryRight, mainLeft, mainRight;
    long t = 0;

    Rig(double rate, int mode, double lowHz, double highHz, double offsetHz)
    {
        dsp.setSampleRate(rate);
        dsp.setChannelEnable(0, 1, false);
        dsp.setRxEnable(1, false);
        dsp.setMode(0, mode);
        dsp.setAgc(0, 4); // "Fast"
        dsp.setFilter(0, lowHz, highHz);
        dsp.setChannelOffset(0, 0, offsetHz);
        dsp.setChannelOffset(0, 1, offsetHz);
    }

    // Feeds `seconds` more of the signal to receiver 0.
    void run(const Signal& signal, double seconds)
    {
        ReceiverZorvani* rx = dsp.receiver(0);
        const double fs = dsp.sampleRate();
        const long end = t + long(seconds * fs);
        std::vector<Sample> block(200), audio(200), drain(4096);
        while (t < end) {
            for (int k = 0; k < 200; ++k, ++t)
                block[size_t(k)] = signal(double(t) / fs);
            if (dsp.processBlock(block.data(), audio.data(), 0)) {
                for (const Sample& s : audio) {
                    entryLeft.push_back(s.re);
                    entryRight.push_back(s.im);
                }
            }
            rx->inputRing().write(block.data(), 200);
            if (rx->inputRing().fill() < rx->wakeThreshold())
                continue;
            rx->processBuffered();
            while (dsp.mixer().mixOnce()) {
            }
            while (dsp.soundCardConverter().convertPending() > 0) {
                CircularBuffer<Sample>& out = dsp.soundCardConverter().outputRing();
                const uint32_t n = out.fill();
                out.read(drain.data(), n);
                for (uint32_t i = 0; i < n; ++i) {
                    mainLeft.push_back(drain[i].re);
                    mainRight.push_back(drain[i].im);
                }
            }
        }
    }

    static std::vector<double> tail(const std::vector<double>& v, size_t n)
    {
        return std::vector<double>(v.end() - long(std::min(n, v.size())), v.end());
    }
};

} // namespace enginetest
