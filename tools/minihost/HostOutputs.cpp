#include "HostOutputs.h"

#include <algorithm>
#include <chrono>
#include <cmath>

PullEngine::PullEngine(OutputAbstract& owner, int sampleRate) : m_owner(owner), m_sampleRate(sampleRate) {}

PullEngine::~PullEngine()
{
    if (m_running) {
        m_running = false;
        m_thread.join();
    }
}

void PullEngine::setSource(AudioSource source)
{
    std::lock_guard<std::mutex> lock(m_sourceMutex);
    m_source = std::move(source);
}

bool PullEngine::open(const QString& wavPath)
{
    if (m_running)
        return true;
    if (!wavPath.isEmpty() && !m_wav.open(wavPath, m_sampleRate, 2))
        return false;
    {
        std::lock_guard<std::mutex> lock(m_levelMutex);
        m_sumSquares[0] = m_sumSquares[1] = 0.0;
        m_peak[0] = m_peak[1] = 0.0;
        m_levelFrames = 0;
    }
    m_running = true;
    m_thread = std::thread([this] { run(); });
    emit m_owner.opened();
    return true;
}

void PullEngine::close()
{
    if (!m_running)
        return;
    m_running = false;
    m_thread.join();
    m_wav.close();
    emit m_owner.closed();
}

void PullEngine::measure(const float* interleaved, quint32 frames)
{
    double sum[2] = {0.0, 0.0};
    double peak[2] = {0.0, 0.0};
    for (quint32 i = 0; i < frames; ++i)
        for (int c = 0; c < 2; ++c) {
            const double v = interleaved[2 * i + quint32(c)];
            sum[c] += v * v;
            peak[c] = std::max(peak[c], std::abs(v));
        }
    std::lock_guard<std::mutex> lock(m_levelMutex);
    for (int c = 0; c < 2; ++c) {
        m_sumSquares[c] += sum[c];
        m_peak[c] = std::max(m_peak[c], peak[c]);
    }
    m_levelFrames += frames;
}

OutputLevel PullEngine::level() const
{
    std::lock_guard<std::mutex> lock(m_levelMutex);
    OutputLevel level;
    level.frames = m_levelFrames;
    for (int c = 0; c < 2; ++c) {
        const double meanSquare = m_levelFrames ? m_sumSquares[c] / double(m_levelFrames) : 0.0;
        level.rmsDbfs[c] = meanSquare > 1e-20 ? 10.0 * std::log10(meanSquare) : -200.0;
        level.peak[c] = m_peak[c];
    }
    return level;
}

std::vector<float> PullEngine::pullOnce(quint32 frames)
{
    std::vector<float> buffer(std::size_t(frames) * 2, 1.0f);
    std::lock_guard<std::mutex> lock(m_sourceMutex);
    if (m_source)
        m_source(buffer.data(), quint32(buffer.size()), 2);
    else
        buffer.clear();
    return buffer;
}

void PullEngine::run()
{
    using clock = std::chrono::steady_clock;
    const quint32 frames = quint32(m_sampleRate / 100);
    std::vector<float> buffer(std::size_t(frames) * 2);
    // Like a sound card's buffer: the first pull waits a few blocks, so the
    // source's ring holds that much slack against its producer's jitter.
    const auto start = clock::now() + std::chrono::milliseconds(10 * kLatencyBlocks);
    std::this_thread::sleep_until(start);
    std::uint64_t blocks = 0;
    while (m_running) {
        {
            std::lock_guard<std::mutex> lock(m_sourceMutex);
            if (m_source && m_source(buffer.data(), quint32(buffer.size()), 2)) {
                m_wav.write(buffer.data(), buffer.size());
                m_frames += frames;
                measure(buffer.data(), frames);
            }
        }
        ++blocks;
        std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * blocks));
    }
}
