#include "TuningModel.h"

#include <algorithm>
#include <cmath>

void TuningModel::setSpan(double hz)
{
    if (hz > 0.0)
        m_span = hz;
}

void TuningModel::setRange(double lowHz, double highHz)
{
    if (lowHz < highHz) {
        m_low = lowHz;
        m_high = highHz;
    }
}

TuningModel::Change TuningModel::place(double centre, double offset)
{
    Change change;
    change.centre = centre != m_centre;
    change.offset = offset != m_offset;
    m_centre = centre;
    m_offset = offset;
    return change;
}

TuningModel::Change TuningModel::tuneTo(double hz)
{
    hz = std::clamp(hz, m_low, m_high);
    if (m_locked)
        return place(m_centre, std::clamp(hz - m_centre, -reach(), reach()));
    if (std::abs(hz - m_centre) <= reach())
        return place(m_centre, hz - m_centre);
    return place(hz, 0.0);
}

TuningModel::Change TuningModel::step(int steps, double stepHz)
{
    if (!(stepHz > 0.0))
        return {};
    return tuneTo((std::round(frequency() / stepHz) + steps) * stepHz);
}

TuningModel::Change TuningModel::setCentre(double hz)
{
    if (m_locked)
        return {};
    return place(std::clamp(hz, m_low, m_high), 0.0);
}

TuningModel::Change TuningModel::keepInSpan()
{
    return std::abs(m_offset) <= reach() ? Change() : tuneTo(frequency());
}
