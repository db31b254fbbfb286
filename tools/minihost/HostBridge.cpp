#include "HostBridge.h"

#include <chrono>

HostAudioServer::~HostAudioServer()
{
    stop();
}

void HostAudioServer::addListener(std::shared_ptr<ox::audio::AudioEventListenerAbstract> listener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listeners.push_back(std::move(listener));
}

void HostAudioServer::writeAudio(std::size_t count, const float*)
{
    m_values += count;
}

void HostAudioServer::requestData()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& listener : m_listeners)
        listener->dataRequested();
}

void HostAudioServer::start()
{
    if (m_running.exchange(true))
        return;
    m_thread = std::thread([this] {
        while (m_running) {
            requestData();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
}

void HostAudioServer::stop()
{
    if (!m_running.exchange(false))
        return;
    m_thread.join();
}

HostBridge::HostBridge() = default;

HostBridge::~HostBridge()
{
    closeOutputs();
    m_audioServer.stop();
}

void HostBridge::closeOutputs()
{
    m_soundOut.engine().close();
    for (int i = 0; i < m_vacs.count(); ++i)
        m_vacs.at(i)->engine().close();
    for (int i = 0; i < m_lineOuts.count(); ++i)
        m_lineOuts.at(i)->engine().close();
}
