// Speed of one panorama frame against the bare FFTW transform of the same
// size, and of the recorder's packet hand-off against a plain copy. Ratios are
// measured in the same run; goal: a whole frame under 3x the transform.
#include "recording/IQFile.h"
#include "spectrum/PanSpectrumZorvaniDDC.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <ctime>
#include <thread>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Thread CPU time: the machine is shared, and wall-clock ratios would mostly
// measure the neighbours.
double cpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

std::vector<Ostrovix::complex<double>> noisyTone(int n)
{
    std::vector<Ostrovix::complex<double>> s(static_cast<size_t>(n));
    uint32_t state = 12345;
    for (int k = 0; k < n; ++k) {
        state = state * 1664525u + 1013904223u;
        const double noise = (double(state >> 8) / double(1 << 24) - 0.5) * 1e-3;
        s[size_t(k)] = {0.5 * std::cos(0.1 * k) + noise, 0.5 * std::sin(0.1 * k) - noise};
    }
    return s;
}

// The bare transform: an in-place single-precision FFTW plan of n points with
// the same planning effort as the panorama's.
class BareFft {
public:
    explicit BareFft(int n) : m_buf(fftwf_alloc_complex(size_t(n)))
    {
        m_plan = fftwf_plan_dft_1d(n, m_buf, m_buf, FFTW_FORWARD, FFTW_ESTIMATE);
        for (int k = 0; k < n; ++k) {
            m_buf[k][0] = float(std::cos(0.1 * k));
            m_buf[k][1] = float(std::sin(0.1 * k));
        }
    }
    ~BareFft()
    {
        fftwf_destroy_plan(m_plan);
        fftwf_free(m_buf);
    }
    void run()
    {
        fftwf_execute(m_plan);
        benchmark::DoNotOptimize(m_buf[0][0]);
    }

private:
    fftwf_complex* m_buf;
    fftwf_plan m_plan;
};

// Each iteration times one bare transform and one whole frame back to back,
// so both see the same machine load.
void BM_PanoramaFrame(benchmark::State& state)
{
    const int n = int(state.range(0));
    PanSpectrumZorvaniDDC pan(nullptr, 0);
    pan.setFftSize(n);
    pan.setOn(true);
    pan.setWaterfallFilter(state.range(1) != 0);
    pan.setHideSlopes(state.range(1) != 0);
    const auto samples = noisyTone(n);
    pan.writeSamples(samples.data(), n);
    BareFft fft(n);
    for (int i = 0; i < 8; ++i) {
        pan.writeSamples(samples.data(), 200);
        pan.run();
        fft.run();
    }
    double frameSeconds = 0, fftSeconds = 0;
    for (auto _ : state) {
        pan.writeSamples(samples.data(), 200); // marks the frame ready
        const double t0 = cpuSeconds();
        fft.run();
        const double t1 = cpuSeconds();
        pan.run();
        const double t2 = cpuSeconds();
        fftSeconds += t1 - t0;
        frameSeconds += t2 - t1;
    }
    const double perFrame = frameSeconds / double(state.iterations());
    state.counters["frame_us"] = perFrame * 1e6;
    state.counters["fftw_us"] = fftSeconds / double(state.iterations()) * 1e6;
    state.counters["x_fftw"] = frameSeconds / fftSeconds;
    // Share of one core at the default 16 ms frame interval.
    state.counters["x_realtime"] = perFrame / 0.016;
}
BENCHMARK(BM_PanoramaFrame)->Args({4096, 0})->Args({4096, 1})->Args({16384, 0})->Args({16384, 1});

// Hand-off of packets into the recorder's ring against plain copies of the
// same payloads. Batches of 50 packets fit the ring easily; between batches
// (untimed) the writer thread drains it, so every timed hand-off is a copy.
void BM_RecorderHandOff(benchmark::State& state)
{
    constexpr int kBatch = 50;
    QTemporaryDir dir;
    ox::file::IQFile file;
    file.setFormat(ox::file::IQFile::Format1);
    if (!file.open(dir.filePath("bench.wav"))) {
        state.SkipWithError("cannot open a recording in a temporary folder");
        return;
    }
    std::vector<unsigned char> payload(ox::file::IQFile::kPacketBytes, 0x5a), sink(payload.size());
    double handOffSeconds = 0, copySeconds = 0;
    uint64_t handedOver = 0;
    for (auto _ : state) {
        const double t0 = cpuSeconds();
        for (int i = 0; i < kBatch; ++i) {
            std::memcpy(sink.data(), payload.data(), payload.size());
            benchmark::DoNotOptimize(sink.data());
            benchmark::ClobberMemory();
        }
        const double t1 = cpuSeconds();
        for (int i = 0; i < kBatch; ++i)
            file.writePacket(payload.data());
        const double t2 = cpuSeconds();
        copySeconds += t1 - t0;
        handOffSeconds += t2 - t1;
        handedOver += kBatch;
        while (file.dataBytes() + file.droppedPackets() * payload.size() < handedOver * payload.size())
            std::this_thread::yield();
    }
    const double perPacket = handOffSeconds / double(handedOver);
    state.counters["packet_ns"] = perPacket * 1e9;
    state.counters["x_memcpy"] = handOffSeconds / copySeconds;
    // Share of the packet period at 312500 Hz (200 samples per packet).
    state.counters["x_realtime"] = perPacket / (200.0 / 312500.0);
    state.counters["dropped"] = double(file.droppedPackets());
    file.stop();
}
BENCHMARK(BM_RecorderHandOff);

} // namespace

BENCHMARK_MAIN();
