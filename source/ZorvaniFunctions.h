#pragma once

#include "DeviceFunctionsAbstract.h"

#include <atomic>

// What the ZorvaniDDC can do, as the host asks for it. Only the four rate
// fields change after construction (the sample-rate handler sets them).
class ZorvaniFunctions : public DeviceFunctionsAbstract {
public:
    ZorvaniFunctions();

    void setStreamRate(double hz);
    void setDisplayedRate(double hz);
    void setMinimumDisplayedRate(double hz);

    double streamRate() const override;
    double streamRateCopy() const override;
    double displayedRate() const override;
    double minimumDisplayedRate() const override;

private:
    std::atomic<double> m_streamRate{39062.5};
    std::atomic<double> m_streamRateCopy{39062.5};
    std::atomic<double> m_displayedRate{36000.0};
    std::atomic<double> m_minimumDisplayedRate{36000.0};
};
