#include "zorvaniDsp/PanoramaBank.h"

#include <algorithm>

PanoramaBank::PanoramaBank(ThreadPoolAbstract* pool, double centreHz)
{
    for (quint32 r = 0; r < 2; ++r) {
        m_receivers[r] = std::make_unique<PanSpectrumZorvaniDDC>(pool, r);
        m_receivers[r]->setFftSize(PanSpectrumZorvaniDDC::kDefaultFftSize);
        m_receivers[r]->setCenterFrequency(centreHz);
        m_receivers[r]->setOn(true);
    }
    m_bandScope = std::make_unique<PanSpectrumZorvaniDDC>(pool, 0);
    m_bandScope->setFftSize(PanSpectrumZorvaniDDC::kDefaultFftSize);
    m_bandScope->setAverageCount(kBandScopeAverages);
}

PanoramaBank::~PanoramaBank() = default;

void PanoramaBank::writeBandScope(const Ostrovix::complex<double>* samples, int count)
{
    m_bandScope->writeSamples(samples, count);
}

void PanoramaBank::resetBandScopeAccumulation()
{
    m_bandScope->resetAccumulation();
}

void PanoramaBank::setBandScopeOn(bool on)
{
    m_bandScope->setOn(on);
}

void PanoramaBank::setCentreFrequency(int rx, double hz)
{
    if (rx == 0 || rx == 1)
        m_receivers[rx]->setCenterFrequency(hz);
}

void PanoramaBank::setHideSlopes(bool hide)
{
    for (auto& worker : m_receivers)
        worker->setHideSlopes(hide);
}

void PanoramaBank::setFftSize(int n)
{
    if (n < 2 || (n & (n - 1)) != 0)
        return;
    for (auto& worker : m_receivers)
        worker->setFftSize(n);
}

void PanoramaBank::setAveragingMode(int mode)
{
    for (auto& worker : m_receivers)
        worker->setAveragerType(std::clamp(mode, 0, 2));
}

void PanoramaBank::setAveraging(int count)
{
    for (auto& worker : m_receivers)
        worker->setAverageCount(count);
}

void PanoramaBank::setFrameRate(int fps)
{
    m_frameRate = std::clamp(fps, 10, 40);
    for (auto& worker : m_receivers)
        worker->setFrameRate(m_frameRate);
    m_bandScope->setFrameRate(m_frameRate);
}

void PanoramaBank::setWaterfallFilter(bool on)
{
    for (auto& worker : m_receivers)
        worker->setWaterfallFilter(on);
    m_bandScope->setWaterfallFilter(on);
}

bool PanoramaBank::readSpectrum(int rx, std::vector<float>& panorama, std::vector<float>& waterfall)
{
    if (rx != 0 && rx != 1)
        return false;
    m_receivers[rx]->getSpectrum(panorama, waterfall);
    return true;
}

void PanoramaBank::readBandScope(std::vector<float>& panorama, std::vector<float>& waterfall)
{
    m_bandScope->getSpectrum(panorama, waterfall);
}

const PanSpectrumZorvaniDDC* PanoramaBank::receiver(int rx) const
{
    return (rx == 0 || rx == 1) ? m_receivers[rx].get() : nullptr;
}
