// zorvani-receiver: a receiver window on the ZorvaniDDC plug-in, against the
// built-in emulator or a receiver on the network.
#include "PluginHost.h"
#include "ReceiverHost.h"
#include "ReceiverOptions.h"
#include "ReceiverWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <vector>

namespace {

std::atomic<bool> g_quit{false};

void onSignal(int)
{
    g_quit = true;
}

int fail(const QString& message)
{
    QTextStream(stderr) << "zorvani-receiver: " << message << '\n';
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                         !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    bool screenshot = false;
    for (int i = 1; i < argc; ++i)
        screenshot = screenshot || QByteArray(argv[i]).startsWith("--screenshot");
    if (!display && screenshot)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else if (!display)
        return fail(QStringLiteral("no display to show the window on (DISPLAY is not set); --screenshot FILE works "
                                   "without one"));

    QStringList arguments;
    std::vector<char*> qtArguments;
    PluginHost::separateArguments(argc, argv, &arguments, &qtArguments);
    int qtArgc = int(qtArguments.size()) - 1;
    QApplication app(qtArgc, qtArguments.data());
    QApplication::setOrganizationName(QStringLiteral("ZorvaniDDC"));
    QApplication::setApplicationName(QStringLiteral("zorvani-receiver"));

    QCommandLineParser parser;
    ReceiverCommandLine commandLine;
    commandLine.setUp(parser);
    parser.process(arguments);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1 (see --help)").arg(parser.positionalArguments().first()));
    ReceiverOptions options;
    QString error;
    if (!commandLine.read(parser, &options, &error))
        return fail(error);

    ReceiverHost host;
    ReceiverWindow window(host, options);
    window.show();
    if (!window.start())
        return 1;

    if (!options.screenshot.isEmpty())
        QTimer::singleShot(int(options.screenshotAfterS * 1000), &window, [&] {
            if (!window.grab().save(options.screenshot, "PNG"))
                fail(QStringLiteral("cannot write %1").arg(options.screenshot));
            window.close();
        });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &window, [&] {
        if (g_quit)
            window.close();
    });
    poll.start(100);
    const int status = app.exec();
    window.shutdown();
    return status;
}
