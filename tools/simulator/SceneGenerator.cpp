#include "SceneGenerator.h"

#include <cmath>

namespace zorvani::sim {

namespace {
constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr double kCtcssDeviationHz = 300.0;
constexpr double kCwEdgeSeconds = 0.005;

std::uint64_t splitmix(std::uint64_t& x)
{
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k)
{
    return (x << k) | (x >> (64 - k));
}
} // namespace

Random::Random(std::uint64_t seed)
{
    for (auto& s : m_s)
        s = splitmix(seed);
}

std::uint64_t Random::next()
{
    const std::uint64_t result = rotl(m_s[1] * 5, 7) * 9;
    const std::uint64_t t = m_s[1] << 17;
    m_s[2] ^= m_s[0];
    m_s[3] ^= m_s[1];
    m_s[1] ^= m_s[2];
    m_s[0] ^= m_s[3];
    m_s[2] ^= t;
    m_s[3] = rotl(m_s[3], 45);
    return result;
}

double Random::uniform()
{
    return double(next() >> 11) * (1.0 / 9007199254740992.0);
}

double Random::gaussian()
{
    // Box-Muller, both values used.
    if (m_hasSpare) {
        m_hasSpare = false;
        return m_spare;
    }
    const double u = 1.0 - uniform(); // (0, 1]
    const double v = uniform();
    const double r = std::sqrt(-2.0 * std::log(u));
    m_spare = r * std::sin(kTwoPi * v);
    m_hasSpare = true;
    return r * std::cos(kTwoPi * v);
}

void SceneGenerator::Osc::setFrequency(double hz, double rate)
{
    wr = std::cos(kTwoPi * hz / rate);
    wi = std::sin(kTwoPi * hz / rate);
}

SceneGenerator::SceneGenerator(const Scene& scene, std::uint64_t salt)
    : m_scene(scene), m_salt(salt)
{
    reset();
}

void SceneGenerator::setTuning(double centreHz, double rateHz)
{
    if (!(rateHz > 0.0) || !(centreHz >= 0.0))
        return;
    m_centre = centreHz;
    m_rate = rateHz;
    configure();
}

void SceneGenerator::reset()
{
    m_time = 0;
    m_sources.clear();
    m_sources.reserve(size_t(m_scene.emitters.size()));
    for (const Emitter& e : m_scene.emitters) {
        Source s;
        s.e = e;
        s.amplitude = std::pow(10.0, e.levelDbfs / 20.0);
        if (e.kind == Emitter::Wfm) {
            WfmProgramme p;
            p.leftHz = e.toneHz;
            p.rightHz = e.tone2Hz;
            p.tauSeconds = e.tauUs * 1e-6;
            p.pilot = e.pilot;
            p.data = e.data;
            p.audio = e.audio;
            s.wfm = WfmTransmitter(p);
        }
        s.random = Random(m_scene.seed ^ (m_salt * 0x9E3779B97F4A7C15ull) ^ (std::uint64_t(m_sources.size()) << 48));
        m_sources.push_back(s);
    }
    configure();
}

void SceneGenerator::setLevel(int index, double levelDbfs)
{
    if (index < 0 || size_t(index) >= m_sources.size())
        return;
    Source& s = m_sources[size_t(index)];
    s.e.levelDbfs = levelDbfs;
    s.amplitude = std::pow(10.0, levelDbfs / 20.0);
}

void SceneGenerator::configure()
{
    for (Source& s : m_sources) {
        const double offset = s.e.freqHz - m_centre;
        s.visible = !s.e.isBandLimited() || std::abs(offset) < m_rate / 2.0;
        s.carrier.setFrequency(offset, m_rate);
        s.tone1.setFrequency(s.e.toneHz, m_rate);
        s.tone2.setFrequency(s.e.tone2Hz, m_rate);
        s.ctcss.setFrequency(s.e.ctcssHz, m_rate);
        s.wfm.setRate(m_rate);
    }
}

void SceneGenerator::generate(Ostrovix::complex<double>* out, int n)
{
    for (int i = 0; i < n; ++i)
        out[i] = {0.0, 0.0};
    for (Source& s : m_sources) {
        if (s.visible)
            addSource(s, out, n);
    }
    m_time += n;
}

void SceneGenerator::addSource(Source& s, Ostrovix::complex<double>* out, int n)
{
    const double a = s.amplitude;
    const double offset = s.e.freqHz - m_centre;
    switch (s.e.kind) {
    case Emitter::Carrier:
        for (int i = 0; i < n; ++i, s.carrier.step()) {
            out[i].re += a * s.carrier.re;
            out[i].im += a * s.carrier.im;
        }
        break;
    case Emitter::Am:
        for (int i = 0; i < n; ++i, s.carrier.step(), s.tone1.step()) {
            const double env = a * (1.0 + s.e.depth * s.tone1.re);
            out[i].re += env * s.carrier.re;
            out[i].im += env * s.carrier.im;
        }
        break;
    case Emitter::Usb:
    case Emitter::Lsb: {
        // Tones as complex exponentials above (USB) or below (LSB) the carrier.
        const double side = s.e.kind == Emitter::Usb ? 1.0 : -1.0;
        const bool twoTone = s.e.tone2Hz > 0.0;
        for (int i = 0; i < n; ++i, s.carrier.step(), s.tone1.step(), s.tone2.step()) {
            double re = s.tone1.re, im = side * s.tone1.im;
            if (twoTone) {
                re += s.tone2.re;
                im += side * s.tone2.im;
            }
            out[i].re += a * (s.carrier.re * re - s.carrier.im * im);
            out[i].im += a * (s.carrier.re * im + s.carrier.im * re);
        }
        break;
    }
    case Emitter::Cw: {
        // Dots: key down for one dot length, up for one, with linear edges.
        const double dot = 1.2 / s.e.wpm;
        const double edge = std::min(kCwEdgeSeconds, dot / 4.0);
        const double step = 1.0 / (2.0 * dot * m_rate);
        for (int i = 0; i < n; ++i, s.carrier.step()) {
            const double t = s.keyPhase * 2.0 * dot;
            double env = 0.0;
            if (t < edge)
                env = t / edge;
            else if (t < dot - edge)
                env = 1.0;
            else if (t < dot)
                env = (dot - t) / edge;
            out[i].re += a * env * s.carrier.re;
            out[i].im += a * env * s.carrier.im;
            s.keyPhase += step;
            if (s.keyPhase >= 1.0)
                s.keyPhase -= 1.0;
        }
        break;
    }
    case Emitter::Nfm: {
        const double k = kTwoPi / m_rate;
        const bool ctcss = s.e.ctcssHz > 0.0;
        for (int i = 0; i < n; ++i, s.tone1.step(), s.ctcss.step()) {
            double f = offset + s.e.deviationHz * s.tone1.re;
            if (ctcss)
                f += kCtcssDeviationHz * s.ctcss.re;
            s.phase = std::remainder(s.phase + k * f, kTwoPi);
            out[i].re += a * std::cos(s.phase);
            out[i].im += a * std::sin(s.phase);
        }
        break;
    }
    case Emitter::Wfm:
        for (int i = 0; i < n; ++i, s.carrier.step()) {
            const double phase = s.wfm.next();
            const double c = std::cos(phase), d = std::sin(phase);
            out[i].re += a * (s.carrier.re * c - s.carrier.im * d);
            out[i].im += a * (s.carrier.re * d + s.carrier.im * c);
        }
        break;
    case Emitter::Impulse:
        if (s.nextImpulse < 0) // first draw at the rate in use, not at construction
            s.nextImpulse = m_time + std::int64_t(-std::log(1.0 - s.random.uniform()) * m_rate / s.e.rateHz);
        for (int i = 0; i < n; ++i) {
            if (m_time + i >= s.nextImpulse) {
                out[i].re += a;
                s.nextImpulse = m_time + i + 1 +
                                std::int64_t(-std::log(1.0 - s.random.uniform()) * m_rate / s.e.rateHz);
            }
        }
        break;
    case Emitter::Noise: {
        const double sigma = std::sqrt(std::pow(10.0, s.e.levelDbfs / 10.0) * m_rate / 2.0);
        for (int i = 0; i < n; ++i) {
            out[i].re += sigma * s.random.gaussian();
            out[i].im += sigma * s.random.gaussian();
        }
        break;
    }
    }
}

} // namespace zorvani::sim
