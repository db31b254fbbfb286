#pragma once

#include "OstrovixComplex.h"
#include "spectrum/PanSpectrumZorvaniDDC.h"

#include <QtGlobal>

#include <memory>
#include <vector>

// The panorama workers of the two receivers and of the band scope, and the
// host's spectrum settings they share. Settings and reads come from the GUI
// thread; the socket thread writes receiver samples, the driver band-scope
// frames (each worker takes one producer).
//
// Units: frequencies in Hz, frame rate in frames per second; receivers 0..1.
class PanoramaBank {
public:
    static constexpr int kBandScopeAverages = 15;

    // pool: not owned, must outlive the bank. Receiver workers start on,
    // centred on centreHz; the band scope starts off.
    PanoramaBank(ThreadPoolAbstract* pool, double centreHz);
    ~PanoramaBank();
    PanoramaBank(const PanoramaBank&) = delete;
    PanoramaBank& operator=(const PanoramaBank&) = delete;

    // Socket thread, once per IQ packet; rx must be 0 or 1.
    void write(quint32 rx, const Ostrovix::complex<double>* samples, int count)
    {
        m_receivers[rx]->writeSamples(samples, count);
    }
    void writeBandScope(const Ostrovix::complex<double>* samples, int count);
    void resetBandScopeAccumulation();
    void setBandScopeOn(bool on);

    void setCentreFrequency(int rx, double hz);
    // Settings of the receivers' workers (the band scope keeps its own).
    // Cuts the filter slopes off the panorama lines.
    void setHideSlopes(bool hide);
    // Power of two >= 2, else ignored.
    void setFftSize(int n);
    // 0 linear, 1 RMS, 2 exponential (clamped).
    void setAveragingMode(int mode);
    void setAveraging(int count);
    // Settings of every worker, band scope included.
    // Frames per second, clamped to 10..40.
    void setFrameRate(int fps);
    int frameRate() const { return m_frameRate; }
    void setWaterfallFilter(bool on);

    // Copies the newest panorama and waterfall lines (the vectors take the
    // FFT size); false and nothing copied for rx out of range.
    bool readSpectrum(int rx, std::vector<float>& panorama, std::vector<float>& waterfall);
    void readBandScope(std::vector<float>& panorama, std::vector<float>& waterfall);

    // The workers, to connect to and inspect; null for rx above 1.
    const PanSpectrumZorvaniDDC* receiver(int rx) const;
    const PanSpectrumZorvaniDDC& bandScope() const { return *m_bandScope; }

private:
    std::unique_ptr<PanSpectrumZorvaniDDC> m_receivers[2];
    std::unique_ptr<PanSpectrumZorvaniDDC> m_bandScope;
    int m_frameRate = 25;
};
