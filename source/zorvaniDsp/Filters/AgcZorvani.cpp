#include "zorvaniDsp/Filters/AgcZorvani.h"

#include "vector/Status.h"
#include "vector/Vector.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const char* const kSource = "source/zorvaniDsp/Filters/AgcZorvani";
constexpr double kMaxSampleRate = 1.0e7;

double fromDb(double dB)
{
    return std::pow(10.0, dB / 20.0);
}

int lookAhead(double fs, double attackMs)
{
    return std::max(1, int(std::lround(0.03 * fs * attackMs)));
}

} // namespace

AgcZorvani::AgcZorvani()
{
    setSampleRate(m_fs);
}

void AgcZorvani::setSampleRate(double fs)
{
    if (!(fs > 0.0 && fs <= kMaxSampleRate)) {
        ox::vec::reportStatus(kSource, __LINE__, ox::vec::StsRangeErr);
        return;
    }
    m_fs = fs;
    // Sized for the longest attack so that parameter changes never allocate.
    const int capacity = lookAhead(fs, kMaxAttackMs);
    m_line.assign(size_t(capacity), {0.0, 0.0});
    uint32_t queue = 1;
    while (queue < uint32_t(capacity) + 2)
        queue <<= 1;
    m_peakIndex.assign(queue, 0);
    m_peakValue.assign(queue, 0.0);
    m_peakMask = queue - 1;
    updateCoefficients();
}

void AgcZorvani::setParameters(double attackMs, double decayMs, uint32_t hangMs, bool enabled)
{
    m_attackMs = std::isnan(attackMs) ? 1.0 : std::clamp(attackMs, kMinAttackMs, kMaxAttackMs);
    m_decayMs = std::isnan(decayMs) ? 400.0 : std::clamp(decayMs, kMinDecayMs, kMaxDecayMs);
    m_hangMs = std::clamp(hangMs, kMinHangMs, kMaxHangMs);
    m_enabled = enabled;
    updateCoefficients();
}

void AgcZorvani::updateCoefficients()
{
    m_e0 = std::exp(-1000.0 / (50.0 * m_fs));
    m_ea = std::exp(-1000.0 / (m_fs * m_attackMs));
    m_ed = std::exp(-1000.0 / (m_fs * m_decayMs));
    m_hangSeconds = m_hangMs * 0.001;
    m_length = lookAhead(m_fs, m_attackMs);
    reset();
}

void AgcZorvani::setMaxGain(double dB)
{
    m_maxDb = dB;
    m_maxLin = fromDb(dB);
}

void AgcZorvani::setMinGain(double dB)
{
    m_minDb = dB;
    m_minLin = fromDb(dB);
}

void AgcZorvani::setRfGain(int dB)
{
    m_fixedDb = std::clamp(double(dB), -60.0, 120.0);
    m_fixedLin = fromDb(m_fixedDb);
    setMaxGain(dB > 120 ? 120.0 : std::max(m_minDb + 1.0, double(dB)));
}

uint32_t AgcZorvani::hangLimit() const
{
    return uint32_t(m_hangSeconds * m_fs + m_length);
}

void AgcZorvani::reset()
{
    ox::vec::zero(m_line.data(), m_length);
    m_write = m_length - 1;
    m_hang = 0;
    m_peakHead = 0;
    m_peakCount = 0;
}

// Largest max(|re|, |im|) over the L samples in the line (the oldest one is
// leaving now) and the newest one, m. Taken per sample rather than once per
// block, so that the gain does not depend on how the stream is cut into blocks.
double AgcZorvani::peakAhead(double m)
{
    const uint64_t now = m_sampleNumber++;
    while (m_peakCount > 0 && m_peakValue[(m_peakHead + m_peakCount - 1) & m_peakMask] <= m)
        --m_peakCount;
    const uint32_t back = (m_peakHead + m_peakCount) & m_peakMask;
    m_peakIndex[back] = now;
    m_peakValue[back] = m;
    ++m_peakCount;
    while (m_peakIndex[m_peakHead] + uint64_t(m_length) < now) {
        m_peakHead = (m_peakHead + 1) & m_peakMask;
        --m_peakCount;
    }
    return m_peakValue[m_peakHead];
}

bool AgcZorvani::process(Ostrovix::complex<double>* x, int count)
{
    if (!x || count < 1) {
        ox::vec::reportStatus(kSource, __LINE__, ox::vec::StsNullPtrErr);
        return false;
    }
    if (!m_enabled) {
        for (int i = 0; i < count; ++i) {
            m_fixedGain = (1.0 - m_e0) * m_fixedLin + m_e0 * m_fixedGain;
            x[i].re *= m_fixedGain;
            x[i].im *= m_fixedGain;
        }
        return true;
    }
    const uint32_t hangLimit = this->hangLimit();
    double g = m_gain;
    for (int i = 0; i < count; ++i) {
        const double peak = peakAhead(std::max(std::abs(x[i].re), std::abs(x[i].im)));
        m_write = m_write + 1 == m_length ? 0 : m_write + 1;
        const Ostrovix::complex<double> oldest = m_line[m_write];
        m_line[m_write] = x[i];

        // A silent line gives an unbounded target: limited to the maximum below.
        double target = peak > 0.0 ? m_refLin / peak : std::numeric_limits<double>::infinity();
        if (target == 0.0)
            target = g;
        if (target > g) {
            const uint32_t before = m_hang;
            if (m_hang != std::numeric_limits<uint32_t>::max())
                ++m_hang;
            if (before > hangLimit)
                g = std::min(target, m_maxLin) * (1.0 - m_ed) + g * m_ed;
        } else if (g > target) {
            m_hang = 0;
            g = std::max(target, m_minLin) * (1.0 - m_ea) + g * m_ea;
        }
        g = g > m_maxLin ? m_maxLin : std::max(g, m_minLin);

        x[i].re = oldest.re * g;
        x[i].im = oldest.im * g;
    }
    m_gain = g;
    return true;
}
