#pragma once

#include "ReceiverHost.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

// How the window starts, as its command line chose it.
struct ReceiverOptions {
    QString pluginPath;
    ReceiverSource source;     // the emulator unless --receiver
    QString playFile;          // a recording to play at once
    bool loop = false;
    bool audio = true;         // false: run silent as without a sound device
    QString settingsPath;      // empty: the user's configuration folder
    QString screenshot;        // save a picture of the window after screenshotAfterS and quit
    double screenshotAfterS = 14.0; // the waterfall fills the window meanwhile
};

// The window's command line: every option with its help text.
class ReceiverCommandLine {
public:
    ReceiverCommandLine();
    void setUp(QCommandLineParser& parser) const;
    // False with *error set on a value out of range or a scene that does not parse.
    bool read(const QCommandLineParser& parser, ReceiverOptions* options, QString* error) const;

private:
    QList<QCommandLineOption> m_options;
};
