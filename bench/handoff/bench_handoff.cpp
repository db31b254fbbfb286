// The price of one hand-off between threads on this machine: a block passed
// from one thread to a sleeping worker that wakes for it (SleepingWorker, as
// the receivers, the mixer and the converters use it). A pacing thread wakes
// on its clock at a block or packet rate and notifies the first of a chain of
// workers; each worker notifies the next. The process's CPU time per second of
// pacing is measured with the chain and, in the same iteration, for the
// pacing thread alone. Counters:
// - core_percent: share of one core with the chain;
// - reference_percent: the pacing thread alone;
// - us_per_handoff: the difference per hand-off, in microseconds of CPU.
// Multiplied by the whole host's wake-ups per second (bench/host/host_cpu.sh),
// it gives the share of the host's CPU that goes to handing blocks on rather
// than to processing them.
#include "common/SleepingWorker.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// One link of the chain: wakes when handed a block, hands it on.
class Stage {
public:
    void start(Stage* next)
    {
        m_worker.start([this, next] {
            if (m_blocks.exchange(0) == 0)
                return false;
            m_handled.fetch_add(1);
            if (next)
                next->hand();
            return true;
        });
    }
    void stop() { m_worker.stop(); }
    void hand()
    {
        m_blocks.fetch_add(1);
        m_worker.notify();
    }
    long handled() const { return m_handled.load(); }

private:
    std::atomic<int> m_blocks{0};
    std::atomic<long> m_handled{0};
    SleepingWorker m_worker;
};

// CPU seconds used while the calling thread wakes `rate` times a second for
// `seconds`, handing a block to `first` (if any) each time.
double paced(double rate, double seconds, Stage* first)
{
    const long wakes = long(rate * seconds);
    const double cpu0 = processCpuSeconds();
    const Clock::time_point start = Clock::now();
    for (long k = 1; k <= wakes; ++k) {
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(double(k) / rate)));
        if (first)
            first->hand();
    }
    return processCpuSeconds() - cpu0;
}

void BM_HandOff(benchmark::State& state)
{
    const double rate = double(state.range(0));
    const int length = int(state.range(1));
    constexpr double kSeconds = 2.0;
    std::vector<std::unique_ptr<Stage>> chain;
    for (int k = 0; k < length; ++k)
        chain.push_back(std::make_unique<Stage>());
    for (int k = length - 1; k >= 0; --k)
        chain[size_t(k)]->start(k + 1 < length ? chain[size_t(k) + 1].get() : nullptr);

    double withChain = 0.0, alone = 0.0;
    for (auto _ : state) {
        alone += paced(rate, kSeconds, nullptr);
        withChain += paced(rate, kSeconds, chain.front().get());
    }
    for (auto& stage : chain)
        stage->stop();
    // Blocks handed faster than a worker woke are taken together: count the
    // wake-ups that happened, not the blocks handed.
    long handOffs = 0;
    for (const auto& stage : chain)
        handOffs += stage->handled();
    const double total = kSeconds * double(state.iterations());
    state.counters["core_percent"] = 100.0 * withChain / total;
    state.counters["reference_percent"] = 100.0 * alone / total;
    state.counters["us_per_handoff"] = handOffs > 0 ? 1e6 * (withChain - alone) / double(handOffs) : 0.0;
}
// 195.3 blocks a second at 39062.5 Hz, 1562.5 packets a second at 312500 Hz;
// chains of one hand-off, and of six (a block's way from the socket thread to
// the receiver, the mixer, three converters and the host's window thread).
BENCHMARK(BM_HandOff)
    ->ArgsProduct({{195, 1562}, {1, 6}})
    ->ArgNames({"per_second", "handoffs"})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
