// The plug-in loaded the way the host loads it, worked as a user and as the
// host work it: every control of the device column, the "Ext Ctrl" page and
// the menu reaches the receiver; the network and maintenance buttons send what
// they say, with their boxes; the options that change what is heard (AGC
// presets, noise-reduction taps, volumes) do so on the audio the receiver gets
// back; the changes that restart a running stream (sample rate, external
// reference) send the whole start sequence again and bring the audio back; the
// host's setters and settings calls reach the receiver and come back to the host.
#include "SystemHost.h"
#include "ToneAnalysis.h"

#include <QUdpSocket>

#include <array>

using namespace systest;

namespace {
constexpr quint16 kPort = 53800, kHeldPort = 53810;
constexpr int kStation = 1; // the USB station's emitter index
constexpr double kStationDbfs = -50.0;

// The network buttons: the address typed (port -1: the network mode's index),
// the command whose replies are dropped, the answer to the question, the box
// after it and the payload sent (empty: none).
struct Network {
    const char *name, *value;
    int port, unanswered;
    QMessageBox::StandardButton answer;
    const char *box, *sent;
};
const char* const kRefused = "Error|Failed to set static address!";
const Network kNetwork[] = {
    {"address accepted, then reset", "10.1.2.3", 50001, 0, QMessageBox::Yes, "", "0a01020351c30000"},
    {"address typed wrong", "10.1.2.300", 50001, 0, QMessageBox::Yes, "Error|Incorrect IP address!", ""},
    {"address refused", "10.1.2.3", 0, 0, QMessageBox::Yes, kRefused, "0a01020300000000"},
    {"address unanswered", "10.1.2.3", 50001, CmdStaticAddress, QMessageBox::Yes, kRefused, "0a01020351c30000"},
    {"address answered No", "10.1.2.3", 50001, 0, QMessageBox::No, "", ""},
    {"DHCP Auto", "0", -1, 0, QMessageBox::NoButton, "", "00000000"},
    {"Static IP", "1", -1, 0, QMessageBox::NoButton, "", "01000000"},
    {"mode unanswered", "1", -1, CmdNetworkMode, QMessageBox::NoButton, "Error|Failed to set network mode to ZorvaniDDC!", "01000000"},
};
} // namespace

class TestPanel : public QObject {
    Q_OBJECT

    LoadedPlugin m_plugin;
    QTemporaryDir m_records;
    int m_settingsFiles = 0;

    DeviceAbstract* device() { return m_plugin.device(); }
    Simulator& sim() { return *m_plugin.sim; }
    void click(const char* button) { m_plugin.option<QPushButton>(button)->click(); }
    void setValue(const QByteArray& name, double v) { m_plugin.option<QWidget>(name.constData())->setProperty("value", v); }

    // Streaming, the station a 1 kHz tone in USB, far from full scale so that the AGC's level is what is heard.
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
        QFile file(m_records.filePath(QStringLiteral("settings%1.ini").arg(++m_settingsFiles)));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() ? file.fileName() : QString();
    }

private slots:
    void initTestCase()
    {
        // ITU region 1 with a 60 m allocation, whatever the machine's locale says.
        QVERIFY(support::isolateHome(m_plugin.home));
        const QString config = QStandardPaths::writableLocation(QStandardPaths::ConfigLocation);
        QVERIFY(QDir().mkpath(config));
        QSettings(config + "/itu.ini", QSettings::IniFormat).setValue("ITU/Country", int(QLocale::Germany));
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

    // One stream, worked control after control; each leaves it as it found it.
    void whileStreaming()
    {
        // Before the link is open and streaming, a recording is refused at once;
        // out-of-range receivers are ignored altogether.
        QSignalSpy recording(device(), &DeviceAbstract::sWriteIQ);
        for (int receiver : {0, 2, -1})
            device()->setWriteIQ(true, receiver);
        QCOMPARE(recording.count(), 1);
        QCOMPARE(recording.first(), (QList<QVariant>{false, 0}));
        QVERIFY2(QDir(m_records.path()).entryList({"*.wav"}, QDir::Files).isEmpty(), "a refused recording made a file");
        openAndStream();

        // The front end's boxes on the options page and in the menu reach the
        // receiver and the stream goes on; LPF with a command of its own.
        // Each box twice on the page, then twice in the menu; no mask: LPF. BPF: the 40 m band-pass filter.
        const struct {
            const char *option, *menu;
            quint32 mask, value;
        } boxes[] = {{"chbLpf", "chbLpf", 0, 0}, {"chbFeAtt", "chbAtt", 0x800, 0x800}, {"chbFePreamp", "chbPreamp", 0x80, 0x80},
                     {"chbBpf", "chbBpf", 0x77F, 0x005}};
        for (const auto& b : boxes)
            for (int round = 0; round < 4; ++round) {
                auto* box = m_plugin.control<QCheckBox>(round < 2 ? "options" : "menu", round < 2 ? b.option : b.menu);
                QVERIFY2(box, b.menu);
                sim().clearCommandLog();
                box->setChecked(!box->isChecked());
                QTRY_COMPARE_WITH_TIMEOUT(b.mask ? (sim().state().frontEnd & b.mask) == b.value : sim().state().lpf, box->isChecked(), 2000);
                const QString mismatch = wireMismatch(sim().commandLog(), {CmdLpf});
                QVERIFY2(sim().commands(CmdStop).isEmpty() && sim().state().streaming && (b.mask || mismatch.isEmpty()),
                         qPrintable(b.menu + (": " + mismatch)));
            }

        // Without audio the answers only acknowledge (a re-sent packet may still
        // get its stored audio answer, hence the margin).
        for (const bool off : {true, false}) {
            m_plugin.option<QCheckBox>("chbDisableAudio")->setChecked(off);
            QTest::qWait(100); // answers in flight
            const zorvani::sim::Counters before = sim().counters();
            QTRY_VERIFY_WITH_TIMEOUT(sim().counters().iqAnswered > before.iqAnswered + 100, 5000);
            const quint64 full = sim().counters().iqAnswersFull - before.iqAnswersFull;
            const quint64 answered = sim().counters().iqAnswered - before.iqAnswered;
            QVERIFY2(off ? full * 10 < answered : full * 10 > answered * 9,
                     qPrintable(QStringLiteral("%1 of %2 answers carried audio").arg(full).arg(answered)));
        }

        // Each change of the HF preamplifier sends one command; the index in
        // force is refused and sends nothing (a later frequency command shows
        // that all before it have arrived).
        for (const int index : {0, 1}) {
            sim().clearCommandLog();
            QVERIFY(device()->setPreamp(uint(index)));
            QTRY_COMPARE_WITH_TIMEOUT(sim().state().preamp, index != 0, 2000);
            QVERIFY(!device()->setPreamp(uint(index)));
            device()->setFreq(0, 0, 7100000.0 + index);
            QVERIFY(sim().waitForCommand(CmdFreq, 2000));
            QCOMPARE(sim().commands(CmdPreamp).size(), 1);
        }
        // Quick successive settings of one command each reach the receiver: a
        // reply to the first must not count as the answer to one not yet sent.
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
        device()->setFreq(0, 0, 7100000.0);

        // Only receiver 0 channel 0 on: its volume does not matter, the master
        // does; with a second channel on, every volume applies.
        device()->setMainVolume(0);
        device()->setAgc(0, 0, 4); // fast: the level settles within the test's windows
        double level[4];
        const auto measure = [&](double seconds) { return streamFor(sim(), seconds) ? levelDb(answered(sim(), 19531)) : qQNaN(); };
        level[0] = measure(1.0);
        device()->setVolume(0, 0, -80);
        level[1] = measure(0.2);
        device()->setMainVolume(-20);
        level[2] = measure(0.2);
        device()->setMainVolume(0);
        device()->setChannelEnable(0, 1, true);
        device()->setVolume(0, 1, -80);
        level[3] = measure(0.2);
        device()->setChannelEnable(0, 1, false);
        device()->setVolume(0, 0, 0);
        device()->setMainVolume(-20);
        const QString volumes = QStringLiteral("%1 dBFS at volume 0, %2 at -80, %3 with the master at -20 dB, %4 with "
                                               "two channels at -80 dB").arg(level[0]).arg(level[1]).arg(level[2]).arg(level[3]);
        QVERIFY2(std::abs(level[1] - level[0]) < 1.0 && std::abs(level[2] - (level[0] - 20.0)) < 1.0, qPrintable(volumes));
        QVERIFY2(level[3] < level[0] - 60.0, qPrintable(volumes));

        // More noise-reduction taps make its predictor narrower: the tone
        // stands out further from the noise (4 dB above it in the passband).
        sim().setEmitterLevel(0, -110.0);
        sim().setEmitterLevel(kStation, -80.0);
        click("pbDefaultNR"); // adaptation rate 0.001
        device()->setNr(0, true);
        double dominance[2] = {};
        for (int i = 0; i < 2; ++i) {
            setValue("sbDspRxNrTaps", i ? 256 : 2);
            QVERIFY(streamFor(sim(), 2.0));
            dominance[i] = strongestTone(answered(sim(), 16384), kAnswerRate, 150.0, 3000.0).dominance;
        }
        device()->setNr(0, false);
        sim().setEmitterLevel(0, -150.0);
        sim().setEmitterLevel(kStation, kStationDbfs);
        QVERIFY2(dominance[1] > 2.0 * dominance[0] && dominance[1] > 0.6,
                 qPrintable(QStringLiteral("the tone holds %1 of the audio with 2 taps, %2 with 256").arg(dominance[0]).arg(dominance[1])));

        // On the page or in the menu: the reference stops the stream, switches
        // and starts again; a new rate restarts the stream at that rate and is
        // announced to the host. Either way the whole start sequence follows
        // and the audio comes back.
        // Rate -1: the reference is toggled.
        for (const auto& r : {std::pair<const char*, int>{"options", -1}, {"menu", -1}, {"options", 1}, {"menu", 2}, {"options", 0}}) {
            sim().clearCommandLog();
            QSignalSpy announced(device(), &DeviceAbstract::changedSampleRate);
            QList<int> expected = {CmdStop};
            if (r.second < 0) {
                auto* pll = m_plugin.control<QCheckBox>(r.first, "chbPll");
                QVERIFY(pll);
                pll->setChecked(!pll->isChecked());
                QCOMPARE(sim().state().pll, pll->isChecked());
                expected << CmdPll;
            } else {
                m_plugin.control<QComboBox>(r.first, "cbSampleRate")->setCurrentIndex(r.second);
                QVERIFY(sim().waitForCommand(CmdStart, 3000));
                QCOMPARE(int(quint8(sim().commands(CmdStart).last().bytes[kOffStartRate])), r.second);
                QCOMPARE(sim().state().rateIndex, r.second);
                QVERIFY(!announced.isEmpty());
                QCOMPARE(announced.last().at(0).toDouble(), 39062.5 * (1 << r.second));
            }
            // The band scope follows 100 ms after the Start, on this thread's timer.
            QTRY_VERIFY_WITH_TIMEOUT(!sim().commands(CmdBandScope).isEmpty(), 3000);
            const QString mismatch = wireMismatch(sim().commandLog(), expected + kFullStart);
            QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
            QVERIFY(device()->isStarted());
            QTRY_VERIFY_WITH_TIMEOUT(sim().state().streaming, 2000);
            const Tone tone = strongestTone(answered(sim(), 8192), kAnswerRate, 150.0, 3000.0);
            QVERIFY2(std::abs(tone.hz - 1000.0) < 10.0 && tone.dominance > 0.5, "no 1 kHz tone after the restart");
        }
        QVERIFY(m_plugin.seen.isEmpty());

        // The spectrum rate is clamped to 10..40 frames a second (counted over
        // 2 s of stream: the ceiling is the interval's, the floor leaves room
        // for a busy machine); 512 points would come 76 times a second at
        // 39062.5 Hz. A size that is no power of two is ignored; the band scope keeps 4096.
        for (const auto& [fps, least, most] : {std::array<int, 3>{5, 12, 22}, std::array<int, 3>{100, 50, 82}}) {
            for (uint n : {512u, 1000u, 1u, 0u, 3000u, 32768u})
                device()->setFftSize(n);
            device()->setSpectrumRate(fps);
            QVERIFY(streamFor(sim(), 0.3));
            QSignalSpy frames(device(), SIGNAL(rxSpectrum(quint32)));
            QVERIFY(streamFor(sim(), 2.0));
            const auto rx0 = std::count_if(frames.begin(), frames.end(), [](const auto& a) { return a.at(0).toUInt() == 0; });
            QVERIFY2(rx0 >= least && rx0 <= most, qPrintable(QStringLiteral("%1 frames in 2 s at %2").arg(rx0).arg(fps)));
            QCOMPARE(device()->rxSpectrum(0).count, 512u);
            QCOMPARE(device()->bandScopeSpectrum().count, 4096u);
        }
        device()->setFftSize(4096);

        // The second receiver counts in the next start block.
        for (const bool second : {true, false}) {
            device()->setRxEnable(1, second);
            device()->stop();
            QVERIFY(sim().waitUntil([&] { return !sim().state().streaming; }, 2000));
            sim().clearCommandLog();
            QVERIFY(device()->start());
            QVERIFY(sim().waitForCommand(CmdStart, 2000));
            const quint16 receivers = qFromLittleEndian<quint16>(sim().commands(CmdStart).last().bytes.constData() + kOffStartReceivers);
            QVERIFY2(receivers == (second ? 2 : 1) && sim().state().receivers == receivers, qPrintable(QString::number(receivers)));
        }

        // A recording stops on request even when the stream has stopped before it, with its header complete.
        QTRY_VERIFY_WITH_TIMEOUT(sim().state().streaming, 2000);
        m_plugin.bridge.hostRecorder().setFormat(1);
        device()->setWriteIQ(true, 0);
        QVERIFY(streamFor(sim(), 0.2));
        device()->stop();
        device()->setWriteIQ(false, 0);
        const QStringList files = QDir(m_records.path()).entryList({"*.wav"}, QDir::Files);
        QCOMPARE(files.size(), 1);
        QFile file(m_records.filePath(files.value(0)));
        QVERIFY(file.open(QIODevice::ReadOnly) && file.size() > 44);
        const QByteArray head = file.read(44);
        QCOMPARE(qFromLittleEndian<quint32>(head.constData() + 4), quint32(file.size() - 8));
        QCOMPARE(qFromLittleEndian<quint32>(head.constData() + 40), quint32(file.size() - 44));
    }

    // Every box of band rows from the lowest to the highest and the general
    // one: the pattern reaches the receiver while tuned into that band, and
    // nothing is sent while the outputs are off.
    void externalControlMatrix()
    {
        QVERIFY(device()->open());
        const std::pair<const char*, double> bands[] = {
            {"160", 1900000}, {"60", 5360000}, {"40", 7100000}, {"10", 28500000}, {"2", 145000000}, {"Gen", 9000000}};
        auto* enable = m_plugin.option<QCheckBox>("chbExtCtrlEnable");
        enable->setChecked(true);
        for (const auto& [row, hz] : bands) {
            device()->setFreq(0, 0, hz);
            for (int bit = 0; bit < 7; ++bit)
                for (const bool on : {true, false}) {
                    auto* box = m_plugin.option<QCheckBox>(QStringLiteral("chbExtCtrlRx%1_%2").arg(row).arg(bit).toLatin1().constData());
                    QVERIFY2(box, row);
                    box->setChecked(on);
                    QTRY_COMPARE_WITH_TIMEOUT(sim().state().extCtrl, on ? 1u << bit : 0u, 2000);
                }
        }
        m_plugin.option<QCheckBox>("chbExtCtrlRx40_3")->setChecked(true);
        device()->setFreq(0, 0, 7100000.0);
        QTRY_COMPARE_WITH_TIMEOUT(sim().state().extCtrl, 8u, 2000);
        enable->setChecked(false);
        QTRY_COMPARE_WITH_TIMEOUT(sim().state().extCtrl, 0u, 2000);
        m_plugin.option<QCheckBox>("chbExtCtrlRx40_3")->setChecked(false);
    }

    // "Set IP Address" asks first (No by default), then sends the address and
    // port; network mode "Set" sends the mode. Either way the receiver takes
    // the change when it restarts.
    void networkButtons_data() { addRows(kNetwork); }
    void networkButtons()
    {
        QFETCH(int, row);
        const auto& [name, value, port, unanswered, answer, box, sentHex] = kNetwork[row];
        const QStringList boxes = *box ? QStringList{box} : QStringList();
        const QByteArray sent = QByteArray::fromHex(sentHex);
        const bool address = port >= 0;
        if (unanswered)
            sim().dropReplies(quint16(unanswered), -1);
        if (address) {
            m_plugin.option<QLineEdit>("leStaticIP")->setText(QLatin1String(value));
            m_plugin.option<QSpinBox>("sbWrPort")->setValue(port);
            m_plugin.answers << answer;
        } else {
            m_plugin.option<QComboBox>("cbNetworkMode")->setCurrentIndex(QByteArray(value).toInt());
        }
        click(address ? "pbSetIpAddress" : "pbNetworkModeSet");
        QVERIFY(!device()->isOpen());
        if (address) {
            QVERIFY(!m_plugin.seen.isEmpty());
            QCOMPARE(m_plugin.seen.first().text, QStringLiteral("Do you want to change the IP address and port?"));
            QCOMPARE(m_plugin.seen.first().defaultButton, QMessageBox::No);
        }
        QCOMPARE(m_plugin.boxTexts().mid(address ? 1 : 0), boxes);
        const auto log = sim().commands(address ? CmdStaticAddress : CmdNetworkMode);
        QCOMPARE(log.value(log.size() - 1).bytes.mid(18), sent);
        const bool accepted = boxes.isEmpty() && !sent.isEmpty();
        QCOMPARE(sim().commands(CmdReset).size(), accepted ? 1 : 0);
        if (accepted && address) {
            QCOMPARE(sim().state().staticAddress, QHostAddress(QLatin1String(value)));
            // In "Static IP" mode the page now points at the new address.
            QCOMPARE(m_plugin.option<QLineEdit>("leIP")->text(), QLatin1String(value));
            QVERIFY(m_plugin.useEmulator());
        } else if (accepted) {
            QCOMPARE(sim().state().networkMode, QByteArray(value).toUInt());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!sim().state().silent, 3000);
    }

    // The link's port is taken: each network button says which.
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

    // "Reset" restarts the receiver, and ends a running stream first (the
    // host hears of it); "Update FPGA" loads the plug-in's image, closed or
    // streaming; "Firmware update" ends the stream and finds the receiver current.
    void maintenance_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("streaming");
        for (const bool streaming : {false, true}) {
            QTest::addRow("Reset, %s", streaming ? "streaming" : "closed") << "pbNetworkReset" << streaming;
            QTest::addRow("Update FPGA, %s", streaming ? "streaming" : "closed") << "pbUpdateFpga" << streaming;
        }
        QTest::newRow("Firmware update, streaming") << "pbUpdate" << true;
    }
    void maintenance()
    {
        QFETCH(QString, button);
        QFETCH(bool, streaming);
        QFile image(qEnvironmentVariable("ZORVANI_SOURCE_DIR") + "/resources/Zorvani/ZorvaniFPGA.fpg");
        if (button == "pbUpdateFpga" && !image.open(QIODevice::ReadOnly))
            QSKIP("the FPGA image of the source tree is not at hand (ZORVANI_SOURCE_DIR)");
        if (streaming)
            openAndStream();
        QSignalSpy closed(device(), &DeviceAbstract::devClosed);
        click(qPrintable(button));
        QCOMPARE(closed.count(), streaming ? 1 : 0);
        QVERIFY((!device()->isOpen() || button == "pbUpdate") && !device()->isStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!sim().state().streaming, 2000);
        if (button == "pbUpdate")
            QTRY_VERIFY_WITH_TIMEOUT(m_plugin.boxTexts().contains("Velmora2|Firmware is up to date."), 10000);
        else if (button == "pbUpdateFpga")
            QCOMPARE(sim().fpgaDigest(), QCryptographicHash::hash(image.readAll().mid(1056), QCryptographicHash::Sha256));
        else
            QCOMPARE(sim().commands(CmdReset).size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!sim().state().silent, 3000);
        QVERIFY(button == "pbUpdate" || m_plugin.seen.isEmpty());
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
        const auto setTimes = [&](double ms) {
            setValue("sbDspRxAgcDecay" + preset.toLatin1(), ms);
            setValue("sbDspRxAgcHangTime" + preset.toLatin1(), ms);
        };
        // Each change fades the receiver out and in again; the level is read
        // once that has begun (the audio comes back late) and ended: two
        // successive 50 ms windows agree within 0.5 dB and it is not silence.
        const auto settled = [&] {
            if (!streamFor(sim(), 0.2))
                return qQNaN();
            double previous = qQNaN();
            for (int window = 0; window < 200; ++window) {
                const double level = levelDb(answered(sim(), 2048));
                if (level > -100.0 && std::abs(level - previous) < 0.5)
                    return level;
                previous = level;
            }
            return qQNaN();
        };
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
        // With short times the gain comes back within a second of stream.
        setTimes(10);
        QVERIFY(streamFor(sim(), 1.0));
        const double recovered = levelDb(answered(sim(), 4096));
        sim().setEmitterLevel(kStation, kStationDbfs);
        QVERIFY2(std::abs(held - (before - 30.0)) < 3.0 && std::abs(recovered - before) < 3.0,
                 qPrintable(QStringLiteral("%1 dBFS, %2 dBFS while the gain should hold, %3 dBFS once it came back")
                                .arg(before).arg(held).arg(recovered)));
    }

    // Settings loaded as the host loads them reach the host (rate and DIG
    // offsets announced again, even unchanged) and the receiver at the next
    // start, not only the controls. The page first points elsewhere: the
    // receiver is found through the loaded address mode, address and port.
    // The DSP subset on a running receiver brings no rate; the rest acts at
    // once. What a user may find in place of the settings gives the defaults,
    // and the receiver still starts once it is pointed at again.
    void settingsReachHostAndReceiver()
    {
        m_plugin.option<QComboBox>("cbModeIP")->setCurrentIndex(0);
        m_plugin.option<QLineEdit>("leIP")->setText(QStringLiteral("192.0.2.1"));
        const QString path = settingsFile("[ZorvaniOptions]\nIP_Mode=1\nSdrAddress=127.0.0.2\nSdrPort=53800\nSampleRate=1\n"
                                          "Lpf=false\ndsp_nr_taps=40\ndigl_offset=1000\ndigu_offset=1800\nExtCtrlEnable=true\n"
                                          "ExtCtrlRxEnable40_1=true\nExtCtrlRxEnable40_3=true\n");
        QSignalSpy rate(device(), &DeviceAbstract::changedSampleRate);
        QSignalSpy dig(device(), &DeviceAbstract::sDigOffset);
        for (int load = 0; load < 2; ++load) {
            rate.clear();
            dig.clear();
            QSettings store(path, QSettings::IniFormat);
            device()->loadSettings(&store);
            QVERIFY(!rate.isEmpty() && !dig.isEmpty() && (load == 0 || (rate.count() == 1 && dig.count() == 1)));
            QCOMPARE(rate.last().at(0).toDouble(), device()->functions()->displayedRate());
            QCOMPARE(dig.last(), (QList<QVariant>{1000, -1800}));
        }
        QCOMPARE(device()->functions()->streamRate(), 78125.0);
        QCOMPARE(m_plugin.option<QSpinBox>("sbDspRxNrTaps")->value(), 40);
        QVERIFY(device()->open() && device()->start());
        QVERIFY(sim().waitUntil([&] { return sim().state().streaming; }, 3000));
        QVERIFY(sim().state().rateIndex == 1 && !sim().state().lpf);
        device()->setFreq(0, 0, 7100000.0); // 40 m: outputs 1 and 3
        QTRY_COMPARE_WITH_TIMEOUT(sim().state().extCtrl, quint32(5), 2000);
        QSettings reduced(settingsFile("[ZorvaniOptions]\nSampleRate=3\ndsp_nr_taps=50\nLpf=true\nExtCtrlRxEnable40_3=false\n"),
                          QSettings::IniFormat);
        device()->loadDspSettings(&reduced);
        QVERIFY(m_plugin.option<QComboBox>("cbSampleRate")->currentIndex() == 1 && m_plugin.option<QSpinBox>("sbDspRxNrTaps")->value() == 50);
        QTRY_VERIFY_WITH_TIMEOUT(sim().state().lpf && sim().state().extCtrl == 1u, 2000);
        m_plugin.option<QCheckBox>("chbExtCtrlEnable")->setChecked(false);

        QByteArray noise;
        for (int i = 0; i < 4096; ++i)
            noise.append(char((i * 7919 + 13) & 0xFF));
        for (const QByteArray& content : {noise, QByteArray("folder"), QByteArray("[ZorvaniOptions]\nSampleRate=2\nLpf=true\ndsp_nr_taps=4")}) {
            cleanup();
            setValue("sbDspRxNrTaps", 77);
            QString unreadable = m_records.filePath(QStringLiteral("folder.ini"));
            if (content == "folder")
                QVERIFY(QDir().mkpath(unreadable));
            else
                unreadable = settingsFile(content);
            QSettings store(unreadable, QSettings::IniFormat);
            device()->loadSettings(&store);
            QCOMPARE(m_plugin.option<QSpinBox>("sbDspRxNrTaps")->value(), content.endsWith("=4") ? 4 : 98);
            QVERIFY(m_plugin.option<QLineEdit>("leIP")->isReadOnly()); // "Auto"
            QVERIFY(m_plugin.useEmulator() && device()->open() && device()->start());
            QVERIFY(sim().waitUntil([&] { return sim().state().streaming; }, 3000));
            QCOMPARE(sim().state().rateIndex, m_plugin.option<QComboBox>("cbSampleRate")->currentIndex());
        }
    }
};

QTEST_MAIN(TestPanel)
#include "tst_panel.moc"
