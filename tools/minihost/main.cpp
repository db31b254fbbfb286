// The minimal host: loads the ZorvaniDDC plug-in like the real host and drives
// its lifecycle.
#include "HostBridge.h"
#include "PluginHost.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTextStream>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

static int fail(const QString& message)
{
    QTextStream(stderr) << "minihost: " << message << '\n';
    return 1;
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("minihost"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Minimal host for the ZorvaniDDC device plug-in."));
    parser.addHelpOption();
    QCommandLineOption pluginOption(QStringLiteral("plugin"), QStringLiteral("Path of the plug-in file."),
                                    QStringLiteral("path"), PluginHost::defaultPluginPath());
    QCommandLineOption windowOption(QStringLiteral("window"), QStringLiteral("Show the options page in a window."));
    QCommandLineOption adminOption(QStringLiteral("admin"), QStringLiteral("Show the Admin page of the options."));
    parser.addOption(pluginOption);
    parser.addOption(windowOption);
    parser.addOption(adminOption);
    parser.process(app);

    PluginHost host;
    if (!host.load(parser.value(pluginOption)))
        return fail(host.errorString());
    DeviceAbstract* device = host.device();
    QTextStream out(stdout);
    out << "loaded " << host.pluginName() << ' ' << host.pluginVersion() << " (" << device->name() << ")\n";

    HostBridge bridge;
    HostManager manager;
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    manager.setMainWindow(&window);

    if (!device->init(bridge, layout, false, parser.isSet(adminOption)))
        return fail(QStringLiteral("init failed"));
    device->setManager(&manager);
    if (parser.isSet(windowOption))
        window.show();

    // Let the plug-in hand over its device menu (it does so after 500 ms).
    QElapsedTimer timer;
    timer.start();
    while (!manager.deviceMenu() && timer.elapsed() < 2000)
        app.processEvents(QEventLoop::AllEvents, 20);
    if (!manager.deviceMenu())
        return fail(QStringLiteral("the plug-in handed over no device menu"));
    out << "device menu received; catalogue offers " << device->functions()->modes().size() << " modes\n";

    if (parser.isSet(windowOption))
        app.exec();

    bridge.closeOutputs();
    bridge.hostPool().waitIdle();
    device->deinit();
    host.unload();
    out << "done\n";
    return 0;
}
