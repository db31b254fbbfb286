#include "zorvaniDsp/Filters/HalfBandDecimator.h"

#include "vector/Vector.h"

#include <cmath>
#include <cstring>

namespace {

// Kaiser's estimates: the window shape for a stopband depth and the length
// for a transition width (both relative to the sample rate).
double kaiserBeta(double attenuationDb)
{
    if (attenuationDb > 50.0)
        return 0.1102 * (attenuationDb - 8.7);
    if (attenuationDb >= 21.0)
        return 0.5842 * std::pow(attenuationDb - 21.0, 0.4) + 0.07886 * (attenuationDb - 21.0);
    return 0.0;
}

// Side taps of a half-band filter designed for `designDb` with a transition
// of `transition` (relative to the rate).
std::vector<double> design(double transition, double designDb)
{
    const double estimate = (designDb - 7.95) / (2.285 * ox::vec::kTwoPi * transition) + 1.0;
    // A half-band filter of 4k - 1 taps has non-zero taps at both ends.
    const int k = std::max(1, int(std::ceil((estimate + 1.0) / 4.0)));
    const int centre = 2 * k - 1;
    const double beta = kaiserBeta(designDb);
    const double norm = std::cyl_bessel_i(0.0, beta);
    std::vector<double> side(size_t(k), 0.0);
    double sum = 0.0;
    for (int i = 0; i < k; ++i) {
        const int m = 2 * i + 1;
        const double r = double(m) / double(centre);
        const double window = std::cyl_bessel_i(0.0, beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / norm;
        side[size_t(i)] = std::sin(ox::vec::kPi * m / 2.0) / (ox::vec::kPi * m) * window;
        sum += side[size_t(i)];
    }
    // Unit gain at 0 Hz: the side taps add up to 1/4 on each side.
    for (double& c : side)
        c *= 0.25 / sum;
    return side;
}

// Largest magnitude of the response from `from` to 0.5 (relative to the rate).
double stopbandPeak(const std::vector<double>& side, double from)
{
    constexpr int kPoints = 1024;
    double peak = 0.0;
    for (int p = 0; p <= kPoints; ++p) {
        const double f = from + (0.5 - from) * p / kPoints;
        double h = 0.5;
        for (size_t j = 0; j < side.size(); ++j)
            h += 2.0 * side[j] * std::cos(ox::vec::kTwoPi * f * double(2 * j + 1));
        peak = std::max(peak, std::abs(h));
    }
    return peak;
}

// One output around the centre sample c: four partial sums, so that the
// additions do not wait on each other.
inline Ostrovix::complex<double> filterAt(const Ostrovix::complex<double>* c, const double* g, int k)
{
    double re[4] = {0.5 * c[0].re, 0.0, 0.0, 0.0};
    double im[4] = {0.5 * c[0].im, 0.0, 0.0, 0.0};
    int j = 0;
    for (; j + 4 <= k; j += 4) {
        for (int u = 0; u < 4; ++u) {
            const int m = 2 * (j + u) + 1;
            re[u] += g[j + u] * (c[-m].re + c[m].re);
            im[u] += g[j + u] * (c[-m].im + c[m].im);
        }
    }
    for (; j < k; ++j) {
        const int m = 2 * j + 1;
        re[0] += g[j] * (c[-m].re + c[m].re);
        im[0] += g[j] * (c[-m].im + c[m].im);
    }
    return {(re[0] + re[1]) + (re[2] + re[3]), (im[0] + im[1]) + (im[2] + im[3])};
}

} // namespace

bool HalfBandDecimator::init(double passEdge, double attenuationDb)
{
    if (!(passEdge > 0.0 && passEdge < 0.25) || !(attenuationDb >= 20.0 && attenuationDb <= 200.0))
        return false;
    // Kaiser's estimates fall a few dB short for short filters: aim deeper
    // until the taps reach the depth asked for.
    const double transition = 0.5 - 2.0 * passEdge;
    const double limit = std::pow(10.0, -attenuationDb / 20.0);
    std::vector<double> side;
    for (double aim = attenuationDb; aim < attenuationDb + 40.0; aim += 1.0) {
        side = design(transition, aim);
        if (stopbandPeak(side, 0.5 - passEdge) <= limit)
            break;
    }
    m_side = std::move(side);
    m_taps = 4 * int(m_side.size()) - 1;
    m_line.assign(size_t(m_taps - 1 + kChunk), Sample{0.0, 0.0});
    reset();
    return true;
}

void HalfBandDecimator::reset()
{
    ox::vec::zero(m_line.data(), int(m_line.size()));
    m_odd = false;
}

int HalfBandDecimator::process(const Sample* in, int count, Sample* out)
{
    if (m_taps == 0 || in == nullptr || out == nullptr || count <= 0)
        return 0;
    const int history = m_taps - 1;
    const int centre = history / 2;
    const int k = int(m_side.size());
    const double* g = m_side.data();
    int written = 0;
    for (int done = 0; done < count;) {
        const int n = std::min(kChunk, count - done);
        // Copied before any output is written, so `out` may overlap `in`.
        std::memcpy(m_line.data() + history, in + done, size_t(n) * sizeof(Sample));
        for (int i = m_odd ? 1 : 0; i < n; i += 2) {
            // Newest sample of this output at history + i, its centre `centre` older.
            const Sample* c = m_line.data() + i + centre;
            out[written++] = filterAt(c, g, k);
        }
        m_odd = ((n & 1) != 0) != m_odd;
        std::memmove(m_line.data(), m_line.data() + n, size_t(history) * sizeof(Sample));
        done += n;
    }
    return written;
}
