#include "spectrum/PanSpectrumZorvaniDDC.h"

#include "common/SimdClones.h"

#include "spectrum/Decibels.h"
#include "spectrum/SpectrumHistoryAverager.h"
#include "vector/Vector.h"

#include <QDebug>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Clears a flag or drops a count on every way out of run().
struct BusyGuard {
    std::atomic<bool>& flag;
    ~BusyGuard() { flag.store(false, std::memory_order_release); }
};
// Drops the count of queued jobs; never below zero, so a direct call of run()
// (not through the pool) leaves the count of the pool's jobs intact.
struct PendingGuard {
    std::atomic<int>& count;
    ~PendingGuard()
    {
        int c = count.load(std::memory_order_acquire);
        while (c > 0 && !count.compare_exchange_weak(c, c - 1, std::memory_order_acq_rel))
        {
        }
    }
};

} // namespace

PanSpectrumZorvaniDDC::PanSpectrumZorvaniDDC(ThreadPoolAbstract* pool, uint32_t id)
    : m_pool(pool),
      m_id(id),
      m_ring(kMaxFftSize),
      m_samples32(kMaxFftSize),
      m_bins32(kMaxFftSize),
      m_power(kMaxFftSize),
      m_panorama(kMaxFftSize, zorvaniddc::SpectrumAveragerAbstract::kEmptyDb),
      m_waterfall(kMaxFftSize, zorvaniddc::SpectrumAveragerAbstract::kEmptyDb),
      m_stretcher(kMaxFftSize)
{
    m_averagers.push_back(std::make_shared<zorvaniddc::SpectrumLinearAverager>());
    m_averagers.push_back(std::make_shared<zorvaniddc::SpectrumRmsAverager>());
    m_averagers.push_back(std::make_shared<zorvaniddc::SpectrumExpAverager>());
    for (auto& averager : m_averagers) {
        averager->setSize(kDefaultFftSize);
        averager->setAverageCount(4);
    }
    m_waterfallAverager.setSize(kMaxFftSize);
    m_waterfallAverager.setAverageCount(3);
    m_lastSubmitNs.store(nowNs());
    setFftSize(kDefaultFftSize);
}

PanSpectrumZorvaniDDC::~PanSpectrumZorvaniDDC()
{
    // A queued job still points at this object: let it run out first. A
    // running job is always waited for; a queued one for at most 2 s, since a
    // pool torn down before us drops its queue and would keep us here forever.
    m_on.store(false, std::memory_order_release);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (m_busy.load(std::memory_order_acquire)
           || (m_pendingJobs.load(std::memory_order_acquire) > 0 && std::chrono::steady_clock::now() < deadline))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (m_pendingJobs.load(std::memory_order_acquire) > 0)
        qWarning().nospace().noquote() << "__cdecl PanSpectrumZorvaniDDC::~PanSpectrumZorvaniDDC(void) "
                                       << "a queued frame job never ran";
}

bool PanSpectrumZorvaniDDC::setFftSize(int n)
{
    if (n < kMinFftSize || n > kMaxFftSize || (n & (n - 1)) != 0)
        return false;
    m_enabled.store(false, std::memory_order_release);
    std::lock_guard<std::mutex> guard(m_spectrumLock);
    if (!m_transform.init(n)) {
        // No plan for the new size: keep working at the old one.
        const uint32_t old = m_size.load(std::memory_order_acquire);
        m_enabled.store(old != 0 && m_transform.init(int(old)), std::memory_order_release);
        return false;
    }
    m_size.store(uint32_t(n), std::memory_order_release);
    m_ring.resize(uint32_t(std::max(n, 64)));
    // The resized ring holds no samples yet: wait for N fresh ones.
    m_received.store(0, std::memory_order_release);
    m_filled.store(false, std::memory_order_release);
    m_ready.store(false, std::memory_order_release);
    for (auto& averager : m_averagers)
        averager->setSize(size_t(n));
    m_waterfallAverager.setSize(size_t(n));
    m_enabled.store(true, std::memory_order_release);
    return true;
}

void PanSpectrumZorvaniDDC::writeSamples(const Ostrovix::complex<double>* data, int count)
{
    if (!data || count <= 0)
        return;
    m_ring.write(data, uint32_t(count));
    if (!m_filled.load(std::memory_order_acquire)) {
        const uint32_t received = m_received.fetch_add(uint32_t(count), std::memory_order_acq_rel) + uint32_t(count);
        if (received >= m_size.load(std::memory_order_acquire))
            m_filled.store(true, std::memory_order_release);
    }
    if (!m_filled.load(std::memory_order_acquire))
        return;
    m_ready.store(true, std::memory_order_release);

    const int64_t now = nowNs();
    const int64_t interval = int64_t(m_frameIntervalMs.load(std::memory_order_acquire)) * 1000000;
    if (now - m_lastSubmitNs.load(std::memory_order_relaxed) <= interval)
        return;
    m_lastSubmitNs.store(now, std::memory_order_relaxed);
    if (!m_pool || !m_on.load(std::memory_order_acquire))
        return;
    m_pendingJobs.fetch_add(1, std::memory_order_acq_rel);
    if (!m_pool->submit(this)) {
        m_pendingJobs.fetch_sub(1, std::memory_order_acq_rel);
        qWarning().nospace().noquote()
            << "void __cdecl PanSpectrumZorvaniDDC::writeSamples(const class Ostrovix::complex<double> *,int) "
            << "thread pool queue is full";
    }
}

void PanSpectrumZorvaniDDC::run()
{
    PendingGuard pending{m_pendingJobs};
    if (!m_enabled.load(std::memory_order_acquire) || !m_ready.load(std::memory_order_acquire)
        || !m_on.load(std::memory_order_acquire))
        return;
    // Jobs may overlap on two workers when a frame takes longer than the
    // interval: the later one is dropped rather than racing on the buffers.
    if (m_busy.exchange(true, std::memory_order_acq_rel))
        return;
    BusyGuard busy{m_busy};
    std::lock_guard<std::mutex> guard(m_spectrumLock);
    // setFftSize may have run while this job waited for the lock.
    if (!m_enabled.load(std::memory_order_acquire) || !m_ready.exchange(false, std::memory_order_acq_rel))
        return;
    computeFrame(m_size.load(std::memory_order_acquire));
    emit spectrum(m_id);
}

ZORVANI_SIMD_CLONES void PanSpectrumZorvaniDDC::computeFrame(uint32_t n)
{
    // Narrowing and windowing happen while copying out of the ring.
    Ostrovix::complex<float>* x = m_samples32.data();
    const Window32f& window = m_transform.window();
    m_ring.visitLatest(n, [x, &window](const Ostrovix::complex<double>* piece, uint32_t count, uint32_t offset) {
        window.applyFrom(piece, x + offset, int(offset), int(count));
    });
    Ostrovix::complex<float>* bins = m_bins32.data();
    m_transform.transformUnscaled(x, bins, int(n));

    // Power with the halves swapped: index 0 is -fs/2, n/2 is 0 Hz. The
    // transform's 1/n is applied here, squared.
    float* power = m_power.data();
    const uint32_t half = n / 2;
    const float scale = 1.0f / (float(n) * float(n));
    ox::vec::power(bins, power + half, int(half), scale);
    ox::vec::power(bins + half, power, int(half), scale);

    zorvaniddc::SpectrumAveragerAbstract& averager = *m_averagers[m_averagerIndex];
    averager.write(power, n);
    averager.read(m_panorama.data(), n);

    float* waterfall = m_waterfall.data();
    if (m_waterfallFilter.load(std::memory_order_acquire)) {
        m_waterfallAverager.write(power, n);
        m_waterfallAverager.read(waterfall, n);
    } else {
        zorvaniddc::powerToDb(power, waterfall, n);
    }

    if (m_hideSlopes.load(std::memory_order_acquire)) {
        m_stretcher.stretch(m_panorama.data(), n);
        m_stretcher.stretch(waterfall, n);
    }
}

void PanSpectrumZorvaniDDC::getSpectrum(std::vector<float>& panorama, std::vector<float>& waterfall)
{
    std::lock_guard<std::mutex> guard(m_spectrumLock);
    const size_t n = m_size.load(std::memory_order_acquire);
    panorama.assign(m_panorama.begin(), m_panorama.begin() + n);
    waterfall.assign(m_waterfall.begin(), m_waterfall.begin() + n);
}

void PanSpectrumZorvaniDDC::setOn(bool on)
{
    m_on.store(on, std::memory_order_release);
}

void PanSpectrumZorvaniDDC::setWaterfallFilter(bool on)
{
    m_waterfallFilter.store(on, std::memory_order_release);
}

void PanSpectrumZorvaniDDC::setHideSlopes(bool hide)
{
    m_hideSlopes.store(hide, std::memory_order_release);
}

void PanSpectrumZorvaniDDC::setAveragerType(int type)
{
    std::lock_guard<std::mutex> guard(m_spectrumLock);
    m_averagerIndex = uint32_t(std::clamp(type, 0, int(m_averagers.size()) - 1));
}

int PanSpectrumZorvaniDDC::averagerType() const
{
    std::lock_guard<std::mutex> guard(m_spectrumLock);
    return int(m_averagerIndex);
}

void PanSpectrumZorvaniDDC::setAverageCount(int count)
{
    std::lock_guard<std::mutex> guard(m_spectrumLock);
    for (auto& averager : m_averagers)
        averager->setAverageCount(size_t(std::max(count, 0)));
}

int PanSpectrumZorvaniDDC::averageCount() const
{
    std::lock_guard<std::mutex> guard(m_spectrumLock);
    return int(m_averagers.front()->averageCount());
}

void PanSpectrumZorvaniDDC::setFrameInterval(int ms)
{
    m_frameIntervalMs.store(std::clamp(ms, kMinFrameIntervalMs, kMaxFrameIntervalMs), std::memory_order_release);
}

void PanSpectrumZorvaniDDC::setFrameRate(int fps)
{
    const int rate = std::clamp(fps, 10, 40);
    m_frameIntervalMs.store((1000 + rate / 2) / rate, std::memory_order_release);
}

void PanSpectrumZorvaniDDC::resetAccumulation()
{
    std::lock_guard<std::mutex> guard(m_spectrumLock);
    for (auto& averager : m_averagers)
        averager->reset();
    m_waterfallAverager.reset();
}
