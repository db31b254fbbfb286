#include "CardFeed.h"

#include <algorithm>
#include <cstring>

CardFeed::CardFeed(Pull pull, Available available, bool floatSamples)
    : m_pull(std::move(pull)), m_available(std::move(available)), m_float(floatSamples), m_block(2 * kMaxBlockFrames)
{
}

qint64 CardFeed::readData(char* data, qint64 maxlen)
{
    const qint64 frameBytes = m_float ? 8 : 4;
    quint32 frames = quint32(std::min<qint64>(maxlen / frameBytes, kMaxBlockFrames));
    if (m_available)
        frames = std::min(frames, m_available());
    if (frames == 0 || !m_pull(m_block.data(), frames))
        return 0;
    if (m_float) {
        std::memcpy(data, m_block.data(), size_t(frames) * 8);
    } else {
        auto* out = reinterpret_cast<qint16*>(data);
        for (quint32 i = 0; i < 2 * frames; ++i)
            out[i] = qint16(std::clamp(m_block[i] * 32767.0f, -32768.0f, 32767.0f));
    }
    return qint64(frames) * frameBytes;
}
