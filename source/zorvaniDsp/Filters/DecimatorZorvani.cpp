#include "zorvaniDsp/Filters/DecimatorZorvani.h"

#include <cstddef>

bool DecimatorZorvani::init(int factor, double workingRate, double passEdgeHz)
{
    int stages = 0;
    switch (factor) {
    case 1: stages = 0; break;
    case 2: stages = 1; break;
    case 4: stages = 2; break;
    case 8: stages = 3; break;
    default: return false;
    }
    if (!(workingRate > 0.0) || !(passEdgeHz > 0.0 && passEdgeHz < workingRate / 2.0))
        return false;
    // Stage s runs at 2^(stages - s) x the working rate; the last one is
    // flat to the pass edge, the earlier ones to where the last one stops.
    std::array<HalfBandDecimator, 3> design;
    for (int s = 0; s < stages; ++s) {
        const double rate = workingRate * double(1 << (stages - s));
        const double edge = s + 1 == stages ? passEdgeHz : workingRate - passEdgeHz;
        if (!design[std::size_t(s)].init(edge / rate, kAttenuationDb))
            return false;
    }
    m_design = std::move(design);
    m_stages = stages;
    m_workingRate = workingRate;
    return true;
}

int DecimatorZorvani::process(Sample* x, int count)
{
    if (x == nullptr || count <= 0)
        return 0;
    int n = count;
    for (int s = 0; s < m_stages; ++s)
        n = m_design[std::size_t(s)].process(x, n, x);
    return n;
}

void DecimatorZorvani::reset()
{
    for (HalfBandDecimator& stage : m_design)
        stage.reset();
}

double DecimatorZorvani::delaySeconds() const
{
    double seconds = 0.0;
    for (int s = 0; s < m_stages; ++s) {
        const double rate = m_workingRate * double(1 << (m_stages - s));
        seconds += 0.5 * double(m_design[std::size_t(s)].taps() - 1) / rate;
    }
    return seconds;
}
