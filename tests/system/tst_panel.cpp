// The plug-in loaded the way the host loads it, worked as a user and as the
// host work it: every control of the device column, the "Ext Ctrl" page and
// the menu reaches the receiver; the network and maintenance buttons send what
// they say, with their boxes; the options that change what is heard (AGC
// presets, noise-reduction taps) do so on the audio the receiver gets back;
// the changes that restart a running stream (sample rate, external reference)
// send the whole start sequence again and bring the audio back; the host's
// setters and settings calls reach the receiver and come back to the host.
#include "AudioChecks.h"
#include "SystemHost.h"

#include <QUdpSocket>

using zorvani::sim::State;

using namespace systest;

namespace {
constexpr quint16 kPort = 53800;
constexpr quint16 kHeldPort = 53810;
constexpr int kStation = 1; // the USB station's emitter index
constexpr double kStationDbfs = -50.0;

// What a check box changes in the receiver's state.
enum class Effect { Lpf, Att, Preamp, Bpf };
} // namespace

Q_DECLARE_METATYPE(Effect)

class TestPanel : public QObject {
    Q_OBJECT

    LoadedPlugin m_plugin;
    QTemporaryDir m_records;
    int m_settingsFiles = 0;

    DeviceAbstract* device() { return m_plugin.device(); }
    zorvani::sim::Simulator& sim() { return *m_plugin.sim; }
    void click(const char* button) { m_plugin.option<QPushButton>(button)->click(); }

    void setValue(const char* name, double v)
    {
        if (auto* d = m_plugin.option<QDoubleSpinBox>(name))
            d->setValue(v);
        else
            m_plugin.option<QSpinBox>(name)->setValue(int(v));
    }

    // Streaming, the station a 1 kHz tone in USB, far from full scale so that
    // the AGC's level is what is heard.
    void openAndStream()
    {
        QVERIFY(device()->open());
        QVERIFY(device()->start());
        device()->setRxEnable(0, true);
        device()->setChannelEnable(0, 0, true);
        device()->setChannelEnable(0, 1, false);
        device()->setRxEnable(1, false);
        device()->setMainVolume(-20);
        device()->setVolume(0, 0, 0);
        device()->setFreq(0, 0, 7100000.0);
        device()->setMode(0, 0, 4);
        device()->setFilter(0, 0, 0, 100.0, 2900.0);
        QTRY_VERIFY_WITH_TIMEOUT(sim().counters().iqAnswersFull > 20, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!sim().commands(CmdBandScope).isEmpty(), 3000); // the start's last command
    }

    QString settingsFile(const QByteArray& content)
    {
        const QString path = m_records.filePath(QStringLiteral("settings%1.ini").arg(++m_settingsFiles));
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() ? path : QString();
    }

    double answeredLevel() { return levelDb(answered(sim(), 19531)); }

    // A fire-and-forget command that the emulator logs: once it is there, every
    // command sent before it is too.
    bool barrier()
    {
        const int before = sim().commands(CmdFreq).size();
        device()->setFreq(0, 0, 7100000.0 + 1.0 * before);
        return sim().waitForCommand(CmdFreq, 2000, before + 1);
    }

    // Payload of the last command `code` the emulator received.
    QByteArray lastPayload(quint16 code)
    {
        const auto log = sim().commands(code);
        return log.isEmpty() ? QByteArray() : log.last().bytes.mid(18);
    }

    // The answered level once two successive 50 ms windows agree within 0.5
    // dB and it is not silence (NaN if never).
    double steadyLevel()
    {
        double previous = qQNaN();
        for (int window = 0; window < 200; ++window) {
            const double level = levelDb(answered(sim(), 2048));
            if (level > -100.0 && std::abs(level - previous) < 0.5)
                return level;
            previous = level;
        }
        return qQNaN();
    }

private slots:
    void initTestCase()
    {
        // ITU region 1 with a 60 m allocation, whatever the machine's locale says.
        QVERIFY(support::isolateHome(m_plugin.home));
        const QString config = QStandardPaths::writableLocation(QStandardPaths::ConfigLocation);
        QVERIFY(QDir().mkpath(config));
        QSettings(config + QStringLiteral("/itu.ini"), QSettings::IniFormat)
            .setValue(QStringLiteral("ITU/Country"), int(QLocale::Germany));
        zorvani::sim::Config c = emulator(kPort, QStringLiteral("noise -150; usb 7100000 %1 tone=1000").arg(kStationDbfs));
        c.resetSilenceMs = 100;
        c.statusBits |= 0x8; // an external reference is present
        const QString error = m_plugin.attach(c);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(m_plugin.menuPanel(), 2000);
        QVERIFY(m_records.isValid());
        m_plugin.bridge.hostRecorder().setFolder(m_records.path());
    }

    void cleanupTestCase() { m_plugin.unload(); }

    void init()
    {
        sim().setFaults(zorvani::sim::Faults());
        sim().clearCommandLog();
        m_plugin.seen.clear();
        m_plugin.answers.clear();
    }

    void cleanup()
    {
        device()->stop();
        device()->close();
    }

    void deviceColumnAndMenu_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("name");
        QTest::addColumn<Effect>("effect");
        QTest::newRow("options: Use LPF") << "options" << "chbLpf" << Effect::Lpf;
        QTest::newRow("menu: LPF") << "menu" << "chbLpf" << Effect::Lpf;
        QTest::newRow("options: Front end: ATT") << "options" << "chbFeAtt" << Effect::Att;
        QTest::newRow("menu: Front end ATT") << "menu" << "chbAtt" << Effect::Att;
        QTest::newRow("options: Front end: Preamp") << "options" << "chbFePreamp" << Effect::Preamp;
        QTest::newRow("menu: Front end Preamp") << "menu" << "chbPreamp" << Effect::Preamp;
        QTest::newRow("options: Front end: BPF") << "options" << "chbBpf" << Effect::Bpf;
        QTest::newRow("menu: Front end BPF") << "menu" << "chbBpf" << Effect::Bpf;
    }
    void deviceColumnAndMenu()
    {
        QFETCH(QString, where);
        QFETCH(QString, name);
        QFETCH(Effect, effect);
        openAndStream();
        auto* box = m_plugin.control<QCheckBox>(where, qPrintable(name));
        QVERIFY(box);
        const auto seen = [effect](const State& s) {
            switch (effect) {
            case Effect::Lpf: return s.lpf;
            case Effect::Att: return (s.frontEnd & 0x800u) != 0;
            case Effect::Preamp: return (s.frontEnd & 0x080u) != 0;
            case Effect::Bpf: return (s.frontEnd & 0x77Fu) == 0x005; // the 40 m band-pass filter
            }
            return false;
        };
        for (int round = 0; round < 2; ++round) {
            sim().clearCommandLog();
            const bool on = !box->isChecked();
            box->setChecked(on);
            QTRY_COMPARE_WITH_TIMEOUT(seen(sim().state()), on, 2000);
            QVERIFY(sim().commands(CmdStop).isEmpty()); // the stream goes on
            if (effect == Effect::Lpf) { // with a command of its own
                const QString mismatch = wireMismatch(sim().commandLog(), {CmdLpf});
                QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
            }
        }
        QVERIFY(sim().state().streaming);
    }

    // Without audio the answers only acknowledge (a re-sent packet may still
    // get its stored audio answer, hence the margin).
    void disableAudioOutput()
    {
        openAndStream();
        auto* box = m_plugin.option<QCheckBox>("chbDisableAudio");
        for (const bool off : {true, false}) {
            box->setChecked(off);
            QTest::qWait(100); // answers in flight
            const zorvani::sim::Counters before = sim().counters();
            QTRY_VERIFY_WITH_TIMEOUT(sim().counters().iqAnswered > before.iqAnswered + 100, 5000);
            const quint64 full = sim().counters().iqAnswersFull - before.iqAnswersFull;
            const quint64 answered = sim().counters().iqAnswered - before.iqAnswered;
            QVERIFY2(off ? full * 10 < answered : full * 10 > answered * 9,
                     qPrintable(QStringLiteral("%1 of %2 answers carried audio").arg(full).arg(answered)));
        }
    }

    // Every box of every band row: the pattern reaches the receiver while
    // tuned into that band, and nothing is sent while the outputs are off.
    void externalControlMatrix()
    {
        QVERIFY(device()->open());
        const struct {
            const char* row;
            double hz;
        } bands[] = {{"160", 1900000},  {"80", 3650000},   {"60", 5360000},   {"40", 7100000},   {"30", 10120000},
                     {"20", 14200000},  {"17", 18100000},  {"15", 21200000},  {"12", 24940000},  {"10", 28500000},
                     {"6", 50500000},   {"2", 145000000},  {"Gen", 9000000}};
        auto* enable = m_plugin.option<QCheckBox>("chbExtCtrlEnable");
        enable->setChecked(true);
        for (const auto& band : bands) {
            device()->setFreq(0, 0, band.hz);
            for (int bit = 0; bit < 7; ++bit) {
                const QByteArray name = QByteArray("chbExtCtrlRx") + band.row + '_' + QByteArray::number(bit);
                auto* box = m_plugin.option<QCheckBox>(name.constData());
                QVERIFY2(box, name.constData());
                box->setChecked(true);
                QTRY_COMPARE_WITH_TIMEOUT(sim().state().extCtrl, 1u << bit, 2000);
                box->setChecked(false);
                QTRY_COMPARE_WITH_TIMEOUT(sim().state().extCtrl, 0u, 2000);
            }
        }
        m_plugin.option<QCheckBox>("chbExtCtrlRx40_3")->setChecked(true);
        device()->setFreq(0, 0, 7100000.0);
        QTRY_COMPARE_WITH_TIMEOUT(sim().state().extCtrl, 8u, 2000);
        enable->setChecked(false);
        QTRY_COMPARE_WITH_TIMEOUT(sim().state().extCtrl, 0u, 2000);
        m_plugin.option<QCheckBox>("chbExtCtrlRx40_3")->setChecked(false);
    }

    void staticAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("newPort");
        QTest::addColumn<int>("unanswered");
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<QString>("error");   // the box after the question, empty: none
        QTest::addColumn<QByteArray>("sent"); // payload of command 18, empty: not sent
        const QByteArray accepted = QByteArray::fromHex("0a010203" "51c30000");
        QTest::newRow("accepted, then reset") << "10.1.2.3" << 50001 << 0 << QMessageBox::Yes << QString() << accepted;
        QTest::newRow("typed wrong") << "10.1.2.300" << 50001 << 0 << QMessageBox::Yes
                                     << "Error|Incorrect IP address!" << QByteArray();
        QTest::newRow("refused by the receiver") << "10.1.2.3" << 0 << 0 << QMessageBox::Yes
                                                 << "Error|Failed to set static address!"
                                                 << QByteArray::fromHex("0a010203" "00000000");
        QTest::newRow("unanswered") << "10.1.2.3" << 50001 << int(CmdStaticAddress) << QMessageBox::Yes
                                    << "Error|Failed to set static address!" << accepted;
        QTest::newRow("answered No") << "10.1.2.3" << 50001 << 0 << QMessageBox::No << QString() << QByteArray();
    }
    void staticAddress()
    {
        QFETCH(QString, typed);
        QFETCH(int, newPort);
        QFETCH(int, unanswered);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(QString, error);
        QFETCH(QByteArray, sent);
        if (unanswered)
            sim().dropReplies(quint16(unanswered), -1);
        m_plugin.option<QLineEdit>("leStaticIP")->setText(typed);
        m_plugin.option<QSpinBox>("sbWrPort")->setValue(newPort);
        m_plugin.answers << answer;
        click("pbSetIpAddress");

        QVERIFY(!device()->isOpen());
        QVERIFY(m_plugin.seen.size() >= 1);
        QCOMPARE(m_plugin.seen.first().text, QStringLiteral("Do you want to change the IP address and port?"));
        QCOMPARE(m_plugin.seen.first().informativeText,
                 QStringLiteral("  new port: %1\nNew Static IP: %2").arg(newPort).arg(typed));
        QCOMPARE(m_plugin.seen.first().defaultButton, QMessageBox::No);
        QCOMPARE(m_plugin.boxTexts().mid(1), error.isEmpty() ? QStringList() : QStringList{error});
        QCOMPARE(lastPayload(CmdStaticAddress), sent);
        const bool accepted = error.isEmpty() && !sent.isEmpty();
        QCOMPARE(sim().commands(CmdReset).size(), accepted ? 1 : 0);
        if (accepted) {
            QCOMPARE(sim().state().staticAddress, QHostAddress(typed));
            // In "Static IP" mode the page now points at the new address.
            QCOMPARE(m_plugin.option<QLineEdit>("leIP")->text(), typed);
            QVERIFY(m_plugin.useEmulator());
            QTRY_VERIFY_WITH_TIMEOUT(!sim().state().silent, 3000);
        }
    }

    void openFailureNamesThePort()
    {
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, kHeldPort, QUdpSocket::DontShareAddress));
        m_plugin.option<QSpinBox>("sbPort")->setValue(kHeldPort);
        for (const char* button : {"pbSetIpAddress", "pbNetworkModeSet", "pbNetworkReset"})
            click(button);
        QVERIFY(m_plugin.useEmulator());
        const QString text = QStringLiteral("Error|Failed to open %1 port!").arg(kHeldPort);
        QCOMPARE(m_plugin.boxTexts(), (QStringList{text, text, text}));
        QVERIFY(sim().commandLog().isEmpty());
    }

    void networkMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("answered");
        QTest::newRow("DHCP Auto") << 0 << true;
        QTest::newRow("Static IP") << 1 << true;
        QTest::newRow("DHCP Server") << 2 << true;
        QTest::newRow("DHCP Client") << 3 << true;
        QTest::newRow("unanswered") << 1 << false;
    }
    void networkMode()
    {
        QFETCH(int, mode);
        QFETCH(bool, answered);
        if (!answered)
            sim().dropReplies(CmdNetworkMode, -1);
        m_plugin.option<QComboBox>("cbNetworkMode")->setCurrentIndex(mode);
        click("pbNetworkModeSet");
        QVERIFY(!device()->isOpen());
        QCOMPARE(lastPayload(CmdNetworkMode), QByteArray(1, char(mode)) + QByteArray(3, '\0'));
        QCOMPARE(m_plugin.boxTexts(),
                 answered ? QStringList() : QStringList{"Error|Failed to set network mode to ZorvaniDDC!"});
        // The receiver takes a new mode when it restarts.
        QCOMPARE(sim().commands(CmdReset).size(), answered ? 1 : 0);
        if (answered)
            QCOMPARE(sim().state().networkMode, quint32(mode));
        QTRY_VERIFY_WITH_TIMEOUT(!sim().state().silent, 3000);
    }

    // "Reset" restarts the receiver, and ends a running stream first (the
    // host hears of it); "Update FPGA" loads the plug-in's image, closed or
    // streaming; "Firmware update" ends the stream and finds the receiver current.
    void maintenance_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("streaming");
        QTest::newRow("Reset, closed") << "pbNetworkReset" << false;
        QTest::newRow("Reset, streaming") << "pbNetworkReset" << true;
        QTest::newRow("Update FPGA, closed") << "pbUpdateFpga" << false;
        QTest::newRow("Update FPGA, streaming") << "pbUpdateFpga" << true;
        QTest::newRow("Firmware update, streaming") << "pbUpdate" << true;
    }
    void maintenance()
    {
        QFETCH(QString, button);
        QFETCH(bool, streaming);
        QFile image(qEnvironmentVariable("ZORVANI_SOURCE_DIR") + QStringLiteral("/resources/Zorvani/ZorvaniFPGA.fpg"));
        if (button == QLatin1String("pbUpdateFpga") && !image.open(QIODevice::ReadOnly))
            QSKIP("the FPGA image of the source tree is not at hand (ZORVANI_SOURCE_DIR)");
        if (streaming)
            openAndStream();
        QSignalSpy closed(device(), &DeviceAbstract::devClosed);
        click(qPrintable(button));
        QCOMPARE(closed.count(), streaming ? 1 : 0);
        QVERIFY(!device()->isOpen() || button == QLatin1String("pbUpdate"));
        QVERIFY(!device()->isStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!sim().state().streaming, 2000);
        if (button == QLatin1String("pbNetworkReset")) {
            QCOMPARE(sim().commands(CmdReset).size(), 1);
            QTRY_VERIFY_WITH_TIMEOUT(!sim().state().silent, 3000);
        } else if (button == QLatin1String("pbUpdateFpga")) {
            QCOMPARE(sim().fpgaDigest(), QCryptographicHash::hash(image.readAll().mid(1056), QCryptographicHash::Sha256));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(m_plugin.boxTexts().contains(QStringLiteral("Velmora2|Firmware is up to date.")),
                                     10000);
            return;
        }
        QVERIFY(m_plugin.seen.isEmpty());
    }

    // A preset's hang and decay, set on the page, decide whether the AGC
    // holds its gain when the station drops by 30 dB or brings it back up.
    void agcPresetsOnTheAudio_data()
    {
        QTest::addColumn<QString>("preset");
        for (const char* preset : {"Long", "Slow", "Med", "Fast", "_User"})
            QTest::newRow(preset) << preset;
    }
    void agcPresetsOnTheAudio()
    {
        QFETCH(QString, preset);
        openAndStream();
        const QByteArray decay = "sbDspRxAgcDecay" + preset.toLatin1();
        const QByteArray hang = "sbDspRxAgcHangTime" + preset.toLatin1();
        const auto setTimes = [&](double ms) {
            setValue(decay.constData(), ms);
            setValue(hang.constData(), ms);
        };
        // Each change fades the receiver out and in again; the level is read
        // once that has begun (the audio comes back late) and ended.
        const auto settled = [&] { return streamFor(sim(), 0.2) ? steadyLevel() : qQNaN(); };
        device()->setAgc(0, 0, QStringList{"Long", "Slow", "Med", "Fast", "_User"}.indexOf(preset) + 1);
        setTimes(10);
        const double before = settled();
        QVERIFY2(before > -40.0, qPrintable(QStringLiteral("%1 dBFS").arg(before)));
        setTimes(5000);
        QVERIFY(std::abs(settled() - before) < 1.0);

        // The longest hang (3 s) holds the gain: 1.5 s after the drop reached
        // the audio it is still heard in full, which no preset's own times do.
        sim().setEmitterLevel(kStation, kStationDbfs - 30.0);
        QVERIFY(QTest::qWaitFor([&] { return levelDb(answered(sim(), 1024)) < before - 20.0; }, 5000));
        QVERIFY(streamFor(sim(), 1.5));
        const double held = levelDb(answered(sim(), 4096));
        QVERIFY2(std::abs(held - (before - 30.0)) < 3.0,
                 qPrintable(QStringLiteral("%1 dBFS, then %2 dBFS while the gain should hold").arg(before).arg(held)));

        // With short times the gain comes back within a second of stream.
        setTimes(10);
        QVERIFY(streamFor(sim(), 1.0));
        const double recovered = levelDb(answered(sim(), 4096));
        sim().setEmitterLevel(kStation, kStationDbfs);
        QVERIFY2(std::abs(recovered - before) < 3.0,
                 qPrintable(QStringLiteral("%1 dBFS, back to %2 dBFS expected").arg(recovered).arg(before)));
    }

    // More taps make the noise reduction's predictor narrower: the tone
    // stands out further from the noise.
    void noiseReductionTapsOnTheAudio()
    {
        openAndStream();
        device()->setAgc(0, 0, 4);
        sim().setEmitterLevel(0, -110.0); // noise 4 dB above the tone in the passband
        sim().setEmitterLevel(kStation, -80.0);
        click("pbDefaultNR"); // adaptation rate 0.001
        device()->setNr(0, true);
        double dominance[2] = {};
        const int taps[2] = {2, 256};
        for (int i = 0; i < 2; ++i) {
            setValue("sbDspRxNrTaps", taps[i]);
            QVERIFY(streamFor(sim(), 2.0));
            dominance[i] = strongestTone(answered(sim(), 16384), kAnswerRate, 150.0, 3000.0).dominance;
        }
        device()->setNr(0, false);
        sim().setEmitterLevel(0, -150.0);
        sim().setEmitterLevel(kStation, kStationDbfs);
        QVERIFY2(dominance[1] > 2.0 * dominance[0] && dominance[1] > 0.6,
                 qPrintable(QStringLiteral("the tone holds %1 of the audio with 2 taps, %2 with 256")
                                .arg(dominance[0]).arg(dominance[1])));
    }

    // On the page or in the menu: the reference stops the stream, switches
    // and starts again; a new rate restarts the stream at that rate and is
    // announced to the host. Either way the whole start sequence follows and
    // the audio comes back.
    void restartsWhileStreaming_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("rate"); // -1: the reference is toggled
        QTest::newRow("options: reference") << "options" << -1;
        QTest::newRow("menu: reference") << "menu" << -1;
        QTest::newRow("options: 78125") << "options" << 1;
        QTest::newRow("menu: 156250") << "menu" << 2;
        QTest::newRow("options: back to 39062.5") << "options" << 0;
    }
    void restartsWhileStreaming()
    {
        QFETCH(QString, where);
        QFETCH(int, rate);
        openAndStream();
        sim().clearCommandLog();
        QSignalSpy announced(device(), &DeviceAbstract::changedSampleRate);
        QList<int> expected = {CmdStop};
        if (rate < 0) {
            auto* pll = m_plugin.control<QCheckBox>(where, "chbPll");
            QVERIFY(pll);
            const bool on = !pll->isChecked();
            pll->setChecked(on);
            QCOMPARE(sim().state().pll, on);
            expected << CmdPll;
        } else {
            m_plugin.control<QComboBox>(where, "cbSampleRate")->setCurrentIndex(rate);
            QVERIFY(sim().waitForCommand(CmdStart, 3000));
            QCOMPARE(int(quint8(sim().commands(CmdStart).last().bytes[kOffStartRate])), rate);
            QCOMPARE(sim().state().rateIndex, rate);
            QVERIFY(!announced.isEmpty());
            QCOMPARE(announced.last().at(0).toDouble(), 39062.5 * (1 << rate));
        }
        // The band scope follows 100 ms after the Start, on this thread's timer.
        QTRY_VERIFY_WITH_TIMEOUT(!sim().commands(CmdBandScope).isEmpty(), 3000);
        const QString mismatch = wireMismatch(sim().commandLog(), expected + kFullStart);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        QVERIFY(device()->isStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim().state().streaming, 2000);
        const std::vector<double> audio = answered(sim(), 8192);
        QVERIFY2(audio.size() == 8192, "no audio after the restart");
        const Tone t = strongestTone(audio, kAnswerRate, 150.0, 3000.0);
        QVERIFY2(std::abs(t.hz - 1000.0) < 10.0 && t.dominance > 0.5,
                 qPrintable(QStringLiteral("%1 Hz holding %2 of the audio").arg(t.hz).arg(t.dominance)));
        QVERIFY(m_plugin.seen.isEmpty());
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

        openAndStream();
        m_plugin.bridge.hostRecorder().setFormat(1);
        device()->setWriteIQ(true, 0);
        QVERIFY(streamFor(sim(), 0.2));
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
    // receiver; the index in force is refused and sends nothing. Quick
    // successive settings of one command each reach the receiver: a reply to
    // the first must not count as the answer to one not yet sent.
    void settersOnTheWire()
    {
        openAndStream();
        for (const int index : {0, 1}) {
            sim().clearCommandLog();
            QVERIFY(device()->setPreamp(uint(index)));
            QTRY_COMPARE_WITH_TIMEOUT(sim().state().preamp, index != 0, 2000);
            QVERIFY(!device()->setPreamp(uint(index)));
            QVERIFY(barrier());
            QCOMPARE(sim().commands(CmdPreamp).size(), 1);
        }
        for (int round = 0; round < 20; ++round) {
            sim().clearCommandLog();
            const double last = 7100000.0 + 1000.0 * (round + 1);
            for (int i = 0; i < 10; ++i) {
                device()->setFreq(0, 0, last - 100.0 * (9 - i));
                QTest::qWait(i % 3); // replies to earlier ones come in between
            }
            QVERIFY(sim().waitForCommand(CmdFreq, 2000, 10));
            QTRY_COMPARE_WITH_TIMEOUT(sim().state().freq[0], quint64(last * 10), 2000);
            QTest::qWait(50);
            QCOMPARE(sim().commands(CmdFreq).size(), 10);
        }
    }

    // Only receiver 0 channel 0 on: its volume does not matter, the master
    // does; with a second channel on, every volume applies.
    void singleChannelVolumeRule()
    {
        openAndStream();
        device()->setMainVolume(0);
        device()->setAgc(0, 0, 4); // fast: the level settles within the test's windows
        QVERIFY(streamFor(sim(), 1.0));
        const double reference = answeredLevel();
        device()->setVolume(0, 0, -80);
        QVERIFY(streamFor(sim(), 0.2));
        const double lone = answeredLevel();
        device()->setMainVolume(-20);
        QVERIFY(streamFor(sim(), 0.2));
        const double master = answeredLevel();
        device()->setMainVolume(0);
        device()->setChannelEnable(0, 1, true);
        device()->setVolume(0, 1, -80);
        QVERIFY(streamFor(sim(), 0.2));
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
        openAndStream();
        device()->setFftSize(512);
        for (uint n : {1000u, 1u, 0u, 3000u, 32768u})
            device()->setFftSize(n);
        device()->setSpectrumRate(fps);
        QVERIFY(streamFor(sim(), 0.3));
        QSignalSpy frames(device(), SIGNAL(rxSpectrum(quint32)));
        QVERIFY(streamFor(sim(), 2.0));
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
        openAndStream();
        for (const bool second : {true, false}) {
            device()->setRxEnable(1, second);
            device()->stop();
            QVERIFY(sim().waitUntil([&] { return !sim().state().streaming; }, 2000));
            sim().clearCommandLog();
            QVERIFY(device()->start());
            QVERIFY(sim().waitForCommand(CmdStart, 2000));
            QCOMPARE(qFromLittleEndian<quint16>(sim().commands(CmdStart).last().bytes.constData() + kOffStartReceivers),
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
        m_plugin.option<QComboBox>("cbModeIP")->setCurrentIndex(0);
        m_plugin.option<QLineEdit>("leIP")->setText(QStringLiteral("192.0.2.1"));
        const QString path = settingsFile("[ZorvaniOptions]\nIP_Mode=1\nSdrAddress=127.0.0.2\nSdrPort=53800\n"
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
        QCOMPARE(m_plugin.option<QSpinBox>("sbDspRxNrTaps")->value(), 40);

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
        QCOMPARE(m_plugin.option<QComboBox>("cbSampleRate")->currentIndex(), 1);
        QCOMPARE(m_plugin.option<QSpinBox>("sbDspRxNrTaps")->value(), 50);
        QTRY_VERIFY_WITH_TIMEOUT(sim().state().lpf && sim().state().extCtrl == 1u, 2000);
        m_plugin.option<QCheckBox>("chbExtCtrlEnable")->setChecked(false);
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
        m_plugin.option<QSpinBox>("sbDspRxNrTaps")->setValue(77);
        QString path = m_records.filePath(QStringLiteral("folder.ini"));
        if (content == "folder")
            QVERIFY(QDir().mkpath(path));
        else
            path = settingsFile(content);
        QSettings store(path, QSettings::IniFormat);
        device()->loadSettings(&store);
        QCOMPARE(m_plugin.option<QSpinBox>("sbDspRxNrTaps")->value(), content.endsWith("=4") ? 4 : 98);
        QVERIFY(m_plugin.option<QLineEdit>("leIP")->isReadOnly()); // "Auto"
        QVERIFY(m_plugin.useEmulator());
        QVERIFY(device()->open());
        QVERIFY(device()->start());
        QVERIFY(sim().waitUntil([&] { return sim().state().streaming; }, 3000));
        QCOMPARE(sim().state().rateIndex, m_plugin.option<QComboBox>("cbSampleRate")->currentIndex());
    }
};

QTEST_MAIN(TestPanel)
#include "tst_panel.moc"
