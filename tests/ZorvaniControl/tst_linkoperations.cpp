// The plug-in object's link operations against an emulated receiver: in
// "Auto" address mode they broadcast, so this runs only inside the private
// network namespace of tests/netns-run.
#include "ControlRig.h"
#include "DiscoveryNetwork.h"
#include "ReceiverRecord.h"

#include "ZorvaniDialog/ZorvaniDialog.h"
#include "ZorvaniOptions/DeviceMenuZorvaniDDC.h"
#include "discovery/DiscoverLockMediator.h"

#include <QtTest>

using zorvani::sim::Simulator;

namespace {
const QHostAddress kAddress(QStringLiteral("10.77.0.2"));
} // namespace

class TestLinkOperations : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<Simulator> m_sim;
    std::unique_ptr<PanelRig> m_rig; // its own emulator not started: the one above answers

    ZorvaniInterface& device() { return *m_rig->device; }
    bool locked() { return device().options()->discoverLock()->isLocked(); }
    void choose(const QString& serial) { device().options()->setReceiver(testsupport::receiver(serial, {}, ZorvaniControl::kDefaultPort)); }

private slots:
    void initTestCase()
    {
        QVERIFY(support::isolateHome(m_home)); // the band plan writes "itu.ini"
        REQUIRE_DISCOVERY_NETWORK(); // Auto address mode broadcasts
        zorvani::sim::Config c = testsupport::networkReceiver("10.77.0.2", ZorvaniControl::kDefaultPort, 321);
        c.paced = true;
        m_sim = testsupport::startedReceiver(c);
        QVERIFY(m_sim);
    }
    void init()
    {
        m_rig = std::make_unique<PanelRig>();
        zorvani::sim::Config c;
        c.address = kAddress, c.port = ZorvaniControl::kDefaultPort;
        QVERIFY(m_rig->start(c, false));
        m_rig->control<QComboBox>("cbModeIP")->setCurrentIndex(0); // Auto
        m_sim->setStartStatus(1);
    }
    void cleanup() { m_rig.reset(); }

    // Open, start, stop and close hold the discovery lock while streaming; a
    // forced stop and a start the firmware refuses close everything.
    void openStartStopClose()
    {
        QVERIFY(!device().start() && !locked()); // not open yet
        choose(m_sim->serialText());
        QVERIFY(device().open());
        QVERIFY(device().control()->receiverRecord().address == kAddress && device().options()->receiverRecord().serial == m_sim->serialText());
        QSignalSpy lock(device().options()->discoverLock(), &DiscoverLockMediator::lockChanged);
        QVERIFY(device().start() && device().isStarted() && locked());
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->counters().iqAnswered > 100, 3000);
        device().stop();
        QVERIFY(!device().isStarted() && !locked() && lock.count() == 2);
        device().close();
        QVERIFY(!device().isOpen() && m_rig->boxes.texts().isEmpty());

        QVERIFY(device().open() && device().start());
        device().setForceStop();
        QVERIFY(!device().isOpen() && !device().isStarted() && !locked());
        QVERIFY(m_sim->waitUntil([&] { return !m_sim->state().streaming; }, 1000));

        QVERIFY(device().open());
        m_sim->setStartStatus(2);
        QSignalSpy closed(&device(), &DeviceAbstract::devClosed);
        QVERIFY(!device().start());
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!device().isOpen() && !locked(), 2000);
        QCOMPARE(m_rig->boxes.texts(), QStringList{"You need update the ZorvaniDDC firmware."});
    }

    // "Info" opens the link in Auto mode, then shows the record, read again
    // while open. "Static IP" probes the typed address (leading zeros are
    // decimal); nobody there: the open fails and "Info" says so.
    void infoAndStaticAddress()
    {
        choose(m_sim->serialText());
        device().info();
        const QList<ox::ui::MessageRequest> boxes = m_rig->boxes.boxes();
        QVERIFY(boxes.size() == 1 && boxes[0].text == "Information.\t\t\t\t\t" && boxes[0].minimumWidth == 500);
        QVERIFY2(boxes[0].informativeText.startsWith("SDR type: ZorvaniDDC\nS/N: " + m_sim->serialText() + "\nVersion: 11.3\n"),
                 qPrintable(boxes[0].informativeText));
        QVERIFY(device().isOpen());
        device().info();
        QCOMPARE(m_rig->boxes.boxes().last().informativeText, boxes[0].informativeText);
        device().close();

        m_rig->boxes.clear();
        m_rig->control<QComboBox>("cbModeIP")->setCurrentIndex(1);
        m_rig->control<QLineEdit>("leIP")->setText(QStringLiteral("10.077.000.002"));
        m_rig->control<QSpinBox>("sbPort")->setValue(ZorvaniControl::kDefaultPort);
        QVERIFY(device().open());
        QCOMPARE(device().control()->receiverRecord().address, kAddress);
        QVERIFY(device().options()->receiverRecord().serial == m_sim->serialText() && !device().options()->receiverRecord().bootloader);
        device().close();
        m_rig->control<QLineEdit>("leIP")->setText(QStringLiteral("10.77.0.9"));
        QVERIFY(!device().open());
        device().info();
        QCOMPARE(m_rig->boxes.texts(), QStringList{"Can't get information because not found ZorvaniDDC."});
    }

    // A serial that is not around: no open, not available, the choice left to
    // the user; the one around is available (the check leaves the link closed)
    // and its address taken. A search, or the menu's "Discover", fills the chooser.
    void findingTheReceiver()
    {
        choose(QStringLiteral("OXD01000100999"));
        QVERIFY(!device().open() && !device().isDeviceAvalible());
        choose(m_sim->serialText());
        QVERIFY(device().isDeviceAvalible() && !device().isOpen());
        Receiver known;
        known.serial = m_sim->serialText();
        device().control()->setReceiverRecord(known);
        device().initReceiverAddr();
        QCOMPARE(device().control()->receiverRecord().address, kAddress);
        QCOMPARE(device().options()->receiverRecord().address, kAddress);
        QCOMPARE(device().dialog()->rows().size(), 0);
        known.serial = QStringLiteral("OXD01000100997");
        device().control()->setReceiverRecord(known);
        device().initReceiverAddr();
        QCOMPARE(device().dialog()->rows().size(), 1);
        QList<Receiver> none;
        for (int way = 0; way < 2; ++way) {
            device().dialog()->hide();
            device().dialog()->initList(none);
            if (way == 0)
                device().search();
            else
                device().options()->deviceMenuWidget()->findChild<QPushButton*>(QStringLiteral("pbDiscover"))->click();
            QVERIFY(device().dialog()->rows().size() == 1 && device().dialog()->isVisible());
        }
    }
};

QTEST_MAIN(TestLinkOperations)
#include "tst_linkoperations.moc"
