// The options page and the device menu as a user works them, through the
// plug-in loaded the way the host loads it: every control of the device
// column, the "Ext Ctrl" page and the menu reaches the receiver; the network
// and maintenance buttons send what they say, with their boxes; the options
// that change what is heard (AGC presets, noise-reduction taps) do so on the
// audio the receiver gets back; and the changes that restart a running stream
// (sample rate, external reference) send the whole start sequence again and
// bring the audio back.
#include "AudioChecks.h"
#include "SystemHost.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSettings>
#include <QUdpSocket>
#include <QtTest>

using zorvani::sim::State;

namespace {
constexpr quint16 kPort = 53800;
constexpr quint16 kHeldPort = 53810;
constexpr quint16 kCmdStart = 1;
constexpr quint16 kCmdStop = 2;
constexpr quint16 kCmdStaticAddress = 18;
constexpr quint16 kCmdBandScope = 34;
constexpr quint16 kCmdNetworkMode = 39;
constexpr quint16 kCmdReset = 40;
constexpr int kStation = 1; // the USB station's emitter index
constexpr double kStationDbfs = -50.0;
// What follows the Stop of a restart: the whole start sequence.
const QList<int> kStartSequence = {26, 14, 16, 5, 27, 29, kCmdStart, 7, 41, kCmdBandScope};

// What a check box changes in the receiver's state.
enum class Effect { Lpf, Att, Preamp, Bpf };
} // namespace

Q_DECLARE_METATYPE(Effect)

class TestPanel : public QObject {
    Q_OBJECT

    systest::LoadedPlugin m_plugin;

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
        device()->setMainVolume(-20);
        device()->setVolume(0, 0, 0);
        device()->setFreq(0, 0, 7100000.0);
        device()->setMode(0, 0, 4);
        device()->setFilter(0, 0, 0, 100.0, 2900.0);
        QTRY_VERIFY_WITH_TIMEOUT(sim().counters().iqAnswersFull > 20, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!sim().commands(kCmdBandScope).isEmpty(), 3000); // the start's last command
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
            const double level = systest::levelDb(systest::answered(sim(), 2048));
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
        zorvani::sim::Config c = systest::emulator(kPort, QStringLiteral("noise -150; usb 7100000 %1 tone=1000").arg(kStationDbfs));
        c.resetSilenceMs = 100;
        c.statusBits |= 0x8; // an external reference is present
        const QString error = m_plugin.attach(c);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(m_plugin.menuPanel(), 2000);
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
            // The stream goes on; the LPF has a command of its own.
            QVERIFY(sim().commands(kCmdStop).isEmpty());
            const QString mismatch = systest::wireMismatch(sim().commandLog(), {27});
            QVERIFY2(effect != Effect::Lpf || mismatch.isEmpty(), qPrintable(mismatch));
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
        QTest::newRow("unanswered") << "10.1.2.3" << 50001 << int(kCmdStaticAddress) << QMessageBox::Yes
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
        QCOMPARE(lastPayload(kCmdStaticAddress), sent);
        const bool accepted = error.isEmpty() && !sent.isEmpty();
        QCOMPARE(sim().commands(kCmdReset).size(), accepted ? 1 : 0);
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
            sim().dropReplies(kCmdNetworkMode, -1);
        m_plugin.option<QComboBox>("cbNetworkMode")->setCurrentIndex(mode);
        click("pbNetworkModeSet");
        QVERIFY(!device()->isOpen());
        QCOMPARE(lastPayload(kCmdNetworkMode), QByteArray(1, char(mode)) + QByteArray(3, '\0'));
        QCOMPARE(m_plugin.boxTexts(),
                 answered ? QStringList() : QStringList{"Error|Failed to set network mode to ZorvaniDDC!"});
        // The receiver takes a new mode when it restarts.
        QCOMPARE(sim().commands(kCmdReset).size(), answered ? 1 : 0);
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
            QCOMPARE(sim().commands(kCmdReset).size(), 1);
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
        const auto settled = [&] { return systest::streamFor(sim(), 0.2) ? steadyLevel() : qQNaN(); };
        device()->setAgc(0, 0, QStringList{"Long", "Slow", "Med", "Fast", "_User"}.indexOf(preset) + 1);
        setTimes(10);
        const double before = settled();
        QVERIFY2(before > -40.0, qPrintable(QStringLiteral("%1 dBFS").arg(before)));
        setTimes(5000);
        QVERIFY(std::abs(settled() - before) < 1.0);

        // The longest hang (3 s) holds the gain: 1.5 s after the drop reached
        // the audio it is still heard in full, which no preset's own times do.
        sim().setEmitterLevel(kStation, kStationDbfs - 30.0);
        QVERIFY(QTest::qWaitFor([&] { return systest::levelDb(systest::answered(sim(), 1024)) < before - 20.0; }, 5000));
        QVERIFY(systest::streamFor(sim(), 1.5));
        const double held = systest::levelDb(systest::answered(sim(), 4096));
        QVERIFY2(std::abs(held - (before - 30.0)) < 3.0,
                 qPrintable(QStringLiteral("%1 dBFS, then %2 dBFS while the gain should hold").arg(before).arg(held)));

        // With short times the gain comes back within a second of stream.
        setTimes(10);
        QVERIFY(systest::streamFor(sim(), 1.0));
        const double recovered = systest::levelDb(systest::answered(sim(), 4096));
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
            QVERIFY(systest::streamFor(sim(), 2.0));
            dominance[i] = systest::strongestTone(systest::answered(sim(), 16384), systest::kAnswerRate, 150.0, 3000.0).dominance;
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
        QList<int> expected = {kCmdStop};
        if (rate < 0) {
            auto* pll = m_plugin.control<QCheckBox>(where, "chbPll");
            QVERIFY(pll);
            const bool on = !pll->isChecked();
            pll->setChecked(on);
            QCOMPARE(sim().state().pll, on);
            expected << 29;
        } else {
            m_plugin.control<QComboBox>(where, "cbSampleRate")->setCurrentIndex(rate);
            QVERIFY(sim().waitForCommand(kCmdStart, 3000));
            QCOMPARE(int(quint8(sim().commands(kCmdStart).last().bytes[56])), rate);
            QCOMPARE(sim().state().rateIndex, rate);
            QVERIFY(!announced.isEmpty());
            QCOMPARE(announced.last().at(0).toDouble(), 39062.5 * (1 << rate));
        }
        // The band scope follows 100 ms after the Start, on this thread's timer.
        QTRY_VERIFY_WITH_TIMEOUT(!sim().commands(kCmdBandScope).isEmpty(), 3000);
        const QString mismatch = systest::wireMismatch(sim().commandLog(), expected + kStartSequence);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        QVERIFY(device()->isStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim().state().streaming, 2000);
        const std::vector<double> audio = systest::answered(sim(), 8192);
        QVERIFY2(audio.size() == 8192, "no audio after the restart");
        const systest::Tone t = systest::strongestTone(audio, systest::kAnswerRate, 150.0, 3000.0);
        QVERIFY2(std::abs(t.hz - 1000.0) < 10.0 && t.dominance > 0.5,
                 qPrintable(QStringLiteral("%1 Hz holding %2 of the audio").arg(t.hz).arg(t.dominance)));
        QVERIFY(m_plugin.seen.isEmpty());
    }
};

QTEST_MAIN(TestPanel)
#include "tst_panel.moc"
