// A firmware update as the host and the user meet it: offered by the start
// sequence, interrupted, offered again for the receiver left in its
// bootloader, finished, and a new start that streams without a question;
// an update that owns the link until the plug-in's teardown; and a start
// refused for the firmware, the update declined.
#include "ControlRig.h"

#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "ZorvaniControl/ZorvaniFirmware/ZorvaniFirmware.h"
#include "discovery/DiscoverLockMediator.h"

#include <QtTest>

namespace {
constexpr quint16 kBoot = 0xFF11, kWrite = 2;
const QString kInBootloader = QStringLiteral("ZorvaniDDC receiver is in the firmware updating mode.\nDo you want to update now?");
} // namespace

class TestFirmwarePaths : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;

    // The plug-in on an emulator at `port`, its writer with short waits and a 5000-byte image.
    bool start(PanelRig& rig, quint16 port, bool oldFirmware)
    {
        zorvani::sim::Config c;
        c.port = port, c.bootSwitchMs = 50;
        c.versionMinor = oldFirmware ? 2 : c.versionMinor;
        c.startInBootloader = !oldFirmware;
        QFile f(m_home.filePath(QStringLiteral("image.mcu")));
        if (!rig.start(c) || !f.open(QIODevice::WriteOnly) || f.write(QByteArray(5000, '\x5a')) != 5000)
            return false;
        rig.panel().firmwareWriter()->setTiming({12, 20, 10});
        rig.panel().firmwareWriter()->setImagePath(f.fileName());
        rig.panel().driver()->setBootSettleTime(150);
        return true;
    }

private slots:
    void initTestCase() { QVERIFY(support::isolateHome(m_home)); }

    void interruptedUpdateIsOfferedAgainUntilItIsDone()
    {
        PanelRig rig;
        QVERIFY(start(rig, 37200, true));
        QSignalSpy states(rig.device.get(), &ZorvaniInterface::firmwareState);
        const auto ended = [&](int state) {
            return QTest::qWaitFor([&] {
                return !states.isEmpty() && states.last().at(0).toInt() == state && !rig.panel().firmwareUpdating();
            }, 60000);
        };
        // Old firmware: Yes to the update, whose chunks are never answered.
        rig.sim->dropReplies(kWrite, -1, kBoot);
        rig.boxes.answer({QMessageBox::Yes, QMessageBox::Cancel});
        QVERIFY(rig.device->open());
        QSignalSpy closed(rig.device.get(), &DeviceAbstract::devClosed);
        QVERIFY(!rig.device->start());
        QCOMPARE(closed.count(), 1);
        QVERIFY(ended(12));
        QCOMPARE(rig.boxes.texts(), (QStringList{"You need update the ZorvaniDDC firmware.",
                                                 "Firmware update error! Can not firmware update for ZorvaniDDC."}));
        QVERIFY(rig.sim->state().bootloader && !rig.device->isOpen());
        QVERIFY(states.contains(QVariantList{3, QStringLiteral("Executing step 1")})); // the window showed the steps
        // The receiver waits in its bootloader: the next start offers the update.
        rig.sim->dropReplies(kWrite, 0, kBoot);
        rig.boxes.clear();
        rig.boxes.answer({QMessageBox::Yes});
        states.clear();
        QVERIFY(rig.device->open());
        QVERIFY(!rig.device->start());
        QVERIFY(ended(13));
        QCOMPARE(rig.boxes.texts(), QStringList{kInBootloader});
        QCOMPARE(rig.sim->state().versionMinor, quint16(3));
        QCOMPARE(rig.sim->state().firmwareUpdates, 1);
        // Now current: the start streams without a question.
        rig.boxes.clear();
        QVERIFY(rig.device->open());
        QVERIFY(rig.device->start());
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim->counters().iqAnswered > 50, 10000);
        QVERIFY(rig.boxes.texts().isEmpty());
    }

    // "Info" on a receiver found in its bootloader offers the update; Yes
    // starts it. While the update owns the link the host's open, start and
    // close are refused; the teardown abandons it, the receiver waits in its bootloader.
    void theUpdateOwnsTheLinkUntilTeardown()
    {
        PanelRig rig;
        QVERIFY(start(rig, 37201, false));
        rig.boxes.answer({QMessageBox::Yes});
        rig.device->info();
        QCOMPARE(rig.boxes.texts(), QStringList{kInBootloader});
        QTRY_VERIFY_WITH_TIMEOUT(rig.panel().firmwareUpdating(), 5000);
        QVERIFY(rig.sim->waitForCommand(kWrite, 30000, 5, kBoot));
        QVERIFY(!rig.device->start() && !rig.device->open());
        rig.device->close();
        QVERIFY(rig.panel().firmwareUpdating());
        rig.device->deinit();
        rig.device.reset();
        QVERIFY(rig.sim->state().bootloader && rig.sim->commands(6, kBoot).isEmpty());
        QVERIFY(rig.sim->commands(kWrite, kBoot).size() < 448);
    }

    // Declined, the refused start closes the link, tells the host so and leaves discovery free.
    void refusedStartClosesTheLink()
    {
        PanelRig rig;
        zorvani::sim::Config c;
        c.port = 37202;
        QVERIFY(rig.start(c) && rig.device->open());
        rig.sim->setStartStatus(2);
        QSignalSpy closed(rig.device.get(), &DeviceAbstract::devClosed);
        QVERIFY(!rig.device->start());
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.device->isOpen() && !rig.device->options()->discoverLock()->isLocked(), 2000);
        QCOMPARE(rig.boxes.texts(), QStringList{"You need update the ZorvaniDDC firmware."});
    }
};

QTEST_MAIN(TestFirmwarePaths)
#include "tst_firmwarepaths.moc"
