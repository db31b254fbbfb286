#pragma once

namespace ox::audio {

// A listener the host's audio server calls back when it wants audio.
class AudioEventListenerAbstract {
public:
    virtual ~AudioEventListenerAbstract() = default;
    virtual void dataRequested() = 0;
    virtual void setEnable(bool on) = 0;
    virtual void setVoxThreshold(float threshold) = 0;
};

} // namespace ox::audio
