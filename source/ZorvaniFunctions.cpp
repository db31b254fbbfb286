#include "ZorvaniFunctions.h"

ZorvaniFunctions::ZorvaniFunctions() = default;

void ZorvaniFunctions::setStreamRate(double hz)
{
    m_streamRate = hz;
    m_streamRateCopy = hz;
}
void ZorvaniFunctions::setDisplayedRate(double hz) { m_displayedRate = hz; }
void ZorvaniFunctions::setMinimumDisplayedRate(double hz) { m_minimumDisplayedRate = hz; }
double ZorvaniFunctions::streamRate() const { return m_streamRate; }
double ZorvaniFunctions::streamRateCopy() const { return m_streamRateCopy; }
double ZorvaniFunctions::displayedRate() const { return m_displayedRate; }
double ZorvaniFunctions::minimumDisplayedRate() const { return m_minimumDisplayedRate; }
