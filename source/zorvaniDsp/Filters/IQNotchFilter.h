#pragma once

#include "OstrovixComplex.h"
#include "zorvaniDsp/Filters/DownConverterZorvani.h"

#include <array>

// Manual notches of one receiver's wide-band IQ: each entry shifts its
// frequency to 0 Hz, removes a band of about its width there with a DC
// blocker, and shifts back. Not thread-safe: the engine holds a mutex.
class IQNotchFilter {
public:
    static constexpr int kNotchCount = 8;
    static constexpr int kBlock = 200; // shifter block; longer blocks go in pieces
    static constexpr double kMinWidth = 10.0;    // Hz, after halving
    static constexpr double kMaxWidth = 10000.0; // Hz, after halving

    IQNotchFilter();

    // Receiver centre frequency, Hz. Entries keep their absolute frequency;
    // offsets are recomputed.
    void setCenterFrequency(double hz);
    double centerFrequency() const { return m_center; }
    // IQ rate, Hz (> 0). Entries on a different rate are rebuilt.
    void setSampleRate(double fs);
    double sampleRate() const { return m_fs; }

    void setEnabled(bool on) { m_enabled = on; }
    bool isEnabled() const { return m_enabled; }

    // id 0..kNotchCount-1; other ids are ignored.
    void setNotchEnabled(int id, bool on);
    // Absolute frequency in Hz; the entry is rebuilt when it changes.
    void setNotchFrequency(int id, double absoluteHz);
    // Width as the host gives it (Hz): the entry uses width / 2, limited to
    // [kMinWidth, kMaxWidth], and is rebuilt. A non-finite width is ignored.
    void setNotchWidth(int id, double widthHz);

    bool notchEnabled(int id) const;
    bool notchActive(int id) const;  // offset inside (-fs/2, fs/2)
    double notchWidth(int id) const; // Hz, as used
    double notchOffset(int id) const; // Hz from the centre
    double notchPole(int id) const;

    // In place: every entry that is enabled and active, when the bank is
    // enabled. A null block or count < 1 is left alone.
    void process(Ostrovix::complex<double>* x, int count);

private:
    struct Notch {
        double absolute = 0.0;
        double fs = 39062.5;
        double width = kMinWidth;
        double offset = 0.0;
        double pole = 0.0;
        bool enabled = false;
        bool active = false;
        DownConverterZorvani in{kBlock};
        DownConverterZorvani back{kBlock};
        Ostrovix::complex<double> previousIn{0.0, 0.0};
        Ostrovix::complex<double> previousOut{0.0, 0.0};
    };
    static bool validId(int id) { return id >= 0 && id < kNotchCount; }
    void rebuild(Notch& n);
    void runNotch(Notch& n, Ostrovix::complex<double>* x, int count);

    double m_center = 1900000.0;
    double m_fs = 39062.5;
    bool m_enabled = false;
    std::array<Notch, kNotchCount> m_notches;
};
