// Audio-path speed as multiples of real time at the working rate
// (39062.5 Hz), each next to a plain reference measured in the same run:
// - the converter's chunk conversion against a direct zero-stuffed FIR that
//   evaluates all 8 L taps for every output frame;
// - the equalizer's overlap-save block against a direct-form FIR of the same
//   1023 taps;
// - one mixing pass of two receivers.
#include "zorvaniDsp/EqualizerZorvani.h"
#include "zorvaniDsp/Audio/MixerZorvani.h"
#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

using Frame = Ostrovix::complex<double>;

namespace {

constexpr double kRate = 39062.5;

std::vector<Frame> tone(int n)
{
    std::vector<Frame> x(n);
    for (int i = 0; i < n; ++i)
        x[i] = {0.5 * std::cos(0.161 * i), 0.5 * std::sin(0.161 * i)};
    return x;
}

void realTime(benchmark::State& state, int framesPerIteration)
{
    state.counters["x_realtime"] = benchmark::Counter(
        double(state.iterations()) * framesPerIteration / kRate, benchmark::Counter::kIsRate);
}

void BM_ConverterChunk(benchmark::State& state)
{
    ResamplerSCZorvani sc;
    const auto x = tone(ResamplerSCZorvani::kChunkFrames);
    std::vector<Frame> sink(ResamplerSCZorvani::kRingFrames);
    for (auto _ : state) {
        benchmark::DoNotOptimize(sc.convert(x.data(), ResamplerSCZorvani::kChunkFrames));
        sc.outputRing().read(sink.data(), sc.outputRing().fill());
    }
    realTime(state, ResamplerSCZorvani::kChunkFrames);
}
BENCHMARK(BM_ConverterChunk);

// Interpolate by L with zeros, filter with all taps, keep every M-th frame.
void BM_ConverterDirectReference(benchmark::State& state)
{
    Resampler design;
    design.init(float(kRate), 48000.0f);
    const std::vector<float>& h = design.coefficients();
    const int L = design.interpolation();
    const int M = design.decimation();
    const int taps = int(h.size());
    const int inFrames = 625;
    const int historyFrames = taps / L + 1;
    const auto x = tone(inFrames + historyFrames);
    std::vector<Frame> y(768);
    for (auto _ : state) {
        int out = 0;
        for (long t = long(historyFrames) * L; t < long(historyFrames + inFrames) * L; t += M) {
            float re = 0.0f, im = 0.0f;
            for (int k = 0; k < taps; ++k) {
                const long u = t - k;
                if (u % L == 0) {
                    re += h[k] * float(x[u / L].re);
                    im += h[k] * float(x[u / L].im);
                }
            }
            y[out % 768] = {double(L) * re, double(L) * im};
            ++out;
        }
        benchmark::DoNotOptimize(y.data());
    }
    realTime(state, inFrames);
}
BENCHMARK(BM_ConverterDirectReference);

void BM_EqualizerBlock(benchmark::State& state)
{
    EqualizerZorvani eq;
    QList<int> gains;
    for (int k = 0; k < EqualizerZorvani::kBands; ++k)
        gains << (k % 7) - 3;
    eq.setGains(gains);
    eq.setEnabled(true);
    auto x = tone(MixerZorvani::kBlockFrames);
    for (auto _ : state) {
        eq.process(x.data(), MixerZorvani::kBlockFrames);
        benchmark::DoNotOptimize(x.data());
    }
    realTime(state, MixerZorvani::kBlockFrames);
}
BENCHMARK(BM_EqualizerBlock);

void BM_EqualizerDirectReference(benchmark::State& state)
{
    const int taps = EqualizerZorvani::kTaps;
    const int n = MixerZorvani::kBlockFrames;
    std::vector<double> h(taps);
    for (int k = 0; k < taps; ++k)
        h[k] = std::sin(0.01 * (k + 1)) / (k + 1);
    std::vector<Frame> line(taps + n);
    auto x = tone(n);
    for (auto _ : state) {
        std::copy(line.begin() + n, line.end(), line.begin());
        std::copy(x.begin(), x.end(), line.begin() + taps);
        for (int i = 0; i < n; ++i) {
            double re = 0.0, im = 0.0;
            for (int k = 0; k < taps; ++k) {
                re += h[k] * line[taps + i - k].re;
                im += h[k] * line[taps + i - k].im;
            }
            x[i] = {re, im};
        }
        benchmark::DoNotOptimize(x.data());
    }
    realTime(state, n);
}
BENCHMARK(BM_EqualizerDirectReference);

class BenchSource : public MixerSource {
public:
    CircularBuffer<Frame>& outputRing(int channel) override { return rings[channel]; }
    int activeMode() const override { return 4; }
    bool binauralCw() const override { return false; }
    CircularBuffer<Frame> rings[2]{CircularBuffer<Frame>(4096), CircularBuffer<Frame>(4096)};
};

void BM_MixerPass(benchmark::State& state)
{
    BenchSource rx0, rx1;
    auto soundCard = std::make_shared<ResamplerSCZorvani>();
    MixerZorvani mixer({&rx0, &rx1}, soundCard);
    mixer.setGain(0, 0, 0.7, 10.0);
    mixer.setLevelStageEnabled(true);
    const int n = MixerZorvani::kBlockFrames;
    const auto x = tone(n);
    std::vector<Frame> sink(n);
    for (auto _ : state) {
        for (BenchSource* s : {&rx0, &rx1}) {
            s->rings[0].write(x.data(), n);
            s->rings[1].write(x.data(), n);
        }
        mixer.mixOnce();
        mixer.outputRing().read(sink.data(), n);
        soundCard->inputRing().read(sink.data(), n);
    }
    realTime(state, n);
}
BENCHMARK(BM_MixerPass);

} // namespace

BENCHMARK_MAIN();
