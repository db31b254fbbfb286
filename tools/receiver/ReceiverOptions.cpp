#include "ReceiverOptions.h"

#include "PluginHost.h"

#include <QFile>

ReceiverCommandLine::ReceiverCommandLine()
{
    m_options = {
        {QStringLiteral("receiver"),
         QStringLiteral("A ZorvaniDDC on the network, opened in \"Static IP\" mode (default: the built-in emulator "
                        "on 127.0.0.2)."),
         QStringLiteral("address:port")},
        {QStringLiteral("port"), QStringLiteral("Port of the built-in emulator."), QStringLiteral("port"),
         QStringLiteral("50001")},
        {QStringLiteral("scene"), QStringLiteral("Scene file for the emulator (see zorvani-sim --help)."),
         QStringLiteral("file")},
        {QStringLiteral("play"),
         QStringLiteral("Play an IQ recording of the plug-in (any of its three layouts) through the emulator."),
         QStringLiteral("file")},
        {QStringLiteral("loop"), QStringLiteral("With --play: start again at the end.")},
        {QStringLiteral("no-audio"), QStringLiteral("Run silent, as without a sound device.")},
        {QStringLiteral("settings"),
         QStringLiteral("Settings file (default: receiver.ini in the user's configuration folder)."),
         QStringLiteral("file")},
        {QStringLiteral("plugin"), QStringLiteral("The plug-in file."), QStringLiteral("file"),
         PluginHost::defaultPluginPath()},
        {QStringLiteral("screenshot"),
         QStringLiteral("Save a picture of the window (PNG) after a few seconds and quit."), QStringLiteral("file")},
    };
}

void ReceiverCommandLine::setUp(QCommandLineParser& parser) const
{
    parser.setApplicationDescription(QStringLiteral(
        "A receiver window on the ZorvaniDDC plug-in: panorama and waterfall, click to tune, live audio,\n"
        "IQ recording and playback. It loads the plug-in the way the host does and shows its options\n"
        "page and device menu. Without --receiver it runs the built-in receiver emulator on loopback."));
    parser.addHelpOption();
    parser.addOptions(m_options);
}

bool ReceiverCommandLine::read(const QCommandLineParser& parser, ReceiverOptions* options, QString* error) const
{
    options->pluginPath = parser.value(QStringLiteral("plugin"));
    bool ok = false;
    const uint port = parser.value(QStringLiteral("port")).toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        *error = QStringLiteral("--port: 1..65535");
        return false;
    }
    options->source.port = quint16(port);
    if (parser.isSet(QStringLiteral("receiver"))) {
        const QString text = parser.value(QStringLiteral("receiver"));
        const QHostAddress address(text.section(QLatin1Char(':'), 0, 0));
        const uint receiverPort = text.section(QLatin1Char(':'), 1).toUInt(&ok);
        if (address.protocol() != QAbstractSocket::IPv4Protocol || !ok || receiverPort == 0 || receiverPort > 65535) {
            *error = QStringLiteral("--receiver %1: an IPv4 address and a port, e.g. 192.168.1.20:50001").arg(text);
            return false;
        }
        options->source.kind = ReceiverSource::Kind::Network;
        options->source.address = address;
        options->source.port = quint16(receiverPort);
    }
    if (parser.isSet(QStringLiteral("scene"))) {
        QFile file(parser.value(QStringLiteral("scene")));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            *error = QStringLiteral("cannot read the scene file %1: %2").arg(file.fileName(), file.errorString());
            return false;
        }
        QString why;
        if (!zorvani::sim::Scene::parse(QString::fromUtf8(file.readAll()), &options->source.scene, &why)) {
            *error = QStringLiteral("bad scene: %1").arg(why);
            return false;
        }
    }
    options->playFile = parser.value(QStringLiteral("play"));
    options->loop = parser.isSet(QStringLiteral("loop"));
    options->audio = !parser.isSet(QStringLiteral("no-audio"));
    options->settingsPath = parser.value(QStringLiteral("settings"));
    options->screenshot = parser.value(QStringLiteral("screenshot"));
    return true;
}
