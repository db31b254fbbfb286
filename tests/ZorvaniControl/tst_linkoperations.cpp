// The plug-in object's link operations against an emulated receiver: in
// "Auto" address mode they broadcast, so this runs only inside the private
// network namespace of tests/netns-run.
#include "HostBridge.h"
#include "Simulator.h"
#include "ZorvaniControl/ZorvaniControl.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "ZorvaniDialog/ZorvaniDialog.h"
#include "ZorvaniInterface.h"
#include "ZorvaniOptions/DeviceMenuZorvaniDDC.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "common/MessageBox.h"
#include "discovery/DiscoverLockMediator.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using zorvani::sim::Config;
using zorvani::sim::Simulator;

class TestLinkOperations : public QObject {
    Q_OBJECT

    std::unique_ptr<Simulator> m_sim;
    std::unique_ptr<HostBridge> m_bridge;
    std::unique_ptr<ZorvaniInterface> m_device;
    QList<ox::ui::MessageRequest> m_boxes;

    ZorvaniInterface& device() { return *m_device; }

    void chooseEmulated()
    {
        Receiver r;
        r.serial = m_sim->serialText();
        r.port = ZorvaniControl::kDefaultPort;
        device().options()->setReceiver(r);
    }

private slots:
    void initTestCase()
    {
        if (qgetenv("ZORVANI_NETNS") != "1")
            QSKIP("Auto address mode broadcasts; only inside the private network namespace of tests/netns-run");
        QVERIFY(Simulator::prepareNamespace({QHostAddress(QStringLiteral("10.77.0.2"))}));
        Config c;
        c.address = QHostAddress(QStringLiteral("10.77.0.2"));
        c.port = ZorvaniControl::kDefaultPort;
        c.receiverNamespace = true;
        c.serialDecimal = 321;
        m_sim = std::make_unique<Simulator>(c);
        QVERIFY(m_sim->start());
    }

    void init()
    {
        m_boxes.clear();
        ox::ui::setMessageHandler([this](const ox::ui::MessageRequest& r) {
            m_boxes << r;
            return QMessageBox::No;
        });
        m_bridge = std::make_unique<HostBridge>();
        m_device = std::make_unique<ZorvaniInterface>();
        QVERIFY(m_device->init(*m_bridge, nullptr, false, true));
        m_sim->setStartStatus(1);
    }

    void cleanup()
    {
        if (m_device) {
            m_device->close();
            m_device->deinit();
        }
        m_device.reset();
        m_bridge.reset();
        ox::ui::setMessageHandler({});
    }

    void startBeforeOpenFails()
    {
        QVERIFY(!device().start());
        QVERIFY(!device().options()->discoverLock()->isLocked());
        QVERIFY(!device().isOpen());
    }

    void openStartStopClose()
    {
        chooseEmulated();
        QVERIFY(device().open());
        QVERIFY(device().isOpen());
        QCOMPARE(device().control()->receiverRecord().address, QHostAddress(QStringLiteral("10.77.0.2")));
        QCOMPARE(device().options()->receiverRecord().serial, m_sim->serialText());
        QSignalSpy lock(device().options()->discoverLock(), &DiscoverLockMediator::lockChanged);
        QVERIFY(device().start());
        QVERIFY(device().isStarted());
        QVERIFY(device().options()->discoverLock()->isLocked());
        QVERIFY(m_sim->waitUntil([&] { return m_sim->state().streaming; }, 1000));
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->counters().iqAnswered > 100, 3000);
        device().stop();
        QVERIFY(!device().isStarted());
        QVERIFY(!device().options()->discoverLock()->isLocked());
        QCOMPARE(lock.count(), 2);
        device().close();
        QVERIFY(!device().isOpen());
        QVERIFY(m_boxes.isEmpty());
    }

    void openUnknownSerialFails()
    {
        Receiver r;
        r.serial = QStringLiteral("OXD01000100999");
        r.port = ZorvaniControl::kDefaultPort;
        device().options()->setReceiver(r);
        QVERIFY(!device().open());
        QVERIFY(!device().isOpen());
    }

    void infoShowsTheRecord()
    {
        chooseEmulated();
        device().info(); // opens the link in Auto mode, then reads
        QCOMPARE(m_boxes.size(), 1);
        const ox::ui::MessageRequest box = m_boxes.first();
        QCOMPARE(box.text, QStringLiteral("Information.\t\t\t\t\t"));
        QCOMPARE(box.minimumWidth, 500);
        QVERIFY2(box.informativeText.startsWith(QStringLiteral("SDR type: ZorvaniDDC\nS/N: ") + m_sim->serialText() +
                                                QStringLiteral("\nVersion: 11.3\n")),
                 qPrintable(box.informativeText));
        // With the link open the record is read again.
        QVERIFY(device().isOpen());
        device().info();
        QCOMPARE(m_boxes.size(), 2);
        QCOMPARE(m_boxes[1].informativeText, box.informativeText);
    }

    void deviceAvailabilityLeavesLinkClosed()
    {
        chooseEmulated();
        QVERIFY(device().isDeviceAvalible());
        QVERIFY(!device().isOpen());
        Receiver absent;
        absent.serial = QStringLiteral("OXD01000100998");
        absent.port = ZorvaniControl::kDefaultPort;
        device().options()->setReceiver(absent);
        QVERIFY(!device().isDeviceAvalible());
        QVERIFY(!device().isOpen());
    }

    void searchFillsTheChooser()
    {
        device().search();
        QCOMPARE(device().dialog()->rows().size(), 1);
        QVERIFY(device().dialog()->isVisible());
        // The device menu's "Discover" searches the same way.
        device().dialog()->hide();
        QList<Receiver> none;
        device().dialog()->initList(none);
        QCOMPARE(device().dialog()->rows().size(), 0);
        auto* discover = device().options()->deviceMenuWidget()->findChild<QPushButton*>(QStringLiteral("pbDiscover"));
        QVERIFY(discover);
        discover->click();
        QCOMPARE(device().dialog()->rows().size(), 1);
        QVERIFY(device().dialog()->isVisible());
    }

    void initReceiverAddrTakesTheFoundRecord()
    {
        chooseEmulated();
        Receiver known;
        known.serial = m_sim->serialText();
        device().control()->setReceiverRecord(known);
        device().initReceiverAddr();
        QCOMPARE(device().control()->receiverRecord().address, QHostAddress(QStringLiteral("10.77.0.2")));
        QCOMPARE(device().options()->receiverRecord().address, QHostAddress(QStringLiteral("10.77.0.2")));
        // A serial that is not around leaves the choice to the user.
        Receiver other;
        other.serial = QStringLiteral("OXD01000100997");
        device().control()->setReceiverRecord(other);
        device().initReceiverAddr();
        QCOMPARE(device().dialog()->rows().size(), 1);
    }

    void startRefusedByFirmwareClosesTheLink()
    {
        chooseEmulated();
        QVERIFY(device().open());
        m_sim->setStartStatus(2);
        QSignalSpy closed(&device(), &DeviceAbstract::devClosed);
        QVERIFY(!device().start());
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!device().isOpen(), 2000);
        QVERIFY(!device().options()->discoverLock()->isLocked());
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.first().text, QStringLiteral("You need update the ZorvaniDDC firmware."));
    }

    void staticAddressModeProbesTheTypedAddress()
    {
        auto* mode = device().options()->findChild<QComboBox*>(QStringLiteral("cbModeIP"));
        auto* address = device().options()->findChild<QLineEdit*>(QStringLiteral("leIP"));
        if (!mode || !address)
            QSKIP("the options form has no address-mode controls");
        mode->setCurrentIndex(1);
        address->setText(QStringLiteral("10.077.000.002"));
        Receiver typed;
        typed.port = ZorvaniControl::kDefaultPort;
        device().options()->setReceiver(typed);
        address->setText(QStringLiteral("10.077.000.002"));
        QVERIFY(device().open());
        QCOMPARE(device().control()->receiverRecord().address, QHostAddress(QStringLiteral("10.77.0.2")));
        QCOMPARE(device().options()->receiverRecord().serial, m_sim->serialText());
        QVERIFY(!device().options()->receiverRecord().bootloader);
        device().close();
        // Nobody at the typed address: the open fails and info says so.
        address->setText(QStringLiteral("10.77.0.9"));
        QVERIFY(!device().open());
        device().info();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.first().text, QStringLiteral("Can't get information because not found ZorvaniDDC."));
        mode->setCurrentIndex(0);
    }

    void forceStopClosesEverything()
    {
        chooseEmulated();
        QVERIFY(device().open());
        QVERIFY(device().start());
        device().setForceStop();
        QVERIFY(!device().isOpen());
        QVERIFY(!device().isStarted());
        QVERIFY(!device().options()->discoverLock()->isLocked());
        QVERIFY(m_sim->waitUntil([&] { return !m_sim->state().streaming; }, 1000));
    }
};

QTEST_MAIN(TestLinkOperations)
#include "tst_linkoperations.moc"
