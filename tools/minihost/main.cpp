// The minimal host: loads the ZorvaniDDC plug-in like the real host and drives
// it. By default it runs the main job against the built-in receiver emulator on
// loopback; --lifecycle-only only loads, inits and tears down. What the user
// chose is remembered between runs (HostSettings).
#include "HostBridge.h"
#include "HostSettings.h"
#include "JobOptions.h"
#include "MainJob.h"
#include "PluginHost.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTextStream>
#include <QVBoxLayout>
#include <QWidget>

#include <csignal>
#include <vector>

namespace {

int fail(const QString& message)
{
    QTextStream(stderr) << "minihost: " << message << '\n';
    return 1;
}

void onSignal(int)
{
    MainJob::requestStop();
}

// Load, init, setManager, wait for the device menu, teardown: no receiver involved.
int runLifecycle(QApplication& app, const JobOptions& options)
{
    PluginHost host;
    if (!host.load(options.pluginPath))
        return fail(host.errorString());
    DeviceAbstract* device = host.device();
    QTextStream out(stdout);
    out << "loaded " << host.pluginName() << ' ' << host.pluginVersion() << " (" << device->name() << ")\n";

    auto bridge = std::make_unique<HostBridge>();
    HostManager manager;
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    manager.setMainWindow(&window);

    if (!device->init(*bridge, layout, false, options.admin))
        return fail(QStringLiteral("init failed"));
    device->setManager(&manager);
    const HostSettings settings(options.settingsFile);
    const QString unread = settings.load(*device);
    if (!unread.isEmpty())
        QTextStream(stderr) << "minihost: " << unread << '\n';
    if (options.window)
        window.show();

    // The plug-in hands over its device menu after 500 ms.
    QElapsedTimer timer;
    timer.start();
    while (!manager.deviceMenu() && timer.elapsed() < 2000)
        app.processEvents(QEventLoop::AllEvents, 20);
    const bool menu = manager.deviceMenu() != nullptr;
    if (menu) {
        out << "device menu received; catalogue offers " << device->functions()->modes().size() << " modes\n";
        if (options.window)
            app.exec();
    }

    QString error;
    const bool saved = settings.save(*device, nullptr, &error);
    if (!saved)
        QTextStream(stderr) << "minihost: " << error << '\n';
    bridge->closeOutputs();
    bridge->hostPool().waitIdle();
    device->deinit();
    bridge.reset();
    host.unload();
    if (!menu)
        return fail(QStringLiteral("the plug-in handed over no device menu"));
    if (!saved)
        return 1;
    out << "done\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStringList arguments;
    std::vector<char*> qtArguments;
    PluginHost::separateArguments(argc, argv, &arguments, &qtArguments);
    // The host's administrator mode shows in its arguments as "admin".
    char admin[] = "admin";
    if (arguments.contains(QStringLiteral("--admin")) || arguments.contains(QStringLiteral("-admin")))
        qtArguments.insert(qtArguments.end() - 1, admin);
    int qtArgc = int(qtArguments.size()) - 1;
    QApplication app(qtArgc, qtArguments.data());
    QApplication::setApplicationName(QStringLiteral("minihost"));

    QCommandLineParser parser;
    JobCommandLine commandLine;
    commandLine.setUp(parser);
    parser.process(arguments);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1 (see --help)").arg(parser.positionalArguments().first()));
    JobOptions options;
    QString error;
    QString note;
    if (!commandLine.readRemembered(arguments, &options, &error, &note))
        return fail(error);
    if (!note.isEmpty())
        QTextStream(stderr) << "minihost: " << note << '\n';

    if (options.lifecycleOnly)
        return runLifecycle(app, options);

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    MainJob job(options);
    return job.run();
}
