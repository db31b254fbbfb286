#pragma once

#include <QString>
#include <QStringList>

class DeviceAbstract;
class QCommandLineParser;
struct JobOptions;

// What the minimal host remembers between runs, in one QSettings INI file:
// the plug-in's own settings, which the plug-in writes and reads itself
// through its save and load operations, and the host's group "minihost" with
// the choices of the command line (receiver source, port, rate, frequency,
// mode, filter, AGC, volume). GUI thread only.
class HostSettings {
public:
    // "minihost.ini" in the folder "ZorvaniDDC" of the user's configuration folder.
    static QString defaultFile();

    // `file` empty: nothing is read or written.
    explicit HostSettings(QString file);

    bool enabled() const { return !m_file.isEmpty(); }
    // The remembered choices, as arguments, for the options the command line
    // of `given` left out: the receiver source, --port, --rate, --freq,
    // --mode, --filter (unless --mode was given), --agc and --volume.
    QStringList recall(const QCommandLineParser& given) const;
    // The plug-in reads its settings (its defaults when there are none).
    // Empty, or why the file could not be read.
    QString load(DeviceAbstract& device) const;
    // The plug-in writes its settings, and the host its choices when given.
    // False with *error set when the file could not be written.
    bool save(DeviceAbstract& device, const JobOptions* choices, QString* error) const;

private:
    QString m_file;
};
