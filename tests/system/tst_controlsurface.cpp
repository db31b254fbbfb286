// The host's setters on a streaming plug-in object, checked at the far end:
// the emulator's command log and state, the audio it gets back, and the
// panorama workers.
#include "SystemHost.h"
#include "ZorvaniControl/ZorvaniControl.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDevice.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "ZorvaniInterface.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "bandplan/AmateurRegion.h"
#include "common/MessageBox.h"
#include "spectrum/PanSpectrumZorvaniDDC.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QSettings>

using zorvani::sim::Simulator;

namespace {
constexpr quint16 kCmdStart = 1;
constexpr quint16 kCmdPreamp = 5;
constexpr quint16 kCmdFrequency = 8;

quint16 u16(const QByteArray& d, int at)
{
    return quint16(quint8(d[at]) | quint8(d[at + 1]) << 8);
}
} // namespace

class TestControlSurface : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QTemporaryDir m_records;
    std::unique_ptr<Simulator> m_sim;
    HostBridge m_bridge;
    HostManager m_manager;
    QWidget m_window;
    std::unique_ptr<ZorvaniInterface> m_device;
    QList<ox::ui::MessageRequest> m_boxes;
    int m_settingsFiles = 0;

    ZorvaniInterface& device() { return *m_device; }

    QString settingsFile(const QByteArray& content)
    {
        const QString path = m_home.filePath(QStringLiteral("settings%1.ini").arg(++m_settingsFiles));
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() ? path : QString();
    }

    template <typename T>
    T* option(const char* name)
    {
        T* widget = m_device->options()->findChild<T*>(QLatin1String(name));
        Q_ASSERT_X(widget, "option", name);
        return widget;
    }

    bool streamFor(double seconds) { return systest::streamFor(*m_sim, seconds); }
    double answeredLevel(double seconds)
    {
        return systest::levelDb(systest::answered(*m_sim, int(systest::kAnswerRate * seconds)));
    }

    // A fire-and-forget command that the emulator logs: once it is there, every
    // command sent before it is too.
    bool barrier()
    {
        const int before = m_sim->commands(kCmdFrequency).size();
        device().setFreq(0, 0, 7100000.0 + 1.0 * before);
        return m_sim->waitForCommand(kCmdFrequency, 2000, before + 1);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_records.isValid());
        QVERIFY(support::isolateHome(m_home));
        // ITU region 1, whatever the machine's locale says.
        QSettings(AmateurRegion::settingsPath(), QSettings::IniFormat).setValue("Country", int(QLocale::Germany));
        ox::ui::setMessageHandler([this](const ox::ui::MessageRequest& r) {
            m_boxes << r;
            return QMessageBox::No;
        });

        const auto c = systest::emulator(53100, QStringLiteral("noise -150; am 7100000 -40 tone=1000 depth=0.5"));
        m_sim = std::make_unique<Simulator>(c);
        QVERIFY(m_sim->start());

        m_bridge.hostRecorder().setFolder(m_records.path());
        auto* layout = new QVBoxLayout(&m_window);
        m_manager.setMainWindow(&m_window);
        m_device = std::make_unique<ZorvaniInterface>();
        QVERIFY(m_device->init(m_bridge, layout, false, true));
        m_device->setManager(&m_manager);
        QCOMPARE(m_device->control()->bandPlan().region(), 0);
        option<QComboBox>("cbModeIP")->setCurrentIndex(1);
        option<QLineEdit>("leIP")->setText(QStringLiteral("127.0.0.2"));
        option<QSpinBox>("sbPort")->setValue(c.port);
    }

    void cleanupTestCase()
    {
        if (m_device) {
            m_device->stop();
            m_device->close();
            m_device->deinit();
        }
        m_device.reset();
        m_bridge.closeOutputs();
        m_bridge.hostPool().waitIdle();
        ox::ui::setMessageHandler({});
    }

    // Before the link is open and streaming, a recording is refused at once.
    void writeIqWhileNotStreaming()
    {
        QSignalSpy answer(&device(), &DeviceAbstract::sWriteIQ);
        device().setWriteIQ(true, 0);
        QCOMPARE(answer.count(), 1);
        QCOMPARE(answer.first().at(0).toBool(), false);
        QCOMPARE(answer.first().at(1).toInt(), 0);
        QVERIFY2(QDir(m_records.path()).entryList(QDir::Files).isEmpty(), "no file was created");
        QVERIFY(m_boxes.isEmpty());
        // Out-of-range receivers are ignored altogether.
        device().setWriteIQ(true, 2);
        device().setWriteIQ(true, -1);
        QCOMPARE(answer.count(), 1);
    }

    void openAndStart()
    {
        QVERIFY(device().open());
        QVERIFY(device().start());
        QVERIFY(m_sim->waitUntil([&] { return m_sim->state().streaming; }, 2000));
        QCOMPARE(m_sim->state().receivers, 1);
        device().setRxEnable(0, true);
        device().setChannelEnable(0, 0, true);
        device().setChannelEnable(0, 1, false);
        device().setRxEnable(1, false);
        device().setMainVolume(0);
        device().setFreq(0, 0, 7100000.0);
        device().setMode(0, 0, 0);
        device().setFilter(0, 0, 0, -2500.0, 2500.0);
        device().setAgc(0, 0, 4); // fast: the level settles within the test's windows
        QVERIFY(streamFor(0.5));
    }

    void preampChangeSendsAndRescales_data()
    {
        QTest::addColumn<bool>("att");
        QTest::addColumn<bool>("frontPreamp");
        QTest::newRow("front end plain") << false << false;
        QTest::newRow("attenuator on") << true << false;
        QTest::newRow("front-end preamplifier on") << false << true;
    }
    void preampChangeSendsAndRescales()
    {
        QFETCH(bool, att);
        QFETCH(bool, frontPreamp);
        option<QCheckBox>("chbFeAtt")->setChecked(att);
        option<QCheckBox>("chbFePreamp")->setChecked(frontPreamp);
        // Distinct calibration values (the boxes keep one decimal) show which one is taken.
        option<QDoubleSpinBox>("dsbHfPreampM0")->setValue(1.5);
        option<QDoubleSpinBox>("dsbHfPreampM20")->setValue(-2.5);
        for (int step = 0; step < 2; ++step) {
            const int next = device().control()->preampIndex() == 0 ? 1 : 0;
            m_sim->clearCommandLog();
            QVERIFY(device().setPreamp(uint(next)));
            QVERIFY(m_sim->waitForCommand(kCmdPreamp, 2000));
            QCOMPARE(m_sim->commands(kCmdPreamp).size(), 1);
            QTRY_COMPARE_WITH_TIMEOUT(m_sim->state().preamp, next != 0, 1000);
            // The index in force is refused, and nothing is sent for it.
            QVERIFY(!device().setPreamp(uint(next)));
            QVERIFY(barrier());
            QCOMPARE(m_sim->commands(kCmdPreamp).size(), 1);
            QCOMPARE(device().control()->preampIndex(), next);
            const double c = (next != 0 ? 1.5 : -2.5) + (att ? 18.5 : 0.0) - (frontPreamp ? 10.3 : 0.0);
            const double gain = device().control()->driver()->device()->stream().gain();
            QVERIFY2(std::abs(gain - std::pow(10.0, c * 0.05)) < 1e-9 * gain,
                     qPrintable(QStringLiteral("IQ gain %1 for %2 dB").arg(gain).arg(c)));
        }
        option<QCheckBox>("chbFeAtt")->setChecked(false);
        option<QCheckBox>("chbFePreamp")->setChecked(false);
    }

    // Only receiver 0 channel 0 on: its volume does not matter, the master does.
    // Quick successive settings of one command each reach the receiver: a
    // reply to the first must not count as the answer to one not yet sent.
    void rapidRetuningKeepsTheLastFrequency()
    {
        for (int round = 0; round < 20; ++round) {
            m_sim->clearCommandLog();
            const double last = 7100000.0 + 1000.0 * (round + 1);
            for (int i = 0; i < 10; ++i) {
                device().setFreq(0, 0, last - 100.0 * (9 - i));
                QTest::qWait(i % 3); // replies to earlier ones come in between
            }
            QVERIFY(m_sim->waitForCommand(kCmdFrequency, 2000, 10));
            QTRY_COMPARE_WITH_TIMEOUT(m_sim->state().freq[0], quint64(last * 10), 2000);
            QTest::qWait(50);
            QCOMPARE(m_sim->commands(kCmdFrequency).size(), 10);
        }
        device().setFreq(0, 0, 7100000.0);
    }

    void singleChannelVolumeRule()
    {
        device().setVolume(0, 0, 0);
        QVERIFY(streamFor(1.0)); // AGC settled
        const double reference = answeredLevel(0.5);
        device().setVolume(0, 0, -80);
        QVERIFY(streamFor(0.2));
        const double lone = answeredLevel(0.5);
        QVERIFY2(std::abs(lone - reference) < 1.0,
                 qPrintable(QStringLiteral("%1 dBFS at volume 0, %2 dBFS at -80").arg(reference).arg(lone)));
        device().setMainVolume(-20);
        QVERIFY(streamFor(0.2));
        const double master = answeredLevel(0.5);
        QVERIFY2(std::abs(master - (reference - 20.0)) < 1.0,
                 qPrintable(QStringLiteral("%1 dBFS with the master at -20 dB (%2 before)").arg(master).arg(reference)));
        device().setMainVolume(0);

        // With a second channel on, every volume applies: both at -80 are silent.
        device().setChannelEnable(0, 1, true);
        device().setVolume(0, 1, -80);
        QVERIFY(streamFor(0.2));
        const double both = answeredLevel(0.5);
        QVERIFY2(both < reference - 60.0,
                 qPrintable(QStringLiteral("%1 dBFS with two channels at -80 dB").arg(both)));
        device().setChannelEnable(0, 1, false);
        device().setVolume(0, 0, 0);
    }

    void spectrumRateClamps_data()
    {
        QTest::addColumn<int>("fps");
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("minFrames");
        QTest::addColumn<int>("maxFrames");
        // Frames counted over 2 s of stream; the ceiling is the interval's, the
        // floor leaves room for a busy machine.
        QTest::newRow("5 -> 10 per second") << 5 << 100 << 12 << 22;
        QTest::newRow("100 -> 40 per second") << 100 << 25 << 50 << 82;
    }
    void spectrumRateClamps()
    {
        QFETCH(int, fps);
        QFETCH(int, interval);
        QFETCH(int, minFrames);
        QFETCH(int, maxFrames);
        // 512 points come 76 times a second at 39062.5 Hz: the rate limits, not the samples.
        device().setFftSize(512);
        device().setSpectrumRate(fps);
        QCOMPARE(device().dsp()->panorama(0)->frameInterval(), interval);
        QCOMPARE(device().dsp()->panorama(1)->frameInterval(), interval);
        QCOMPARE(device().dsp()->bandScope()->frameInterval(), interval);
        QVERIFY(streamFor(0.3));
        QSignalSpy frames(&device(), SIGNAL(rxSpectrum(quint32)));
        QVERIFY(streamFor(2.0));
        int rx0 = 0;
        for (const QList<QVariant>& args : frames)
            rx0 += args.at(0).toUInt() == 0 ? 1 : 0;
        QVERIFY2(rx0 >= minFrames && rx0 <= maxFrames,
                 qPrintable(QStringLiteral("%1 frames of receiver 0 in 2 s").arg(rx0)));
        const SpectrumView view = device().rxSpectrum(0);
        QCOMPARE(view.count, 512u);
        device().setFftSize(4096);
    }

    void fftSizeNotPowerOfTwoIgnored()
    {
        device().setFftSize(2048);
        QCOMPARE(device().dsp()->panorama(0)->fftSize(), 2048u);
        QCOMPARE(device().dsp()->bandScope()->fftSize(), 4096u);
        for (uint n : {1000u, 1u, 0u, 3000u, 32768u}) {
            device().setFftSize(n);
            QCOMPARE(device().dsp()->panorama(0)->fftSize(), 2048u);
            QCOMPARE(device().dsp()->panorama(1)->fftSize(), 2048u);
            // The band scope keeps its own 4096 points.
            QCOMPARE(device().dsp()->bandScope()->fftSize(), 4096u);
        }
        QVERIFY(streamFor(0.5));
        QCOMPARE(device().rxSpectrum(0).count, 2048u);
        device().setFftSize(4096);
    }

    // The second receiver counts in the next start block (u16 at offset 54).
    void secondReceiverInNextStart()
    {
        device().setRxEnable(1, true);
        device().stop();
        QVERIFY(m_sim->waitUntil([&] { return !m_sim->state().streaming; }, 2000));
        m_sim->clearCommandLog();
        QVERIFY(device().start());
        QVERIFY(m_sim->waitForCommand(kCmdStart, 2000));
        QByteArray block = m_sim->commands(kCmdStart).last().bytes;
        QVERIFY(block.size() >= 56);
        QCOMPARE(u16(block, 54), quint16(2));
        QCOMPARE(m_sim->state().receivers, 2);

        device().setRxEnable(1, false);
        device().stop();
        m_sim->clearCommandLog();
        QVERIFY(device().start());
        QVERIFY(m_sim->waitForCommand(kCmdStart, 2000));
        block = m_sim->commands(kCmdStart).last().bytes;
        QCOMPARE(u16(block, 54), quint16(1));
        QVERIFY(m_boxes.isEmpty());
    }

    // A recording stops on request even when the stream has stopped before it.
    void recordingStopsAfterTheStream()
    {
        device().setWriteIQ(true, 0);
        QVERIFY(device().iqFiles()[0]->isRecording());
        device().stop();
        device().setWriteIQ(false, 0);
        QVERIFY(!device().iqFiles()[0]->isRecording());
        QVERIFY(device().start());
    }

    // Settings loaded as the host loads them reach the engine, the host (rate
    // and DIG offsets announced again, even unchanged) and the receiver at the
    // next start, not only the controls. The page first points elsewhere: the
    // receiver is found through the loaded address mode, address and port.
    void loadedSettingsReachEngineHostAndReceiver()
    {
        device().stop();
        device().close();
        option<QComboBox>("cbModeIP")->setCurrentIndex(0);
        option<QLineEdit>("leIP")->setText(QStringLiteral("192.0.2.1"));
        const QString path = settingsFile("[ZorvaniOptions]\nIP_Mode=1\nSdrAddress=127.0.0.2\nSdrPort=53100\n"
                                          "SampleRate=1\nLpf=false\ndsp_nr_taps=40\nagc_fast_Attack=0.8\n"
                                          "digl_offset=1000\ndigu_offset=1800\nExtCtrlEnable=true\n"
                                          "ExtCtrlRxEnable40_1=true\nExtCtrlRxEnable40_3=true\n");
        QSignalSpy rate(&device(), &DeviceAbstract::changedSampleRate);
        QSignalSpy dig(&device(), &DeviceAbstract::sDigOffset);
        for (int load = 0; load < 2; ++load) {
            rate.clear();
            dig.clear();
            QSettings store(path, QSettings::IniFormat);
            device().loadSettings(&store);
            // The second load changes nothing, and is announced all the same.
            QVERIFY(!rate.isEmpty() && (load == 0 || rate.count() == 1));
            QVERIFY(!dig.isEmpty() && (load == 0 || dig.count() == 1));
            QCOMPARE(rate.last().at(0).toDouble(), device().functions()->displayedRate());
            QCOMPARE(dig.last(), (QList<QVariant>{1000, -1800}));
        }
        QCOMPARE(device().functions()->streamRate(), 78125.0);
        const ReceiverZorvani::StageSettings stage = m_device->dsp()->receiver(0)->stageSettings();
        QCOMPARE(stage.nr.taps, 40);
        QCOMPARE(stage.diglOffset, -1000.0);
        QCOMPARE(m_device->dsp()->agcPreset(3).attack, 0.8);

        QVERIFY(device().open());
        QVERIFY(device().start());
        QVERIFY(m_sim->waitUntil([&] { return m_sim->state().streaming; }, 3000));
        QCOMPARE(m_sim->state().rateIndex, 1);
        QVERIFY(!m_sim->state().lpf);
        device().setFreq(0, 0, 7100000.0); // 40 m: outputs 1 and 3
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->state().extCtrl, quint32(5), 2000);

        // The DSP subset on a running receiver: no rate from it, the rest acts at once.
        QSettings reduced(settingsFile("[ZorvaniOptions]\nSampleRate=3\ndsp_nr_taps=50\nLpf=true\n"
                                       "ExtCtrlRxEnable40_3=false\n"),
                          QSettings::IniFormat);
        device().loadDspSettings(&reduced);
        QCOMPARE(option<QComboBox>("cbSampleRate")->currentIndex(), 1);
        QCOMPARE(m_device->dsp()->receiver(0)->stageSettings().nr.taps, 50);
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->state().lpf && m_sim->state().extCtrl == 1u, 2000);
        QVERIFY(m_boxes.isEmpty());
    }

    // What a user may find in place of the settings gives the defaults, and
    // the receiver still starts once it is pointed at again.
    void unreadableSettingsStillStart_data()
    {
        QTest::addColumn<QByteArray>("content"); // "folder": a folder of that name
        QByteArray noise;
        for (int i = 0; i < 4096; ++i)
            noise.append(char((i * 7919 + 13) & 0xFF));
        QTest::newRow("binary") << noise;
        QTest::newRow("a folder") << QByteArray("folder");
        QTest::newRow("cut short") << QByteArray("[ZorvaniOptions]\nSampleRate=2\nLpf=true\ndsp_nr_taps=4");
    }
    void unreadableSettingsStillStart()
    {
        QFETCH(QByteArray, content);
        device().stop();
        device().close();
        option<QSpinBox>("sbDspRxNrTaps")->setValue(77);
        QString path = m_home.filePath(QStringLiteral("folder.ini"));
        if (content == "folder")
            QVERIFY(QDir().mkpath(path));
        else
            path = settingsFile(content);
        QSettings store(path, QSettings::IniFormat);
        device().loadSettings(&store);
        const int taps = content.endsWith("=4") ? 4 : 98;
        QCOMPARE(option<QSpinBox>("sbDspRxNrTaps")->value(), taps);
        QCOMPARE(m_device->dsp()->receiver(0)->stageSettings().nr.taps, taps);
        QVERIFY(option<QLineEdit>("leIP")->isReadOnly()); // "Auto"

        option<QComboBox>("cbModeIP")->setCurrentIndex(1);
        option<QLineEdit>("leIP")->setText(QStringLiteral("127.0.0.2"));
        option<QSpinBox>("sbPort")->setValue(53100);
        QVERIFY(device().open());
        QVERIFY(device().start());
        QVERIFY(m_sim->waitUntil([&] { return m_sim->state().streaming; }, 3000));
        QCOMPARE(m_sim->state().rateIndex, option<QComboBox>("cbSampleRate")->currentIndex());
        QVERIFY(m_boxes.isEmpty());
    }
};

QTEST_MAIN(TestControlSurface)
#include "tst_controlsurface.moc"
