#include "JobOptions.h"

#include "HostSettings.h"
#include "MainJob.h"
#include "PluginHost.h"
#include "Scene.h"

#include <cmath>

namespace {

const double kRates[4] = {39062.5, 78125.0, 156250.0, 312500.0};

QCommandLineOption option(const char* name, const char* help, const char* valueName = nullptr,
                          const QString& defaultValue = {})
{
    QCommandLineOption o(QString::fromLatin1(name), QString::fromLatin1(help));
    if (valueName) {
        o.setValueName(QString::fromLatin1(valueName));
        if (!defaultValue.isEmpty())
            o.setDefaultValue(defaultValue);
    }
    return o;
}

bool parseFrequency(const QString& text, double* hz)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value <= 0.0 || value > 2.0e9)
        return false;
    *hz = value;
    return true;
}

// "0".."3" is an index; anything else must be one of the four rates in Hz.
bool parseRate(const QString& text, int* index)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok)
        return false;
    if (value >= 0.0 && value <= 3.0 && value == std::floor(value)) {
        *index = int(value);
        return true;
    }
    for (int i = 0; i < 4; ++i)
        if (std::abs(value - kRates[i]) < 1.0) {
            *index = i;
            return true;
        }
    return false;
}

} // namespace

JobCommandLine::JobCommandLine()
{
    m_options = {
        option("plugin", "Path of the plug-in file.", "path", PluginHost::defaultPluginPath()),
        option("lifecycle-only",
               "Only load the plug-in, init it, attach the manager, wait for the device menu and tear down "
               "(no receiver, no packet sent)."),
        option("window", "Show the options page in a window (with --lifecycle-only: until it is closed)."),
        option("admin", "Run as the host's administrator: the options show the Admin page and \"admin\" is "
                        "among the application's arguments, so a firmware update skips its version check."),
        option("update-firmware",
               "Press \"Firmware update\" on the options page before streaming and answer Yes when the plug-in "
               "offers an update; the update runs to its end (states and progress on the console) and its outcome "
               "goes into the summary and the exit status."),
        option("emulator-firmware",
               "The emulator starts with old firmware (\"old\": version 11.2), in its bootloader (\"bootloader\"), "
               "or in its bootloader with a flash that cannot be erased (\"unerasable\"); an update brings it "
               "to 11.3.",
               "state"),
        option("emulator", "Use the built-in emulator (the default until --receiver or --discover is chosen)."),
        option("receiver",
               "Use the real receiver at ADDR:PORT in \"Static IP\" mode instead of the built-in emulator. "
               "This is the only way the host talks to another address.",
               "addr:port"),
        option("discover",
               "Find the receiver by discovery (\"Auto\" mode) instead of the built-in emulator. This BROADCASTS "
               "on every network interface of this machine; the first receiver found is used."),
        option("port", "Link port; the emulator listens on 127.0.0.2 at this port (default 50001).", "port", QStringLiteral("50001")),
        option("scene", "Emulator scene file (format below); default: the built-in scene.", "file"),
        option("faults",
               "Network faults of the emulator, comma-separated: loss=P (IQ transmissions lost; the emulator "
               "re-sends), reorder=P, duplicate=P (probabilities 0..1), stall=S (the IQ stream stops after S "
               "seconds).",
               "list"),
        option("rate", "Sample rate: index 0..3 or 39062.5, 78125, 156250, 312500 Hz (default 3: 312500 Hz, "
                                       "which WFM needs).", "rate", QStringLiteral("3")),
        option("freq", "Frequency of receiver 1 in Hz (default 7100000).", "hz", QStringLiteral("7100000")),
        option("mode", "Mode of receiver 1: AM SAM DSB LSB USB CW NFM DIGL DIGU WFM DRM or 0..10 (default AM).", "mode",
               QStringLiteral("AM")),
        option("filter", "Filter: LOW:HIGH in Hz relative to the frequency, or the mode's choice index "
                         "(default: the mode's default choice).",
               "filter"),
        option("agc", "AGC: 0 off, 1 Long, 2 Slow, 3 Med, 4 Fast, 5 User (default: the mode's default).", "index"),
        option("nr", "Noise reduction on."),
        option("anf", "Automatic notch filter on."),
        option("nb1", "Noise blanker 1 on."),
        option("nb2", "Noise blanker 2 on."),
        option("volume", "Main volume in dB, -100..0 (default -3: a little headroom below the AGC's full-scale output).", "db", QStringLiteral("-3")),
        option("rx2", "Enable the second receiver at FREQ Hz (optionally with its mode).", "freq[:mode]"),
        option("duration", "Running time in seconds (default 10; Ctrl-C ends it early and still writes the outputs).", "seconds", QStringLiteral("10")),
        option("out", "Output folder, created when missing (default out).", "dir", QStringLiteral("out")),
        option("no-wav", "Do not write the main audio output."),
        option("no-png", "Do not write the panorama and waterfall pictures."),
        option("no-iq", "Do not record IQ."),
        option("iq-format", "IQ recording format 0..2 (default 2).", "format", QStringLiteral("2")),
        QCommandLineOption(QStringLiteral("settings"),
                           QStringLiteral("Settings file (default: %1). The plug-in keeps its own settings there "
                                          "(address mode, address, port, rate, the options page) and the host its "
                                          "choices of receiver source, --port, --rate, --freq, --mode, --filter, "
                                          "--agc and --volume: options left out take the last run's choice. Read "
                                          "before the receiver starts, written at exit.")
                               .arg(HostSettings::defaultFile()),
                           QStringLiteral("file"), HostSettings::defaultFile()),
        option("no-settings", "Read and write no settings: the plug-in's and the host's defaults."),
    };
}

void JobCommandLine::setUp(QCommandLineParser& parser) const
{
    parser.setApplicationDescription(
        QStringLiteral("Minimal host for the ZorvaniDDC device plug-in.\n\n"
                       "Without options it starts a receiver emulator on 127.0.0.2 (loopback only), opens it in "
                       "\"Static IP\" mode, tunes receiver 1 to the AM station at 7.1 MHz, runs for the set time and "
                       "writes into the output folder: audio.wav (the main audio output, 48000 Hz stereo), "
                       "panorama.png, waterfall.png, the IQ recording and summary.txt.\n\n"
                       "Built-in scene (--scene replaces it; try --freq 7400000 --mode WFM):\n") +
        MainJob::defaultSceneText() + QLatin1Char('\n') + zorvani::sim::Scene::helpText());
    parser.addHelpOption();
    parser.addOptions(m_options);
}

bool JobCommandLine::read(const QCommandLineParser& parser, JobOptions* o, QString* error) const
{
    const auto fail = [error](const QString& text) {
        *error = text;
        return false;
    };
    o->pluginPath = parser.value(QStringLiteral("plugin"));
    o->lifecycleOnly = parser.isSet(QStringLiteral("lifecycle-only"));
    o->window = parser.isSet(QStringLiteral("window"));
    o->admin = parser.isSet(QStringLiteral("admin"));
    o->updateFirmware = parser.isSet(QStringLiteral("update-firmware"));
    o->emulatorFirmware = parser.value(QStringLiteral("emulator-firmware"));
    if (!o->emulatorFirmware.isEmpty() &&
        !QStringList{QStringLiteral("old"), QStringLiteral("bootloader"), QStringLiteral("unerasable")}.contains(
            o->emulatorFirmware))
        return fail(QStringLiteral("--emulator-firmware must be old, bootloader or unerasable"));

    bool ok = false;
    const uint port = parser.value(QStringLiteral("port")).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return fail(QStringLiteral("--port must be 1..65535"));
    o->port = quint16(port);

    if (int(parser.isSet(QStringLiteral("emulator"))) + int(parser.isSet(QStringLiteral("receiver"))) +
            int(parser.isSet(QStringLiteral("discover"))) > 1)
        return fail(QStringLiteral("--emulator, --receiver and --discover exclude each other"));
    if (parser.isSet(QStringLiteral("receiver"))) {
        const QString text = parser.value(QStringLiteral("receiver"));
        const int colon = text.lastIndexOf(QLatin1Char(':'));
        const QHostAddress address(text.left(colon));
        const uint receiverPort = text.mid(colon + 1).toUInt(&ok);
        if (colon <= 0 || address.protocol() != QAbstractSocket::IPv4Protocol || !ok || receiverPort == 0 ||
            receiverPort > 65535)
            return fail(QStringLiteral("--receiver wants ADDR:PORT with an IPv4 address, not \"%1\"").arg(text));
        o->source = JobOptions::Source::Receiver;
        o->receiverAddress = address;
        o->port = quint16(receiverPort);
    } else if (parser.isSet(QStringLiteral("discover"))) {
        o->source = JobOptions::Source::Discover;
    }
    o->sceneFile = parser.value(QStringLiteral("scene"));
    if (!EmulatorFaults::parse(parser.value(QStringLiteral("faults")), &o->faults, error))
        return false;
    if (o->faults.any() && o->source != JobOptions::Source::Emulator)
        return fail(QStringLiteral("--faults is for the built-in emulator only"));

    if (!parseRate(parser.value(QStringLiteral("rate")), &o->rateIndex))
        return fail(QStringLiteral("--rate must be 0..3 or one of 39062.5, 78125, 156250, 312500"));
    if (!parseFrequency(parser.value(QStringLiteral("freq")), &o->freqHz))
        return fail(QStringLiteral("--freq must be a frequency in Hz (0 < f <= 2e9)"));
    o->mode = parser.value(QStringLiteral("mode")).trimmed();
    o->filter = parser.value(QStringLiteral("filter")).trimmed();
    if (parser.isSet(QStringLiteral("agc"))) {
        o->agc = parser.value(QStringLiteral("agc")).toInt(&ok);
        if (!ok || o->agc < 0 || o->agc > 5)
            return fail(QStringLiteral("--agc must be 0..5"));
    }
    o->nr = parser.isSet(QStringLiteral("nr"));
    o->anf = parser.isSet(QStringLiteral("anf"));
    o->nb1 = parser.isSet(QStringLiteral("nb1"));
    o->nb2 = parser.isSet(QStringLiteral("nb2"));
    o->volumeDb = parser.value(QStringLiteral("volume")).toInt(&ok);
    if (!ok || o->volumeDb < -100 || o->volumeDb > 0)
        return fail(QStringLiteral("--volume must be -100..0 dB"));

    if (parser.isSet(QStringLiteral("rx2"))) {
        const QString text = parser.value(QStringLiteral("rx2"));
        const int colon = text.indexOf(QLatin1Char(':'));
        if (!parseFrequency(colon < 0 ? text : text.left(colon), &o->rx2FreqHz))
            return fail(QStringLiteral("--rx2 wants FREQ[:MODE], not \"%1\"").arg(text));
        o->rx2 = true;
        o->rx2Mode = colon < 0 ? QString() : text.mid(colon + 1).trimmed();
    }

    o->durationS = parser.value(QStringLiteral("duration")).toDouble(&ok);
    if (!ok || !(o->durationS > 0.0) || o->durationS > 86400.0)
        return fail(QStringLiteral("--duration must be 0 < seconds <= 86400"));
    o->outDir = parser.value(QStringLiteral("out"));
    if (o->outDir.isEmpty())
        return fail(QStringLiteral("--out must name a folder"));
    o->wav = !parser.isSet(QStringLiteral("no-wav"));
    o->png = !parser.isSet(QStringLiteral("no-png"));
    o->iq = !parser.isSet(QStringLiteral("no-iq"));
    o->iqFormat = parser.value(QStringLiteral("iq-format")).toInt(&ok);
    if (!ok || o->iqFormat < 0 || o->iqFormat > 2)
        return fail(QStringLiteral("--iq-format must be 0..2"));
    if (parser.isSet(QStringLiteral("settings")) && parser.isSet(QStringLiteral("no-settings")))
        return fail(QStringLiteral("--settings and --no-settings exclude each other"));
    o->settingsFile =
        parser.isSet(QStringLiteral("no-settings")) ? QString() : parser.value(QStringLiteral("settings"));
    if (parser.isSet(QStringLiteral("settings")) && o->settingsFile.isEmpty())
        return fail(QStringLiteral("--settings must name a file"));
    return true;
}

bool JobCommandLine::readRemembered(const QStringList& arguments, JobOptions* options, QString* error,
                                    QString* note) const
{
    note->clear();
    QCommandLineParser given;
    setUp(given);
    if (!given.parse(arguments)) {
        *error = given.errorText();
        return false;
    }
    if (!read(given, options, error))
        return false;
    const QStringList remembered = HostSettings(options->settingsFile).recall(given);
    if (remembered.isEmpty())
        return true;
    QCommandLineParser completed;
    setUp(completed);
    JobOptions recalled;
    QString refused;
    if (!completed.parse(arguments.mid(0, 1) + remembered + arguments.mid(1)))
        refused = completed.errorText();
    else if (read(completed, &recalled, &refused))
        *options = recalled;
    if (!refused.isEmpty())
        *note = QStringLiteral("the choices remembered in %1 are not used: %2").arg(options->settingsFile, refused);
    return true;
}
