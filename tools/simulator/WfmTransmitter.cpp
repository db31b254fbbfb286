#include "WfmTransmitter.h"

#include <algorithm>
#include <cmath>

namespace zorvani::sim {

namespace {
constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr double kHalfPi = 1.5707963267948966192313216916398;
constexpr std::uint16_t kPrbsStart = 0x1FF;

std::uint16_t prbsStep(std::uint16_t s)
{
    const std::uint16_t feedback = (s ^ (s >> 4)) & 1u;
    return std::uint16_t((s >> 1) | (feedback << 8));
}
} // namespace

void WfmTransmitter::Line::start(double lineHz, double phase, double lineAmplitude)
{
    hz = lineHz;
    amplitude = lineAmplitude;
    re = std::cos(phase);
    im = std::sin(phase);
}

void WfmTransmitter::Line::setRate(double rate)
{
    wr = std::cos(kTwoPi * hz / rate);
    wi = std::sin(kTwoPi * hz / rate);
}

void WfmTransmitter::Line::step()
{
    // Rotation with a first-order amplitude correction: no drift over hours.
    const double r = re * wr - im * wi;
    const double i = re * wi + im * wr;
    const double g = 1.5 - 0.5 * (r * r + i * i);
    re = r * g;
    im = i * g;
}

WfmTransmitter::WfmTransmitter(const WfmProgramme& programme) : m_programme(programme)
{
    reset();
}

int WfmTransmitter::dataBit(std::uint64_t k)
{
    std::uint16_t s = kPrbsStart;
    for (std::uint64_t i = 0; i < k % 511; ++i)
        s = prbsStep(s);
    return (s & 1u) ? 1 : -1;
}

void WfmTransmitter::reset()
{
    buildLines();
    m_bitPosition = 0.0;
    m_prbs = kPrbsStart;
    setRate(m_rate);
}

void WfmTransmitter::setRate(double rateHz)
{
    if (!(rateHz > 0.0))
        return;
    m_rate = rateHz;
    for (int i = 0; i < m_lineCount; ++i)
        m_lines[size_t(i)].setRate(rateHz);
    m_dataLow.setRate(rateHz);
    m_dataHigh.setRate(rateHz);
}

// Each term A cos(2 pi f t + psi) of m integrates to a phase of
// 2 pi 75 kHz A / (2 pi f) sin(2 pi f t + psi): a line of amplitude 75 kHz A / f.
void WfmTransmitter::buildLines()
{
    const WfmProgramme& p = m_programme;
    const double d = kDeviationHz;
    const bool hasLeft = p.leftHz > 0.0, hasRight = p.rightHz > 0.0;
    const bool stereo = p.pilot > 0.0;
    auto emphasis = [&](double hz) { return std::hypot(1.0, kTwoPi * hz * p.tauSeconds); };
    auto emphasisPhase = [&](double hz) { return std::atan(kTwoPi * hz * p.tauSeconds); };

    m_audio = p.audio;
    if (m_audio < 0.0) {
        const double loudest = std::max(hasLeft ? emphasis(p.leftHz) : 0.0, hasRight ? emphasis(p.rightHz) : 0.0);
        m_audio = loudest > 0.0 ? 1.0 / loudest : 1.0;
    }
    const double programme = 1.0 - std::max(p.pilot, 0.0) - std::max(p.data, 0.0);

    m_lineCount = 0;
    auto add = [&](double hz, double phase, double amplitude) {
        m_lines[size_t(m_lineCount++)].start(hz, phase, amplitude);
    };
    const struct {
        bool present;
        double hz;
        double sign; // in the difference signal
    } tones[] = {{hasLeft, p.leftHz, 1.0}, {hasRight, p.rightHz, -1.0}};
    for (const auto& t : tones) {
        if (!t.present)
            continue;
        // Pre-emphasised tone a |H| cos(w t + theta), H = 1 + j w tau.
        const double a = m_audio * emphasis(t.hz);
        const double theta = emphasisPhase(t.hz);
        add(t.hz, theta, d * programme * a / 2.0 / t.hz);
        if (stereo) {
            // (a|H|/2) cos(w t + theta) sin(2p) = (a|H|/4) [sin((2fp + f) + theta) + sin((2fp - f) - theta)];
            // sin integrates to -cos, a quarter turn back.
            const double s = t.sign * d * programme * a / 4.0;
            add(2.0 * kPilotHz + t.hz, theta - kHalfPi, s / (2.0 * kPilotHz + t.hz));
            add(2.0 * kPilotHz - t.hz, -theta - kHalfPi, s / (2.0 * kPilotHz - t.hz));
        }
    }
    if (stereo)
        add(kPilotHz, -kHalfPi, d * p.pilot / kPilotHz);

    // Kr b sin(a) sin(3p) = (Kr b / 2) [cos(3p - a) - cos(3p + a)]: both lines are zero at
    // every bit edge (a and 3p whole turns there), so the sign of a bit switches smoothly.
    const double low = 3.0 * kPilotHz - kDataBitRate, high = 3.0 * kPilotHz + kDataBitRate;
    const double kr = std::max(p.data, 0.0);
    m_dataLow.start(low, 0.0, d * kr / 2.0 / low);
    m_dataHigh.start(high, 0.0, -d * kr / 2.0 / high);
}

double WfmTransmitter::next()
{
    double phase = 0.0;
    for (int i = 0; i < m_lineCount; ++i) {
        Line& l = m_lines[size_t(i)];
        phase += l.amplitude * l.im;
        l.step();
    }
    if (m_dataLow.amplitude != 0.0) {
        const double sign = (m_prbs & 1u) ? 1.0 : -1.0;
        phase += sign * (m_dataLow.amplitude * m_dataLow.im + m_dataHigh.amplitude * m_dataHigh.im);
        m_dataLow.step();
        m_dataHigh.step();
        m_bitPosition += kDataBitRate / m_rate;
        if (m_bitPosition >= 1.0) {
            m_bitPosition -= 1.0;
            m_prbs = prbsStep(m_prbs);
        }
    }
    return phase;
}

} // namespace zorvani::sim
