// Speed of the core DSP blocks as multiples of real time at the working rate
// (counter "xRealTime"), and of the fast filters against plain references;
// the ratios are printed after the table.
#include "zorvaniDsp/Filters/AgcZorvani.h"
#include "zorvaniDsp/Filters/DecimatorZorvani.h"
#include "zorvaniDsp/Filters/DownConverterZorvani.h"
#include "zorvaniDsp/Filters/IirLowpassZorvani.h"
#include "zorvaniDsp/Filters/Resampler.h"
#include "zorvaniDsp/Meter/MeterZorvani.h"
#include "zorvaniDsp/zorvaniFFT/FastFirZorvani.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using C = Ostrovix::complex<double>;
constexpr double kRate = 39062.5;
constexpr int kBlock = 200;

std::vector<C> noise(int n)
{
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> d(-0.5, 0.5);
    std::vector<C> v(static_cast<size_t>(n));
    for (auto& c : v)
        c = {d(gen), d(gen)};
    return v;
}

void realTime(benchmark::State& state, int samplesPerIteration)
{
    state.counters["xRealTime"] =
        benchmark::Counter(samplesPerIteration / kRate, benchmark::Counter::kIsIterationInvariantRate);
}

// Plain direct-form complex FIR over a history ring.
class DirectFir {
public:
    explicit DirectFir(const std::vector<C>& h) : m_h(h), m_history(h.size(), C{0, 0}) {}
    void process(C* x, int n)
    {
        const size_t taps = m_h.size();
        for (int i = 0; i < n; ++i) {
            m_history[m_pos] = x[i];
            double re = 0, im = 0;
            size_t j = m_pos;
            for (size_t k = 0; k < taps; ++k) {
                re += m_h[k].re * m_history[j].re - m_h[k].im * m_history[j].im;
                im += m_h[k].re * m_history[j].im + m_h[k].im * m_history[j].re;
                j = j == 0 ? taps - 1 : j - 1;
            }
            x[i] = {re, im};
            m_pos = m_pos + 1 == taps ? 0 : m_pos + 1;
        }
    }

private:
    std::vector<C> m_h;
    std::vector<C> m_history;
    size_t m_pos = 0;
};

// The polyphase loop written straight from its definition: a ring of the
// last taps samples per part and a stride-L walk over the coefficients.
class DirectPolyphase {
public:
    DirectPolyphase(const std::vector<float>& h, int L, int M) : m_h(h), m_l(L), m_m(M)
    {
        size_t size = 1;
        while (size <= h.size())
            size <<= 1;
        m_re.assign(size, 0.0f);
        m_im.assign(size, 0.0f);
        m_mask = size - 1;
    }
    int process(const C* in, C* out, int n)
    {
        int written = 0;
        const int taps = int(m_h.size());
        for (int i = 0; i < n; ++i) {
            m_re[m_write] = float(in[i].re);
            m_im[m_write] = float(in[i].im);
            for (; m_phase < m_l; m_phase += m_m) {
                float yr = 0, yi = 0;
                for (int k = m_phase; k < taps; k += m_l) {
                    const size_t j = (m_write - size_t(k / m_l)) & m_mask;
                    yr += m_h[k] * m_re[j];
                    yi += m_h[k] * m_im[j];
                }
                out[written++] = {double(m_l * yr), double(m_l * yi)};
            }
            m_phase -= m_l;
            m_write = (m_write + 1) & m_mask;
        }
        return written;
    }

private:
    std::vector<float> m_h, m_re, m_im;
    int m_l, m_m, m_phase = 0;
    size_t m_write = 0, m_mask = 0;
};

std::vector<C> firTaps(int taps)
{
    // Any complex taps do for timing.
    std::vector<C> h(static_cast<size_t>(taps));
    std::mt19937 gen(2);
    std::uniform_real_distribution<double> d(-1e-3, 1e-3);
    for (auto& c : h)
        c = {d(gen), d(gen)};
    return h;
}

void BM_DownConverter(benchmark::State& state)
{
    DownConverterZorvani dc;
    dc.setFrequency(-0.0256);
    auto x = noise(kBlock);
    for (auto _ : state) {
        dc.process(x.data(), kBlock);
        benchmark::DoNotOptimize(x.data());
    }
    realTime(state, kBlock);
}
BENCHMARK(BM_DownConverter);

void BM_FastFir(benchmark::State& state)
{
    FastFirZorvani fir;
    fir.init(0.0, 0.07, uint32_t(state.range(0)));
    auto x = noise(kBlock);
    for (auto _ : state) {
        fir.process(x.data(), kBlock);
        benchmark::DoNotOptimize(x.data());
    }
    realTime(state, kBlock);
}
BENCHMARK(BM_FastFir)->Arg(1537)->Arg(501);

void BM_DirectFir(benchmark::State& state)
{
    DirectFir fir(firTaps(int(state.range(0))));
    auto x = noise(kBlock);
    for (auto _ : state) {
        fir.process(x.data(), kBlock);
        benchmark::DoNotOptimize(x.data());
    }
    realTime(state, kBlock);
}
BENCHMARK(BM_DirectFir)->Arg(1537)->Arg(501);

// Decimation of one receiver block (200 samples at the working rate) from
// factor x the working rate: the half-band cascade, and the order-11 IIR at
// the input rate keeping every factor-th sample, as the chain decimated before.
void BM_Decimator(benchmark::State& state)
{
    const int factor = int(state.range(0));
    DecimatorZorvani decimator;
    decimator.init(factor, kRate, kRate / 2.0 - 2000.0);
    const auto source = noise(kBlock * factor);
    auto x = source;
    for (auto _ : state) {
        std::copy(source.begin(), source.end(), x.begin());
        benchmark::DoNotOptimize(decimator.process(x.data(), kBlock * factor));
    }
    realTime(state, kBlock);
}
BENCHMARK(BM_Decimator)->Arg(2)->Arg(4)->Arg(8);

void BM_IirDecimation(benchmark::State& state)
{
    const int factor = int(state.range(0));
    IirLowpassZorvani iir;
    iir.init((kRate / 2.0 - 2000.0) / (kRate * factor), 11);
    const auto source = noise(kBlock * factor);
    auto x = source;
    for (auto _ : state) {
        std::copy(source.begin(), source.end(), x.begin());
        iir.process(x.data(), kBlock * factor);
        for (int k = 0; k < kBlock; ++k)
            x[size_t(k)] = x[size_t(k * factor)];
        benchmark::DoNotOptimize(x.data());
    }
    realTime(state, kBlock);
}
BENCHMARK(BM_IirDecimation)->Arg(2)->Arg(4)->Arg(8);

void BM_Meter(benchmark::State& state)
{
    MeterZorvani meter;
    auto x = noise(kBlock);
    for (auto _ : state) {
        meter.process(x.data(), kBlock);
        benchmark::DoNotOptimize(meter.level());
    }
    realTime(state, kBlock);
}
BENCHMARK(BM_Meter);

void BM_Agc(benchmark::State& state)
{
    AgcZorvani agc;
    agc.setSampleRate(kRate);
    agc.setMaxGain(120.0);
    agc.setMinGain(-40.0);
    agc.setParameters(1.0, 400.0, 400, true);
    auto x = noise(kBlock);
    for (auto _ : state) {
        agc.process(x.data(), kBlock);
        benchmark::DoNotOptimize(x.data());
    }
    realTime(state, kBlock);
}
BENCHMARK(BM_Agc);

void BM_Resampler(benchmark::State& state)
{
    Resampler r;
    r.init(39062.5f, 48000.0f);
    auto x = noise(kBlock);
    std::vector<C> out(static_cast<size_t>(Resampler::maxOutput(kBlock, 768, 625)));
    for (auto _ : state)
        benchmark::DoNotOptimize(r.process(x.data(), out.data(), kBlock));
    realTime(state, kBlock);
}
BENCHMARK(BM_Resampler);

void BM_DirectPolyphase(benchmark::State& state)
{
    Resampler r;
    r.init(39062.5f, 48000.0f);
    DirectPolyphase direct(r.coefficients(), 768, 625);
    auto x = noise(kBlock);
    std::vector<C> out(static_cast<size_t>(Resampler::maxOutput(kBlock, 768, 625)));
    for (auto _ : state)
        benchmark::DoNotOptimize(direct.process(x.data(), out.data(), kBlock));
    realTime(state, kBlock);
}
BENCHMARK(BM_DirectPolyphase);

// Keeps each run's CPU time (robust on a shared machine) for the ratios
// printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                times[run.benchmark_name()] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void ratio(const std::string& fast, const std::string& reference) const
    {
        const auto f = times.find(fast), r = times.find(reference);
        if (f != times.end() && r != times.end() && f->second > 0)
            std::printf("%-28s %8.1f x faster than %s\n", fast.c_str(), r->second / f->second, reference.c_str());
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.ratio("BM_FastFir/1537", "BM_DirectFir/1537");
    reporter.ratio("BM_FastFir/501", "BM_DirectFir/501");
    reporter.ratio("BM_Resampler", "BM_DirectPolyphase");
    reporter.ratio("BM_Decimator/8", "BM_IirDecimation/8");
    benchmark::Shutdown();
    return 0;
}
