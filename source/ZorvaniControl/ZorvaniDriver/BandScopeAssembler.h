#pragma once

#include "OstrovixComplex.h"

#include <QVector>

// Collects the 16 fragments of one band-scope frame. A fragment out of order
// is skipped, and so is everything after it until the next fragment 0, so a
// lost fragment shortens the frame instead of shifting it.
class BandScopeAssembler {
public:
    using Sample = Ostrovix::complex<double>;

    static constexpr int kFragmentSize = 1034;
    static constexpr int kHeaderSize = 10;
    static constexpr int kFragmentSamples = 256;
    static constexpr int kFragments = 16;
    static constexpr int kFrameSamples = kFragments * kFragmentSamples;

    BandScopeAssembler();

    // Adds one fragment datagram. When it completes a frame (fragment 15),
    // the frame is scaled by `scale`, re and im swapped when `swap`, and its
    // sample count returned; frame() holds it until the next completed frame.
    // Returns 0 otherwise, also for datagrams shorter than a fragment.
    int add(const char* datagram, qint64 size, double scale, bool swap);

    const Sample* frame() const { return m_frame.constData(); }
    void reset();

private:
    QVector<Sample> m_accumulator;
    QVector<Sample> m_frame;
    int m_expected = 0;
};
