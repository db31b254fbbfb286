#include "zorvaniDsp/Audio/MixerZorvani.h"

#include "vector/Vector.h"
#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

constexpr int kModeLsb = 3;
constexpr int kModeUsb = 4;
constexpr int kModeCw = 5;
constexpr double kGainStep = 0.02;
// A ramp this close to its target is set to it: -180 dB, inaudible, and it
// keeps fades from crawling through denormals.
constexpr double kSnap = 1e-9;

struct RampState {
    double& gain;
    double target;

    double next()
    {
        if (gain != target) {
            gain = MixerZorvani::kGainSmoothing * gain + kGainStep * target;
            if (std::abs(gain - target) <= kSnap)
                gain = target;
        }
        return gain;
    }
};

inline double scaled(double v, double g) { return g == 0.0 ? 0.0 : v * g; }

} // namespace

MixerZorvani::MixerZorvani(std::vector<MixerSource*> sources, std::shared_ptr<ResamplerSCZorvani> soundCard)
    : m_sources(sources.size())
    , m_soundCard(std::move(soundCard))
    , m_block(kBlockFrames)
    , m_mix(kBlockFrames)
{
    for (std::size_t i = 0; i < sources.size(); ++i) {
        m_sources[i].source = sources[i];
        if (sources[i])
            sources[i]->setMixerWake(m_worker.wakeSignal());
        for (Channel& c : m_sources[i].channels)
            c.delay.assign(kDelayFrames, 0.0);
    }
}

MixerZorvani::~MixerZorvani()
{
    stop();
    for (Source& s : m_sources)
        if (s.source)
            s.source->setMixerWake(nullptr);
}

void MixerZorvani::start()
{
    m_worker.start([this] { return mixOnce(); });
}

void MixerZorvani::stop()
{
    m_worker.stop();
}

void MixerZorvani::reset()
{
    std::lock_guard<SpinLock> guard(m_lock);
    m_output.reset();
    for (Source& s : m_sources) {
        for (Channel& c : s.channels) {
            std::fill(c.delay.begin(), c.delay.end(), 0.0);
            c.delayPos = 0;
        }
    }
    m_levelEnvelope = 0.0;
    m_levelGain = 1.0;
}

MixerZorvani::Channel* MixerZorvani::channel(int rx, int ch)
{
    if (rx < 0 || rx >= static_cast<int>(m_sources.size()) || ch < 0 || ch > 1)
        return nullptr;
    return &m_sources[rx].channels[ch];
}

void MixerZorvani::setEnable(int rx, int ch, bool on)
{
    {
        std::lock_guard<SpinLock> guard(m_lock);
        if (Channel* c = channel(rx, ch))
            c->enabled = on;
    }
    // Which receivers are waited for may have changed.
    m_worker.notify();
}

void MixerZorvani::setMute(int rx, int ch, bool on)
{
    std::lock_guard<SpinLock> guard(m_lock);
    if (Channel* c = channel(rx, ch))
        c->muted = on;
}

void MixerZorvani::setMasterMute(bool on)
{
    std::lock_guard<SpinLock> guard(m_lock);
    m_masterMute = on;
}

void MixerZorvani::setGain(int rx, int ch, double gain, double balance)
{
    const double g = gain > 0.0 ? gain : 0.0;
    const double b = std::clamp(balance, -100.0, 100.0) / 100.0;
    std::lock_guard<SpinLock> guard(m_lock);
    if (Channel* c = channel(rx, ch)) {
        c->left.target = g * std::min(1.0, 1.0 - b);
        c->right.target = g * std::min(1.0, 1.0 + b);
    }
}

void MixerZorvani::setMasterGain(double gain)
{
    std::lock_guard<SpinLock> guard(m_lock);
    m_master.target = gain > 0.0 ? gain : 0.0;
}

void MixerZorvani::setBinaural(int rx, int ch, bool on)
{
    std::lock_guard<SpinLock> guard(m_lock);
    Channel* c = channel(rx, ch);
    if (c == nullptr || c->binaural == on)
        return;
    c->binaural = on;
    std::fill(c->delay.begin(), c->delay.end(), 0.0);
    c->delayPos = 0;
}

void MixerZorvani::setLevelStageEnabled(bool on)
{
    std::lock_guard<SpinLock> guard(m_lock);
    m_levelEnabled = on;
}

// A receiver is read while one of its channels is enabled, and also while a
// disabled channel is still fading, so that switching off never clicks.
bool MixerZorvani::audible(const Source& s) const
{
    if (s.source == nullptr)
        return false;
    bool audible = false;
    for (const Channel& c : s.channels)
        audible = audible || c.enabled || c.left.gain != 0.0 || c.right.gain != 0.0;
    return audible;
}

bool MixerZorvani::ready(const Source& s) const
{
    return s.source->outputRing(0).fill() >= kBlockFrames && s.source->outputRing(1).fill() >= kBlockFrames;
}

bool MixerZorvani::inStep() const
{
    // Receivers are summed block by block in step: a block mixed while one of
    // them is late would jump in level, every 5 ms.
    bool anyReady = false;
    bool anyLate = false;
    uint32_t lead = 0;
    for (const Source& s : m_sources) {
        if (!audible(s))
            continue;
        if (ready(s)) {
            anyReady = true;
            lead = std::max(lead, std::min(s.source->outputRing(0).fill(), s.source->outputRing(1).fill()));
        } else if (s.missed < kAbsentBlocks) {
            anyLate = true;
        }
    }
    return anyReady && (!anyLate || lead >= kMaxLeadFrames);
}

void MixerZorvani::mixChannel(Channel& c, bool mono, bool haas, Ostrovix::complex<double>* x)
{
    if (mono) {
        for (int i = 0; i < kBlockFrames; ++i)
            x[i].im = x[i].re;
    } else if (haas) {
        for (int i = 0; i < kBlockFrames; ++i) {
            const double delayed = c.delay[c.delayPos];
            c.delay[c.delayPos] = x[i].im;
            x[i].im = delayed;
            c.delayPos = c.delayPos + 1 == kDelayFrames ? 0 : c.delayPos + 1;
        }
    }
    const bool audible = c.enabled && !c.muted;
    RampState left{c.left.gain, audible ? c.left.target : 0.0};
    RampState right{c.right.gain, audible ? c.right.target : 0.0};
    for (int i = 0; i < kBlockFrames; ++i) {
        x[i].re = scaled(x[i].re, left.next());
        x[i].im = scaled(x[i].im, right.next());
    }
}

void MixerZorvani::levelStage(Ostrovix::complex<double>* x, int n)
{
    if (!m_levelEnabled && m_levelGain == 1.0)
        return;
    static const double release = std::exp(-1000.0 / (kLevelReleaseMs * kWorkingRate));
    RampState level{m_levelGain, 1.0};
    for (int i = 0; i < n; ++i) {
        if (m_levelEnabled) {
            const double peak = std::max(std::abs(x[i].re), std::abs(x[i].im));
            m_levelEnvelope = std::max(peak, m_levelEnvelope * release);
            level.target = m_levelEnvelope > kLevelTarget ? kLevelTarget / m_levelEnvelope : 1.0;
        } else {
            m_levelEnvelope = 0.0;
            level.target = 1.0;
        }
        const double g = level.next();
        x[i].re *= g;
        x[i].im *= g;
    }
}

bool MixerZorvani::mixOnce()
{
    std::lock_guard<SpinLock> guard(m_lock);
    if (!inStep())
        return false;
    bool moved = false;
    ox::vec::zero(m_mix.data(), kBlockFrames);
    for (Source& s : m_sources) {
        if (!audible(s))
            continue;
        if (!ready(s)) {
            s.missed = std::min(s.missed + 1, int(kAbsentBlocks));
            continue;
        }
        s.missed = 0;
        const int mode = s.source->activeMode();
        const bool binauralCw = s.source->binauralCw();
        for (int ch = 0; ch < 2; ++ch) {
            Channel& c = s.channels[ch];
            if (!s.source->outputRing(ch).read(m_block.data(), kBlockFrames))
                continue;
            const bool sideband = mode == kModeLsb || mode == kModeUsb;
            const bool mono = (sideband && !c.binaural) || (mode == kModeCw && !c.binaural && !binauralCw);
            const bool haas = c.binaural && (sideband || mode == kModeCw);
            mixChannel(c, mono, haas, m_block.data());
            ox::vec::add(m_mix.data(), m_block.data(), kBlockFrames);
        }
        moved = true;
    }
    if (!moved)
        return false;

    RampState master{m_master.gain, m_masterMute ? 0.0 : m_master.target};
    for (int i = 0; i < kBlockFrames; ++i) {
        const double g = master.next();
        m_mix[i].re = scaled(m_mix[i].re, g);
        m_mix[i].im = scaled(m_mix[i].im, g);
    }
    levelStage(m_mix.data(), kBlockFrames);

    m_output.write(m_mix.data(), kBlockFrames);
    if (m_soundCard)
        m_soundCard->push(m_mix.data(), kBlockFrames);
    return true;
}
