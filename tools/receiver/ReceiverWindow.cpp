#include "ReceiverWindow.h"

#include "ControlPanel.h"
#include "DeviceAbstract.h"
#include "FrequencyDisplay.h"
#include "IqPlayback.h"
#include "PlaybackBar.h"
#include "RadioController.h"
#include "RadioSettings.h"
#include "ReceiverHost.h"
#include "SignalMeter.h"
#include "Simulator.h"
#include "PanoramaView.h"
#include "common/FileDialog.h"
#include "common/MessageBox.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QScrollArea>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kSpectrumFps = 25;
// The emulator samples the band scope at 4 MHz / (decimation + 1); a real
// receiver's band-scope span is its own and not told through the interface.
constexpr double kBandScopeRateHz = 4000000.0;
const int kDecimations[] = {0, 1, 3, 7};
const double kSteps[] = {10, 100, 500, 1000, 2500, 5000, 9000, 10000, 12500, 25000, 100000};
const char* const kFormatNames[] = {"vmsd (_.wav)", "plain (_wv.wav)", "auxi (_hd.wav)"};

QString stepText(double hz)
{
    return hz >= 1000.0 ? QStringLiteral("%1 kHz").arg(hz / 1000.0) : QStringLiteral("%1 Hz").arg(hz);
}

} // namespace

ReceiverWindow::ReceiverWindow(ReceiverHost& host, const ReceiverOptions& options, QWidget* parent)
    : QMainWindow(parent), m_host(host), m_options(options)
{
    setWindowTitle(tr("ZorvaniDDC receiver"));
    m_recordFolder = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                         .filePath(QStringLiteral("ZorvaniDDC recordings"));
    buildWindow();
    buildMenus();
    connect(&m_host, &ReceiverHost::deviceMenuArrived, this, [this](QMenu* menu) {
        menu->setTitle(tr("&Device"));
        menuBar()->insertMenu(m_receiverMenu->menuAction(), menu);
    });
    connect(&m_statusTimer, &QTimer::timeout, this, &ReceiverWindow::updateStatus);
    resize(1280, 820);
    if (auto settings = openSettings())
        restoreGeometry(settings->value(QStringLiteral("window/geometry")).toByteArray());
}

ReceiverWindow::~ReceiverWindow()
{
    shutdown();
}

void ReceiverWindow::buildWindow()
{
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 0);

    auto* top = new QHBoxLayout;
    auto* rxGroup = new QButtonGroup(this);
    for (int rx = 0; rx < 2; ++rx) {
        m_rxButtons[rx] = new QToolButton;
        m_rxButtons[rx]->setText(tr("RX%1").arg(rx + 1));
        m_rxButtons[rx]->setCheckable(true);
        m_rxButtons[rx]->setObjectName(QStringLiteral("tbRx%1").arg(rx + 1));
        m_rxButtons[rx]->setToolTip(tr("Show and control receiver %1").arg(rx + 1));
        rxGroup->addButton(m_rxButtons[rx], rx);
        top->addWidget(m_rxButtons[rx]);
    }
    m_rxButtons[0]->setChecked(true);
    connect(rxGroup, qOverload<int>(&QButtonGroup::idClicked), this, [this](int rx) {
        if (m_radio)
            m_radio->select(rx);
    });
    m_frequency = new FrequencyDisplay;
    m_frequency->setObjectName(QStringLiteral("frequencyDisplay"));
    top->addWidget(m_frequency);
    top->addWidget(new QLabel(tr("Hz")));
    auto* tuning = new QVBoxLayout;
    m_centre = new QLabel;
    m_step = new QComboBox;
    m_step->setObjectName(QStringLiteral("cbStep"));
    m_step->setToolTip(tr("Tuning step of the wheel and the arrow keys"));
    for (double step : kSteps)
        m_step->addItem(stepText(step), step);
    m_step->setCurrentIndex(m_step->findData(1000.0));
    tuning->addWidget(m_centre);
    auto* stepRow = new QHBoxLayout;
    stepRow->addWidget(new QLabel(tr("Step")));
    stepRow->addWidget(m_step);
    tuning->addLayout(stepRow);
    top->addLayout(tuning);
    top->addStretch(1);
    auto* meters = new QVBoxLayout;
    m_sMeter = new SignalMeter(tr("Signal"), SignalMeter::Scale::SUnits, -127.0, -13.0);
    m_sMeter->setObjectName(QStringLiteral("sMeter"));
    m_peakMeter = new SignalMeter(tr("Peak"), SignalMeter::Scale::Decibels, -120.0, 0.0);
    m_peakMeter->setObjectName(QStringLiteral("peakMeter"));
    m_peakMeter->setToolTip(tr("Peak level of the channel's I and Q, dB below full scale"));
    meters->addWidget(m_sMeter);
    meters->addWidget(m_peakMeter);
    top->addLayout(meters);
    layout->addLayout(top);

    m_views = new QTabWidget;
    m_rxView = new PanoramaView;
    m_rxView->setObjectName(QStringLiteral("spectrumView"));
    m_views->addTab(m_rxView, tr("Panorama"));
    auto* bandScope = new QWidget;
    auto* bsLayout = new QVBoxLayout(bandScope);
    bsLayout->setContentsMargins(0, 0, 0, 0);
    auto* bsRow = new QHBoxLayout;
    m_bsSpan = new QComboBox;
    m_bsSpan->setObjectName(QStringLiteral("cbBandScopeSpan"));
    for (int decimation : kDecimations)
        m_bsSpan->addItem(tr("%1 MHz").arg(kBandScopeRateHz / (decimation + 1) / 1e6), decimation);
    bsRow->addWidget(new QLabel(tr("Span")));
    bsRow->addWidget(m_bsSpan);
    bsRow->addWidget(new QLabel(tr("around RX1's centre; click to tune RX1")));
    bsRow->addStretch(1);
    bsLayout->addLayout(bsRow);
    m_bsView = new PanoramaView;
    m_bsView->setObjectName(QStringLiteral("bandScopeView"));
    bsLayout->addWidget(m_bsView, 1);
    m_views->addTab(bandScope, tr("Band scope"));
    layout->addWidget(m_views, 1);

    m_playbar = new PlaybackBar;
    m_playbar->setObjectName(QStringLiteral("playbackBar"));
    m_playbar->hide();
    layout->addWidget(m_playbar);
    setCentralWidget(central);

    m_statusSource = new QLabel;
    m_statusRecording = new QLabel;
    m_statusRecording->setObjectName(QStringLiteral("lbRecording"));
    m_statusAudio = new QLabel;
    m_statusAudio->setObjectName(QStringLiteral("lbAudio"));
    m_statusPackets = new QLabel;
    m_statusPackets->setObjectName(QStringLiteral("lbPackets"));
    for (QLabel* label : {m_statusSource, m_statusRecording, m_statusAudio, m_statusPackets}) {
        label->setContentsMargins(8, 0, 8, 0);
        statusBar()->addPermanentWidget(label);
    }

    // The plug-in's options page, as the host shows it in its settings window.
    m_optionsDialog = new QDialog(this);
    m_optionsDialog->setWindowTitle(tr("ZorvaniDDC options"));
    m_optionsDialog->resize(1000, 700);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    m_optionsPage = new QWidget;
    m_optionsPage->setObjectName(QStringLiteral("optionsPage"));
    scroll->setWidget(m_optionsPage);
    auto* dialogLayout = new QVBoxLayout(m_optionsDialog);
    dialogLayout->setContentsMargins(0, 0, 0, 0);
    dialogLayout->addWidget(scroll);
}

void ReceiverWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&Open recording..."), this, &ReceiverWindow::chooseRecording, QKeySequence::Open);
    m_recordAction = file->addAction(tr("&Record IQ"));
    m_recordAction->setCheckable(true);
    m_recordAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(m_recordAction, &QAction::triggered, this, [this](bool on) { setRecording(on); });
    file->addAction(tr("Recording &folder..."), this, &ReceiverWindow::chooseRecordingFolder);
    QMenu* formats = file->addMenu(tr("Recording &layout"));
    m_formats = new QActionGroup(this);
    for (int format = 0; format < 3; ++format) {
        QAction* action = formats->addAction(QString::fromLatin1(kFormatNames[format]));
        action->setCheckable(true);
        action->setData(format);
        action->setChecked(format == 2);
        m_formats->addAction(action);
    }
    file->addSeparator();
    file->addAction(tr("&Quit"), this, &QWidget::close, QKeySequence::Quit);

    m_receiverMenu = menuBar()->addMenu(tr("&Receiver"));
    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(tr("Plug-in &options..."), m_optionsDialog, &QDialog::show, QKeySequence::Preferences);
    view->addAction(tr("Zoom &in"), this, [this] { m_rxView->setZoom(m_rxView->zoom() * 2); }, QKeySequence::ZoomIn);
    view->addAction(tr("Zoom &out"), this, [this] { m_rxView->setZoom(m_rxView->zoom() / 2); }, QKeySequence::ZoomOut);
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(tr("&Keys and mouse"), this, [this] {
        ox::ui::MessageRequest request;
        request.title = tr("Keys and mouse");
        request.text = tr("Click in the spectrum to tune there; drag inside the passband to move it, drag its edges "
                          "to change the filter.\nWheel or arrow keys: one step (Page Up/Down: ten).\n"
                          "Ctrl+wheel or +/-: zoom.\nThe wheel over a digit of the frequency changes that digit; "
                          "type a frequency (7.1, 7100 or 7100000) and Enter to go there.");
        request.parent = this;
        ox::ui::showMessage(request);
    });
}

QString ReceiverWindow::settingsFile() const
{
    if (!m_options.settingsPath.isEmpty())
        return m_options.settingsPath;
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("ZorvaniDDC"), QStringLiteral("receiver"))
        .fileName();
}

std::unique_ptr<QSettings> ReceiverWindow::openSettings() const
{
    return std::make_unique<QSettings>(settingsFile(), QSettings::IniFormat);
}

bool ReceiverWindow::start()
{
    if (m_started)
        return true;
    QString error;
    if (!m_host.load(m_options.pluginPath, m_optionsPage, this, &error)) {
        showError(tr("The plug-in cannot be loaded: %1").arg(error));
        return false;
    }
    m_started = true;
    DeviceAbstract& device = *m_host.device();
    m_radio = std::make_unique<RadioController>(device);
    m_panel = new ControlPanel(*m_radio, *device.functions());
    m_panel->setObjectName(QStringLiteral("controlPanel"));
    auto* dock = new QDockWidget(tr("Controls"), this);
    dock->setObjectName(QStringLiteral("controlsDock"));
    dock->setWidget(m_panel);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    connectDevice();
    readSettings();

    m_host.setAudioDevice(m_options.audio ? QAudioDeviceInfo::defaultOutputDevice() : QAudioDeviceInfo());
    // The last rate chosen (the widest for a first start); the plug-in's own
    // settings, where it keeps them, agree with it.
    m_host.setRateIndex(openSettings()->value(QStringLiteral("window/rateIndex"), 3).toInt());
    m_host.setRecorder(m_recordFolder, m_formats->checkedAction()->data().toInt());
    // As the host does after loading its settings: the plug-in announces its rate.
    device.announceSettings();
    device.setSpectrumRate(kSpectrumFps);
    connectTo(m_options.source);
    if (!m_options.playFile.isEmpty() && openRecording(m_options.playFile) && m_options.loop)
        m_playback->setLoop(true);
    m_statusTimer.start(1000);
    m_rxView->setFocus();
    return true;
}

void ReceiverWindow::connectDevice()
{
    DeviceAbstract* device = m_host.device();
    connect(device, &DeviceAbstract::changedSampleRate, this, &ReceiverWindow::onSampleRate);
    connect(device, qOverload<quint32>(&DeviceAbstract::rxSpectrum), this, &ReceiverWindow::onSpectrum);
    connect(device, &DeviceAbstract::bsSpectrum, this, [this] {
        const SpectrumView view = m_host.device()->bandScopeSpectrum();
        m_bsView->addLine(view.panorama, view.waterfall, int(view.count));
    });
    connect(device, &DeviceAbstract::dBmMeter, this, [this](quint32 rx, quint32 ch, double level) {
        if (int(rx) == m_radio->current() && ch == 0)
            m_sMeter->setValue(level);
    });
    connect(device, &DeviceAbstract::adcMeter, this, [this](quint32 rx, quint32 ch, double re, double im) {
        if (int(rx) == m_radio->current() && ch == 0)
            m_peakMeter->setValue(std::max(re, im));
    });
    connect(device, &DeviceAbstract::sWriteIQ, this, [this](bool on, int rx) {
        if (!on && rx == m_recordRx && m_recordAction->isChecked() && !m_recordStopping)
            recordingFailed(tr("the plug-in could not record (is the receiver streaming?)"));
    });
    connect(device, &DeviceAbstract::devClosed, this, [this] {
        statusBar()->showMessage(tr("The plug-in closed the receiver"));
        updateStatus();
    });

    connect(m_radio.get(), &RadioController::changed, this, [this](int rx) {
        if (rx == m_radio->current())
            showRadio();
        if (rx == 0)
            showBandScope();
    });
    connect(m_radio.get(), &RadioController::selected, this, [this](int rx) {
        m_rxButtons[rx]->setChecked(true);
        m_spectra = 0;
        showRadio();
    });
    connect(m_frequency, &FrequencyDisplay::frequencyRequested, m_radio.get(), &RadioController::tuneTo);
    connect(m_rxView, &PanoramaView::tuneRequested, this,
            [this](double hz) { m_radio->tuneTo(std::round(hz / m_radio->stepHz()) * m_radio->stepHz()); });
    connect(m_rxView, &PanoramaView::stepRequested, m_radio.get(), &RadioController::step);
    connect(m_rxView, &PanoramaView::filterEdgeDragged, m_radio.get(), &RadioController::dragFilterEdge);
    connect(m_bsView, &PanoramaView::tuneRequested, this, [this](double hz) {
        m_radio->select(0);
        m_radio->tuneTo(std::round(hz / m_radio->stepHz()) * m_radio->stepHz());
    });
    connect(m_step, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { m_radio->setStepHz(m_step->itemData(index).toDouble()); });
    connect(m_views, &QTabWidget::currentChanged, this, [this] { showBandScope(); });
    connect(m_bsSpan, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { showBandScope(); });
    connect(m_playbar, &PlaybackBar::liveRequested, this, &ReceiverWindow::backToLive);
    connect(&m_host.speaker(), &SpeakerOutput::statusChanged, m_statusAudio, &QLabel::setText);
}

bool ReceiverWindow::connectTo(const ReceiverSource& source)
{
    if (m_recordAction->isChecked())
        setRecording(false);
    if (m_playback)
        backToLive();
    m_statusSource->setText(tr("Connecting to %1...").arg(source.text()));
    QString error;
    if (!m_host.start(source, &error)) {
        m_statusSource->setText(tr("Not connected"));
        fillReceiverMenu();
        showError(tr("The receiver cannot be started: %1").arg(error));
        updateStatus();
        return false;
    }
    if (source.kind == ReceiverSource::Kind::Network)
        m_lastNetwork = source;
    m_statusSource->setText(tr("Receiver: %1").arg(source.text()));
    m_bandScope = BandScope();
    m_radio->applyAll();
    showBandScope();
    updateStatus();
    fillReceiverMenu();
    return true;
}

void ReceiverWindow::fillReceiverMenu()
{
    // The emulator, and the last receiver on the network.
    m_receiverMenu->clear();
    m_receiverMenu->addAction(tr("&Emulator (built in)"), this, [this] {
        ReceiverSource emulator = m_options.source;
        emulator.kind = ReceiverSource::Kind::Emulator;
        connectTo(emulator);
    });
    if (!m_lastNetwork.address.isNull())
        m_receiverMenu->addAction(tr("&Last receiver: %1").arg(m_lastNetwork.text()), this,
                                  [this] { connectTo(m_lastNetwork); });
}

void ReceiverWindow::onSampleRate(double hz)
{
    m_span = hz;
    if (m_radio)
        m_radio->setSpan(hz);
}

void ReceiverWindow::onSpectrum(quint32 rx)
{
    if (!m_radio || int(rx) != m_radio->current())
        return;
    const SpectrumView view = m_host.device()->rxSpectrum(int(rx));
    ++m_spectra;
    m_rxView->addLine(view.panorama, view.waterfall, int(view.count));
}

void ReceiverWindow::showRadio()
{
    const int rx = m_radio->current();
    const RadioState& s = m_radio->state();
    m_frequency->setFrequency(s.tuning.frequency());
    m_centre->setText(tr("RX%1 centre %2 MHz%3")
                          .arg(rx + 1)
                          .arg(s.tuning.centre() / 1e6, 0, 'f', 6)
                          .arg(s.tuning.centreLocked() ? tr(" (recording)") : QString()));
    const DeviceFunctionsAbstract* catalogue = m_host.device()->functions();
    QString modeName;
    for (const auto& mode : catalogue->modes())
        if (mode.first == s.mode)
            modeName = mode.second;
    m_rxView->setTitle(tr("RX%1  %2  %3 .. %4 Hz").arg(rx + 1).arg(modeName).arg(s.low).arg(s.high));
    m_rxView->setAxis(s.tuning.centre(), m_span > 0.0 ? m_span : s.tuning.span());
    m_rxView->setChannel(s.tuning.offset(), s.low, s.high);
    m_rxView->setSubChannel(s.sub, s.subOffset);
    m_rxButtons[1]->setEnabled(m_radio->secondReceiver());
    setWindowTitle(tr("ZorvaniDDC receiver - %1 - %2 Hz")
                       .arg(m_host.source().text(), FrequencyDisplay::format(s.tuning.frequency())));
}

void ReceiverWindow::showBandScope()
{
    DeviceAbstract* device = m_host.device();
    if (!device || !m_radio || !m_host.isRunning())
        return;
    const bool on = m_views->currentIndex() == 1;
    const RadioState& rx0 = m_radio->state(0);
    const uint decimation = uint(m_bsSpan->currentData().toInt());
    // Each call is a command to the receiver: only changes are sent.
    const BandScope wanted{on, quint64(std::llround(rx0.tuning.centre())), decimation};
    if (wanted != m_bandScope) {
        device->setBandScope(wanted.on, wanted.centre, wanted.decimation);
        m_bandScope = wanted;
    }
    m_bsView->setAxis(rx0.tuning.centre(), kBandScopeRateHz / (decimation + 1));
    m_bsView->setChannel(rx0.tuning.offset(), rx0.low, rx0.high);
}

void ReceiverWindow::updateStatus()
{
    if (zorvani::sim::Simulator* sim = m_host.emulator()) {
        const zorvani::sim::Counters c = sim->counters();
        m_statusPackets->setText(tr("IQ packets %1 sent, %2 answered, %3 lost, %4 re-sent")
                                     .arg(c.iqSent)
                                     .arg(c.iqAnswered)
                                     .arg(c.iqLost)
                                     .arg(c.iqResent));
        // The emulator keeps the returned audio for tests; here it would only grow.
        sim->clearCapture();
    } else {
        m_statusPackets->setText(m_host.isRunning() ? tr("IQ packets: counted by the emulator only") : QString());
    }
    const quint64 frames = m_spectra - m_spectraShown;
    m_spectraShown = m_spectra;
    statusBar()->setToolTip(tr("%1 spectra per second").arg(frames));
    if (m_recordAction->isChecked() && !m_recordFile.isEmpty())
        m_statusRecording->setText(tr("Recording %1 (%2 MB)")
                                       .arg(QFileInfo(m_recordFile).fileName())
                                       .arg(double(QFileInfo(m_recordFile).size()) / 1e6, 0, 'f', 1));
}

bool ReceiverWindow::setRecording(bool on)
{
    DeviceAbstract* device = m_host.device();
    if (!device)
        return false;
    if (!on) {
        if (!m_recordAction->isChecked() && m_recordFile.isEmpty())
            return true;
        m_recordStopping = true;
        device->setWriteIQ(false, m_recordRx);
        m_recordStopping = false;
        m_recordAction->setChecked(false);
        m_statusRecording->setText(m_recordFile.isEmpty()
                                       ? tr("Recording stopped")
                                       : tr("Recorded %1 (%2 MB)")
                                             .arg(QDir::toNativeSeparators(m_recordFile))
                                             .arg(double(QFileInfo(m_recordFile).size()) / 1e6, 0, 'f', 1));
        return true;
    }
    if (!QDir().mkpath(m_recordFolder)) {
        recordingFailed(tr("the folder %1 cannot be made").arg(m_recordFolder));
        return false;
    }
    m_host.setRecorder(m_recordFolder, m_formats->checkedAction()->data().toInt());
    m_recordRx = m_radio->current();
    m_recordFile.clear();
    m_recordAction->setChecked(true);
    const QStringList before = QDir(m_recordFolder).entryList({QStringLiteral("*_ZorvaniDDC_*.wav")}, QDir::Files);
    m_recordStart = QDateTime::currentDateTime();
    device->setWriteIQ(true, m_recordRx);
    if (!m_recordAction->isChecked())
        return false; // refused at once (sWriteIQ)
    // The plug-in names the file: the new one, or the newest when a file of
    // the same second was overwritten.
    const QDir folder(m_recordFolder);
    const QStringList after = folder.entryList({QStringLiteral("*_ZorvaniDDC_*.wav")}, QDir::Files, QDir::Time);
    for (const QString& name : after)
        if (!before.contains(name))
            m_recordFile = folder.filePath(name);
    if (m_recordFile.isEmpty() && !after.isEmpty() &&
        QFileInfo(folder.filePath(after.first())).lastModified() >= m_recordStart.addSecs(-1))
        m_recordFile = folder.filePath(after.first());
    m_statusRecording->setText(tr("Recording %1").arg(QDir::toNativeSeparators(m_recordFile)));
    return true;
}

void ReceiverWindow::recordingFailed(const QString& why)
{
    m_recordAction->setChecked(false);
    m_recordFile.clear();
    m_statusRecording->setText(tr("Not recording: %1").arg(why));
    statusBar()->showMessage(tr("Not recording: %1").arg(why), 10000);
}

void ReceiverWindow::chooseRecording()
{
    ox::ui::FileRequest request;
    request.title = tr("Play an IQ recording");
    request.directory = m_recordFolder;
    request.filter = tr("IQ recordings (*.wav)");
    request.parent = this;
    const QString path = ox::ui::chooseFile(request);
    if (!path.isEmpty())
        openRecording(path);
}

void ReceiverWindow::chooseRecordingFolder()
{
    ox::ui::FileRequest request;
    request.kind = ox::ui::FileRequest::Directory;
    request.title = tr("Open Directory");
    request.directory = m_recordFolder;
    request.parent = this;
    const QString folder = ox::ui::chooseFile(request);
    if (!folder.isEmpty())
        m_recordFolder = folder;
}

bool ReceiverWindow::openRecording(const QString& path)
{
    if (!m_radio)
        return false;
    if (m_recordAction->isChecked())
        setRecording(false);
    if (!m_host.emulator() || !m_host.isRunning()) {
        ReceiverSource emulator = m_options.source;
        emulator.kind = ReceiverSource::Kind::Emulator;
        if (!connectTo(emulator))
            return false;
    }
    QString error;
    zorvani::sim::IqWavFile probe;
    if (!probe.open(path, &error)) {
        showError(tr("The recording cannot be played: %1").arg(error));
        return false;
    }
    // The recording's rate first (the plug-in restarts its stream when it
    // differs), so that the emulator never streams it at another.
    m_host.setRateIndex(probe.info().rateIndex);
    auto playback = m_host.play(path, m_radio->state(0).tuning.centre(), &error);
    if (!playback) {
        showError(tr("The recording cannot be played: %1").arg(error));
        return false;
    }
    m_playback = playback;
    m_radio->lockCentres(playback->centreHz());
    m_playbar->attach(playback);
    m_playbar->show();
    statusBar()->showMessage(tr("Playing %1: %2 s at %3 Hz around %4 MHz%5")
                                 .arg(QFileInfo(path).fileName())
                                 .arg(playback->info().seconds(), 0, 'f', 1)
                                 .arg(playback->info().rateHz)
                                 .arg(playback->centreHz() / 1e6, 0, 'f', 6)
                                 .arg(playback->info().hasCentre ? QString() : tr(" (the file names no centre)")),
                             10000);
    return true;
}

void ReceiverWindow::backToLive()
{
    m_host.stopPlayback();
    m_playback.reset();
    m_playbar->detach();
    m_playbar->hide();
    if (m_radio) {
        m_radio->unlockCentres();
        showRadio();
    }
}

void ReceiverWindow::showError(const QString& text)
{
    statusBar()->showMessage(text);
    ox::ui::MessageRequest request;
    request.icon = QMessageBox::Warning;
    request.title = tr("ZorvaniDDC receiver");
    request.text = text;
    request.parent = isVisible() ? this : nullptr;
    ox::ui::showMessage(request);
}

void ReceiverWindow::readSettings()
{
    auto settings = openSettings();
    QSettings& s = *settings;
    for (int rx = 0; rx < RadioController::kReceivers; ++rx) {
        s.beginGroup(QStringLiteral("rx%1").arg(rx + 1));
        RadioState state = m_radio->state(rx);
        readRadioState(s, &state);
        m_radio->restore(rx, state);
        s.endGroup();
    }
    s.beginGroup(QStringLiteral("window"));
    restoreState(s.value(QStringLiteral("state")).toByteArray());
    m_radio->setStepHz(s.value(QStringLiteral("step"), m_radio->stepHz()).toDouble());
    m_step->setCurrentIndex(std::max(0, m_step->findData(m_radio->stepHz())));
    m_rxView->setZoom(s.value(QStringLiteral("zoom"), 1).toInt());
    m_recordFolder = s.value(QStringLiteral("recordingFolder"), m_recordFolder).toString();
    const int format = s.value(QStringLiteral("recordingLayout"), 2).toInt();
    for (QAction* action : m_formats->actions())
        action->setChecked(action->data().toInt() == format);
    const QString last = s.value(QStringLiteral("lastReceiver")).toString();
    s.endGroup();
    m_lastNetwork.kind = ReceiverSource::Kind::Network;
    m_lastNetwork.address = QHostAddress(last.section(QLatin1Char(':'), 0, 0));
    m_lastNetwork.port = quint16(last.section(QLatin1Char(':'), 1).toUInt());
    m_host.loadSettings(s);
}

void ReceiverWindow::writeSettings()
{
    auto settings = openSettings();
    QSettings& s = *settings;
    for (int rx = 0; rx < RadioController::kReceivers; ++rx) {
        s.beginGroup(QStringLiteral("rx%1").arg(rx + 1));
        writeRadioState(s, m_radio->state(rx));
        s.endGroup();
    }
    s.beginGroup(QStringLiteral("window"));
    s.setValue(QStringLiteral("geometry"), saveGeometry());
    s.setValue(QStringLiteral("state"), saveState());
    s.setValue(QStringLiteral("step"), m_radio->stepHz());
    s.setValue(QStringLiteral("zoom"), m_rxView->zoom());
    if (!m_playback) // a recording's rate is the recording's
        s.setValue(QStringLiteral("rateIndex"), m_host.rateIndex());
    s.setValue(QStringLiteral("recordingFolder"), m_recordFolder);
    s.setValue(QStringLiteral("recordingLayout"), m_formats->checkedAction()->data().toInt());
    if (!m_lastNetwork.address.isNull())
        s.setValue(QStringLiteral("lastReceiver"), m_lastNetwork.text());
    s.endGroup();
    m_host.saveSettings(s);
}

void ReceiverWindow::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_statusTimer.stop();
    if (!m_started)
        return;
    if (m_recordAction->isChecked())
        setRecording(false);
    writeSettings();
    m_host.device()->disconnect(this);
    m_host.shutdown();
}

void ReceiverWindow::closeEvent(QCloseEvent* event)
{
    shutdown();
    event->accept();
}
