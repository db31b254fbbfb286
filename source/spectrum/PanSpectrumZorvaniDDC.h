#pragma once

#include "OstrovixComplex.h"
#include "ThreadPoolAbstract.h"
#include "spectrum/SampleHistory.h"
#include "spectrum/SlopeStretcher.h"
#include "spectrum/Spectrum32f.h"
#include "spectrum/SpectrumAveragerAbstract.h"
#include "spectrum/SpectrumExpAverager.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// Panorama worker: producers push complex baseband samples; at most once per
// frame interval a job on the host's thread pool turns the newest N samples
// into two lines of N values in dB (index 0 is -fs/2, N/2 is 0 Hz):
//  - the panorama line, averaged by the selected averager;
//  - the waterfall line, instantaneous or lightly smoothed.
// spectrum(id) announces each frame; it is emitted while the spectrum lock is
// held, so getSpectrum() must be called from another thread (queued delivery).
class PanSpectrumZorvaniDDC : public ThreadPoolItemAbstract {
    Q_OBJECT
public:
    static constexpr int kMaxFftSize = 16384;
    static constexpr int kMinFftSize = 16;
    static constexpr int kDefaultFftSize = 4096;
    static constexpr int kMinFrameIntervalMs = 10;
    static constexpr int kMaxFrameIntervalMs = 40;

    // pool: not owned, must outlive this object (null: frames only by run()).
    // id: the value emitted with spectrum(uint).
    PanSpectrumZorvaniDDC(ThreadPoolAbstract* pool, uint32_t id);
    // Waits until no job of this instance is running, and up to 2 s for
    // queued ones (the pool must outlive this object to run them).
    ~PanSpectrumZorvaniDDC() override;

    // N: a power of two in 16..16384; false leaves everything unchanged. The
    // next frame comes once N new samples have arrived.
    bool setFftSize(int n);
    uint32_t fftSize() const { return m_size.load(std::memory_order_acquire); }

    // Producer entry (one producer thread): a copy into the ring plus a clock
    // check; submits a job when the frame interval has passed.
    void writeSamples(const Ostrovix::complex<double>* data, int count);

    // Copies both lines (N values each, dB); the vectors are resized to N.
    void getSpectrum(std::vector<float>& panorama, std::vector<float>& waterfall);

    // Frames are computed only while on (false at construction).
    void setOn(bool on);
    bool isOn() const { return m_on.load(std::memory_order_acquire); }
    // Smoothed waterfall line (exponential, count 3) instead of the instantaneous one.
    void setWaterfallFilter(bool on);
    bool waterfallFilter() const { return m_waterfallFilter.load(std::memory_order_acquire); }
    // Cut the filter slopes and stretch the usable 0.9216 of the band over N bins.
    void setHideSlopes(bool hide);
    bool hideSlopes() const { return m_hideSlopes.load(std::memory_order_acquire); }
    // 0 linear, 1 RMS, 2 exponential; clamped.
    void setAveragerType(int type);
    int averagerType() const;
    // Frames averaged by the panorama averagers, clamped to 1..30.
    void setAverageCount(int count);
    int averageCount() const;
    // Minimum time between two frames, ms, clamped to 10..40 (16 at construction).
    void setFrameInterval(int ms);
    // Frames per second, clamped to 10..40: the interval becomes 1000 / fps ms
    // (25..100 ms), so a higher rate gives more frames.
    void setFrameRate(int fps);
    int frameInterval() const { return m_frameIntervalMs.load(std::memory_order_acquire); }
    // Restarts every average (after a retune, say).
    void resetAccumulation();
    // Centre of the panorama axis, Hz (for the host's display).
    void setCenterFrequency(double hz) { m_centerFrequency.store(hz, std::memory_order_release); }
    double centerFrequency() const { return m_centerFrequency.load(std::memory_order_acquire); }

    uint32_t id() const { return m_id; }
    // Samples the ring holds: the smallest power of two >= max(N, 64).
    uint32_t ringCapacity() const { return m_ring.capacity(); }

    // The pool's job: computes one frame when on, ready and configured.
    void run() override;

signals:
    void spectrum(uint id);

private:
    void computeFrame(uint32_t n);

    ThreadPoolAbstract* const m_pool;
    const uint32_t m_id;

    std::atomic<int> m_frameIntervalMs{16};
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_waterfallFilter{false};
    std::atomic<bool> m_enabled{false};
    std::atomic<bool> m_on{false};
    std::atomic<bool> m_filled{false};
    std::atomic<uint32_t> m_received{0};
    std::atomic<bool> m_hideSlopes{false};
    std::atomic<bool> m_busy{false};
    std::atomic<int> m_pendingJobs{0};
    std::atomic<uint32_t> m_size{0};
    std::atomic<double> m_centerFrequency{0.0};
    std::atomic<int64_t> m_lastSubmitNs{0};

    SampleHistory<Ostrovix::complex<double>> m_ring;
    std::vector<Ostrovix::complex<float>> m_samples32;
    std::vector<Ostrovix::complex<float>> m_bins32;
    std::vector<float> m_power;
    std::vector<float> m_panorama;
    std::vector<float> m_waterfall;

    Spectrum32f m_transform;
    std::vector<std::shared_ptr<zorvaniddc::SpectrumAveragerAbstract>> m_averagers;
    uint32_t m_averagerIndex = 0;
    zorvaniddc::SpectrumExpAverager m_waterfallAverager;
    SlopeStretcher m_stretcher;

    mutable std::mutex m_spectrumLock;
};
