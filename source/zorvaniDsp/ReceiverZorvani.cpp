#include "zorvaniDsp/ReceiverZorvani.h"

#include "IqTapAbstract.h"
#include "common/ZorvaniSR.h"

#include <algorithm>
#include <cmath>

ReceiverZorvani::ReceiverZorvani(quint32 number, QObject* parent) : QObject(parent), m_number(number)
{
    for (Channel& c : m_channels)
        c.buffer.resize(kRingSize);
    std::lock_guard<SpinLock> guard(m_params);
    applyInputRateLocked();
}

ReceiverZorvani::~ReceiverZorvani()
{
    stop();
}

void ReceiverZorvani::start()
{
    if (m_thread.joinable())
        return;
    reset();
    m_running.store(true, std::memory_order_release);
    m_thread = std::thread(&ReceiverZorvani::run, this);
}

void ReceiverZorvani::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_running.store(false, std::memory_order_release);
    }
    m_wakeCondition.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void ReceiverZorvani::wake()
{
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_wakeRequested = true;
    }
    m_wakeCondition.notify_one();
}

void ReceiverZorvani::run()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_wakeMutex);
            m_wakeCondition.wait(lock, [this] { return m_wakeRequested || !isRunning(); });
            if (!isRunning())
                return;
            m_wakeRequested = false;
        }
        processBuffered();
    }
}

void ReceiverZorvani::reset()
{
    m_input.reset();
    m_output[0].reset();
    m_output[1].reset();
    std::lock_guard<SpinLock> guard(m_params);
    m_resetRequest = true;
}

void ReceiverZorvani::processBuffered()
{
    double level[2], peakRe[2], peakIm[2];
    bool stereo;
    {
        std::lock_guard<SpinLock> guard(m_params);
        if (!processLocked())
            return;
        for (int ch = 0; ch < 2; ++ch) {
            level[ch] = m_channels[ch].level;
            peakRe[ch] = m_channels[ch].peakRe;
            peakIm[ch] = m_channels[ch].peakIm;
        }
        stereo = m_stereo;
    }
    // Emitted outside the lock: a direct connection must not run under it.
    for (quint32 ch = 0; ch < 2; ++ch)
        emit adcMeter(ch, peakRe[ch], peakIm[ch]);
    for (quint32 ch = 0; ch < 2; ++ch)
        emit dBmMeter(ch, level[ch]);
    emit wfmStereo(stereo);
}

bool ReceiverZorvani::processLocked()
{
    const uint32_t available = std::min(m_input.fill(), kRingSize);
    if (available == 0)
        return false;
    Sample* x0 = m_channels[0].buffer.data();
    Sample* x1 = m_channels[1].buffer.data();
    if (!m_input.read(x0, available))
        return false;
    std::copy(x0, x0 + available, x1);
    int n = int(available);

    if (m_resetRequest || m_switcher.takeResetRequest()) {
        m_resetRequest = false;
        clearFilterStates();
    }
    m_agcQueue.drain([this](const AgcSettings& s) { applyAgcLocked(s); });

    const int mode = m_switcher.activeMode();
    if (mode == WFM) {
        std::fill(x1, x1 + n, Sample{0.0, 0.0});
    } else {
        n = decimate(n);
    }

    m_switcher.process(x0, x1, n);

    if (SignalAnalyzerAbstract* analyzer = m_analyzer.load(std::memory_order_acquire); analyzer && analyzer->isActive(0))
        analyzer->write(m_number, x0, std::size_t(n));

    if (mode == LSB) {
        for (Channel& c : m_channels)
            for (int k = 0; k < n; ++k)
                std::swap(c.buffer[k].re, c.buffer[k].im);
    }

    // A ring without room drops this block rather than part of it.
    m_output[0].write(x0, uint32_t(n));
    m_output[1].write(x1, uint32_t(n));
    return true;
}

int ReceiverZorvani::decimate(int n)
{
    const int d = decimation();
    if (d <= 1)
        return n;
    Sample* x[2] = {m_channels[0].buffer.data(), m_channels[1].buffer.data()};
    const int out = n / d;
    for (Sample* p : x)
        for (int k = 0; k < out; ++k)
            p[k] = p[k * d];
    return out;
}

void ReceiverZorvani::clearFilterStates() {}

void ReceiverZorvani::applyAgcLocked(const AgcSettings& s)
{
    m_agc = s;
}

void ReceiverZorvani::applyInputRateLocked()
{
    m_decimation.store(std::max(1, int(std::lround(m_inputRate / m_workingRate))), std::memory_order_release);
    for (int ch = 0; ch < 2; ++ch)
        designFiltersLocked(ch);
}

void ReceiverZorvani::designFiltersLocked(int) {}

void ReceiverZorvani::setInputRate(double hz)
{
    if (!(hz > 0.0))
        return;
    std::lock_guard<SpinLock> guard(m_params);
    m_inputRate = hz;
    applyInputRateLocked();
}

double ReceiverZorvani::inputRate() const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_inputRate;
}

void ReceiverZorvani::setIfOffset(int channel, double hz)
{
    if (channel != 0 && channel != 1)
        return;
    std::lock_guard<SpinLock> guard(m_params);
    m_channels[channel].ifOffset = hz;
}

double ReceiverZorvani::ifOffset(int channel) const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_channels[channel & 1].ifOffset;
}

void ReceiverZorvani::setRit(int channel, double hz)
{
    if (channel != 0 && channel != 1)
        return;
    std::lock_guard<SpinLock> guard(m_params);
    m_channels[channel].rit = hz;
}

void ReceiverZorvani::setFilter(int channel, double lowHz, double highHz)
{
    if (channel != 0 && channel != 1)
        return;
    std::lock_guard<SpinLock> guard(m_params);
    m_channels[channel].filterLow = lowHz;
    m_channels[channel].filterHigh = highHz;
    designFiltersLocked(channel);
}

void ReceiverZorvani::setMode(int mode)
{
    std::lock_guard<SpinLock> guard(m_params);
    if (mode == m_switcher.pendingMode())
        return;
    m_switcher.setPendingMode(mode);
    m_switcher.requestChange();
}

int ReceiverZorvani::pendingMode() const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_switcher.pendingMode();
}

int ReceiverZorvani::activeMode() const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_switcher.activeMode();
}

void ReceiverZorvani::setTaps(uint32_t taps)
{
    std::lock_guard<SpinLock> guard(m_params);
    if (taps == m_taps || taps == 0)
        return;
    m_taps = taps;
    for (int ch = 0; ch < 2; ++ch)
        designFiltersLocked(ch);
}

uint32_t ReceiverZorvani::taps() const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_taps;
}

void ReceiverZorvani::setCwPitch(double hz)
{
    std::lock_guard<SpinLock> guard(m_params);
    m_cwPitch = hz;
}

void ReceiverZorvani::setDigOffsets(double diglHz, double diguHz)
{
    std::lock_guard<SpinLock> guard(m_params);
    m_diglOffset = diglHz;
    m_diguOffset = diguHz;
}

void ReceiverZorvani::queueAgc(const AgcSettings& settings)
{
    std::lock_guard<SpinLock> guard(m_params);
    m_agcQueue.push(settings);
    m_switcher.requestChange();
}

AgcSettings ReceiverZorvani::appliedAgc() const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_agc;
}

double ReceiverZorvani::meterLevel(int channel) const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_channels[channel & 1].level;
}

ReceiverZorvani::ModulationSwitcher::State ReceiverZorvani::faderState() const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_switcher.state();
}

double ReceiverZorvani::faderGain(int channel) const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_switcher.gain(channel);
}

void ReceiverZorvani::vacClose() {}
void ReceiverZorvani::lineoutOpen() {}
void ReceiverZorvani::lineoutClose() {}
