#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"

#include <algorithm>

ResamplerSCZorvani::ResamplerSCZorvani(double inRate, double outRate)
    : m_chunk(kChunkFrames)
    , m_work(kWorkFrames)
{
    init(inRate, outRate);
}

ResamplerSCZorvani::~ResamplerSCZorvani() { stop(); }

bool ResamplerSCZorvani::init(double inRate, double outRate)
{
    if (!(inRate > 0.0) || !(outRate > 0.0))
        return false;
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_resampler.init(static_cast<float>(inRate), static_cast<float>(outRate)))
        return false;
    m_inRate = inRate;
    m_outRate = outRate;
    m_input.reset();
    m_output.reset();
    m_output.setPrefill(static_cast<uint32_t>(outRate * kReserveSeconds));
    const int needed = Resampler::maxOutput(kChunkFrames, m_resampler.interpolation(), m_resampler.decimation());
    if (needed > static_cast<int>(m_work.size()))
        m_work.resize(needed);
    return true;
}

double ResamplerSCZorvani::inputRate() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_inRate;
}

double ResamplerSCZorvani::outputRate() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_outRate;
}

void ResamplerSCZorvani::reset()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_input.reset();
    m_output.reset();
    m_resampler.reset();
}

void ResamplerSCZorvani::start()
{
    m_worker.start([this] { return convertPending() > 0; }, [this] { reset(); });
}

void ResamplerSCZorvani::stop()
{
    m_worker.stop();
}

bool ResamplerSCZorvani::push(const Ostrovix::complex<double>* frames, uint32_t n)
{
    if (!m_input.write(frames, n))
        return false;
    m_worker.notify();
    return true;
}

int ResamplerSCZorvani::convertPending()
{
    const int n = static_cast<int>(std::min<uint32_t>(m_input.fill(), kChunkFrames));
    if (n == 0 || !m_input.read(m_chunk.data(), static_cast<uint32_t>(n)))
        return 0;
    convert(m_chunk.data(), n);
    return n;
}

int ResamplerSCZorvani::convert(const Ostrovix::complex<double>* in, int count)
{
    if (count <= 0 || count > kChunkFrames || in == nullptr)
        return 0;
    std::lock_guard<std::mutex> guard(m_mutex);
    const int produced = m_resampler.process(in, m_work.data(), count);
    if (produced <= 0 || !m_output.write(m_work.data(), static_cast<uint32_t>(produced)))
        return 0;
    return produced;
}
