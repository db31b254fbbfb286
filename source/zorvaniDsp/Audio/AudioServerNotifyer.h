#pragma once

#include "AudioEventListenerAbstract.h"
#include "OstrovixComplex.h"

#include <QObject>

#include <memory>
#include <mutex>
#include <vector>

class BridgeAbstract;
class ResamplerSCZorvani;

// Listener of the host's audio server: when the server asks for data it gets
// every complete block of 256 stereo frames waiting in the audio-server
// converter's output ring, as interleaved floats (left, right). The class
// keeps the name its callers use (sic).
class AudioServerNotifyer : public QObject, public ox::audio::AudioEventListenerAbstract {
    Q_OBJECT
public:
    static constexpr int kBlockFrames = 256;

    // bridge is not owned; both may be null (nothing is then delivered).
    AudioServerNotifyer(BridgeAbstract* bridge, std::shared_ptr<ResamplerSCZorvani> converter);

    void dataRequested() override;
    // Starts the converter on the first true and stops it on false; a repeat
    // of the stored state does nothing.
    void setEnable(bool on) override;
    void setVoxThreshold(float threshold) override;

    bool isEnabled() const;
    float voxThreshold() const;

signals:
    void enableChanged(bool on);
    void voxThresholdChanged(float threshold);

private:
    BridgeAbstract* m_bridge;
    std::shared_ptr<ResamplerSCZorvani> m_converter;
    std::vector<Ostrovix::complex<double>> m_frames;
    std::vector<float> m_floats;
    float m_voxThreshold = -30.0f;
    bool m_enabled = false;
    mutable std::mutex m_mutex;
};
