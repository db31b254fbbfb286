#pragma once

#include "HostBridge.h"
#include "PluginHost.h"
#include "PrivateHome.h"
#include "Protocol.h"
#include "Simulator.h"

#include <QtTest>
#include <QtWidgets>

#include <cmath>
#include <memory>
#include <numeric>
#include <vector>


// The plug-in loaded the way the host loads it, wired to the minimal host's
// bridge and manager, pointed at an emulator on loopback in "Static IP" mode
// through its own options page; and what the system tests measure on the
// emulator's side. Signal time is counted in IQ packets, never on the clock.
namespace systest {

using zorvani::sim::Config;
using zorvani::sim::Simulator;
using namespace zorvani::sim::proto;

// A full start on the wire: information, root and user calibration,
// preamplifier, LPF, reference, Start, external outputs, front-end word, band scope.
const QList<int> kBeforeStart = {CmdInformation, CmdReadRootCal, CmdReadUserCal, CmdPreamp, CmdLpf, CmdPll};
const QList<int> kFullStart = kBeforeStart + QList<int>{CmdStart, CmdExtCtrl, CmdFrontEnd, CmdBandScope};
constexpr double kAnswerRate = 39062.5;
constexpr int kStalledMs = 20000; // a wait gives up only when the stream makes no progress for this long

// One data row per entry of `table`, named by its `name`, holding its index.
template <typename Row, size_t N>
void addRows(const Row (&table)[N])
{
    QTest::addColumn<int>("row");
    for (size_t i = 0; i < N; ++i)
        QTest::newRow(table[i].name) << int(i);
}

inline Config emulator(quint16 port, const QString& scene)
{
    Config c;
    c.port = port;
    QString error;
    if (!zorvani::sim::Scene::parse(scene, &c.scene, &error))
        qFatal("scene: %s", qPrintable(error));
    return c;
}

// Lets `packets` IQ packets pass with the event loop turning (meters and
// stereo state are queued signals); false once the stream stands still.
inline bool streamPackets(Simulator& sim, double packets)
{
    const quint64 start = sim.counters().iqSent;
    QElapsedTimer still;
    still.start();
    for (quint64 last = start; double(last - start) < packets; QTest::qWait(5)) {
        const quint64 now = sim.counters().iqSent;
        if (now == last && still.elapsed() > kStalledMs)
            return false;
        if (now != last)
            still.restart();
        last = now;
    }
    return true;
}

inline bool streamFor(Simulator& sim, double seconds)
{
    return streamPackets(sim, kAnswerRate * double(1 << sim.state().rateIndex) / 200.0 * seconds);
}

// The next `frames` frames of the answers' left channel, full scale 1 (empty if they never came).
inline std::vector<double> answered(Simulator& sim, int frames)
{
    sim.clearCapture();
    std::vector<double> x;
    if (sim.waitUntil([&] { return sim.captureFrames() >= frames; }, kStalledMs))
        for (const QVector<qint32> c = sim.capture(); int(x.size()) < frames;)
            x.push_back(c[2 * int(x.size())] / 8388608.0);
    return x;
}

inline double levelDb(const std::vector<double>& x)
{
    const double sum = std::inner_product(x.begin(), x.end(), x.begin(), 0.0);
    return x.empty() ? qQNaN() : 10.0 * std::log10(sum / double(x.size()) + 1e-30);
}

// The dBm meter of receiver 0 channel 0 once two successive windows of 100 IQ
// packets agree to 0.05 dB; NaN if it never settles.
inline double settledMeter(DeviceAbstract* device, Simulator& sim)
{
    double previous = qQNaN();
    for (int window = 0; window < 40; ++window) {
        QCoreApplication::processEvents(); // older readings go before the window opens
        QSignalSpy meter(device, &DeviceAbstract::dBmMeter);
        if (!streamPackets(sim, 100))
            return qQNaN();
        std::vector<double> readings;
        for (const QList<QVariant>& args : meter)
            if (args.at(0).toUInt() == 0 && args.at(1).toUInt() == 0)
                readings.push_back(args.at(2).toDouble());
        const double mean = std::accumulate(readings.begin(), readings.end(), 0.0) / double(readings.size()); // NaN without any
        if (std::abs(mean - previous) < 0.05)
            return mean;
        previous = mean;
    }
    return qQNaN();
}

// Empty when the application commands in `log` are exactly `expected`, in
// order, besides re-sends (a request whose reply came late is sent again byte
// for byte); otherwise the codes received, for the failure message.
inline QString wireMismatch(const QVector<zorvani::sim::LoggedCommand>& log, const QList<int>& expected)
{
    QList<QByteArray> seen;
    QList<int> codes;
    int next = 0;
    bool ok = true;
    for (const zorvani::sim::LoggedCommand& c : log) {
        if (c.magic != 0xFF12)
            continue;
        const bool wanted = next < expected.size() && c.command == expected[next];
        ok = ok && (wanted || seen.contains(c.bytes));
        next += wanted ? 1 : 0;
        seen << c.bytes;
        codes << c.command;
    }
    QString text;
    QDebug(&text).nospace() << "received " << codes << "; expected " << expected;
    return ok && next == expected.size() ? QString() : text;
}

class LoadedPlugin {
public:
    struct Box { // a modal window the plug-in showed
        QString title, text, informativeText;
        QMessageBox::StandardButton defaultButton;
    };

    ~LoadedPlugin() { unload(); }

    // Loads the plug-in with a private home, starts an emulator configured as
    // `c` and points the plug-in at it. Empty on success, else what failed.
    QString attach(const Config& c)
    {
        if (!support::isolateHome(home))
            return QStringLiteral("no private home");
        const QByteArray path = qgetenv("ZORVANI_PLUGIN");
        if (!host.load(path.isEmpty() ? PluginHost::defaultPluginPath() : QString::fromLocal8Bit(path)))
            return host.errorString();
        manager.setMainWindow(&window);
        if (!device()->init(bridge, new QVBoxLayout(&window), false, false))
            return QStringLiteral("init failed");
        device()->setManager(&manager);
        // A modal box would block the test forever: answer it from `answers` or close it, and remember it.
        m_modalGuard.setInterval(50);
        QObject::connect(&m_modalGuard, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!modal)
                return;
            seen << (box ? Box{box->windowTitle(), box->text(), box->informativeText(),
                               box->standardButton(box->defaultButton())}
                         : Box{modal->windowTitle(), {}, {}, QMessageBox::NoButton});
            if (QAbstractButton* answer = box && !answers.isEmpty() ? box->button(answers.takeFirst()) : nullptr)
                return answer->click();
            modal->close();
        });
        m_modalGuard.start();
        return replaceEmulator(c) ? QString() : QStringLiteral("no emulator or no address controls");
    }

    // A fresh emulator in state `c` takes the place of the last one.
    bool replaceEmulator(const Config& c)
    {
        sim.reset();
        sim = std::make_unique<Simulator>(c);
        return sim->start() && useEmulator();
    }

    bool useEmulator()
    {
        if (!option<QComboBox>("cbModeIP") || !option<QLineEdit>("leIP") || !option<QSpinBox>("sbPort"))
            return false;
        option<QComboBox>("cbModeIP")->setCurrentIndex(1);
        option<QLineEdit>("leIP")->setText(sim->config().address.toString());
        option<QSpinBox>("sbPort")->setValue(sim->config().port);
        return true;
    }

    void unload()
    {
        m_modalGuard.stop();
        if (device()) {
            device()->setSoundCardOutput(false);
            device()->stop();
            device()->close();
            bridge.closeOutputs();
            bridge.hostPool().waitIdle();
            device()->deinit();
            host.unload();
        }
        sim.reset();
    }

    DeviceAbstract* device() const { return host.device(); }

    // The device panel the host shows as its drop-down menu (handed over 500 ms after setManager).
    QWidget* menuPanel() const
    {
        QMenu* menu = manager.deviceMenu();
        auto* action = menu ? qobject_cast<QWidgetAction*>(menu->actions().value(0)) : nullptr;
        return action ? action->defaultWidget() : nullptr;
    }

    // A control of the options page, or of the device menu (`where` "menu").
    template <typename T> T* control(const QString& where, const char* name) const
    {
        const QWidget* parent = where == QLatin1String("menu") ? menuPanel() : &window;
        return parent ? parent->findChild<T*>(QLatin1String(name)) : nullptr;
    }
    template <typename T> T* option(const char* name) const { return control<T>({}, name); }

    QStringList boxTexts() const // "title|text" of every modal window seen
    {
        QStringList t;
        for (const Box& box : seen)
            t << box.title + QLatin1Char('|') + box.text;
        return t;
    }

    std::unique_ptr<Simulator> sim;
    PluginHost host;
    HostBridge bridge;
    HostManager manager;
    QWidget window;
    QList<Box> seen;                            // every modal window shown (text empty: no message box)
    QList<QMessageBox::StandardButton> answers; // for the next boxes, in order; none left: closed
    QTemporaryDir home;                         // HOME of the test, set by attach() (or before it)

private:
    QTimer m_modalGuard;
};

} // namespace systest
