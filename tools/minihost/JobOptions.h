#pragma once

#include "EmulatorFaults.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QHostAddress>
#include <QString>

// What the minimal host's main job does, as its command line chose it. Mode
// names and filter choices need the plug-in's catalogue and stay text here.
struct JobOptions {
    enum class Source { Emulator, Receiver, Discover };

    QString pluginPath;
    bool lifecycleOnly = false;
    bool window = false;
    bool admin = false;                  // also puts "admin" among the application's arguments
    bool updateFirmware = false;         // press "Firmware update" and say Yes to update questions
    QString emulatorFirmware;            // "", "old" (11.2), "bootloader" or "unerasable"

    Source source = Source::Emulator;
    QHostAddress receiverAddress;        // Source::Receiver
    quint16 port = 50001;                // link port; the emulator's port too
    QString sceneFile;                   // empty: the built-in scene
    EmulatorFaults faults;               // the emulator's network faults

    int rateIndex = 3;                   // 0..3: 39062.5, 78125, 156250, 312500 Hz
    double freqHz = 7100000.0;
    QString mode = QStringLiteral("AM"); // name or number
    QString filter;                      // "LOW:HIGH" in Hz or a choice index; empty: the mode's default
    int agc = -1;                        // 0..5; -1: the mode's default
    bool nr = false;
    bool anf = false;
    bool nb1 = false;
    bool nb2 = false;
    int volumeDb = -3;                   // a little headroom below the AGC's full-scale output

    bool rx2 = false;
    double rx2FreqHz = 0.0;
    QString rx2Mode;                     // empty: the first receiver's mode

    QString settingsFile;                // empty: nothing remembered (--no-settings)

    double durationS = 10.0;
    QString outDir = QStringLiteral("out");
    bool wav = true;
    bool png = true;
    bool iq = true;
    int iqFormat = 2;                    // 0..2, the host's recorder format
};

// The command line of the minimal host: every option with its help text.
class JobCommandLine {
public:
    JobCommandLine();

    // Adds the options to `parser` (with --help) and its description.
    void setUp(QCommandLineParser& parser) const;
    // Reads the parsed values; false with *error set on a value out of range.
    bool read(const QCommandLineParser& parser, JobOptions* options, QString* error) const;
    // The options of the whole command line `arguments`, completed by the
    // choices remembered in the settings file it names. When a remembered
    // choice would be refused, none is used and *note says why. False with
    // *error set when the command line itself is refused.
    bool readRemembered(const QStringList& arguments, JobOptions* options, QString* error, QString* note) const;

private:
    QList<QCommandLineOption> m_options;
};
