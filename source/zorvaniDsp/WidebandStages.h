#pragma once

#include "OstrovixComplex.h"
#include "zorvaniDsp/Filters/IQNotchFilter.h"
#include "zorvaniDsp/Filters/ZorvaniNB.h"

#include <QtGlobal>

#include <cstddef>
#include <mutex>

// The wide-band stages every IQ packet of a receiver passes before the
// panorama, the taps and the receiver see it: the noise blankers, then the
// manual notches. The socket thread runs them; the GUI thread sets them. The
// blankers lock themselves; each notch bank sits behind its own mutex, as a
// change of it takes several stores.
//
// Units: Hz. Receivers 0..1, notch ids 0..IQNotchFilter::kNotchCount-1;
// anything else changes nothing.
class WidebandStages {
public:
    WidebandStages(double centreHz, double sampleRateHz);

    // Socket thread, in place; rx must be 0 or 1.
    void process(quint32 rx, Ostrovix::complex<double>* samples, int count)
    {
        Receiver& r = m_receivers[rx];
        r.blanker.process(samples, count);
        std::lock_guard<std::mutex> lock(r.notchMutex);
        r.notches.process(samples, count);
    }

    // Both receivers.
    void setSampleRate(double hz);
    void setCentreFrequency(int rx, double hz);
    void setNotchesEnabled(int rx, bool on);
    void setNotch(int rx, size_t id, bool enable, double hz, double widthHz);

    void setNb1(quint32 rx, bool on);
    void setNb2(quint32 rx, bool on);
    // Both receivers: multiples of the running average magnitude (> 0).
    void setNb1Threshold(double threshold);
    void setNb2Threshold(double threshold);
    double nb1Threshold() const { return m_receivers[0].blanker.nb1Threshold(); }
    double nb2Threshold() const { return m_receivers[0].blanker.nb2Threshold(); }

private:
    struct Receiver {
        ZorvaniNB blanker;
        std::mutex notchMutex;
        IQNotchFilter notches;
    };

    Receiver m_receivers[2];
};
