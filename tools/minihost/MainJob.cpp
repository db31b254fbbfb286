#include "MainJob.h"

#include "OptionsPage.h"
#include "Simulator.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTemporaryFile>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>

#include <unistd.h>

std::atomic<bool> MainJob::s_stop{false};

namespace {

const double kRates[4] = {39062.5, 78125.0, 156250.0, 312500.0};

QString onOff(bool on)
{
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

QString hz(double value)
{
    return QString::number(value, 'f', value == std::floor(value) ? 0 : 1);
}

// Writes the whole file or nothing (empty bytes: a picture that did not
// render). Unbuffered, so that a full disk fails the write itself and not only
// a flush that nobody checks.
bool saveWhole(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    return !bytes.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
           file.write(bytes) == bytes.size() && file.commit();
}

QByteArray png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    return buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG") ? bytes : QByteArray();
}

} // namespace

MainJob::MainJob(const JobOptions& options) : m_options(options), m_settings(options.settingsFile)
{
    m_terminal = isatty(fileno(stdout)) != 0;
}

MainJob::~MainJob() = default;

void MainJob::requestStop()
{
    s_stop.store(true);
}

QString MainJob::defaultSceneText()
{
    return QStringLiteral(
        "seed 7\n"
        "noise -140\n"
        "cw 7030000 -60 wpm=20\n"
        "lsb 7050000 -55 tone=1000\n"
        "am 7100000 -50 tone=1000 depth=0.8\n"
        "usb 7150000 -55 tone=700 tone2=1900\n"
        "nfm 7200000 -50 tone=1000 dev=2500 ctcss=88.5\n"
        "wfm 7400000 -40 left=1000 right=1500\n");
}

int MainJob::fail(const QString& message)
{
    QString text = message;
    if (!m_boxes.isEmpty())
        text += QStringLiteral(" (the plug-in said: %1)").arg(boxesText());
    QTextStream(stderr) << "minihost: " << text << '\n';
    return 1;
}

QString MainJob::boxesText() const
{
    return m_boxes.join(QStringLiteral("; "));
}

int MainJob::run()
{
    const int status = execute();
    teardown();
    if (status != 0)
        return status;
    if (!writeSummary())
        m_problems << QStringLiteral("cannot write %1").arg(QDir(m_outDir).filePath(QStringLiteral("summary.txt")));
    QTextStream out(stdout);
    for (const QString& file : qAsConst(m_written))
        out << "wrote " << file << '\n';
    if (!m_problems.isEmpty()) {
        for (const QString& problem : qAsConst(m_problems))
            QTextStream(stderr) << "minihost: " << problem << '\n';
        return 1;
    }
    return 0;
}

template <typename T> T* MainJob::optionControl(const char* name) const
{
    return ::optionControl<T>(m_window, name);
}

bool MainJob::prepareOutputFolder()
{
    QDir dir(QDir::current().absoluteFilePath(m_options.outDir));
    m_outDir = QDir::cleanPath(dir.absolutePath());
    if (!QDir().mkpath(m_outDir))
        return false;
    QTemporaryFile probe(QDir(m_outDir).filePath(QStringLiteral(".minihost-XXXXXX")));
    return probe.open();
}

bool MainJob::startEmulator()
{
    zorvani::sim::Config config;
    config.port = m_options.port;
    if (m_options.emulatorFirmware == QLatin1String("old"))
        config.versionMinor = 2;
    config.startInBootloader = m_options.emulatorFirmware == QLatin1String("bootloader") ||
                               m_options.emulatorFirmware == QLatin1String("unerasable");
    config.logCommands = false;
    config.initialFreq = quint64(std::llround(m_options.freqHz * 10.0));
    QString text = defaultSceneText();
    if (!m_options.sceneFile.isEmpty()) {
        QFile file(m_options.sceneFile);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            fail(QStringLiteral("cannot read the scene file %1: %2").arg(m_options.sceneFile, file.errorString()));
            return false;
        }
        text = QString::fromUtf8(file.readAll());
    }
    QString error;
    if (!zorvani::sim::Scene::parse(text, &config.scene, &error)) {
        fail(QStringLiteral("bad scene: %1").arg(error));
        return false;
    }
    m_sim = std::make_unique<zorvani::sim::Simulator>(config);
    if (m_options.emulatorFirmware == QLatin1String("unerasable"))
        m_sim->failCommands(1, -1, 0xFF11); // every bootloader erase
    m_options.faults.start(*m_sim);
    if (!m_sim->start()) {
        fail(QStringLiteral("cannot start the receiver emulator on %1:%2")
                 .arg(config.address.toString())
                 .arg(config.port));
        return false;
    }
    return true;
}

bool MainJob::loadAndInit()
{
    if (!m_host.load(m_options.pluginPath)) {
        fail(m_host.errorString());
        return false;
    }
    m_device = m_host.device();
    QTextStream(stdout) << "loaded " << m_host.pluginName() << ' ' << m_host.pluginVersion() << " ("
                        << m_device->name() << ")\n";

    m_bridge = std::make_unique<HostBridge>();
    m_manager = std::make_unique<HostManager>();
    auto* layout = new QVBoxLayout(&m_window);
    m_manager->setMainWindow(&m_window);
    if (!m_device->init(*m_bridge, layout, false, m_options.admin)) {
        fail(QStringLiteral("the plug-in's init failed"));
        return false;
    }
    m_initialised = true;
    if (!m_firmware.attach(m_device) && m_options.updateFirmware) {
        fail(QStringLiteral("the plug-in reports no firmware update states"));
        return false;
    }
    m_device->setManager(m_manager.get());
    if (m_options.window)
        m_window.show();

    // The plug-in hands over its device menu after 500 ms.
    QElapsedTimer timer;
    timer.start();
    while (!m_manager->deviceMenu() && timer.elapsed() < 2000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!m_manager->deviceMenu()) {
        fail(QStringLiteral("the plug-in handed over no device menu"));
        return false;
    }
    QTextStream(stdout) << "device menu received; catalogue offers " << m_device->functions()->modes().size()
                        << " modes\n";
    return true;
}

bool MainJob::configureOptionsPage()
{
    auto* mode = optionControl<QComboBox>("cbModeIP");
    auto* address = optionControl<QLineEdit>("leIP");
    auto* port = optionControl<QSpinBox>("sbPort");
    auto* rate = optionControl<QComboBox>("cbSampleRate");
    if (!mode || !address || !port || !rate) {
        fail(QStringLiteral("the options page lacks cbModeIP, leIP, sbPort or cbSampleRate"));
        return false;
    }
    const bool discover = m_options.source == JobOptions::Source::Discover;
    mode->setCurrentIndex(discover ? 0 : 1);
    if (!discover) {
        const QHostAddress receiver = m_options.source == JobOptions::Source::Receiver
                                          ? m_options.receiverAddress
                                          : m_sim->config().address;
        address->setText(receiver.toString());
    }
    port->setValue(m_options.port);
    rate->setCurrentIndex(m_options.rateIndex);
    // As the host does after loading its settings: the plug-in announces the
    // rate (changedSampleRate) and its catalogue follows.
    connect(m_device, &DeviceAbstract::changedSampleRate, this, [this](double rateHz) { m_displayedRate = rateHz; });
    m_device->announceSettings();
    return true;
}

bool MainJob::chooseDiscoveredReceiver()
{
    auto* search = optionControl<QPushButton>("pbSearch");
    if (!search) {
        fail(QStringLiteral("the options page lacks pbSearch"));
        return false;
    }
    QTextStream(stdout) << "discovering receivers (broadcast on every interface)...\n";
    search->click();
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() != QLatin1String("ZorvaniDialog"))
            continue;
        const QList<QPushButton*> use = top->findChildren<QPushButton*>(QStringLiteral("pbUse"));
        if (!use.isEmpty()) {
            use.first()->click();
            return true;
        }
    }
    fail(QStringLiteral("discovery found no receiver on port %1").arg(m_options.port));
    return false;
}

bool MainJob::resolveTuning(double freqHz, const QString& modeText, Tuning* tuning)
{
    const DeviceFunctionsAbstract* functions = m_device->functions();
    const ModeList modes = functions->modes();
    bool isNumber = false;
    const int number = modeText.toInt(&isNumber);
    tuning->mode = -1;
    for (const auto& mode : modes)
        if ((isNumber && mode.first == number) || (!isNumber && mode.second.compare(modeText, Qt::CaseInsensitive) == 0)) {
            tuning->mode = mode.first;
            tuning->modeName = mode.second;
        }
    if (tuning->mode < 0) {
        QStringList names;
        for (const auto& mode : modes)
            names << QStringLiteral("%1 (%2)").arg(mode.second).arg(mode.first);
        fail(QStringLiteral("unknown mode \"%1\"; the plug-in offers %2").arg(modeText, names.join(QStringLiteral(", "))));
        return false;
    }
    tuning->freqHz = freqHz;

    const QString& filter = m_options.filter;
    const int choices = functions->filterCountForMode(tuning->mode);
    if (filter.contains(QLatin1Char(':'))) {
        bool okLow = false;
        bool okHigh = false;
        const double low = filter.section(QLatin1Char(':'), 0, 0).toDouble(&okLow);
        const double high = filter.section(QLatin1Char(':'), 1).toDouble(&okHigh);
        const double half = kRates[m_options.rateIndex] / 2.0;
        if (!okLow || !okHigh || !(low < high) || low < -half || high > half) {
            fail(QStringLiteral("--filter %1: LOW:HIGH in Hz with LOW < HIGH within +-%2").arg(filter, hz(half)));
            return false;
        }
        tuning->filterLow = low;
        tuning->filterHigh = high;
    } else {
        bool ok = true;
        const int choice = filter.isEmpty() ? functions->defaultFilter(uint(tuning->mode)) : filter.toInt(&ok);
        if (!ok || choice < 0 || choice >= choices) {
            fail(QStringLiteral("--filter %1: a choice index is 0..%2 for %3").arg(filter).arg(choices - 1).arg(tuning->modeName));
            return false;
        }
        const FilterEdges edges = functions->filterEdges(tuning->mode, uint(choice));
        tuning->filterLow = edges.first;
        tuning->filterHigh = edges.second;
    }
    tuning->agc = m_options.agc >= 0 ? m_options.agc : functions->defaultAgc(uint(tuning->mode));
    return true;
}

void MainJob::applyTuning(uint rx, const Tuning& t)
{
    m_device->setFreq(rx, 0, t.freqHz);
    m_device->setMode(int(rx), 0, t.mode);
    m_device->setWfmStereo(rx, true); // the host's stereo switch, on
    m_device->setFilter(int(rx), 0, 0, t.filterLow, t.filterHigh);
    m_device->setAgc(rx, 0, t.agc);
    m_device->setNr(rx, m_options.nr);
    m_device->setAnf(rx, m_options.anf);
    m_device->setNb1(rx, m_options.nb1);
    m_device->setNb2(rx, m_options.nb2);
    m_device->setVolume(rx, 0, 0);
}

void MainJob::answerMessageBoxes()
{
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(top);
        if (!box || !box->isVisible())
            continue;
        QString text = box->text().trimmed();
        if (!box->informativeText().isEmpty())
            text += QLatin1Char(' ') + box->informativeText().simplified();
        m_boxes << text;
        QTextStream(stderr) << "minihost: message box \"" << box->windowTitle() << "\": " << text << '\n';
        // Headless nobody can answer: decline questions, acknowledge the rest,
        // except an offered firmware update when the user asked for updates.
        QAbstractButton* answer = nullptr;
        if (m_options.updateFirmware && box->text().contains(QLatin1String("firmware")))
            answer = box->button(QMessageBox::Yes);
        for (QAbstractButton* button : box->buttons()) {
            if (answer)
                break;
            const QMessageBox::ButtonRole role = box->buttonRole(button);
            if (role == QMessageBox::NoRole || role == QMessageBox::RejectRole)
                answer = button;
        }
        if (!answer && !box->buttons().isEmpty())
            answer = box->buttons().first();
        if (answer)
            answer->click();
        else
            box->reject();
    }
}

bool MainJob::pressFirmwareUpdate()
{
    auto* button = optionControl<QPushButton>("pbUpdate");
    if (!button) {
        m_problems << QStringLiteral("the options page lacks pbUpdate");
        return false;
    }
    QTextStream(stdout) << "pressing \"Firmware update\"\n";
    button->click();
    if (followFirmwareUpdate())
        return true;
    if (!m_firmware.begun())
        m_problems << QStringLiteral("\"Firmware update\" began no update");
    return false;
}

bool MainJob::followFirmwareUpdate()
{
    // The plug-in starts its writer half a second after the decision; a whole
    // update (bootloader search included) takes a few minutes at most.
    constexpr int kBeginMs = 5000;
    constexpr int kEndMs = 10 * 60 * 1000;
    m_firmware.reset();
    m_firmware.waitForEnd(kBeginMs, kEndMs, [] { return s_stop.load(); });
    if (m_firmware.begun() && !m_firmware.succeeded())
        m_problems << QStringLiteral("firmware update %1").arg(m_firmware.outcome());
    return m_firmware.succeeded();
}

int MainJob::execute()
{
    if (!prepareOutputFolder())
        return fail(QStringLiteral("the output folder %1 cannot be created or is not writable").arg(m_outDir));
    if (m_options.source == JobOptions::Source::Emulator && !startEmulator())
        return 1;

    // Boxes are answered from a timer, so a modal box's own loop keeps it
    // running; it stays on through the teardown.
    if (!m_options.window) {
        connect(&m_boxTimer, &QTimer::timeout, this, &MainJob::answerMessageBoxes);
        m_boxTimer.start(50);
    }

    if (!loadAndInit())
        return 1;
    const QString unread = m_settings.load(*m_device);
    if (!unread.isEmpty())
        QTextStream(stderr) << "minihost: " << unread << '\n';
    if (!resolveTuning(m_options.freqHz, m_options.mode, &m_tuning[0]))
        return 1;
    if (m_options.rx2 &&
        !resolveTuning(m_options.rx2FreqHz, m_options.rx2Mode.isEmpty() ? m_options.mode : m_options.rx2Mode,
                       &m_tuning[1]))
        return 1;
    m_choicesValid = true;
    if (!configureOptionsPage())
        return 1;
    if (m_options.source == JobOptions::Source::Discover && !chooseDiscoveredReceiver())
        return 1;

    const QString where = m_options.source == JobOptions::Source::Discover
                              ? QStringLiteral("the discovered receiver")
                              : QStringLiteral("%1:%2")
                                    .arg(optionControl<QLineEdit>("leIP")->text())
                                    .arg(m_options.port);
    if (!m_device->open())
        return fail(QStringLiteral("cannot open the receiver at %1 (not found or not answering)").arg(where));
    // An update that did not end well leaves nothing to stream: the summary says why.
    if (m_options.updateFirmware) {
        if (!pressFirmwareUpdate())
            return 0;
        if (!m_device->open())
            return fail(QStringLiteral("cannot open the receiver at %1 after its firmware update").arg(where));
    }
    // Main channels only: an unused sub channel would add the same audio again.
    m_device->setRxEnable(0, true);
    m_device->setChannelEnable(0, 1, false);
    m_device->setRxEnable(1, m_options.rx2);
    m_device->setChannelEnable(1, 1, false);
    if (!m_device->start()) {
        // Abandoned for an offered update that was accepted: it runs to its
        // end, then the receiver is opened and started again.
        const bool updated = m_options.updateFirmware && followFirmwareUpdate();
        if (m_firmware.begun() && !m_firmware.succeeded())
            return 0;
        if (!updated || !m_device->open() || !m_device->start())
            return fail(QStringLiteral("the receiver at %1 did not start its stream").arg(where));
    }
    QTextStream(stdout) << "streaming from " << where << " at " << hz(kRates[m_options.rateIndex]) << " Hz\n";
    m_link.attach(m_device);

    m_collecting = true;
    connect(m_device, &DeviceAbstract::dBmMeter, this, [this](quint32 rx, quint32 ch, double level) {
        if (!m_collecting)
            return;
        Meter& meter = m_meters[qMakePair(rx, ch)];
        meter.last = level;
        meter.sum += level;
        ++meter.count;
    });
    connect(m_device, qOverload<quint32>(&DeviceAbstract::rxSpectrum), this, [this](quint32 rx) {
        if (!m_collecting || rx != 0)
            return;
        const SpectrumView view = m_device->rxSpectrum(0);
        if (view.count == 0 || !view.panorama)
            return;
        ++m_spectrumFrames;
        m_panorama.assign(view.panorama, view.panorama + view.count);
        m_waterfall.add(view.waterfall ? view.waterfall : view.panorama, view.count);
    });
    connect(m_device, &DeviceAbstract::sWriteIQ, this, [this](bool on, int rx) {
        if (!on && rx == 0 && !m_iqStopping)
            m_iqFailed = true;
    });

    // The host's sound output: the plug-in runs its sound-card converter once
    // the output is open, and the output pulls 48000 Hz from it.
    m_device->setSoundCardOutput(true);
    const QString audioPath = QDir(m_outDir).filePath(QStringLiteral("audio.wav"));
    if (!m_bridge->hostSoundOut().engine().open(m_options.wav ? audioPath : QString()))
        return fail(QStringLiteral("cannot write %1").arg(audioPath));

    applyTuning(0, m_tuning[0]);
    if (m_options.rx2)
        applyTuning(1, m_tuning[1]);
    m_device->setMainVolume(m_options.volumeDb);

    const QDateTime recordingStart = QDateTime::currentDateTime();
    if (m_options.iq) {
        m_bridge->hostRecorder().setFolder(m_outDir);
        m_bridge->hostRecorder().setFormat(m_options.iqFormat);
        m_device->setWriteIQ(true, 0);
    }

    runFor(m_options.durationS);
    m_collecting = false;
    m_link.detach();
    if (m_link.lost())
        m_problems << m_link.problem();

    if (m_options.iq) {
        if (!m_iqFailed) {
            // Our own stop is no failure; a write error the writer reported
            // before it ended is waiting in the queue and still counts.
            m_iqStopping = true;
            m_device->setWriteIQ(false, 0);
            m_iqStopping = false;
            QCoreApplication::sendPostedEvents(m_device);
        }
        // The recording and its numbered continuations, in order.
        const QStringList found =
            QDir(m_outDir).entryList({QStringLiteral("*_ZorvaniDDC_*.wav")}, QDir::Files, QDir::Name);
        for (const QString& name : found)
            if (QFileInfo(QDir(m_outDir).filePath(name)).lastModified() >= recordingStart.addSecs(-1))
                m_iqFiles << QDir(m_outDir).filePath(name);
        if (m_iqFailed)
            m_problems << QStringLiteral("the IQ recording could not be started or was stopped by the plug-in%1")
                              .arg(m_iqFiles.isEmpty() ? QString()
                                                       : QStringLiteral("; %1 keeps what was recorded until then")
                                                             .arg(m_iqFiles.join(QStringLiteral(", "))));
        else if (m_iqFiles.isEmpty())
            m_problems << QStringLiteral("the IQ recording left no file in %1").arg(m_outDir);
    }
    disconnect(m_device, nullptr, this, nullptr);
    for (quint32 rx = 0; rx < 2; ++rx)
        m_wfmStereo[rx] = m_manager->wfmStereo(rx);

    m_bridge->hostSoundOut().engine().close();
    m_audio = m_bridge->hostSoundOut().engine().level();
    m_device->setSoundCardOutput(false);
    const QString audioError = m_bridge->hostSoundOut().engine().wavError();
    if (m_options.wav && audioError.isEmpty())
        m_written << audioPath;
    else if (m_options.wav)
        m_problems << QStringLiteral("cannot write %1 (%2); it keeps the audio written until then")
                          .arg(audioPath, audioError);
    if (!m_iqFailed)
        m_written << m_iqFiles;
    if (m_spectrumFrames == 0)
        m_problems << QStringLiteral("no panorama frame arrived: the receiver sent no IQ data");
    if (m_audio.frames == 0)
        m_problems << QStringLiteral("the main audio output received nothing");
    if (m_options.png)
        writePictures();
    return 0;
}

void MainJob::runFor(double seconds)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer tick;
    int shown = 0;
    connect(&tick, &QTimer::timeout, &loop, [&] {
        const double elapsed = double(clock.elapsed()) / 1000.0;
        if (m_sim)
            m_options.faults.tick(*m_sim, elapsed);
        // A lost stream ends the run: nothing more would come.
        if (s_stop.load() || elapsed >= seconds || m_link.lost()) {
            loop.quit();
            return;
        }
        if (int(elapsed) > shown) {
            shown = int(elapsed);
            printProgress(elapsed, false);
        }
        // The emulator keeps the returned audio for tests; here it would only grow.
        if (m_sim)
            m_sim->clearCapture();
    });
    tick.start(50);
    loop.exec();
    m_ranS = double(clock.elapsed()) / 1000.0;
    if (s_stop.load())
        QTextStream(stdout) << (m_terminal ? "\n" : "") << "interrupted after " << QString::number(m_ranS, 'f', 1)
                            << " s\n";
    else if (m_link.lost())
        QTextStream(stdout) << (m_terminal ? "\n" : "") << "stream lost after "
                            << QString::number(m_link.lostAfterS(), 'f', 1) << " s\n";
    else
        printProgress(m_ranS, true);
}

void MainJob::printProgress(double elapsedS, bool last)
{
    QString line = QStringLiteral("[%1/%2 s]")
                       .arg(QString::number(elapsedS, 'f', 0), QString::number(m_options.durationS, 'f', 0));
    if (m_sim) {
        const zorvani::sim::Counters c = m_sim->counters();
        line += QStringLiteral(" IQ packets sent %1, answered %2").arg(c.iqSent).arg(c.iqAnswered);
    }
    line += m_link.progressText();
    line += QStringLiteral(", spectra %1").arg(m_spectrumFrames);
    const auto meter = m_meters.constFind(qMakePair(0u, 0u));
    if (meter != m_meters.constEnd())
        line += QStringLiteral(", S %1 dBm").arg(meter->last, 0, 'f', 1);
    const OutputLevel audio = m_bridge->hostSoundOut().engine().level();
    line += QStringLiteral(", audio %1 dBFS").arg(audio.rmsDbfs[0], 0, 'f', 1);
    QTextStream out(stdout);
    if (m_terminal)
        out << '\r' << line << "   " << (last ? "\n" : "");
    else
        out << line << '\n';
    out.flush();
}

void MainJob::writePictures()
{
    const DeviceFunctionsAbstract* functions = m_device->functions();
    PanoramaAxis axis;
    axis.centreHz = m_tuning[0].freqHz;
    axis.spanHz = m_displayedRate > 0.0 ? m_displayedRate : functions->displayedRate();
    axis.passbandLowHz = m_tuning[0].filterLow;
    axis.passbandHighHz = m_tuning[0].filterHigh;
    const QString panorama = QDir(m_outDir).filePath(QStringLiteral("panorama.png"));
    const QString waterfall = QDir(m_outDir).filePath(QStringLiteral("waterfall.png"));
    if (saveWhole(panorama, png(renderPanorama(m_panorama, axis))))
        m_written << panorama;
    else
        m_problems << QStringLiteral("cannot write %1").arg(panorama);
    if (saveWhole(waterfall, png(renderWaterfall(m_waterfall.lines(), axis))))
        m_written << waterfall;
    else
        m_problems << QStringLiteral("cannot write %1").arg(waterfall);
}

void MainJob::teardown()
{
    // The host's order: stop, close, outputs closed, deinit, unload.
    m_collecting = false;
    if (m_device && m_initialised) {
        disconnect(m_device, nullptr, this, nullptr);
        m_device->stop();
        m_device->close();
    }
    if (m_sim) {
        const zorvani::sim::Counters c = m_sim->counters();
        m_counters[0] = c.iqSent;
        m_counters[1] = c.iqAnswered;
        m_counters[2] = c.iqLost;
        m_counters[3] = c.iqResent;
        const zorvani::sim::State state = m_sim->state();
        m_emulatorVersion = state.bootloader ? QStringLiteral("bootloader")
                                             : QStringLiteral("%1.%2").arg(state.versionMajor).arg(state.versionMinor);
    }
    if (m_device && m_initialised) {
        QString error;
        if (!m_settings.save(*m_device, m_choicesValid ? &m_options : nullptr, &error))
            m_problems << error;
    }
    if (m_bridge) {
        m_bridge->closeOutputs();
        m_bridge->hostPool().waitIdle();
    }
    if (m_device && m_initialised)
        m_device->deinit();
    // The bridge may still hold objects of the plug-in (audio-server listeners):
    // release them while its code is loaded.
    m_bridge.reset();
    m_manager.reset();
    m_host.unload();
    m_device = nullptr;
    if (m_sim)
        m_sim->stop();
}

bool MainJob::writeSummary()
{
    const QString path = QDir(m_outDir).filePath(QStringLiteral("summary.txt"));
    QString text;
    QTextStream s(&text);
    s << "minihost main job\n";
    s << "plug-in: " << m_host.pluginName() << ' ' << m_host.pluginVersion() << '\n';
    switch (m_options.source) {
    case JobOptions::Source::Emulator:
        s << "receiver: emulator at 127.0.0.2:" << m_options.port << " (Static IP)\n";
        break;
    case JobOptions::Source::Receiver:
        s << "receiver: " << m_options.receiverAddress.toString() << ':' << m_options.port << " (Static IP)\n";
        break;
    case JobOptions::Source::Discover:
        s << "receiver: discovered on port " << m_options.port << " (Auto)\n";
        break;
    }
    s << "rate: " << hz(kRates[m_options.rateIndex]) << " Hz (index " << m_options.rateIndex << ")\n";
    s << "duration: " << QString::number(m_ranS, 'f', 1) << " s\n";
    if (m_options.updateFirmware || m_firmware.begun())
        s << "firmware update: " << m_firmware.outcome() << '\n';
    if (!m_emulatorVersion.isEmpty())
        s << "emulator firmware: " << m_emulatorVersion << '\n';
    const QStringList agcNames = {QStringLiteral("Off"), QStringLiteral("Long"), QStringLiteral("Slow"),
                                  QStringLiteral("Med"), QStringLiteral("Fast"), QStringLiteral("User")};
    for (uint rx = 0; rx < 2; ++rx) {
        if (rx == 1 && !m_options.rx2) {
            s << "rx2: off\n";
            continue;
        }
        const Tuning& t = m_tuning[rx];
        s << "rx" << rx + 1 << " frequency: " << hz(t.freqHz) << " Hz\n";
        s << "rx" << rx + 1 << " mode: " << t.modeName << " (" << t.mode << ")\n";
        s << "rx" << rx + 1 << " filter: " << hz(t.filterLow) << " .. " << hz(t.filterHigh) << " Hz\n";
        s << "rx" << rx + 1 << " agc: " << agcNames.value(t.agc) << " (" << t.agc << ")\n";
        if (t.mode == 9)
            s << "rx" << rx + 1 << " wfm stereo: " << (m_wfmStereo[rx] ? "yes" : "no") << '\n';
        s << "rx" << rx + 1 << " nr " << onOff(m_options.nr) << ", anf " << onOff(m_options.anf) << ", nb1 "
          << onOff(m_options.nb1) << ", nb2 " << onOff(m_options.nb2) << '\n';
    }
    s << "main volume: " << m_options.volumeDb << " dB\n";
    for (auto it = m_meters.constBegin(); it != m_meters.constEnd(); ++it)
        s << "meter rx" << it.key().first + 1 << " ch" << it.key().second << ": last "
          << QString::number(it->last, 'f', 1) << " dBm, mean "
          << QString::number(it->count ? it->sum / double(it->count) : 0.0, 'f', 1) << " dBm, readings " << it->count
          << '\n';
    if (m_meters.isEmpty())
        s << "meter: no readings\n";
    s << "audio: " << m_audio.frames << " frames at 48000 Hz, RMS left "
      << QString::number(m_audio.rmsDbfs[0], 'f', 1) << " dBFS, right " << QString::number(m_audio.rmsDbfs[1], 'f', 1)
      << " dBFS, peak " << QString::number(std::max(m_audio.peak[0], m_audio.peak[1]), 'f', 3) << '\n';
    s << "spectrum frames: " << m_spectrumFrames << ", waterfall lines " << m_waterfall.lines().size() << '\n';
    if (m_sim)
        s << "emulator: IQ packets sent " << m_counters[0] << ", answered " << m_counters[1] << ", lost "
          << m_counters[2] << ", re-sent " << m_counters[3] << "; faults " << m_options.faults.text() << '\n';
    for (const QString& line : m_link.summaryLines())
        s << line << '\n';
    for (const QString& written : qAsConst(m_written))
        s << "file: " << QFileInfo(written).fileName() << " (" << QFileInfo(written).size() << " bytes)\n";
    s << "file: summary.txt\n";
    for (const QString& box : qAsConst(m_boxes))
        s << "message: " << box << '\n';
    for (const QString& problem : qAsConst(m_problems))
        s << "problem: " << problem << '\n';
    s.flush();
    if (!saveWhole(path, text.toUtf8()))
        return false;
    m_written << path;
    return true;
}
