// The host's setters and settings calls on the plug-in loaded the way the
// host loads it, checked at the far end: the emulator's command log and
// state, the audio it gets back, and what the plug-in hands the host.
#include "SystemHost.h"

#include <QCheckBox>
#include <QDir>
#include <QSettings>
#include <QtEndian>

namespace {
constexpr quint16 kPort = 53100;
constexpr quint16 kCmdStart = 1;
constexpr quint16 kCmdPreamp = 5;
constexpr quint16 kCmdFrequency = 8;
} // namespace

class TestControlSurface : public QObject {
    Q_OBJECT

    systest::LoadedPlugin m_plugin;
    QTemporaryDir m_records;
    int m_settingsFiles = 0;

    DeviceAbstract* device() { return m_plugin.device(); }
    zorvani::sim::Simulator& sim() { return *m_plugin.sim; }
    template <typename T>
    T* option(const char* name)
    {
        return m_plugin.option<T>(name);
    }

    QString settingsFile(const QByteArray& content)
    {
        const QString path = m_records.filePath(QStringLiteral("settings%1.ini").arg(++m_settingsFiles));
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() ? path : QString();
    }

    double answeredLevel() { return systest::levelDb(systest::answered(sim(), 19531)); }

    // A fire-and-forget command that the emulator logs: once it is there, every
    // command sent before it is too.
    bool barrier()
    {
        const int before = sim().commands(kCmdFrequency).size();
        device()->setFreq(0, 0, 7100000.0 + 1.0 * before);
        return sim().waitForCommand(kCmdFrequency, 2000, before + 1);
    }

    // Streaming AM with a fast AGC (the level settles within the test's
    // windows), receiver 0 channel 0 alone at full volume.
    void stream()
    {
        if (!device()->isOpen())
            QVERIFY(device()->open());
        if (!device()->isStarted())
            QVERIFY(device()->start());
        QVERIFY(sim().waitUntil([&] { return sim().state().streaming; }, 5000));
        device()->setRxEnable(0, true);
        device()->setChannelEnable(0, 0, true);
        device()->setChannelEnable(0, 1, false);
        device()->setRxEnable(1, false);
        device()->setMainVolume(0);
        device()->setVolume(0, 0, 0);
        device()->setFreq(0, 0, 7100000.0);
        device()->setMode(0, 0, 0);
        device()->setFilter(0, 0, 0, -2500.0, 2500.0);
        device()->setAgc(0, 0, 4);
        QVERIFY(systest::streamFor(sim(), 0.5));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_records.isValid());
        const QString error = m_plugin.attach(systest::emulator(kPort, "noise -150; am 7100000 -40 tone=1000 depth=0.5"));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        m_plugin.bridge.hostRecorder().setFolder(m_records.path());
    }

    void cleanupTestCase()
    {
        m_plugin.unload();
        QVERIFY2(m_plugin.boxes.isEmpty(), qPrintable(m_plugin.boxes.join(QLatin1Char(','))));
    }

    // Before the link is open and streaming, a recording is refused at once;
    // one stops on request even when the stream has stopped before it, with
    // its header complete.
    void recordingAroundTheStream()
    {
        QSignalSpy answer(device(), &DeviceAbstract::sWriteIQ);
        device()->setWriteIQ(true, 0);
        QCOMPARE(answer.count(), 1);
        QCOMPARE(answer.first(), (QList<QVariant>{false, 0}));
        QVERIFY2(QDir(m_records.path()).entryList({"*.wav"}, QDir::Files).isEmpty(), "no file was created");
        // Out-of-range receivers are ignored altogether.
        device()->setWriteIQ(true, 2);
        device()->setWriteIQ(true, -1);
        QCOMPARE(answer.count(), 1);

        stream();
        m_plugin.bridge.hostRecorder().setFormat(1);
        device()->setWriteIQ(true, 0);
        QVERIFY(systest::streamFor(sim(), 0.2));
        device()->stop();
        device()->setWriteIQ(false, 0);
        const QStringList files = QDir(m_records.path()).entryList({"*.wav"}, QDir::Files);
        QCOMPARE(files.size(), 1);
        QFile file(m_records.filePath(files.first()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray head = file.read(44);
        QVERIFY(file.size() > 44);
        QCOMPARE(qFromLittleEndian<quint32>(head.constData() + 4), quint32(file.size() - 8));
        QCOMPARE(qFromLittleEndian<quint32>(head.constData() + 40), quint32(file.size() - 44));
    }

    // Each change of the HF preamplifier sends one command and reaches the
    // receiver; the index in force is refused and sends nothing.
    void preampOnTheWire()
    {
        stream();
        for (const int index : {0, 1}) {
            sim().clearCommandLog();
            QVERIFY(device()->setPreamp(uint(index)));
            QTRY_COMPARE_WITH_TIMEOUT(sim().state().preamp, index != 0, 2000);
            QVERIFY(!device()->setPreamp(uint(index)));
            QVERIFY(barrier());
            QCOMPARE(sim().commands(kCmdPreamp).size(), 1);
        }
    }

    // Quick successive settings of one command each reach the receiver: a
    // reply to the first must not count as the answer to one not yet sent.
    void rapidRetuningKeepsTheLastFrequency()
    {
        stream();
        for (int round = 0; round < 20; ++round) {
            sim().clearCommandLog();
            const double last = 7100000.0 + 1000.0 * (round + 1);
            for (int i = 0; i < 10; ++i) {
                device()->setFreq(0, 0, last - 100.0 * (9 - i));
                QTest::qWait(i % 3); // replies to earlier ones come in between
            }
            QVERIFY(sim().waitForCommand(kCmdFrequency, 2000, 10));
            QTRY_COMPARE_WITH_TIMEOUT(sim().state().freq[0], quint64(last * 10), 2000);
            QTest::qWait(50);
            QCOMPARE(sim().commands(kCmdFrequency).size(), 10);
        }
    }

    // Only receiver 0 channel 0 on: its volume does not matter, the master
    // does; with a second channel on, every volume applies.
    void singleChannelVolumeRule()
    {
        stream();
        QVERIFY(systest::streamFor(sim(), 1.0)); // AGC settled
        const double reference = answeredLevel();
        device()->setVolume(0, 0, -80);
        QVERIFY(systest::streamFor(sim(), 0.2));
        const double lone = answeredLevel();
        device()->setMainVolume(-20);
        QVERIFY(systest::streamFor(sim(), 0.2));
        const double master = answeredLevel();
        device()->setMainVolume(0);
        device()->setChannelEnable(0, 1, true);
        device()->setVolume(0, 1, -80);
        QVERIFY(systest::streamFor(sim(), 0.2));
        const double both = answeredLevel();
        device()->setChannelEnable(0, 1, false);
        const QString text = QStringLiteral("%1 dBFS at volume 0, %2 at -80, %3 with the master at -20 dB, "
                                            "%4 with two channels at -80 dB")
                                 .arg(reference).arg(lone).arg(master).arg(both);
        QVERIFY2(std::abs(lone - reference) < 1.0, qPrintable(text));
        QVERIFY2(std::abs(master - (reference - 20.0)) < 1.0, qPrintable(text));
        QVERIFY2(both < reference - 60.0, qPrintable(text));
    }

    // The spectrum rate is clamped to 10..40 frames a second (counted over 2 s
    // of stream: the ceiling is the interval's, the floor leaves room for a
    // busy machine); 512 points would come 76 times a second at 39062.5 Hz.
    // A size that is no power of two is ignored; the band scope keeps 4096.
    void spectrum_data()
    {
        QTest::addColumn<int>("fps");
        QTest::addColumn<int>("minFrames");
        QTest::addColumn<int>("maxFrames");
        QTest::newRow("5 -> 10 per second") << 5 << 12 << 22;
        QTest::newRow("100 -> 40 per second") << 100 << 50 << 82;
    }
    void spectrum()
    {
        QFETCH(int, fps);
        QFETCH(int, minFrames);
        QFETCH(int, maxFrames);
        stream();
        device()->setFftSize(512);
        for (uint n : {1000u, 1u, 0u, 3000u, 32768u})
            device()->setFftSize(n);
        device()->setSpectrumRate(fps);
        QVERIFY(systest::streamFor(sim(), 0.3));
        QSignalSpy frames(device(), SIGNAL(rxSpectrum(quint32)));
        QVERIFY(systest::streamFor(sim(), 2.0));
        int rx0 = 0;
        for (const QList<QVariant>& args : frames)
            rx0 += args.at(0).toUInt() == 0 ? 1 : 0;
        QVERIFY2(rx0 >= minFrames && rx0 <= maxFrames, qPrintable(QStringLiteral("%1 frames in 2 s").arg(rx0)));
        QCOMPARE(device()->rxSpectrum(0).count, 512u);
        QCOMPARE(device()->bandScopeSpectrum().count, 4096u);
        device()->setFftSize(4096);
    }

    // The second receiver counts in the next start block (u16 at offset 54).
    void secondReceiverInNextStart()
    {
        stream();
        for (const bool second : {true, false}) {
            device()->setRxEnable(1, second);
            device()->stop();
            QVERIFY(sim().waitUntil([&] { return !sim().state().streaming; }, 2000));
            sim().clearCommandLog();
            QVERIFY(device()->start());
            QVERIFY(sim().waitForCommand(kCmdStart, 2000));
            QCOMPARE(qFromLittleEndian<quint16>(sim().commands(kCmdStart).last().bytes.constData() + 54),
                     quint16(second ? 2 : 1));
            QCOMPARE(sim().state().receivers, second ? 2 : 1);
        }
    }

    // Settings loaded as the host loads them reach the host (rate and DIG
    // offsets announced again, even unchanged) and the receiver at the next
    // start, not only the controls. The page first points elsewhere: the
    // receiver is found through the loaded address mode, address and port.
    // The DSP subset on a running receiver brings no rate; the rest acts at once.
    void loadedSettingsReachHostAndReceiver()
    {
        device()->stop();
        device()->close();
        option<QComboBox>("cbModeIP")->setCurrentIndex(0);
        option<QLineEdit>("leIP")->setText(QStringLiteral("192.0.2.1"));
        const QString path = settingsFile("[ZorvaniOptions]\nIP_Mode=1\nSdrAddress=127.0.0.2\nSdrPort=53100\n"
                                          "SampleRate=1\nLpf=false\ndsp_nr_taps=40\ndigl_offset=1000\n"
                                          "digu_offset=1800\nExtCtrlEnable=true\nExtCtrlRxEnable40_1=true\n"
                                          "ExtCtrlRxEnable40_3=true\n");
        QSignalSpy rate(device(), &DeviceAbstract::changedSampleRate);
        QSignalSpy dig(device(), &DeviceAbstract::sDigOffset);
        for (int load = 0; load < 2; ++load) {
            rate.clear();
            dig.clear();
            QSettings store(path, QSettings::IniFormat);
            device()->loadSettings(&store);
            QVERIFY(!rate.isEmpty() && (load == 0 || rate.count() == 1));
            QVERIFY(!dig.isEmpty() && (load == 0 || dig.count() == 1));
            QCOMPARE(rate.last().at(0).toDouble(), device()->functions()->displayedRate());
            QCOMPARE(dig.last(), (QList<QVariant>{1000, -1800}));
        }
        QCOMPARE(device()->functions()->streamRate(), 78125.0);
        QCOMPARE(option<QSpinBox>("sbDspRxNrTaps")->value(), 40);

        QVERIFY(device()->open());
        QVERIFY(device()->start());
        QVERIFY(sim().waitUntil([&] { return sim().state().streaming; }, 3000));
        QCOMPARE(sim().state().rateIndex, 1);
        QVERIFY(!sim().state().lpf);
        device()->setFreq(0, 0, 7100000.0); // 40 m: outputs 1 and 3
        QTRY_COMPARE_WITH_TIMEOUT(sim().state().extCtrl, quint32(5), 2000);

        QSettings reduced(settingsFile("[ZorvaniOptions]\nSampleRate=3\ndsp_nr_taps=50\nLpf=true\n"
                                       "ExtCtrlRxEnable40_3=false\n"),
                          QSettings::IniFormat);
        device()->loadDspSettings(&reduced);
        QCOMPARE(option<QComboBox>("cbSampleRate")->currentIndex(), 1);
        QCOMPARE(option<QSpinBox>("sbDspRxNrTaps")->value(), 50);
        QTRY_VERIFY_WITH_TIMEOUT(sim().state().lpf && sim().state().extCtrl == 1u, 2000);
        option<QCheckBox>("chbExtCtrlEnable")->setChecked(false);
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
        device()->stop();
        device()->close();
        option<QSpinBox>("sbDspRxNrTaps")->setValue(77);
        QString path = m_records.filePath(QStringLiteral("folder.ini"));
        if (content == "folder")
            QVERIFY(QDir().mkpath(path));
        else
            path = settingsFile(content);
        QSettings store(path, QSettings::IniFormat);
        device()->loadSettings(&store);
        QCOMPARE(option<QSpinBox>("sbDspRxNrTaps")->value(), content.endsWith("=4") ? 4 : 98);
        QVERIFY(option<QLineEdit>("leIP")->isReadOnly()); // "Auto"
        QVERIFY(m_plugin.useEmulator());
        QVERIFY(device()->open());
        QVERIFY(device()->start());
        QVERIFY(sim().waitUntil([&] { return sim().state().streaming; }, 3000));
        QCOMPARE(sim().state().rateIndex, option<QComboBox>("cbSampleRate")->currentIndex());
    }
};

QTEST_MAIN(TestControlSurface)
#include "tst_controlsurface.moc"
