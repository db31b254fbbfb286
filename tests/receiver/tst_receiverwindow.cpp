// The receiver window, offscreen and without a sound device, against the
// in-process emulator: stations painted at their frequencies, a click tunes
// and the meter rises, the mode is heard, a recording plays back like the
// live signal, and the settings are kept.
#include "FrequencyDisplay.h"
#include "IqPlayback.h"
#include "PanoramaView.h"
#include "PrivateHome.h"
#include "TestPorts.h"
#include "ToneAnalysis.h"
#include "ReceiverHost.h"
#include "ReceiverWindow.h"
#include "SignalMeter.h"
#include "Simulator.h"
#include "common/MessageBox.h"

#include <QComboBox>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numeric>

namespace {

constexpr double kCentre = 7100000.0;

// The window and its host, silent, with the left channel it plays collected
// (all-zero blocks are moments the output ran dry on a loaded machine, not audio).
struct Session {
    ReceiverHost host;
    std::unique_ptr<ReceiverWindow> window;
    std::mutex mutex;
    std::vector<float> left;
    std::size_t wanted = 0;

    bool start(const ReceiverOptions& options)
    {
        window = std::make_unique<ReceiverWindow>(host, options);
        window->show();
        if (!window->start())
            return false;
        host.speaker().setTap([this](const float* interleaved, quint32 frames) {
            if (std::all_of(interleaved, interleaved + 2 * frames, [](float v) { return v == 0.0f; }))
                return;
            std::lock_guard<std::mutex> lock(mutex);
            for (quint32 i = 0; i < frames && left.size() < wanted; ++i)
                left.push_back(interleaved[2 * i]);
        });
        return true;
    }
    // The next `frames` frames that the output plays; empty if they do not come.
    std::vector<double> audio(std::size_t frames)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            left.clear();
            wanted = frames;
        }
        const bool full = QTest::qWaitFor([&] {
            std::lock_guard<std::mutex> lock(mutex);
            return left.size() >= frames;
        }, 10000);
        std::lock_guard<std::mutex> lock(mutex);
        return full ? std::vector<double>(left.begin(), left.end()) : std::vector<double>();
    }
    template <typename T> T* child(const char* name) const { return window->findChild<T*>(QLatin1String(name)); }
};

double rmsDb(const std::vector<double>& x)
{
    const double energy = std::inner_product(x.begin(), x.end(), x.begin(), 0.0);
    return 10.0 * std::log10(energy / double(std::max<std::size_t>(1, x.size())) + 1e-30);
}

// The topmost pixel of the panorama line in column x, or the plot's bottom.
int traceTop(const QImage& image, const QRect& plot, int x)
{
    for (int y = plot.top(); y <= plot.bottom(); ++y)
        if (image.pixel(x, y) == PanoramaView::kTraceColour)
            return y;
    return plot.bottom();
}

} // namespace

class TestReceiverWindow : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ReceiverOptions m_options;
    std::unique_ptr<Session> m_session;
    QStringList m_boxes;
    QTimer m_modalGuard;

    PanoramaView* view() const { return m_session->child<PanoramaView>("spectrumView"); }
    SignalMeter* meter() const { return m_session->child<SignalMeter>("sMeter"); }
    FrequencyDisplay* frequency() const { return m_session->child<FrequencyDisplay>("frequencyDisplay"); }

    void typeFrequency(double hz)
    {
        FrequencyDisplay* display = frequency();
        display->setFocus();
        display->selectAll();
        QTest::keyClicks(display, QString::number(qint64(hz)));
        QTest::keyClick(display, Qt::Key_Return);
        QTRY_COMPARE(display->frequency(), hz);
    }
    void chooseMode(const QString& name)
    {
        auto* mode = m_session->child<QComboBox>("cbMode");
        const int index = mode->findText(name);
        QVERIFY(index >= 0);
        mode->setCurrentIndex(index);
        emit mode->activated(index); // as the user's choice
    }
    // Lets the meter and the AGC settle: some audio passes.
    void settle(double seconds) { m_session->audio(std::size_t(seconds * 48000)); }
    // Half a second of audio into *x; false (with m_why) unless its strongest tone is `hz`.
    bool heard(std::vector<double>* x, double hz, double dominance, const QString& what)
    {
        *x = m_session->audio(24000);
        const systest::Tone t = systest::strongestTone(*x, 48000.0, 150.0, 4000.0);
        m_why = QStringLiteral("%1: %2 frames, strongest tone %3 Hz (%4 of the power)").arg(what).arg(x->size());
        m_why = m_why.arg(t.hz).arg(t.dominance);
        return x->size() == 24000 && std::abs(t.hz - hz) < 4.0 && t.dominance > dominance;
    }
    QString m_why;

private slots:
    void initTestCase()
    {
        QVERIFY(support::isolateHome(m_dir));
        m_options.pluginPath = QString::fromLocal8Bit(qgetenv("ZORVANI_PLUGIN"));
        m_options.source.port = testsupport::processPort(47600, 0);
        QString error;
        const QString scene = QStringLiteral("seed 3\nnoise -140\nlsb 7050000 -50 tone=900\n"
                                             "am 7120000 -50 tone=1000 depth=0.8\nusb 7150000 -50 tone=700\n"
                                             "nfm 7080000 -50 tone=1000 dev=2500\ncarrier 7180000 -35\n");
        QVERIFY2(zorvani::sim::Scene::parse(scene, &m_options.source.scene, &error), qPrintable(error));
        m_options.audio = false;
        m_options.settingsPath = m_dir.filePath(QStringLiteral("receiver.ini"));
        QSettings settings(m_options.settingsPath, QSettings::IniFormat);
        settings.setValue(QStringLiteral("rx1/centre"), kCentre);
        settings.setValue(QStringLiteral("window/recordingFolder"), m_dir.filePath(QStringLiteral("recordings")));
        settings.sync();
        // Boxes of the window answered through the seam; the plug-in's closed.
        ox::ui::setMessageHandler([this](const ox::ui::MessageRequest& request) {
            m_boxes << request.text;
            return QMessageBox::Ok;
        });
        connect(&m_modalGuard, &QTimer::timeout, this, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                m_boxes << modal->windowTitle();
                modal->close();
            }
        });
        m_modalGuard.start(50);
        m_session = std::make_unique<Session>();
        QVERIFY(m_session->start(m_options));
        QVERIFY2(m_session->host.isRunning(), qPrintable(m_boxes.join(QLatin1Char(';'))));
        QTRY_VERIFY_WITH_TIMEOUT(view()->frames() >= 20, 10000);
        // No sound device: the audio runs on the silent clock.
        QVERIFY(m_session->host.speaker().isSilent() && m_session->audio(4800).size() == 4800);
    }

    void cleanupTestCase()
    {
        m_session.reset();
        QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join(QLatin1Char(';'))));
    }

    // Every station stands well above the panorama's floor, the carrier highest.
    void spectraShowTheStations()
    {
        typeFrequency(kCentre);
        const quint64 frames = view()->frames();
        QTRY_VERIFY(view()->frames() >= frames + 5);
        const QImage image = view()->grab().toImage();
        const QRect plot = view()->panoramaRect();
        std::vector<int> tops;
        for (int c = plot.left(); c <= plot.right(); ++c)
            tops.push_back(traceTop(image, plot, c));
        const int highest = plot.left() + int(std::min_element(tops.begin(), tops.end()) - tops.begin());
        std::nth_element(tops.begin(), tops.begin() + long(tops.size() / 2), tops.end());
        const int floor = tops[tops.size() / 2];
        // The carrier, the AM carrier, the USB tone 700 Hz above, the LSB tone 900 Hz below.
        for (double hz : {7180000.0, 7120000.0, 7150700.0, 7049100.0}) {
            const int x = view()->xOf(hz);
            QVERIFY(plot.contains(x, plot.center().y()));
            int station = plot.bottom();
            for (int c = x - 2; c <= x + 2; ++c)
                station = std::min(station, traceTop(image, plot, c));
            const QString why = QStringLiteral("the line at %1 Hz stands %2 px high").arg(hz).arg(floor - station);
            QVERIFY2(floor - station > plot.height() / 4, qPrintable(why));
        }
        QVERIFY2(std::abs(highest - view()->xOf(7180000.0)) <= 2, "the carrier is not the highest line");
    }

    // Tuned away in the mode until the (slowly falling) meter is well below
    // the station, then a click on it: the meter rises and the mode's tone is heard.
    void clickTunesAndTheModeIsHeard_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<double>("station");
        QTest::addColumn<double>("tone");
        QTest::addColumn<double>("level"); // dBFS in the scene
        QTest::newRow("AM station") << "AM" << 7120000.0 << 1000.0 << -50.0;
        QTest::newRow("NFM tone") << "NFM" << 7080000.0 << 1000.0 << -50.0;
        QTest::newRow("USB tone") << "USB" << 7150000.0 << 700.0 << -50.0;
        QTest::newRow("LSB tone") << "LSB" << 7050000.0 << 900.0 << -50.0;
    }
    void clickTunesAndTheModeIsHeard()
    {
        QFETCH(QString, mode);
        QFETCH(double, station);
        QFETCH(double, tone);
        QFETCH(double, level);
        chooseMode(mode);
        typeFrequency(7010000.0);
        QTRY_VERIFY_WITH_TIMEOUT(meter()->value() < level - 15.0, 15000);
        const QPoint click(view()->xOf(station), view()->panoramaRect().center().y());
        QTest::mouseClick(view(), Qt::LeftButton, {}, click);
        QTRY_COMPARE(frequency()->frequency(), station);
        QTRY_VERIFY2_WITH_TIMEOUT(meter()->value() > level - 5.0,
                                  qPrintable(QStringLiteral("meter %1 dB").arg(meter()->value())), 5000);
        settle(1.0);
        std::vector<double> x;
        QVERIFY2(heard(&x, tone, 0.5, mode), qPrintable(m_why));
    }

    // Five seconds recorded live, then played back: the meter, the tone and
    // the audio level (after the AGC, whose meter holds to 1.5 dB) match the
    // live ones. (The file's samples against the stream: the recording system test.)
    void recordingPlaysBack()
    {
        typeFrequency(7120000.0);
        chooseMode(QStringLiteral("AM"));
        settle(3.0); // the AGC's slow decay
        QVERIFY(m_session->window->setRecording(true));
        const QString file = m_session->window->recordingFile();
        QVERIFY2(!file.isEmpty(), "the recording's file is not known");
        zorvani::sim::Simulator& sim = *m_session->host.emulator();
        const quint64 start = sim.counters().iqSent;
        std::vector<double> live, played;
        QVERIFY2(heard(&live, 1000.0, -1.0, "live"), qPrintable(m_why));
        QVERIFY(QTest::qWaitFor([&] { return sim.counters().iqSent >= start + 5 * 312500 / 200; }, 10000));
        const double liveMeter = meter()->value();
        QVERIFY(m_session->window->setRecording(false));

        QVERIFY(m_session->window->openRecording(file));
        const auto playback = sim.playback();
        QVERIFY(playback && playback->info().rateHz == 312500.0 && playback->centreHz() == kCentre);
        QVERIFY(std::abs(playback->info().seconds() - 5.0) < 0.5 && frequency()->frequency() == 7120000.0);
        settle(1.0);
        QVERIFY2(std::abs(meter()->value() - liveMeter) < 1.5,
                 qPrintable(QStringLiteral("meter %1 dB, live %2 dB").arg(meter()->value()).arg(liveMeter)));
        QVERIFY2(heard(&played, 1000.0, -1.0, "played"), qPrintable(m_why));
        QVERIFY2(std::abs(rmsDb(played) - rmsDb(live)) < 2.0,
                 qPrintable(QStringLiteral("live %1 dBFS, played %2 dBFS").arg(rmsDb(live)).arg(rmsDb(played))));
        m_session->window->backToLive();
        QVERIFY(!sim.playback());
    }

    // Closing keeps frequency and mode; the next window starts with them, and
    // with values out of range (a file edited by hand) held within range.
    void settingsAreKept()
    {
        typeFrequency(7150000.0);
        chooseMode(QStringLiteral("USB"));
        m_session->window->close();
        {
            QSettings settings(m_options.settingsPath, QSettings::IniFormat);
            QCOMPARE(settings.value(QStringLiteral("rx1/frequency")).toDouble(), 7150000.0);
            QCOMPARE(settings.value(QStringLiteral("rx1/mode")).toInt(), 4);
            settings.setValue(QStringLiteral("rx1/ctcssTone"), 500);
            settings.setValue(QStringLiteral("rx1/agc"), -3);
        }
        m_session = std::make_unique<Session>();
        QVERIFY(m_session->start(m_options) && frequency()->frequency() == 7150000.0);
        QCOMPARE(m_session->child<QComboBox>("cbMode")->currentText(), QStringLiteral("USB"));
        QCOMPARE(m_session->child<QComboBox>("cbCtcss")->currentIndex(), 41);
        QCOMPARE(m_session->child<QComboBox>("cbAgc")->currentIndex(), 0);
    }
};

QTEST_MAIN(TestReceiverWindow)
#include "tst_receiverwindow.moc"
