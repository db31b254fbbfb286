#include "zorvaniDsp/zorvaniFFT/FastFirZorvani.h"

#include "vector/Status.h"
#include "vector/Vector.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace {

const char* const kProcessSignature =
    "bool __cdecl FastFirZorvani::process(class Ostrovix::complex<double> *,unsigned int)";

uint32_t fftSizeFor(uint32_t taps)
{
    uint32_t v = taps + 254;
    v |= v >> 1;
    v |= v >> 2;
    v |= v >> 4;
    v |= v >> 8;
    v |= v >> 16;
    return v + 1;
}

} // namespace

FastFirZorvani::FastFirZorvani()
    : m_h(kBufferSize, {0.0, 0.0}), m_overlap(kBufferSize, {0.0, 0.0}), m_work(kBufferSize, {0.0, 0.0}),
      m_spectrum(kBufferSize, {0.0, 0.0})
{
}

bool FastFirZorvani::init(double lowRel, double highRel, uint32_t taps)
{
    if (taps < 1 || taps > kMaxTaps || !std::isfinite(lowRel) || !std::isfinite(highRel)) {
        m_status = ox::vec::StsRangeErr;
        qWarning("bool __cdecl FastFirZorvani::init(double,double,unsigned int)%d Incorrect input parameters",
                 __LINE__);
        return false;
    }
    const double low = std::max(lowRel, -0.5);
    const double high = std::min(highRel, 0.5);

    // Windowed prototype into the work buffer first, so that a design without
    // any response leaves the current filter in place.
    std::vector<double> window(taps);
    ox::vec::blackmanNuttall(window.data(), int(taps));
    std::vector<Ostrovix::complex<double>> h(taps);
    const double bandwidth = high - low;
    const int centre = int(taps / 2);
    double largest = 0.0;
    for (int k = 1; k <= int(taps); ++k) {
        const int m = k - centre;
        const double phase = ox::vec::kPi * m * (low + high);
        const double a = m != 0 ? -2.0 * std::sin(ox::vec::kPi * m * bandwidth) / (ox::vec::kPi * m)
                                : -2.0 * bandwidth;
        h[k - 1] = {a * std::cos(phase) * window[k - 1], a * std::sin(phase) * window[k - 1]};
        largest = std::max(largest, std::max(std::abs(h[k - 1].re), std::abs(h[k - 1].im)));
    }
    if (!(largest > 0.0) || !std::isfinite(largest)) {
        m_status = ox::vec::StsRangeErr;
        qWarning("bool __cdecl FastFirZorvani::init(double,double,unsigned int)%d Incorrect input parameters",
                 __LINE__);
        return false;
    }

    const uint32_t size = fftSizeFor(taps);
    if (size != m_size) {
        if (!m_fft.init(size)) {
            m_size = 0;
            m_taps = 0;
            m_status = m_fft.status();
            return false;
        }
        m_size = size;
    }
    m_taps = taps;

    ox::vec::zero(m_h.data(), int(kBufferSize));
    ox::vec::zero(m_work.data(), int(kBufferSize));
    ox::vec::copy(h.data(), m_h.data(), int(taps));
    m_fft.process(m_h.data(), m_size, zorvaniFFT64f::Forward);

    // Scale so that the largest real or imaginary component of H is 1.
    double peak = 0.0;
    for (uint32_t i = 0; i < m_size; ++i)
        peak = std::max(peak, std::max(std::abs(m_h[i].re), std::abs(m_h[i].im)));
    ox::vec::scale(m_h.data(), 1.0 / peak, int(m_size));
    m_status = ox::vec::StsNoErr;
    return true;
}

bool FastFirZorvani::process(Ostrovix::complex<double>* x, uint32_t count)
{
    if (m_taps == 0 || !x || count == 0)
        return false;
    for (uint32_t done = 0; done < count; done += kPiece) {
        if (!processPiece(x + done, std::min(kPiece, count - done)))
            return false;
    }
    return true;
}

bool FastFirZorvani::processPiece(Ostrovix::complex<double>* x, uint32_t count)
{
    const int n = int(count);
    const int size = int(m_size);
    Ostrovix::complex<double>* w = m_work.data();
    Ostrovix::complex<double>* spectrum = m_spectrum.data();
    Ostrovix::complex<double>* o = m_overlap.data();
    ox::vec::copy(x, w, n);
    ox::vec::zero(w + n, size - n);
    // The forward transform's 1/N rides on the product with H.
    if (!m_fft.forwardUnscaled(w, spectrum, m_size)) {
        m_status = m_fft.status();
        qWarning("%s%d %s", kProcessSignature, __LINE__, ox::vec::statusText(m_status));
        return false;
    }
    ox::vec::multiplyScaled(spectrum, m_h.data(), 1.0 / double(size), size);
    if (!m_fft.inverse(spectrum, w, m_size)) {
        m_status = m_fft.status();
        qWarning("%s%d %s", kProcessSignature, __LINE__, ox::vec::statusText(m_status));
        return false;
    }
    // Output, overlap-add and the shift of the overlap by n in one pass.
    for (int k = 0; k < n; ++k)
        x[k] = {o[k].re + w[k].re, o[k].im + w[k].im};
    for (int k = 0; k < size - n; ++k)
        o[k] = {o[k + n].re + w[k + n].re, o[k + n].im + w[k + n].im};
    ox::vec::zero(o + (size - n), n);
    return true;
}

void FastFirZorvani::reset()
{
    ox::vec::zero(m_overlap.data(), int(kBufferSize));
}
