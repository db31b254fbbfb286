#pragma once

#include <QString>
#include <QVector>
#include <QtGlobal>

// The signal scene the emulated receiver "hears": emitters at absolute
// frequencies, seen through each receiver's tuned frequency and rate.
namespace zorvani::sim {

struct Emitter {
    enum Kind { Carrier, Am, Usb, Lsb, Cw, Nfm, Wfm, Impulse, Noise };
    Kind kind = Carrier;
    double freqHz = 0.0;       // absolute frequency (carrier, or suppressed carrier for SSB)
    double levelDbfs = -40.0;  // carrier / tone amplitude in dB below full scale; Noise: density in dBFS/Hz
    double toneHz = 1000.0;    // AM, SSB, NFM modulating tone; WFM left tone
    double tone2Hz = 0.0;      // SSB second tone (two-tone test when > 0); WFM right tone
    double depth = 0.8;        // AM modulation depth, 0..1
    double deviationHz = 2500; // NFM peak deviation by the tone (WFM: 75 kHz fixed)
    double tauUs = 50.0;       // WFM pre-emphasis time constant in us, 0 = none
    double pilot = 0.09;       // WFM pilot share of the deviation, 0 = mono station
    double data = 0.0;         // WFM 57 kHz data subcarrier share of the deviation, 0 = none
    double audio = -1.0;       // WFM tone amplitude before pre-emphasis, < 0: as loud as fits
    double ctcssHz = 0.0;      // NFM sub-audible tone (300 Hz deviation) when > 0
    double wpm = 20.0;         // CW keying speed (continuous dots)
    double rateHz = 50.0;      // Impulse: mean impulses per second

    // Whether it appears only when within +-rate/2 of the tuned frequency.
    bool isBandLimited() const { return kind != Impulse && kind != Noise; }
};

struct Scene {
    quint64 seed = 1;
    QVector<Emitter> emitters;

    // Parses the text format (see helpText()); false with *error set on a bad line.
    static bool parse(const QString& text, Scene* out, QString* error);
    // A quiet band with a few stations around 7.1 MHz.
    static Scene defaultScene();
    // Describes the text format for --help.
    static QString helpText();
};

} // namespace zorvani::sim
