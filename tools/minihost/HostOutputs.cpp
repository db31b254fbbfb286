#include "HostOutputs.h"

#include <chrono>

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

void PullEngine::open(const QString& wavPath)
{
    if (m_running)
        return;
    if (!wavPath.isEmpty())
        m_wav.open(wavPath, m_sampleRate, 2);
    m_running = true;
    m_thread = std::thread([this] { run(); });
    emit m_owner.opened();
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
    const auto start = clock::now();
    std::uint64_t blocks = 0;
    while (m_running) {
        {
            std::lock_guard<std::mutex> lock(m_sourceMutex);
            if (m_source && m_source(buffer.data(), quint32(buffer.size()), 2)) {
                m_wav.write(buffer.data(), buffer.size());
                m_frames += frames;
            }
        }
        ++blocks;
        std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * blocks));
    }
}
