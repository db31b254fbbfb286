#include "zorvaniDsp/ReceiverZorvani.h"

#include "IqTapAbstract.h"
#include "zorvaniDsp/Audio/AudioPull.h"
#include "vector/Vector.h"
#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kOutputRate = 48000.0;
// The decimator is flat up to 2000 Hz below the working Nyquist frequency.
constexpr double kDecimatorPassEdge = ReceiverZorvani::kWorkingRate / 2.0 - 2000.0;
// AGC gain range the receiver gives its stages, dB.
constexpr double kAgcMaxGain = 120.0;
constexpr double kAgcMinGain = -40.0;
// Channel 0 goes to the VAC and line-out paths at a quarter of its level.
constexpr double kConverterScale = 0.25;
constexpr double kWfmTauEurope = 50e-6;
constexpr double kWfmTauUsa = 75e-6;

void scale(Ostrovix::complex<double>* x, int n, double g)
{
    for (int k = 0; k < n; ++k) {
        x[k].re *= g;
        x[k].im *= g;
    }
}

} // namespace

ReceiverZorvani::Channel::Channel() : buffer(kRingSize)
{
    agc.setSampleRate(kWorkingRate);
    agc.setMaxGain(kAgcMaxGain);
    agc.setMinGain(kAgcMinGain);
    sam.setSampleRate(kWorkingRate);
    equalizer.setSampleRate(kWorkingRate);
    binaural.setSampleRate(kWorkingRate);
    drmShift.setFrequency(kDrmShift / kWorkingRate);
}

ReceiverZorvani::ReceiverZorvani(quint32 number, QObject* parent)
    : QObject(parent), m_number(number), m_wfmInput(kRingSize),
      m_vac(std::make_unique<ResamplerSCZorvani>(kWorkingRate, kOutputRate)),
      m_lineOut(std::make_unique<ResamplerSCZorvani>(kWorkingRate, kOutputRate))
{
    std::lock_guard<SpinLock> guard(m_params);
    designInputRateLocked();
    designCwLocked();
    designSsbApfLocked();
}

ReceiverZorvani::~ReceiverZorvani()
{
    stop();
    m_vac->stop();
    m_lineOut->stop();
}

// --- thread ---

void ReceiverZorvani::start()
{
    // One pass a wake-up, and none before the first: the entry wakes the
    // receiver once a whole decimated block is in, and a pass takes it all.
    m_worker.start(
        [this] {
            processBuffered();
            return false;
        },
        [this] { reset(); }, SleepingWorker::Begin::OnNotify);
}

void ReceiverZorvani::stop()
{
    m_worker.stop();
}

void ReceiverZorvani::wake()
{
    m_worker.notify();
}

void ReceiverZorvani::reset()
{
    m_input.reset();
    m_output[0].reset();
    m_output[1].reset();
    std::lock_guard<SpinLock> guard(m_params);
    m_resetRequest = true;
}

// --- block processing ---

void ReceiverZorvani::processBuffered()
{
    double level[2], peakRe[2], peakIm[2];
    bool stereo;
    {
        std::lock_guard<SpinLock> guard(m_params);
        if (!processLocked())
            return;
        for (int ch = 0; ch < 2; ++ch) {
            level[ch] = m_channels[ch].meter.level();
            peakRe[ch] = m_channels[ch].meter.peakRe();
            peakIm[ch] = m_channels[ch].meter.peakIm();
        }
        stereo = m_stereo;
    }
    outputWritten();
    // Emitted outside the lock: a direct connection must not run under it.
    for (quint32 ch = 0; ch < 2; ++ch)
        emit adcMeter(ch, peakRe[ch], peakIm[ch]);
    for (quint32 ch = 0; ch < 2; ++ch)
        emit dBmMeter(ch, level[ch]);
    emit wfmStereo(stereo);
}

bool ReceiverZorvani::processLocked()
{
    // Whole decimation periods only, so both channels' decimators keep one phase.
    const int d = decimation();
    uint32_t available = std::min(m_input.fill(), kRingSize);
    available -= available % uint32_t(d);
    if (available == 0)
        return false;
    Sample* x0 = m_channels[0].buffer.data();
    Sample* x1 = m_channels[1].buffer.data();
    if (!m_input.read(x0, available))
        return false;
    const int n = int(available);

    if (m_resetRequest || m_switcher.takeResetRequest()) {
        m_resetRequest = false;
        clearFilterStates();
    }
    m_agcQueue.drain([this](const AgcSettings& s) { applyAgcLocked(s); });

    const int mode = m_switcher.activeMode();
    const bool active[2] = {channelActiveLocked(0), channelActiveLocked(1)};
    if (active[1])
        std::copy(x0, x0 + n, x1);
    for (int ch = 0; ch < 2; ++ch) {
        Channel& c = m_channels[ch];
        if (!active[ch])
            continue;
        // A channel back from a pause starts clean, not with what it held then.
        if (c.resumed) {
            clearChannel(c);
            c.resumed = false;
        }
        c.ifShift.process(c.buffer.data(), n);
        if (mode == DIGL)
            c.diglShift.process(c.buffer.data(), n);
        else if (mode == DIGU)
            c.diguShift.process(c.buffer.data(), n);
    }

    int out = n / d;
    if (mode == WFM) {
        out = demodulateWfm(n, active);
    } else {
        m_stereo = false;
        for (int ch = 0; ch < 2; ++ch)
            if (active[ch])
                out = processChannel(m_channels[ch], mode, n);
    }
    for (int ch = 0; ch < 2; ++ch) {
        Channel& c = m_channels[ch];
        if (!active[ch])
            ox::vec::zero(c.buffer.data(), out);
        if (!c.enabled)
            c.fadeTail = std::max(0, c.fadeTail - out);
    }

    m_switcher.process(x0, x1, out);
    m_activeMode.store(m_switcher.activeMode(), std::memory_order_release);

    if (SignalAnalyzerAbstract* analyzer = m_analyzer.load(std::memory_order_acquire); analyzer && analyzer->isActive(0))
        analyzer->write(m_number, x0, std::size_t(out));

    if (mode == LSB) {
        for (int ch = 0; ch < 2; ++ch)
            if (active[ch])
                for (int k = 0; k < out; ++k)
                    std::swap(m_channels[ch].buffer[size_t(k)].re, m_channels[ch].buffer[size_t(k)].im);
    }

    // A ring without room drops this block rather than part of it.
    m_output[0].write(x0, uint32_t(out));
    m_output[1].write(x1, uint32_t(out));
    sendToConverters(out);
    return true;
}

bool ReceiverZorvani::channelActiveLocked(int ch) const
{
    const Channel& c = m_channels[ch];
    if (c.enabled || c.fadeTail > 0)
        return true;
    // Channel 0 also feeds the VAC and line-out paths and the signal analyzer.
    if (ch != 0)
        return false;
    const SignalAnalyzerAbstract* analyzer = m_analyzer.load(std::memory_order_acquire);
    return m_vac->isRunning() || m_lineOut->isRunning() || (analyzer && analyzer->isActive(0));
}

int ReceiverZorvani::processChannel(Channel& c, int mode, int n)
{
    Sample* x = c.buffer.data();
    const int out = decimation() > 1 ? c.decimator.process(x, n) : n;
    c.bandPass.process(x, uint32_t(out));
    c.meter.process(x, out);
    demodulate(c, mode, out);
    levelControl(c, mode, out);
    return out;
}

void ReceiverZorvani::demodulate(Channel& c, int mode, int n)
{
    Sample* x = c.buffer.data();
    switch (mode) {
    case AM:
        c.am.process(x, n);
        break;
    case SAM:
        c.sam.process(x, n);
        break;
    case LSB:
    case USB:
        c.ssbApf.process(x, n);
        break;
    case CW:
        c.cwShift.process(x, n);
        c.cwApf.process(x, n);
        break;
    case NFM:
        c.fm.process(x, n);
        break;
    case DRM:
        c.drmShift.process(x, n);
        break;
    default: // DSB, DIGL, DIGU: the filtered channel is the audio
        break;
    }
}

void ReceiverZorvani::levelControl(Channel& c, int mode, int n)
{
    Sample* x = c.buffer.data();
    c.equalizer.process(x, n);
    if (mode != CW)
        c.anf.process(x, n);
    c.nr.process(x, n);
    if (mode == CW)
        c.binaural.process(x, n);
    if (mode == NFM) {
        c.fmSquelch.process(x, n, c.meter.slowLevel());
    } else {
        c.agc.process(x, n);
        c.squelch.process(x, n, c.meter.level());
    }
}

int ReceiverZorvani::demodulateWfm(int n, const bool active[2])
{
    // Only channel 0 is demodulated; channel 1 keeps its meter.
    for (int ch = 0; ch < 2; ++ch) {
        if (!active[ch])
            continue;
        Channel& c = m_channels[ch];
        c.wideFilter.process(c.buffer.data(), uint32_t(n));
        c.meter.process(c.buffer.data(), n);
    }
    if (!active[0]) {
        m_stereo = false;
        return n / decimation();
    }
    const Sample* x0 = m_channels[0].buffer.data();
    for (int k = 0; k < n; ++k)
        m_wfmInput[size_t(k)] = Ostrovix::complex<float>{float(x0[k].re), float(x0[k].im)};
    const int produced = std::min(m_wfm->process(m_wfmInput.data(), n, m_wfmOutput.data()), int(kRingSize));
    std::copy(m_wfmOutput.begin(), m_wfmOutput.begin() + produced, m_channels[0].buffer.begin());
    std::fill(m_channels[1].buffer.begin(), m_channels[1].buffer.begin() + produced, Sample{0.0, 0.0});
    m_stereo = m_wfm->stereo();
    return produced;
}

void ReceiverZorvani::sendToConverters(int n)
{
    const bool vac = m_vac->isRunning() && m_vac->inputRing().free() >= uint32_t(n);
    const bool line = m_lineOut->isRunning() && m_lineOut->inputRing().free() >= uint32_t(n);
    if (!vac && !line)
        return;
    Sample* x0 = m_channels[0].buffer.data();
    scale(x0, n, kConverterScale);
    if (vac)
        m_vac->push(x0, uint32_t(n));
    if (line)
        m_lineOut->push(x0, uint32_t(n));
}

void ReceiverZorvani::clearFilterStates()
{
    for (Channel& c : m_channels)
        clearChannel(c);
    m_wfm->reset();
}

void ReceiverZorvani::clearChannel(Channel& c)
{
    c.decimator.reset();
    c.bandPass.reset();
    c.wideFilter.reset();
    c.am.reset();
    c.sam.reset();
    c.fm.reset();
    c.ssbApf.reset();
    c.cwApf.reset();
    c.binaural.reset();
    c.nr.reset();
    c.anf.reset();
    c.equalizer.reset();
    c.agc.reset();
    c.fmSquelch.reset();
}

void ReceiverZorvani::applyAgcLocked(const AgcSettings& s)
{
    m_agc = s;
    for (Channel& c : m_channels)
        c.agc.setParameters(s.attackMs, s.decayMs, s.hangMs, s.enabled);
}

// --- designs (all under the parameter lock) ---

void ReceiverZorvani::designInputRateLocked()
{
    const int d = std::max(1, int(std::lround(m_inputRate / kWorkingRate)));
    m_decimation.store(d, std::memory_order_release);
    for (Channel& c : m_channels) {
        c.decimator.init(d, kWorkingRate, kDecimatorPassEdge);
        c.meter.setDecimation(d);
        c.ifShift.setFrequency(-c.ifOffset / m_inputRate);
        c.ifShift.setRit(-c.rit / m_inputRate);
        c.diglShift.setFrequency(-m_diglOffset / m_inputRate);
        c.diguShift.setFrequency(-m_diguOffset / m_inputRate);
        designChannelLocked(c);
    }
    designWfmLocked();
}

void ReceiverZorvani::designChannelLocked(Channel& c)
{
    c.bandPass.init(c.filterLow / kWorkingRate, c.filterHigh / kWorkingRate, m_taps);
    c.wideFilter.init(c.filterLow / m_inputRate, c.filterHigh / m_inputRate, m_taps);
    const double audioEdge = std::max(std::fabs(c.filterLow), std::fabs(c.filterHigh)) / kWorkingRate;
    c.am.setBandwidth(audioEdge);
    c.sam.setBandwidth(audioEdge);
    designCwApfLocked(c);
}

void ReceiverZorvani::designCwApfLocked(Channel& c)
{
    // The CW peak narrows with the filter: Q = setting * pitch / max(450, width).
    const double q = m_cwApfQuality * m_cwPitch / std::max(450.0, std::fabs(c.filterHigh - c.filterLow));
    c.cwApf.init(BiQuadFilter::Peaking, m_cwPitch / kWorkingRate, q, m_cwApfGain);
}

void ReceiverZorvani::designCwLocked()
{
    for (Channel& c : m_channels) {
        c.cwShift.setFrequency(m_cwPitch / kWorkingRate);
        c.binaural.setPitch(m_cwPitch);
        designCwApfLocked(c);
    }
}

void ReceiverZorvani::designSsbApfLocked()
{
    for (Channel& c : m_channels)
        c.ssbApf.init(BiQuadFilter::Peaking, m_ssbApfFrequency / kWorkingRate, m_ssbApfQuality, m_ssbApfGain);
}

void ReceiverZorvani::designWfmLocked()
{
    m_wfm = std::make_unique<WfmReceiverZorvani>(m_inputRate, kWorkingRate, m_wfmStereoOn,
                                                 m_wfmUsa ? kWfmTauUsa : kWfmTauEurope);
    m_wfmOutput.resize(size_t(WfmReceiverZorvani::maxOutput(int(kRingSize), m_inputRate, kWorkingRate)));
}

// --- VAC and line-out paths ---

void ReceiverZorvani::openVac(int sampleRate)
{
    if (sampleRate <= 0 || !m_vac->init(kWorkingRate, double(sampleRate)))
        return;
    if (m_vacOpen.load(std::memory_order_acquire))
        return;
    m_vac->start();
    m_vacOpen.store(true, std::memory_order_release);
}

void ReceiverZorvani::vacClose()
{
    m_vacOpen.store(false, std::memory_order_release);
    m_vac->stop();
}

void ReceiverZorvani::lineoutOpen()
{
    if (m_lineOutOpen.load(std::memory_order_acquire))
        return;
    m_lineOut->start();
    m_lineOutOpen.store(true, std::memory_order_release);
}

void ReceiverZorvani::lineoutClose()
{
    m_lineOutOpen.store(false, std::memory_order_release);
    m_lineOut->stop();
}

bool ReceiverZorvani::pullVac(float* buffer, quint32 length, quint32 channels)
{
    return pullStereo(m_vac->outputRing(), vacOpen(), buffer, length, channels);
}

bool ReceiverZorvani::pullLineOut(float* buffer, quint32 length, quint32 channels)
{
    return pullStereo(m_lineOut->outputRing(), lineOutOpen(), buffer, length, channels);
}
