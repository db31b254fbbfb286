// Mode-stage speed as multiples of real time (counter x_realtime): every stage
// on 200-sample blocks at the working rate 39062.5 Hz, the WFM receiver on
// 1600-sample blocks at 312500 Hz, NR and ANF at their largest tap count
// (257). Plain references measured in the same run:
// - the FM loop with std::atan2 and std::polar instead of the fast atan2;
// - NR with std::complex arithmetic over a std::deque history.
#include "zorvaniDsp/Demodulators/DemodAMZorvani.h"
#include "zorvaniDsp/Demodulators/FmDemodZorvani.h"
#include "zorvaniDsp/Demodulators/SamDemodZorvani.h"
#include "zorvaniDsp/Demodulators/SquelchZorvani.h"
#include "zorvaniDsp/Demodulators/WfmReceiverZorvani.h"
#include "zorvaniDsp/Filters/BiQuadFilter.h"
#include "zorvaniDsp/Filters/IQNotchFilter.h"
#include "zorvaniDsp/Filters/LmsFilterZorvani.h"
#include "zorvaniDsp/Filters/SurrounfCW.h"
#include "zorvaniDsp/Filters/ZorvaniNB.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <deque>
#include <random>
#include <vector>

using Sample = Ostrovix::complex<double>;

namespace {

constexpr double kRate = 39062.5;
constexpr int kBlock = 200;

std::vector<Sample> signal(int n)
{
    std::mt19937 rng(1);
    std::normal_distribution<double> g(0.0, 0.05);
    std::vector<Sample> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        x[i] = {0.5 * std::cos(0.161 * i) + g(rng), 0.5 * std::sin(0.161 * i) + g(rng)};
    return x;
}

void realTime(benchmark::State& state, int samplesPerIteration, double rate = kRate)
{
    state.counters["x_realtime"] =
        benchmark::Counter(double(state.iterations()) * samplesPerIteration / rate, benchmark::Counter::kIsRate);
}

// Runs `stage(block)` on a fresh copy of one block per iteration.
template <typename F>
void runBlocks(benchmark::State& state, F stage)
{
    const std::vector<Sample> source = signal(kBlock);
    std::vector<Sample> x = source;
    for (auto _ : state) {
        x = source;
        stage(x.data());
        benchmark::DoNotOptimize(x.data());
    }
    realTime(state, kBlock);
}

void BM_Am(benchmark::State& state)
{
    DemodAMZorvani am;
    runBlocks(state, [&](Sample* x) { am.process(x, kBlock); });
}
BENCHMARK(BM_Am);

void BM_Sam(benchmark::State& state)
{
    SamDemodZorvani sam;
    runBlocks(state, [&](Sample* x) { sam.process(x, kBlock); });
}
BENCHMARK(BM_Sam);

void BM_Fm(benchmark::State& state)
{
    FmDemodZorvani fm;
    runBlocks(state, [&](Sample* x) { fm.process(x, kBlock); });
}
BENCHMARK(BM_Fm);

// The same loop with the library's atan2 and complex exponential.
void BM_FmReference(benchmark::State& state)
{
    double theta = 0.0, nu = 0.0;
    runBlocks(state, [&](Sample* x) {
        for (int k = 0; k < kBlock; ++k) {
            const std::complex<double> v = std::complex<double>(x[k].re, x[k].im) * std::polar(1.0, -theta);
            const double e = std::atan2(v.imag(), v.real());
            nu += FmDemodZorvani::kBeta * e;
            theta = std::fmod(theta + FmDemodZorvani::kAlpha * e + nu, 2.0 * M_PI);
            x[k] = {nu, nu};
        }
    });
}
BENCHMARK(BM_FmReference);

void BM_FmSquelchCtcss(benchmark::State& state)
{
    FmSquelch squelch;
    squelch.setEnabled(true);
    squelch.setCtcssEnabled(true);
    runBlocks(state, [&](Sample* x) { squelch.process(x, kBlock, -60.0); });
}
BENCHMARK(BM_FmSquelchCtcss);

void BM_CarrierSquelch(benchmark::State& state)
{
    CarrierSquelch squelch;
    squelch.setEnabled(true);
    runBlocks(state, [&](Sample* x) { squelch.process(x, kBlock, -60.0); });
}
BENCHMARK(BM_CarrierSquelch);

void BM_Lms(benchmark::State& state, LmsFilterZorvani::Kind kind)
{
    LmsFilterZorvani f(kind);
    f.setEnabled(true);
    f.setTaps(static_cast<int>(state.range(0)));
    runBlocks(state, [&](Sample* x) { f.process(x, kBlock); });
}
BENCHMARK_CAPTURE(BM_Lms, nr, LmsFilterZorvani::Kind::NoiseReduction)->Arg(40)->Arg(257);
BENCHMARK_CAPTURE(BM_Lms, anf, LmsFilterZorvani::Kind::AutoNotch)->Arg(64)->Arg(257);

// NR written plainly: std::complex, a deque history, two passes over the taps.
void BM_NrReference(benchmark::State& state)
{
    const int taps = 257, delay = 20;
    const double mu = 0.0025, leak = 0.005;
    std::deque<std::complex<double>> history(taps + delay + 1);
    std::vector<std::complex<double>> w(taps);
    runBlocks(state, [&](Sample* x) {
        for (int n = 0; n < kBlock; ++n) {
            const std::complex<double> in(x[n].re, x[n].im);
            history.push_front(in);
            history.pop_back();
            std::complex<double> y = 0.0;
            double p = 0.0;
            for (int k = 0; k < taps; ++k) {
                y += std::conj(w[k]) * history[delay + k];
                p += std::norm(history[delay + k]);
            }
            const std::complex<double> e = in - y;
            const double g = mu / std::max(p, 1e-12);
            for (int k = 0; k < taps; ++k)
                w[k] = (1.0 - mu * leak) * w[k] + g * history[delay + k] * std::conj(e);
            x[n] = {y.real(), y.imag()};
        }
    });
}
BENCHMARK(BM_NrReference);

void BM_NoiseBlankers(benchmark::State& state)
{
    ZorvaniNB nb;
    nb.setNb1(true);
    nb.setNb2(true);
    runBlocks(state, [&](Sample* x) { nb.process(x, kBlock); });
}
BENCHMARK(BM_NoiseBlankers);

void BM_IqNotches(benchmark::State& state)
{
    IQNotchFilter bank;
    bank.setEnabled(true);
    for (int id = 0; id < static_cast<int>(state.range(0)); ++id) {
        bank.setNotchEnabled(id, true);
        bank.setNotchFrequency(id, 1900000.0 + 1000.0 * id);
    }
    runBlocks(state, [&](Sample* x) { bank.process(x, kBlock); });
}
BENCHMARK(BM_IqNotches)->Arg(1)->Arg(8);

void BM_PeakFilter(benchmark::State& state)
{
    BiQuadFilter apf;
    apf.init(BiQuadFilter::Peaking, 700.0 / kRate, 7.0, 30.0);
    apf.setEnabled(true);
    runBlocks(state, [&](Sample* x) { apf.process(x, kBlock); });
}
BENCHMARK(BM_PeakFilter);

void BM_BinauralCw(benchmark::State& state)
{
    SurrounfCW dse;
    dse.setEnabled(true);
    runBlocks(state, [&](Sample* x) { dse.process(x, kBlock); });
}
BENCHMARK(BM_BinauralCw);

void BM_Wfm(benchmark::State& state)
{
    constexpr double inRate = 312500.0;
    constexpr int block = 1600;
    WfmReceiverZorvani wfm(inRate, kRate, state.range(0) != 0, 50e-6);
    std::vector<Ostrovix::complex<float>> in(block);
    double phase = 0.0;
    for (int k = 0; k < block; ++k) {
        phase += 2.0 * M_PI * 75000.0 * (0.5 * std::sin(0.02 * k) + 0.1 * std::sin(0.382 * k)) / inRate;
        in[k] = {static_cast<float>(std::cos(phase)), static_cast<float>(std::sin(phase))};
    }
    std::vector<Sample> out(static_cast<size_t>(WfmReceiverZorvani::maxOutput(block, inRate, kRate)));
    for (auto _ : state)
        benchmark::DoNotOptimize(wfm.process(in.data(), block, out.data()));
    realTime(state, block, inRate);
}
BENCHMARK(BM_Wfm)->ArgName("stereo")->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
