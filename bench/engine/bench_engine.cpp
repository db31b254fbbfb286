// Engine speed as multiples of real time at each device rate, and the share
// of one core that the full chain takes:
// - the per-block entry (wide-band stages of one IQ packet), plain and with
//   both blankers and a notch working;
// - one receiver's block (one wake-up: decimation x 200 input samples) per
//   mode class, next to a naive reference of its core in the same run: a
//   per-sample sin/cos mixer and a direct-form FIR of the same taps for both
//   channels;
// - the full chain at 312500 Hz: two receivers with two channels each, their
//   packets through the per-block entry, the mixer and the sound-card
//   converter (goal: under 10 % of one core).
// Counters: x_realtime = seconds of signal per CPU second; core_percent = CPU
// share of one core in real-time use (the library prints it with a trailing
// "s", an artefact of its inverted-rate counter).
#include "zorvaniDsp/Audio/MixerZorvani.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

using Sample = Ostrovix::complex<double>;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRates[4] = {39062.5, 78125.0, 156250.0, 312500.0};

// A weak tone 1 kHz above the tuned frequency over a little noise, computed
// once: 0.4 s (a whole number of tone periods and of 200-sample blocks at
// every rate) played in a loop, so that the timed loops time the chain only.
class Source {
public:
    explicit Source(double fs) : m_signal(size_t(0.4 * fs))
    {
        uint32_t noise = 12345u;
        for (size_t k = 0; k < m_signal.size(); ++k) {
            const double ph = 2.0 * kPi * 1000.0 * double(k) / fs;
            noise = noise * 1664525u + 1013904223u;
            const double e = (double(noise >> 8) / double(1u << 24) - 0.5) * 1e-3;
            m_signal[k] = Sample{0.01 * std::cos(ph) + e, 0.01 * std::sin(ph) - e};
        }
    }
    void fill(Sample* x, int n)
    {
        for (int k = 0; k < n; ++k) {
            x[k] = m_signal[m_pos];
            m_pos = m_pos + 1 == m_signal.size() ? 0 : m_pos + 1;
        }
    }

private:
    std::vector<Sample> m_signal;
    size_t m_pos = 0;
};

void realTime(benchmark::State& state, double samplesPerIteration, double fs)
{
    const double seconds = double(state.iterations()) * samplesPerIteration / fs;
    state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
    state.counters["core_percent"] =
        benchmark::Counter(seconds / 100.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Filter edges per mode for the receiver benchmarks.
void configure(zorvaniDsp& dsp, int rx, int mode)
{
    dsp.setMode(rx, mode);
    switch (mode) {
    case ReceiverZorvani::AM:
        dsp.setFilter(rx, -5000.0, 5000.0);
        break;
    case ReceiverZorvani::CW:
        dsp.setFilter(rx, -250.0, 250.0);
        break;
    case ReceiverZorvani::NFM:
        dsp.setFilter(rx, -6000.0, 6000.0);
        break;
    case ReceiverZorvani::WFM:
        dsp.setFilter(rx, -100000.0, 100000.0);
        break;
    default:
        dsp.setFilter(rx, 100.0, 2900.0);
        break;
    }
}

void BM_BlockEntry(benchmark::State& state)
{
    const double fs = kRates[state.range(0)];
    const bool stages = state.range(1) != 0;
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    dsp.setSampleRate(fs);
    if (stages) {
        dsp.setNb1(0, true);
        dsp.setNb2(0, true);
    }
    Source source(fs);
    std::vector<Sample> block(200), audio(200);
    CircularBuffer<Sample>& raw = *dsp.rawIqRing(0);
    std::vector<Sample> sink(200);
    for (auto _ : state) {
        source.fill(block.data(), 200);
        benchmark::DoNotOptimize(dsp.processBlock(block.data(), audio.data(), 0));
        raw.read(sink.data(), 200);
    }
    realTime(state, 200.0, fs);
}
BENCHMARK(BM_BlockEntry)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->ArgNames({"rate", "blankers"});

void BM_ReceiverBlock(benchmark::State& state)
{
    const double fs = kRates[state.range(0)];
    const int mode = int(state.range(1));
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    dsp.setSampleRate(fs);
    configure(dsp, 0, mode);
    ReceiverZorvani* rx = dsp.receiver(0);
    const int d = rx->decimation();
    Source source(fs);
    std::vector<Sample> block(200), sink(ReceiverZorvani::kRingSize);
    for (auto _ : state) {
        for (int i = 0; i < d; ++i) {
            source.fill(block.data(), 200);
            rx->inputRing().write(block.data(), 200);
        }
        rx->processBuffered();
        for (int ch = 0; ch < 2; ++ch)
            rx->outputRing(ch).read(sink.data(), rx->outputRing(ch).fill());
    }
    realTime(state, 200.0 * d, fs);
}
BENCHMARK(BM_ReceiverBlock)
    ->ArgsProduct({{0, 1, 2, 3},
                   {ReceiverZorvani::USB, ReceiverZorvani::AM, ReceiverZorvani::SAM, ReceiverZorvani::CW,
                    ReceiverZorvani::NFM, ReceiverZorvani::DIGU, ReceiverZorvani::WFM}})
    ->ArgNames({"rate", "mode"});

// The naive core of an SSB channel at the working rate: sin/cos per sample
// and a direct-form complex FIR of the default 1537 taps, for two channels.
void BM_NaiveSsbReference(benchmark::State& state)
{
    const double fs = 39062.5;
    const int taps = 1537;
    std::vector<Sample> h(taps);
    for (int k = 0; k < taps; ++k) {
        const double m = k - taps / 2;
        const double a = m == 0 ? 2800.0 / fs : std::sin(kPi * m * 2800.0 / fs) / (kPi * m);
        h[size_t(k)] = Sample{a * std::cos(kPi * m * 3000.0 / fs), a * std::sin(kPi * m * 3000.0 / fs)};
    }
    std::vector<Sample> line(taps * 2), block(200);
    Source source(fs);
    double phase = 0.0;
    int pos = 0;
    double sink = 0.0;
    for (auto _ : state) {
        source.fill(block.data(), 200);
        for (int ch = 0; ch < 2; ++ch) {
            for (Sample& x : block) {
                const double c = std::cos(phase), s = std::sin(phase);
                phase += 2.0 * kPi * 100.0 / fs;
                const Sample y{x.re * c - x.im * s, x.re * s + x.im * c};
                line[size_t(pos)] = line[size_t(pos + taps)] = y;
                double re = 0.0, im = 0.0;
                for (int k = 0; k < taps; ++k) {
                    const Sample& v = line[size_t(pos + k)];
                    re += v.re * h[size_t(k)].re - v.im * h[size_t(k)].im;
                    im += v.re * h[size_t(k)].im + v.im * h[size_t(k)].re;
                }
                pos = (pos + 1) % taps;
                sink += re + im;
            }
        }
    }
    benchmark::DoNotOptimize(sink);
    realTime(state, 200.0, fs);
}
BENCHMARK(BM_NaiveSsbReference);

// Two receivers, two channels each, at 312500 Hz: every packet through the
// per-block entry, each receiver's wake-up, the mixer and the sound-card
// converter. One iteration is one wake-up's worth (8 packets) per receiver.
void BM_FullChain312500(benchmark::State& state)
{
    const double fs = 312500.0;
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    dsp.setSampleRate(fs);
    configure(dsp, 0, ReceiverZorvani::USB);
    configure(dsp, 1, ReceiverZorvani::AM);
    dsp.setChannelOffset(0, 1, 5000.0);
    dsp.setChannelOffset(1, 1, -8000.0);
    Source sources[2] = {Source(fs), Source(fs)};
    std::vector<Sample> block(200), audio(200), sink(ResamplerSCZorvani::kRingFrames);
    ResamplerSCZorvani& soundCard = dsp.soundCardConverter();
    for (auto _ : state) {
        for (int i = 0; i < 8; ++i) {
            for (quint32 r = 0; r < 2; ++r) {
                sources[r].fill(block.data(), 200);
                dsp.processBlock(block.data(), audio.data(), r);
                dsp.rawIqRing(int(r))->read(sink.data(), 200);
                dsp.receiver(int(r))->inputRing().write(block.data(), 200);
            }
        }
        for (int r = 0; r < 2; ++r)
            dsp.receiver(r)->processBuffered();
        while (dsp.mixer().mixOnce()) {
        }
        while (soundCard.convertPending() > 0)
            soundCard.outputRing().read(sink.data(), soundCard.outputRing().fill());
    }
    realTime(state, 1600.0, fs);
}
BENCHMARK(BM_FullChain312500);

} // namespace

BENCHMARK_MAIN();
