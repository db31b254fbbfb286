#include "zorvaniDsp/EqualizerZorvani.h"

#include "vector/Vector.h"

#include <algorithm>
#include <cmath>

using ox::vec::kPi;

EqualizerZorvani::EqualizerZorvani()
    : m_window(kTaps)
    , m_kernel(kFftSize)
    , m_history(kFftSize)
    , m_work(kFftSize)
    , m_out(kHop)
{
    m_fft.init(kFftSize);
    // Blackman window, 1 at the centre tap so that a flat response stays an
    // exact delay.
    for (int n = 0; n < kTaps; ++n) {
        const double phase = 2.0 * kPi * n / (kTaps - 1);
        m_window[n] = 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase);
    }
    m_window[kTaps / 2] = 1.0;
    design();
    reset();
}

void EqualizerZorvani::setEnabled(bool on)
{
    if (on && !m_enabled)
        reset();
    m_enabled = on;
}

void EqualizerZorvani::setGains(const QList<int>& dB)
{
    for (int k = 0; k < kBands; ++k)
        m_gainsDb[k] = k < dB.size() ? std::clamp<double>(dB[k], kMinGainDb, kMaxGainDb) : 0.0;
    design();
}

bool EqualizerZorvani::setSampleRate(double fs)
{
    if (!(fs > 0.0) || !std::isfinite(fs))
        return false;
    m_fs = fs;
    design();
    return true;
}

namespace {
double toMel(double f) { return 2595.0 * std::log10(1.0 + f / 700.0); }
double fromMel(double m) { return 700.0 * (std::pow(10.0, m / 2595.0) - 1.0); }
} // namespace

double EqualizerZorvani::melOfCentre0() const { return toMel(kLowestCentre); }

double EqualizerZorvani::melStep() const
{
    const double top = std::max(kLowestCentre * 2.0, std::min(kHighestCentre, 0.45 * m_fs));
    return (toMel(top) - melOfCentre0()) / (kBands - 1);
}

double EqualizerZorvani::bandCentre(int k) const { return fromMel(melOfCentre0() + k * melStep()); }

// Sum of the weighted band responses at |f| (Hz).
double EqualizerZorvani::response(double f) const
{
    const double position = (toMel(f) - melOfCentre0()) / melStep();
    if (position <= 0.0)
        return m_weights[0];
    if (position >= kBands - 1)
        return m_weights[kBands - 1];
    const int k = static_cast<int>(position);
    const double c = std::cos(0.5 * kPi * (position - k));
    return m_weights[k] * c * c + m_weights[k + 1] * (1.0 - c * c);
}

void EqualizerZorvani::design()
{
    for (int k = 0; k < kBands; ++k)
        m_weights[k] = std::pow(10.0, m_gainsDb[k] / 20.0);
    for (int b = 0; b < kFftSize; ++b) {
        const int signedBin = b < kFftSize / 2 ? b : b - kFftSize;
        m_work[b] = {response(std::abs(signedBin) * m_fs / kFftSize), 0.0};
    }
    m_fft.inverse(m_work.data());
    // Zero-phase impulse response (real, even) -> causal window of kTaps
    // centred on tap kTaps / 2. inverse() leaves a factor N that the 1/N of
    // forward() removes again, so inverse(forward(x) * kernel) is x * h.
    std::fill(m_kernel.begin(), m_kernel.end(), Ostrovix::complex<double>{0.0, 0.0});
    for (int n = 0; n < kTaps; ++n) {
        const int lag = (n - kTaps / 2 + kFftSize) % kFftSize;
        m_kernel[n] = {m_work[lag].re * m_window[n], 0.0};
    }
    m_fft.forward(m_kernel.data());
}

void EqualizerZorvani::reset()
{
    std::fill(m_history.begin(), m_history.end(), Ostrovix::complex<double>{0.0, 0.0});
    std::fill(m_out.begin(), m_out.end(), Ostrovix::complex<double>{0.0, 0.0});
    m_pos = 0;
}

void EqualizerZorvani::transform()
{
    std::copy(m_history.begin(), m_history.end(), m_work.begin());
    m_fft.forward(m_work.data());
    ox::vec::multiply(m_work.data(), m_kernel.data(), kFftSize);
    m_fft.inverse(m_work.data());
    std::copy(m_work.end() - kHop, m_work.end(), m_out.begin());
    std::copy(m_history.begin() + kHop, m_history.end(), m_history.begin());
}

bool EqualizerZorvani::process(Ostrovix::complex<double>* x, int count)
{
    if (x == nullptr || count < 0)
        return false;
    if (!m_enabled)
        return true;
    for (int i = 0; i < count; ++i) {
        m_history[kFftSize - kHop + m_pos] = x[i];
        x[i] = m_out[m_pos];
        if (++m_pos == kHop) {
            transform();
            m_pos = 0;
        }
    }
    return true;
}
