#include "zorvaniDsp/Audio/AudioPull.h"

#include <algorithm>

bool pullStereo(CircularBuffer<Ostrovix::complex<double>>& ring, bool pathOpen, float* buffer, quint32 length,
    quint32 channels)
{
    if (buffer == nullptr)
        return true;
    std::fill(buffer, buffer + length, 0.0f);
    if (!pathOpen || channels == 0)
        return true;
    const quint32 wanted = length / channels;
    if (wanted == 0 || !ring.readyToRead(wanted))
        return true;

    // The host's audio thread must not allocate: frames move through a small
    // stack buffer. The ring has a single consumer, so every piece is there.
    constexpr quint32 kPiece = 256;
    Ostrovix::complex<double> frames[kPiece];
    float* out = buffer;
    for (quint32 done = 0; done < wanted;) {
        const quint32 n = std::min(kPiece, wanted - done);
        if (!ring.read(frames, n))
            return true;
        for (quint32 i = 0; i < n; ++i, out += channels) {
            if (channels == 1) {
                out[0] = static_cast<float>(0.5 * (frames[i].re + frames[i].im));
            } else {
                out[0] = static_cast<float>(frames[i].re);
                out[1] = static_cast<float>(frames[i].im);
            }
        }
        done += n;
    }
    return true;
}
