// Settings loaded into the plug-in object the way the host loads them: the
// values reach the engine, the host (the re-announced rate and DIG offsets)
// and the receiver at the next start, not only the controls; a file that is
// no settings file leaves a plug-in that starts with the defaults.
#include "HostBridge.h"
#include "Simulator.h"
#include "ZorvaniInterface.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "bandplan/AmateurRegion.h"
#include "common/MessageBox.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

using zorvani::sim::Config;
using zorvani::sim::Simulator;

namespace {
constexpr quint16 kPort = 55310;
const QString kAddress = QStringLiteral("127.0.0.6");
} // namespace

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<Simulator> m_sim;
    HostBridge m_bridge;
    HostManager m_manager;
    QWidget m_window;
    std::unique_ptr<ZorvaniInterface> m_device;
    QStringList m_boxes;
    int m_files = 0;

    ZorvaniInterface& device() { return *m_device; }
    ReceiverZorvani::StageSettings stage() { return m_device->dsp()->receiver(0)->stageSettings(); }

    template <typename T> T* option(const char* name)
    {
        return m_device->options()->findChild<T*>(QLatin1String(name));
    }

    QString settingsFile(const QByteArray& content)
    {
        const QString path = m_home.filePath(QStringLiteral("host%1.ini").arg(++m_files));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return {};
        return path;
    }

    void load(const QString& path)
    {
        QSettings store(path, QSettings::IniFormat);
        device().loadSettings(&store);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
        {
            // ITU region 1, whatever the machine's locale says.
            QSettings itu(AmateurRegion::settingsPath(), QSettings::IniFormat);
            itu.setValue(QStringLiteral("Country"), int(QLocale::Germany));
        }
        ox::ui::setMessageHandler([this](const ox::ui::MessageRequest& r) {
            m_boxes << r.text;
            return QMessageBox::No;
        });
        Config c;
        c.address = QHostAddress(kAddress);
        c.port = kPort;
        c.logCommands = false;
        m_sim = std::make_unique<Simulator>(c);
        QVERIFY(m_sim->start());
        auto* layout = new QVBoxLayout(&m_window);
        m_manager.setMainWindow(&m_window);
        m_device = std::make_unique<ZorvaniInterface>();
        QVERIFY(m_device->init(m_bridge, layout, false, false));
        m_device->setManager(&m_manager);
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

    void cleanup()
    {
        device().stop();
        device().close();
        QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join(QLatin1Char('\n'))));
    }

    // The page starts at its form's values ("Auto", another address): the
    // receiver is found only through the loaded address mode, address and port.
    void loadedValuesReachEngineHostAndReceiver()
    {
        const QString path = settingsFile("[ZorvaniOptions]\n"
                                          "IP_Mode=1\nSdrAddress=127.0.0.6\nSdrPort=55310\nSampleRate=1\nLpf=false\n"
                                          "dsp_nr_taps=40\nagc_fast_Attack=0.8\ndigl_offset=1000\ndigu_offset=1800\n"
                                          "ExtCtrlEnable=true\nExtCtrlRxEnable40_1=true\nExtCtrlRxEnable40_3=true\n");
        QVERIFY(!path.isEmpty());
        QSignalSpy rate(&device(), &DeviceAbstract::changedSampleRate);
        QSignalSpy dig(&device(), &DeviceAbstract::sDigOffset);
        load(path);

        QVERIFY(!rate.isEmpty());
        QCOMPARE(rate.last().at(0).toDouble(), device().functions()->displayedRate());
        QCOMPARE(device().functions()->streamRate(), 78125.0);
        QVERIFY(!dig.isEmpty());
        QCOMPARE(dig.last().at(0).toInt(), 1000);
        QCOMPARE(dig.last().at(1).toInt(), -1800);
        QCOMPARE(stage().nr.taps, 40);
        QCOMPARE(stage().diglOffset, -1000.0);
        QCOMPARE(device().dsp()->agcPreset(3).attack, 0.8);
        // Announced again even when nothing changes.
        rate.clear();
        dig.clear();
        load(path);
        QCOMPARE(rate.count(), 1);
        QCOMPARE(dig.count(), 1);

        QVERIFY(device().open());
        QVERIFY(device().start());
        QVERIFY(m_sim->waitUntil([&] { return m_sim->state().streaming; }, 3000));
        QCOMPARE(m_sim->state().rateIndex, 1);
        QVERIFY(!m_sim->state().lpf);
        // 40 m outputs 1 and 3: bits 0 and 2.
        device().setFreq(0, 0, 7100000.0);
        QVERIFY(m_sim->waitUntil([&] { return m_sim->state().extCtrl == 5u; }, 2000));

        // The reduced set on a running receiver: no rate from it, the rest acts at once.
        QSettings reduced(settingsFile("[ZorvaniOptions]\nSampleRate=3\ndsp_nr_taps=50\nLpf=true\n"
                                       "ExtCtrlRxEnable40_3=false\n"),
                          QSettings::IniFormat);
        device().loadDspSettings(&reduced);
        QCOMPARE(option<QComboBox>("cbSampleRate")->currentIndex(), 1);
        QCOMPARE(stage().nr.taps, 50);
        QVERIFY(m_sim->waitUntil([&] { return m_sim->state().lpf && m_sim->state().extCtrl == 1u; }, 2000));
    }

    // Binary noise where the settings were: the defaults, and the receiver
    // still starts once it is pointed at again.
    void noSettingsFileStillStarts()
    {
        QByteArray noise;
        for (int i = 0; i < 4096; ++i)
            noise.append(char((i * 7919 + 13) & 0xFF));
        option<QSpinBox>("sbDspRxNrTaps")->setValue(77);
        load(settingsFile(noise));
        QCOMPARE(option<QSpinBox>("sbDspRxNrTaps")->value(), 98);
        QCOMPARE(stage().nr.taps, 98);
        QCOMPARE(option<QComboBox>("cbModeIP")->currentIndex(), 0);
        QVERIFY(option<QLineEdit>("leIP")->isReadOnly());

        option<QComboBox>("cbModeIP")->setCurrentIndex(1);
        option<QLineEdit>("leIP")->setText(kAddress);
        option<QSpinBox>("sbPort")->setValue(kPort);
        QVERIFY(device().open());
        QVERIFY(device().start());
        QVERIFY(m_sim->waitUntil([&] { return m_sim->state().streaming; }, 3000));
        QCOMPARE(m_sim->state().rateIndex, 0);
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
