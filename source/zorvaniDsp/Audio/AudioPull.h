#pragma once

#include "OstrovixComplex.h"
#include "common/CircularBuffer.h"

#include <QtGlobal>

// Fills a host output's interleaved float buffer of `length` values from a
// ring of stereo frames (re = left, im = right). Frames wanted = length /
// channels. The buffer is all zeros when the path is closed or the ring is not
// ready for the frames wanted (fewer stored, or its pre-fill still gathering;
// stale or partial audio is never played). With more than two channels
// left and right go to the first two of each frame and the rest are zero; with
// one channel it gets the mean of left and right. Values beyond the last whole
// frame are zero. Always true.
bool pullStereo(CircularBuffer<Ostrovix::complex<double>>& ring, bool pathOpen, float* buffer, quint32 length,
    quint32 channels);
