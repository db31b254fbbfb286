#pragma once

#include "OstrovixComplex.h"

#include <QtGlobal>
#include <cstddef>

// Host consumer of every incoming wide-band IQ block.
class IqTapAbstract {
public:
    virtual ~IqTapAbstract() = default;
    virtual bool isActive() const = 0;
    virtual void write(quint32 receiver, const Ostrovix::complex<double>* samples, std::size_t count) = 0;
};

// Host consumer of a receiver's processed samples at the working rate.
class SignalAnalyzerAbstract {
public:
    virtual ~SignalAnalyzerAbstract() = default;
    virtual void setSampleRate(double hz) = 0;
    virtual bool isActive(int which) const = 0;
    virtual void write(quint32 receiver, const Ostrovix::complex<double>* samples, std::size_t count) = 0;
};
