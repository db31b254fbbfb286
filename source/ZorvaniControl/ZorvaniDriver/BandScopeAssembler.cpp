#include "ZorvaniControl/ZorvaniDriver/BandScopeAssembler.h"

#include <QtEndian>

#include <utility>

namespace {
constexpr int kOffFragment = 6;
constexpr double kComponentScale = 1.0 / 32767.0;
// Level of a band-scope frame relative to the stream's full scale.
constexpr double kFrameLevel = 0.1;
} // namespace

BandScopeAssembler::BandScopeAssembler() : m_frame(kFrameSamples)
{
    m_accumulator.reserve(kFrameSamples);
}

void BandScopeAssembler::reset()
{
    m_accumulator.clear();
    m_expected = 0;
}

int BandScopeAssembler::add(const char* datagram, qint64 size, double scale, bool swap)
{
    if (size < kFragmentSize)
        return 0;
    const int fragment = qFromLittleEndian<quint16>(datagram + kOffFragment);
    if (fragment >= kFragments)
        return 0;

    bool take = false;
    if (fragment == 0) {
        m_accumulator.clear();
        m_expected = 1;
        take = true;
    } else if (fragment == m_expected) {
        ++m_expected;
        take = true;
    }
    if (take) {
        const char* p = datagram + kHeaderSize;
        for (int i = 0; i < kFragmentSamples; ++i, p += 4) {
            const double re = qFromLittleEndian<qint16>(p) * kComponentScale;
            const double im = qFromLittleEndian<qint16>(p + 2) * kComponentScale;
            m_accumulator.append(Sample{re, im});
        }
    }

    if (fragment != kFragments - 1 || m_accumulator.isEmpty())
        return 0;
    const int count = m_accumulator.size();
    const double gain = kFrameLevel * scale;
    Sample* out = m_frame.data();
    for (int i = 0; i < count; ++i) {
        Sample s{m_accumulator[i].re * gain, m_accumulator[i].im * gain};
        if (swap)
            std::swap(s.re, s.im);
        out[i] = s;
    }
    return count;
}
