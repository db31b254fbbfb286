#pragma once

#include "AudioEventListenerAbstract.h"

#include <cstddef>
#include <memory>

class AudioServerAbstract {
public:
    virtual ~AudioServerAbstract() = default;
    virtual void addListener(std::shared_ptr<ox::audio::AudioEventListenerAbstract> listener) = 0;
    // `count` interleaved float values (left, right, left, right, ...).
    virtual void writeAudio(std::size_t count, const float* data) = 0;
};
