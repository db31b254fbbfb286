#pragma once

#include "DeviceFunctionsAbstract.h"

#include <atomic>

// What the ZorvaniDDC can do, as the host asks for it. Everything is fixed by
// the constructor except the four rate fields, which the sample-rate handler
// sets. Frequencies and filter edges are in Hz; mode numbers are the host's
// (AM 0, SAM 1, DSB 2, LSB 3, USB 4, CW 5, NFM 6, DIGL 7, DIGU 8, WFM 9, DRM 10).
class ZorvaniFunctions : public DeviceFunctionsAbstract {
public:
    static constexpr int kModeCount = 11;
    static constexpr int kFilterChoices = 9;

    ZorvaniFunctions();

    // Stream rate and its copy together.
    void setStreamRate(double hz);
    void setDisplayedRate(double hz);
    void setMinimumDisplayedRate(double hz);

    bool flagForBool(bool b) const override;
    void flagsForIndex(int i, bool* a, bool* b) const override;
    bool capability4() const override { return true; }
    bool capability5() const override { return true; }
    double adcClock() const override { return 62500000.0; }
    QStringList listA() const override { return m_listA; }
    QStringList preamps() const override { return m_preamps; }
    double streamRate() const override;
    double streamRateCopy() const override;
    double displayedRate() const override;
    double minimumDisplayedRate() const override;
    bool capability17() const override { return true; }
    QList<DeviceBand> rfInputs() const override { return m_rfInputs; }
    QList<DeviceBand> bands() const override { return m_bands; }
    // Position of the first listed band holding hz (edges inclusive); the band count when none does.
    int bandIndex(double hz) const override;
    ModeList modes() const override { return m_modes; }
    int bandGroupValue(uint band) const override;
    int receiverCount() const override { return m_receiverCount; }
    int transmitterCount() const override { return m_transmitterCount; }
    QStringList listB() const override { return m_listB; }
    int defaultAgc(uint mode) const override;
    QStringList agcSettings() const override { return m_agcSettings; }
    int defaultFilter(uint mode) const override;
    int filterCount() const override { return kFilterChoices; }
    bool capability32() const override { return true; }
    bool filterAdjustable(int mode) const override { return mode != 10; }
    int filterCountForMode(int mode) const override { return mode == 10 ? 1 : kFilterChoices; }
    // Empty for a choice above 8 or an unknown mode; DRM has "10K" for any choice.
    QString filterLabel(uint mode, uint choice) const override;
    // (low, high) relative to the tuned frequency; (0, 0) outside modes 0..10 and choices 0..8.
    FilterEdges filterEdges(int mode, uint choice) const override;
    bool filterSymmetric(uint mode) const override;
    bool filterFixed(int mode) const override { return mode == 10; }
    bool capability39() const override { return true; }
    FilterEdges filterEdgeLimits(uint mode) const override;
    bool capability44() const override { return true; }
    bool capability47() const override { return true; }
    double workingRate() const override;
    int count50() const override { return 1; }
    int count51() const override { return 1; }
    bool capability66() const override { return false; }

private:
    QStringList m_listA;
    QStringList m_listB;
    ModeList m_modes;
    QList<DeviceBand> m_bands;
    QList<DeviceBand> m_rfInputs;
    QStringList m_preamps;
    QStringList m_agcSettings;
    int m_transmitterCount = 0;
    int m_receiverCount = 2;
    std::atomic<double> m_streamRate{39062.5};
    std::atomic<double> m_streamRateCopy{39062.5};
    std::atomic<double> m_displayedRate{36000.0};
    std::atomic<double> m_minimumDisplayedRate{36000.0};
};
