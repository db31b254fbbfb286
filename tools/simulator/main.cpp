// zorvani-sim: an emulated ZorvaniDDC receiver on loopback.

#include "IqPlayback.h"
#include "Simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QTimer>

#include <atomic>
#include <csignal>

namespace {

std::atomic<bool> g_quit{false};

void onSignal(int)
{
    g_quit = true;
}

QString description()
{
    return QStringLiteral(
               "Emulates a ZorvaniDDC receiver: discovery, control protocol, IQ stream with a signal scene,\n"
               "band scope, FPGA loading, calibration, data flash and the firmware bootloader.\n"
               "\n"
               "It binds ADDRESS:PORT (default 127.0.0.2:50001) with address reuse. Run the plug-in with the\n"
               "receiver address 127.0.0.2 (\"Static IP\" mode) and the same port: the plug-in binds any\n"
               "address on that port, and both share it on loopback. Nothing leaves 127.0.0.0/8 unless\n"
               "ZORVANI_NETNS=1 says that the program runs inside a private network namespace.\n"
               "Stop it with Ctrl-C; --capture then writes the audio the plug-in sent back.\n"
               "The band scope (command 34) sends 16 fragments per frame, 5 frames per second, of the scene\n"
               "around its centre frequency sampled at 4 MHz / (decimation + 1).\n"
               "Without --scene the band around 7.1 MHz holds a noise floor, a carrier, AM, SSB, CW and NFM.\n"
               "\n") +
           zorvani::sim::Scene::helpText();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zorvani-sim"));
    QCommandLineParser p;
    p.setApplicationDescription(description());
    p.addHelpOption();
    const QCommandLineOption address({"a", "address"}, "Address to bind and announce.", "ip", "127.0.0.2");
    const QCommandLineOption port({"p", "port"}, "Control port.", "port", "50001");
    const QCommandLineOption serial("serial", "Serial parts: decimal part and four hex digits, e.g. 123:0a1b.",
                                    "dec:hex", "1:0001");
    const QCommandLineOption version("firmware", "Firmware version the application reports.", "major.minor",
                                     "11.3");
    const QCommandLineOption pcb("pcb", "PCB revision.", "n", "3");
    const QCommandLineOption status("status-bits", "Status bits of the information record (hex).", "hex", "9df");
    const QCommandLineOption boot("bootloader", "Start in the bootloader.");
    const QCommandLineOption fast("fast", "Send the next IQ packet as soon as the previous is answered.");
    const QCommandLineOption scene("scene", "Scene text (see below); ';' separates lines.", "text");
    const QCommandLineOption sceneFile("scene-file", "Scene from a file.", "path");
    const QCommandLineOption calibration("calibration", "Keep the calibration blocks in this file.", "path");
    const QCommandLineOption resetMs("reset-silence", "Silent time after a reset, ms.", "ms", "1000");
    const QCommandLineOption capture("capture", "Write the returned audio to this 24-bit WAV at exit.", "path");
    const QCommandLineOption loss("iq-loss", "Probability of losing an IQ transmission.", "p", "0");
    const QCommandLineOption dup("iq-duplicate", "Probability of duplicating an IQ packet.", "p", "0");
    const QCommandLineOption reorder("iq-reorder", "Probability of swapping an IQ packet with the next.", "p", "0");
    const QCommandLineOption startStatus("start-status", "Status of the start reply (2: firmware update).", "n",
                                         "1");
    const QCommandLineOption drop("drop-replies",
                                  "Leave the next N replies to a command unsent (N -1: all; boot:code:n for a "
                                  "bootloader command); repeatable.",
                                  "code:n");
    const QCommandLineOption delay("delay-replies", "Send every reply to a command this late (boot:code:ms for a "
                                   "bootloader command); repeatable.",
                                   "code:ms");
    const QCommandLineOption failing("fail-commands",
                                     "Refuse the next N commands of a code, without effect (N -1: all; boot:code:n "
                                     "for a bootloader command, e.g. boot:1:2 for two failed erases); repeatable.",
                                     "code:n");
    const QCommandLineOption netns("netns",
                                   "Inside tests/netns-run (ZORVANI_NETNS=1): move zs1 into a namespace of its own with "
                                   "ADDRESS and answer broadcasts there.");
    const QCommandLineOption frequency("frequency", "Tuned frequency of both receivers until the first setFreq, Hz.",
                                       "hz", "7100000");
    const QCommandLineOption log("log", "Print every received command.");
    const QCommandLineOption duration("duration", "Stop after this many seconds.", "s");
    const QCommandLineOption play("play",
                                  "Stream this IQ recording of the plug-in instead of the scene (tune the plug-in to "
                                  "its centre at its rate).",
                                  "path");
    const QCommandLineOption loop("loop", "With --play: start again at the end.");
    p.addOptions({address, port, serial, version, pcb, status, boot, fast, scene, sceneFile, calibration, resetMs,
                  capture, loss, dup, reorder, startStatus, drop, delay, failing, netns, frequency, log, duration, play,
                  loop});
    p.process(app);

    auto fail = [](const QString& text) {
        qCritical().noquote() << "zorvani-sim:" << text;
        return 2;
    };
    const bool inNamespace = qEnvironmentVariable("ZORVANI_NETNS") == QLatin1String("1");
    zorvani::sim::Config config;
    config.address = QHostAddress(p.value(address));
    if (config.address.protocol() != QAbstractSocket::IPv4Protocol)
        return fail(QStringLiteral("bad address"));
    if (!config.address.isLoopback() && !inNamespace)
        return fail(QStringLiteral("only 127.0.0.0/8 outside a private network namespace"));
    bool ok = false;
    config.port = quint16(p.value(port).toUInt(&ok));
    if (!ok || config.port == 0)
        return fail(QStringLiteral("bad port"));
    const QStringList sn = p.value(serial).split(QLatin1Char(':'));
    bool okHex = false;
    ok = false;
    const uint hex = sn.size() == 2 ? sn[1].toUInt(&okHex, 16) : 0;
    config.serialDecimal = sn.size() == 2 ? sn[0].toUInt(&ok) : 0;
    if (!ok || !okHex || hex > 0xFFFF)
        return fail(QStringLiteral("bad serial"));
    config.serialHi = quint8(hex >> 8);
    config.serialLo = quint8(hex);
    const QStringList ver = p.value(version).split(QLatin1Char('.'));
    bool okMinor = false;
    config.versionMajor = ver.size() == 2 ? quint16(ver[0].toUInt(&ok)) : 0;
    config.versionMinor = ver.size() == 2 ? quint16(ver[1].toUInt(&okMinor)) : 0;
    if (!ok || !okMinor)
        return fail(QStringLiteral("bad firmware version"));
    bool okPcb = false;
    config.pcbRevision = p.value(pcb).toUInt(&okPcb);
    config.statusBits = p.value(status).toUInt(&ok, 16);
    if (!ok || !okPcb)
        return fail(QStringLiteral("bad PCB revision or status bits"));
    config.startInBootloader = p.isSet(boot);
    config.paced = !p.isSet(fast);
    config.resetSilenceMs = p.value(resetMs).toInt();
    config.calibrationFile = p.value(calibration);
    config.logCommands = p.isSet(log);
    const double tuned = p.value(frequency).toDouble(&ok);
    if (!ok || tuned < 0.0 || tuned > 8.0e8)
        return fail(QStringLiteral("bad frequency"));
    config.initialFreq = quint64(tuned * 10.0);
    if (p.isSet(netns)) {
        if (!inNamespace)
            return fail(QStringLiteral("--netns needs ZORVANI_NETNS=1"));
        if (!zorvani::sim::Simulator::prepareNamespace({config.address}))
            return fail(QStringLiteral("cannot make the receiver namespace"));
        config.receiverNamespace = true;
    }
    QString sceneText;
    if (p.isSet(sceneFile)) {
        QFile f(p.value(sceneFile));
        if (!f.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(f.fileName()));
        sceneText = QString::fromUtf8(f.readAll());
    } else if (p.isSet(scene)) {
        sceneText = p.value(scene);
    }
    if (!sceneText.isEmpty()) {
        QString error;
        if (!zorvani::sim::Scene::parse(sceneText, &config.scene, &error))
            return fail(error);
    }

    zorvani::sim::Simulator sim(config);
    zorvani::sim::Faults faults;
    faults.iqLoss = p.value(loss).toDouble();
    faults.iqDuplicate = p.value(dup).toDouble();
    faults.iqReorder = p.value(reorder).toDouble();
    faults.startStatus = p.value(startStatus).toUInt();
    // Application command codes; "boot:" before the code selects a bootloader command.
    auto parseFault = [](const QString& text, QMap<quint32, int>* into) {
        QStringList parts = text.split(QLatin1Char(':'));
        quint16 magic = 0xFF12;
        if (parts.size() == 3 && parts[0] == QLatin1String("boot")) {
            magic = 0xFF11;
            parts.removeFirst();
        }
        bool okCode = false, okValue = false;
        const uint code = parts.size() == 2 ? parts[0].toUInt(&okCode, 0) : 0;
        const int value = parts.size() == 2 ? parts[1].toInt(&okValue) : 0;
        if (!okCode || !okValue || code > 0xFFFF)
            return false;
        into->insert(zorvani::sim::commandKey(quint16(code), magic), value);
        return true;
    };
    for (const QString& v : p.values(drop)) {
        if (!parseFault(v, &faults.dropReplies))
            return fail(QStringLiteral("bad --drop-replies %1").arg(v));
    }
    for (const QString& v : p.values(delay)) {
        if (!parseFault(v, &faults.replyDelayMs))
            return fail(QStringLiteral("bad --delay-replies %1").arg(v));
    }
    for (const QString& v : p.values(failing)) {
        if (!parseFault(v, &faults.failCommands))
            return fail(QStringLiteral("bad --fail-commands %1").arg(v));
    }
    sim.setFaults(faults);
    // Before the announcement below: whoever waits for it may stop us at once.
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    if (!sim.start())
        return fail(QStringLiteral("cannot bind %1:%2").arg(config.address.toString()).arg(config.port));
    qInfo().noquote() << "zorvani-sim: receiver" << sim.serialText() << "on" << config.address.toString() << "port"
                      << config.port;
    if (p.isSet(play)) {
        QString error;
        const auto playback = sim.play(p.value(play), &error, tuned);
        if (!playback)
            return fail(error);
        playback->setLoop(p.isSet(loop));
        const zorvani::sim::IqWavInfo& info = playback->info();
        qInfo().noquote() << QStringLiteral("zorvani-sim: playing %1: %2 s at %3 Hz, centre %4 Hz%5")
                                 .arg(p.value(play))
                                 .arg(info.seconds(), 0, 'f', 1)
                                 .arg(info.rateHz)
                                 .arg(playback->centreHz(), 0, 'f', 0)
                                 .arg(info.hasCentre ? QString() : QStringLiteral(" (from --frequency)"));
    }

    int logged = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (p.isSet(log)) {
            const auto entries = sim.commandLog();
            for (; logged < entries.size(); ++logged) {
                const auto& c = entries[logged];
                qInfo().noquote() << QStringLiteral("%1 ms magic %2 command %3%4: %5")
                                         .arg(c.timeUs / 1000)
                                         .arg(c.magic, 4, 16, QLatin1Char('0'))
                                         .arg(c.command)
                                         .arg(c.malformed ? QStringLiteral(" (malformed)") : QString())
                                         .arg(QString::fromLatin1(c.bytes.left(64).toHex(' ')));
            }
        }
        if (g_quit)
            app.quit();
    });
    poll.start(100);
    if (p.isSet(duration))
        QTimer::singleShot(int(p.value(duration).toDouble() * 1000), &app, &QCoreApplication::quit);
    const int rc = app.exec();
    sim.stop();
    if (p.isSet(capture) && !sim.writeCaptureWav(p.value(capture)))
        return 1;
    const auto c = sim.counters();
    qInfo().noquote() << "zorvani-sim: IQ packets sent" << c.iqSent << "re-sent" << c.iqResent << "answered"
                      << c.iqAnswered << "malformed datagrams" << c.malformed;
    return rc;
}
