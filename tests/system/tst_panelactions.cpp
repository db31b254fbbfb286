// The options page and the device menu as a user works them, through the
// plug-in loaded the way the host loads it: every control of the device
// column, the "Ext Ctrl" page and the menu reaches the receiver; the network
// and maintenance buttons send what they say, with their boxes.
#include "SystemHost.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QFile>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

using zorvani::sim::Config;
using zorvani::sim::Scene;
using zorvani::sim::Simulator;
using zorvani::sim::State;

namespace {
constexpr quint16 kPort = 53800;
constexpr quint16 kHeldPort = 53810;
constexpr quint16 kCmdStaticAddress = 18;
constexpr quint16 kCmdNetworkMode = 39;
constexpr quint16 kCmdReset = 40;
constexpr int kGermany = 82; // QLocale country code: ITU region 1 with a 60 m allocation

// What a check box changes in the receiver's state.
enum class Effect { Lpf, Att, Preamp, Bpf };
} // namespace

Q_DECLARE_METATYPE(Effect)

class TestPanelActions : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<Simulator> m_sim;
    systest::LoadedPlugin m_plugin;

    DeviceAbstract* device() { return m_plugin.device(); }

    void click(const char* button) { m_plugin.option<QPushButton>(button)->click(); }

    void openAndStream()
    {
        QVERIFY(device()->open());
        QVERIFY(device()->start());
        device()->setFreq(0, 0, 7100000.0);
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->counters().iqAnswersFull > 20, 5000);
    }

    // Payload of the last command `code` the emulator received.
    QByteArray lastPayload(quint16 code) const
    {
        const auto log = m_sim->commands(code);
        return log.isEmpty() ? QByteArray() : log.last().bytes.mid(18);
    }

    QStringList boxTexts() const
    {
        QStringList t;
        for (const auto& box : m_plugin.seen)
            t << box.title + QLatin1Char('|') + box.text;
        return t;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(systest::LoadedPlugin::isolateHome(m_home));
        const QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::ConfigLocation);
        QVERIFY(!dirs.isEmpty() && QDir().mkpath(dirs.first()));
        QSettings(dirs.first() + QStringLiteral("/itu.ini"), QSettings::IniFormat)
            .setValue(QStringLiteral("ITU/Country"), kGermany);
        Config c;
        c.port = kPort;
        c.resetSilenceMs = 100;
        QVERIFY(Scene::parse(QStringLiteral("noise -140; am 7100000 -40 tone=1000 depth=0.5"), &c.scene, nullptr));
        const QString error = m_plugin.attachEmulator(m_sim, c);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(m_plugin.menuPanel(), 2000);
    }

    void cleanupTestCase() { m_plugin.unload(); }

    void init()
    {
        m_sim->setFaults(zorvani::sim::Faults());
        m_sim->clearCommandLog();
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
            const bool on = !box->isChecked();
            box->setChecked(on);
            QTRY_COMPARE_WITH_TIMEOUT(seen(m_sim->state()), on, 2000);
        }
        QVERIFY2(m_sim->commands(2).isEmpty(), "the stream was not stopped for a front-end change");
        QVERIFY(m_sim->state().streaming);
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
            const zorvani::sim::Counters before = m_sim->counters();
            QTRY_VERIFY_WITH_TIMEOUT(m_sim->counters().iqAnswered > before.iqAnswered + 100, 5000);
            const zorvani::sim::Counters after = m_sim->counters();
            const quint64 full = after.iqAnswersFull - before.iqAnswersFull;
            const quint64 answered = after.iqAnswered - before.iqAnswered;
            QVERIFY2(off ? full * 10 < answered : full * 10 > answered * 9,
                     qPrintable(QStringLiteral("%1 of %2 answers carried audio with the audio output %3")
                                    .arg(full)
                                    .arg(answered)
                                    .arg(off ? "disabled" : "enabled")));
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
                QTRY_COMPARE_WITH_TIMEOUT(m_sim->state().extCtrl, 1u << bit, 2000);
                box->setChecked(false);
                QTRY_COMPARE_WITH_TIMEOUT(m_sim->state().extCtrl, 0u, 2000);
            }
        }
        m_plugin.option<QCheckBox>("chbExtCtrlRx40_3")->setChecked(true);
        device()->setFreq(0, 0, 7100000.0);
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->state().extCtrl, 8u, 2000);
        enable->setChecked(false);
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->state().extCtrl, 0u, 2000);
        m_plugin.option<QCheckBox>("chbExtCtrlRx40_3")->setChecked(false);
    }

    void staticAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("newPort");
        QTest::addColumn<int>("unanswered");
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<QString>("error"); // the box after the question, empty: none
        QTest::addColumn<QByteArray>("sent");  // payload of command 18, empty: not sent
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
            m_sim->dropReplies(quint16(unanswered), -1);
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
        QCOMPARE(boxTexts().mid(1), error.isEmpty() ? QStringList() : QStringList{error});
        QCOMPARE(lastPayload(kCmdStaticAddress), sent);
        const bool accepted = error.isEmpty() && !sent.isEmpty();
        QCOMPARE(m_sim->commands(kCmdReset).size(), accepted ? 1 : 0);
        if (accepted) {
            QCOMPARE(m_sim->state().staticAddress, QHostAddress(typed));
            // In "Static IP" mode the page now points at the new address.
            QCOMPARE(m_plugin.option<QLineEdit>("leIP")->text(), typed);
            QVERIFY(m_plugin.useEmulator(*m_sim));
            QTRY_VERIFY_WITH_TIMEOUT(!m_sim->state().silent, 3000);
        }
    }

    void openFailureNamesThePort()
    {
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, kHeldPort, QUdpSocket::DontShareAddress));
        m_plugin.option<QSpinBox>("sbPort")->setValue(kHeldPort);
        for (const char* button : {"pbSetIpAddress", "pbNetworkModeSet", "pbNetworkReset"})
            click(button);
        QVERIFY(m_plugin.useEmulator(*m_sim));
        const QString text = QStringLiteral("Error|Failed to open %1 port!").arg(kHeldPort);
        QCOMPARE(boxTexts(), (QStringList{text, text, text}));
        QVERIFY(m_sim->commandLog().isEmpty());
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
            m_sim->dropReplies(kCmdNetworkMode, -1);
        m_plugin.option<QComboBox>("cbNetworkMode")->setCurrentIndex(mode);
        click("pbNetworkModeSet");
        QVERIFY(!device()->isOpen());
        QByteArray payload(4, '\0');
        payload[0] = char(mode);
        QCOMPARE(lastPayload(kCmdNetworkMode), payload);
        QCOMPARE(boxTexts(), answered ? QStringList() : QStringList{"Error|Failed to set network mode to ZorvaniDDC!"});
        // The receiver takes a new mode when it restarts.
        QCOMPARE(m_sim->commands(kCmdReset).size(), answered ? 1 : 0);
        if (answered)
            QCOMPARE(m_sim->state().networkMode, quint32(mode));
        QTRY_VERIFY_WITH_TIMEOUT(!m_sim->state().silent, 3000);
    }

    void resetEndsAStream()
    {
        click("pbNetworkReset");
        QCOMPARE(m_sim->commands(kCmdReset).size(), 1);
        QVERIFY(!device()->isOpen());
        QTRY_VERIFY_WITH_TIMEOUT(!m_sim->state().silent, 3000);

        openAndStream();
        QSignalSpy closed(device(), &DeviceAbstract::devClosed);
        click("pbNetworkReset");
        QCOMPARE(m_sim->commands(kCmdReset).size(), 2);
        QCOMPARE(closed.count(), 1);
        QVERIFY(!device()->isOpen());
        QVERIFY(m_plugin.seen.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!m_sim->state().silent, 3000);
    }

    void fpgaUpdateLoadsTheImage()
    {
        QFile image(qEnvironmentVariable("ZORVANI_SOURCE_DIR") + QStringLiteral("/resources/Zorvani/ZorvaniFPGA.fpg"));
        if (!image.open(QIODevice::ReadOnly))
            QSKIP("the FPGA image of the source tree is not at hand (ZORVANI_SOURCE_DIR)");
        const QByteArray body = image.readAll().mid(1056);
        click("pbUpdateFpga");
        QCOMPARE(m_sim->fpgaDigest(), QCryptographicHash::hash(body, QCryptographicHash::Sha256));
        QVERIFY(!device()->isOpen());
        QVERIFY(m_plugin.seen.isEmpty());
    }

    // "Firmware update" and "Update FPGA" end a running stream first.
    void maintenanceEndsTheStream_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("Firmware update") << "pbUpdate";
        QTest::newRow("Update FPGA") << "pbUpdateFpga";
    }
    void maintenanceEndsTheStream()
    {
        QFETCH(QString, button);
        openAndStream();
        QSignalSpy closed(device(), &DeviceAbstract::devClosed);
        click(qPrintable(button));
        QCOMPARE(closed.count(), 1);
        QVERIFY(!device()->isStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!m_sim->state().streaming, 2000);
        // The writer then finds the receiver current and says so.
        if (button == QLatin1String("pbUpdate"))
            QTRY_VERIFY_WITH_TIMEOUT(boxTexts().contains(QStringLiteral("Velmora2|Firmware is up to date.")), 10000);
    }
};

QTEST_MAIN(TestPanelActions)
#include "tst_panelactions.moc"
