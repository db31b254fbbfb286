#include "HostSettings.h"

#include "DeviceAbstract.h"
#include "JobOptions.h"

#include <QCommandLineParser>
#include <QSettings>

namespace {

const QString kGroup = QStringLiteral("minihost");

// The value options the host remembers, by their command-line names. The
// switches (--nr, --rx2, ...) are not: nothing on the command line turns
// them off again.
const char* const kRemembered[] = {"port", "rate", "freq", "mode", "filter", "agc", "volume"};

QString sourceName(JobOptions::Source source)
{
    switch (source) {
    case JobOptions::Source::Receiver:
        return QStringLiteral("receiver");
    case JobOptions::Source::Discover:
        return QStringLiteral("discover");
    case JobOptions::Source::Emulator:
        break;
    }
    return QStringLiteral("emulator");
}

} // namespace

QString HostSettings::defaultFile()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("ZorvaniDDC"),
                     QStringLiteral("minihost"))
        .fileName();
}

HostSettings::HostSettings(QString file) : m_file(std::move(file)) {}

QStringList HostSettings::recall(const QCommandLineParser& given) const
{
    if (!enabled())
        return {};
    QSettings store(m_file, QSettings::IniFormat);
    store.beginGroup(kGroup);
    QStringList arguments;
    const auto isGiven = [&given](const char* name) { return given.isSet(QLatin1String(name)); };
    if (!isGiven("emulator") && !isGiven("receiver") && !isGiven("discover")) {
        const QString source = store.value(QStringLiteral("source")).toString();
        if (source == QLatin1String("receiver"))
            arguments << QStringLiteral("--receiver") << store.value(QStringLiteral("receiver")).toString();
        else if (source == QLatin1String("discover"))
            arguments << QStringLiteral("--discover");
    }
    for (const char* name : kRemembered) {
        const QString key = QLatin1String(name);
        // A filter choice belongs to the mode it was made for.
        if (isGiven(name) || !store.contains(key) || (key == QLatin1String("filter") && isGiven("mode")))
            continue;
        arguments << QStringLiteral("--") + key << store.value(key).toString();
    }
    return arguments;
}

QString HostSettings::load(DeviceAbstract& device) const
{
    if (!enabled())
        return {};
    QSettings store(m_file, QSettings::IniFormat);
    device.loadSettings(&store);
    switch (store.status()) {
    case QSettings::NoError:
        return {};
    case QSettings::FormatError:
        return QStringLiteral("the settings file %1 is damaged: what could not be read takes its default").arg(m_file);
    case QSettings::AccessError:
        break;
    }
    return QStringLiteral("the settings file %1 cannot be read: running with the defaults").arg(m_file);
}

bool HostSettings::save(DeviceAbstract& device, const JobOptions* choices, QString* error) const
{
    error->clear();
    if (!enabled())
        return true;
    QSettings store(m_file, QSettings::IniFormat);
    device.saveSettings(&store);
    if (choices) {
        store.beginGroup(kGroup);
        store.remove(QString());
        store.setValue(QStringLiteral("source"), sourceName(choices->source));
        if (choices->source == JobOptions::Source::Receiver)
            store.setValue(QStringLiteral("receiver"),
                           QStringLiteral("%1:%2").arg(choices->receiverAddress.toString()).arg(choices->port));
        store.setValue(QStringLiteral("port"), choices->port);
        store.setValue(QStringLiteral("rate"), choices->rateIndex);
        store.setValue(QStringLiteral("freq"), QString::number(choices->freqHz, 'g', 15));
        store.setValue(QStringLiteral("mode"), choices->mode);
        if (!choices->filter.isEmpty())
            store.setValue(QStringLiteral("filter"), choices->filter);
        if (choices->agc >= 0)
            store.setValue(QStringLiteral("agc"), choices->agc);
        store.setValue(QStringLiteral("volume"), choices->volumeDb);
        store.endGroup();
    }
    // A damaged file is written anew with what could be read of it (its
    // FormatError stays); only an AccessError means nothing was written.
    store.sync();
    if (store.status() == QSettings::AccessError) {
        *error = QStringLiteral("the settings were not saved: %1 cannot be written").arg(m_file);
        return false;
    }
    return true;
}
