#include "zorvaniDsp/Demodulators/SquelchZorvani.h"

#include "zorvaniDsp/Demodulators/CtcssTones.h"

#include <QDebug>

#include <algorithm>
#include <cstring>

namespace {

void zeroBlock(Ostrovix::complex<double>* x, int count)
{
    std::memset(static_cast<void*>(x), 0, sizeof(*x) * static_cast<size_t>(count));
}

void warnInput(const char* signature)
{
    qWarning().noquote() << QString::fromLatin1(signature) + QStringLiteral(" Incorrect input parameters");
}

} // namespace

bool CarrierSquelch::process(Ostrovix::complex<double>* x, int count, double meterLevelDb)
{
    if (!x || count < 1) {
        warnInput("bool __cdecl CarrierSquelch::process(class Ostrovix::complex<double> *,int,double)");
        return false;
    }
    m_open = !(m_enabled && m_level > meterLevelDb + kHysteresisDb);
    if (!m_open)
        zeroBlock(x, count);
    return true;
}

FmSquelch::FmSquelch(double fs)
    : m_fs(fs)
    , m_detector(fs)
{
    m_preFilter.init(kPreFilterHz / fs, kPreFilterOrder);
    setTone(0);
}

void FmSquelch::setCtcssEnabled(bool on)
{
    if (on && !m_ctcss)
        m_detector.reset();
    m_ctcss = on;
}

void FmSquelch::setTone(int index)
{
    if (index < 0 || index >= kCtcssToneCount)
        return;
    const double tone = kCtcssTones[index];
    m_toneFilter.init((tone - kToneHalfWidth) / m_fs, (tone + kToneHalfWidth) / m_fs, kToneTaps);
    m_detector.setTone(index);
}

void FmSquelch::reset()
{
    m_preFilter.reset();
    m_toneFilter.reset();
    m_detector.reset();
    m_open = true;
}

void FmSquelch::examine(const Ostrovix::complex<double>* x, int count)
{
    for (int done = 0; done < count; done += kCopySize) {
        const int n = std::min(kCopySize, count - done);
        std::memcpy(static_cast<void*>(m_copy.data()), x + done, sizeof(*x) * static_cast<size_t>(n));
        m_preFilter.process(m_copy.data(), n);
        m_toneFilter.process(m_copy.data(), static_cast<uint32_t>(n));
        m_detector.process(&m_copy[0].re, n, 2);
    }
}

bool FmSquelch::process(Ostrovix::complex<double>* x, int count, double slowMeterLevelDb)
{
    if (!x || count < 1) {
        warnInput("bool __cdecl FmSquelch::process(class Ostrovix::complex<double> *,int,double)");
        return false;
    }
    const bool levelOpen = !(m_enabled && m_level > slowMeterLevelDb + kHysteresisDb);
    if (m_ctcss) {
        examine(x, count);
        m_open = levelOpen && m_detector.tonePresent();
    } else {
        m_open = levelOpen;
    }
    if (!m_open)
        zeroBlock(x, count);
    return true;
}
