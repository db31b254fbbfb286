#include "zorvaniDsp/WidebandStages.h"

namespace {
bool validRx(int rx)
{
    return rx == 0 || rx == 1;
}
} // namespace

WidebandStages::WidebandStages(double centreHz, double sampleRateHz)
{
    for (Receiver& r : m_receivers) {
        r.notches.setCenterFrequency(centreHz);
        r.notches.setSampleRate(sampleRateHz);
    }
}

void WidebandStages::setSampleRate(double hz)
{
    for (Receiver& r : m_receivers) {
        std::lock_guard<std::mutex> lock(r.notchMutex);
        r.notches.setSampleRate(hz);
    }
}

void WidebandStages::setCentreFrequency(int rx, double hz)
{
    if (!validRx(rx))
        return;
    std::lock_guard<std::mutex> lock(m_receivers[rx].notchMutex);
    m_receivers[rx].notches.setCenterFrequency(hz);
}

void WidebandStages::setNotchesEnabled(int rx, bool on)
{
    if (!validRx(rx))
        return;
    std::lock_guard<std::mutex> lock(m_receivers[rx].notchMutex);
    m_receivers[rx].notches.setEnabled(on);
}

void WidebandStages::setNotch(int rx, size_t id, bool enable, double hz, double widthHz)
{
    if (!validRx(rx) || id >= size_t(IQNotchFilter::kNotchCount))
        return;
    std::lock_guard<std::mutex> lock(m_receivers[rx].notchMutex);
    IQNotchFilter& bank = m_receivers[rx].notches;
    bank.setNotchEnabled(int(id), enable);
    bank.setNotchFrequency(int(id), hz);
    bank.setNotchWidth(int(id), widthHz);
}

void WidebandStages::setNb1(quint32 rx, bool on)
{
    if (rx < 2)
        m_receivers[rx].blanker.setNb1(on);
}

void WidebandStages::setNb2(quint32 rx, bool on)
{
    if (rx < 2)
        m_receivers[rx].blanker.setNb2(on);
}

void WidebandStages::setNb1Threshold(double threshold)
{
    for (Receiver& r : m_receivers)
        r.blanker.setNb1Threshold(threshold);
}

void WidebandStages::setNb2Threshold(double threshold)
{
    for (Receiver& r : m_receivers)
        r.blanker.setNb2Threshold(threshold);
}
