#include "zorvaniDsp/Audio/AudioServerNotifyer.h"

#include "BridgeAbstract.h"
#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"

AudioServerNotifyer::AudioServerNotifyer(BridgeAbstract* bridge, std::shared_ptr<ResamplerSCZorvani> converter)
    : m_bridge(bridge)
    , m_converter(std::move(converter))
    , m_frames(kBlockFrames)
    , m_floats(2 * kBlockFrames)
{
}

void AudioServerNotifyer::dataRequested()
{
    if (!m_converter || m_bridge == nullptr)
        return;
    AudioServerAbstract* server = m_bridge->audioServer();
    if (server == nullptr)
        return;
    auto& ring = m_converter->outputRing();
    while (ring.fill() >= kBlockFrames && ring.read(m_frames.data(), kBlockFrames)) {
        for (int i = 0; i < kBlockFrames; ++i) {
            m_floats[2 * i] = static_cast<float>(m_frames[i].re);
            m_floats[2 * i + 1] = static_cast<float>(m_frames[i].im);
        }
        server->writeAudio(m_floats.size(), m_floats.data());
    }
}

void AudioServerNotifyer::setEnable(bool on)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (on == m_enabled)
            return;
        m_enabled = on;
        if (m_converter) {
            if (on && !m_converter->isRunning())
                m_converter->start();
            else if (!on && m_converter->isRunning())
                m_converter->stop();
        }
    }
    emit enableChanged(on);
}

void AudioServerNotifyer::setVoxThreshold(float threshold)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_voxThreshold = threshold;
}

bool AudioServerNotifyer::isEnabled() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_enabled;
}

float AudioServerNotifyer::voxThreshold() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_voxThreshold;
}
