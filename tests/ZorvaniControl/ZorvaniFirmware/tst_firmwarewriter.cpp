// The firmware writer against the receiver emulator on loopback: what reaches
// the receiver's flash (the emulator deciphers every chunk), the states and
// progress reported, and every way an update can fail without ever being
// reported as done.
#include "BoxScript.h"
#include "Protocol.h"
#include "SimulatorReceiver.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "ZorvaniControl/ZorvaniFirmware/FirmwareStates.h"
#include "ZorvaniControl/ZorvaniFirmware/ZorvaniFirmware.h"
#include "ZorvaniControl/ZorvaniFirmware/ZorvaniFirmwareDialog.h"

#include <QtTest>

using zorvani::sim::Config;
namespace fw = zorvani::firmware;
using Answers = QList<QMessageBox::StandardButton>;

namespace {
constexpr quint16 kBoot = 0xFF11, kErase = 1, kWrite = 2, kReadSerial = 5, kQuit = 6, kGoToBoot = 28;
constexpr int kFlashBytes = 458752, kChunks = 448;
const QString kUpdateError = QStringLiteral("Firmware update error! Can not firmware update for ZorvaniDDC.");

// An update: the image (-1 bytes: no file), "admin", the receiver's fault, the
// answers to the error box, the states (the whole sequence, or the last only),
// the box, the chunks written after each erase, where the receiver and the link end.
struct Update {
    int imageBytes;
    bool admin;
    QString fault;
    Answers answers;
    QList<int> states;
    QString box;
    QList<int> attempts;
    bool inBootloader, linkOpen;
};
} // namespace
Q_DECLARE_METATYPE(Update)

// One emulated receiver, a driver and a writer with short waits, on an image of `size` random bytes (-1: no file).
struct WriterRig {
    ScriptedBoxes boxes;
    zorvani::sim::Simulator sim{[] { Config c; c.port = 37100; c.bootSwitchMs = 50; return c; }()};
    QTemporaryDir dir;
    ZorvaniDriver driver{nullptr, nullptr};
    std::unique_ptr<ZorvaniFirmware> writer = std::make_unique<ZorvaniFirmware>(&driver);
    QObject context; // receives the writer's signals on this thread
    QList<int> states, progress;
    QByteArray image;

    explicit WriterRig(int size)
    {
        driver.setBootSettleTime(150);
        writer->setTiming({12, 20, 10});
        writer->setSearchTargets([] { return QList<QHostAddress>{Config().address}; });
        QObject::connect(writer.get(), &ZorvaniFirmware::state, &context, [this](int s) { states << s; }, Qt::QueuedConnection);
        QObject::connect(writer.get(), &ZorvaniFirmware::progress, &context, [this](int p) { progress << p; }, Qt::QueuedConnection);
        QRandomGenerator random(1234);
        for (int i = 0; i < size; ++i)
            image += char(random.generate());
        QFile f(dir.filePath(QStringLiteral("image.mcu")));
        if (size >= 0 && (!f.open(QIODevice::WriteOnly) || f.write(image) != image.size()))
            qFatal("cannot write the image");
        writer->setImagePath(f.fileName());
    }
    bool open() { return sim.start() && driver.open(zorvani::sim::receiverRecord(sim)); }
    bool waitForEnd(int state)
    {
        return QTest::qWaitFor([&] {
            return !states.isEmpty() && (state < 0 ? fw::isEnd(states.last()) : states.contains(state)) && !writer->isUpdating();
        }, 60000);
    }
    // What the flash must hold: the image, zeros, the complement of the emulator's own CRC-32 of all but the last 4 bytes.
    QByteArray expectedFlash() const
    {
        QByteArray flash = image + QByteArray(kFlashBytes - image.size(), '\0');
        zorvani::sim::proto::wr32(flash, kFlashBytes - 4, ~zorvani::sim::proto::crc32(flash.constData(), kFlashBytes - 4));
        return flash;
    }
    // The flash writes after each erase: the offsets of each attempt, in order.
    QList<QList<quint32>> attempts() const
    {
        QList<QList<quint32>> out;
        for (const auto& c : sim.commandLog())
            if (c.magic == kBoot && c.command == kErase)
                out.append(QList<quint32>());
            else if (c.magic == kBoot && c.command == kWrite && !out.isEmpty())
                out.last() << zorvani::sim::proto::rd32(c.bytes, 6);
        return out;
    }
};

class TestFirmwareWriter : public QObject {
    Q_OBJECT
private slots:
    // Each path ends in its state and box. Only a finished update reports
    // done: the image fills 448 chunks, zeros and CRC included; "admin" skips
    // the version check, so a current receiver takes the image. A chunk without
    // answer is not sent again: the attempt ends and the next starts from the erase.
    void updatePaths_data()
    {
        QTest::addColumn<Update>("u");
        const QString none;
        QTest::newRow("whole image") << Update{1000, true, none, {}, {1, 2, 3, 5, 13}, none, {kChunks}, false, false};
        QTest::newRow("first chunk unanswered, then whole")
            << Update{1000, true, "drop write once", {}, {1, 2, 3, 2, 3, 5, 13}, none, {1, kChunks}, false, false};
        QTest::newRow("erase fails twice, Retry")
            << Update{1000, true, "fail erase twice", {QMessageBox::Retry}, {1, 2, 8, 1, 2, 3, 5, 13}, kUpdateError, {0, 0, kChunks}, false, false};
        QTest::newRow("image of 458753 bytes: nothing touched") << Update{458753, true, none, {}, {10}, kUpdateError, {}, false, false};
        QTest::newRow("no image: nothing touched") << Update{-1, true, none, {}, {9}, kUpdateError, {}, false, false};
        QTest::newRow("current firmware without admin") << Update{1000, false, none, {}, {14}, "Firmware is up to date.", {}, false, true};
        QTest::newRow("never enters the bootloader")
            << Update{1000, true, "refuse bootloader", {}, {7}, "Firmware update error! Can not go into bootloader mode.", {}, false, false};
        QTest::newRow("erase fails twice, Cancel") << Update{1000, true, "fail erase twice", {}, {8}, kUpdateError, {0, 0}, true, false};
        QTest::newRow("no chunk answered in two attempts") << Update{1000, true, "drop every write", {}, {12}, kUpdateError, {1, 1}, true, false};
        // The image went out but the application does not answer afterwards: no success.
        QTest::newRow("silent application") << Update{1000, true, "fail quit once", {}, {1, 2, 3, 5, 11}, kUpdateError, {kChunks}, true, false};
    }
    void updatePaths()
    {
        QFETCH(Update, u);
        WriterRig rig(u.imageBytes);
        rig.writer->setAdmin(u.admin);
        QVERIFY(rig.open());
        if (u.fault == "refuse bootloader")
            rig.sim.failCommands(kGoToBoot, -1);
        else if (u.fault.startsWith("fail")) // the erase twice or the bootloader's exit once
            rig.sim.failCommands(u.fault.contains("erase") ? kErase : kQuit, u.fault.endsWith("twice") ? 2 : 1, kBoot);
        else if (u.fault.startsWith("drop"))
            rig.sim.dropReplies(kWrite, u.fault.endsWith("once") ? 1 : -1, kBoot);
        rig.boxes.answer(u.answers);
        rig.writer->upgrade();
        const bool finished = u.states.last() == fw::Finished;
        QVERIFY(rig.waitForEnd(finished ? fw::Finished : -1));

        QCOMPARE(u.states.size() > 1 ? rig.states : QList<int>{rig.states.last()}, u.states);
        QCOMPARE(rig.states.contains(fw::Finished), finished);
        QCOMPARE(rig.boxes.texts(), u.box.isEmpty() ? QStringList() : QStringList{u.box});
        QList<int> sizes;
        for (const QList<quint32>& attempt : rig.attempts()) {
            sizes << attempt.size();
            for (int i = 0; i < attempt.size(); ++i)
                QCOMPARE(attempt[i], quint32(i * 1024));
        }
        QCOMPARE(sizes, u.attempts);
        for (const auto& c : rig.sim.commands(kWrite, kBoot))
            QCOMPARE(c.bytes.size(), 18 + 1024);
        QVERIFY(rig.sim.state().bootloader == u.inBootloader && rig.sim.state().firmwareUpdates == (finished ? 1 : 0));
        if (finished)
            QVERIFY(rig.sim.flashImage() == rig.expectedFlash());
        else if (u.fault != "fail quit once")
            QVERIFY(rig.sim.commands(kQuit, kBoot).isEmpty());
        if (u.fault == "refuse bootloader") // the first probe, the switch's own probe, then twelve passes
            QCOMPARE(rig.sim.commands(kReadSerial, kBoot).size(), 14);
        if (!u.answers.isEmpty()) // the second run found the receiver waiting in its bootloader
            QCOMPARE(rig.sim.commands(kGoToBoot).size(), 1);
        QVERIFY(rig.driver.isOpen() == u.linkOpen && !rig.writer->dialog()->isVisible()); // Cancel in the error box closes the link
        if (u.attempts == QList<int>{kChunks} && finished) { // a percent more every 4 or 5 chunks, 100 at the end
            QVERIFY(rig.progress.size() == kChunks + 1 && rig.progress.last() == 100 && std::is_sorted(rig.progress.cbegin(), rig.progress.cend()));
            for (int percent = 0; percent < 100; ++percent)
                QVERIFY2(rig.progress.count(percent) == 4 || rig.progress.count(percent) == 5, qPrintable(QString::number(percent)));
        }
    }

    // Torn down half way, the writer ends at once and the receiver stays in its bootloader.
    void abandonedUpdateLeavesTheBootloader()
    {
        WriterRig rig(1000);
        rig.writer->setAdmin(true);
        QVERIFY(rig.open());
        rig.writer->upgrade();
        QVERIFY(rig.sim.waitForCommand(kWrite, 30000, 10, kBoot));
        rig.writer.reset();
        QVERIFY(!rig.driver.isOpen() && rig.sim.state().bootloader);
        QVERIFY(rig.sim.commands(kQuit, kBoot).isEmpty());
        QVERIFY(rig.sim.commands(kWrite, kBoot).size() < kChunks);
    }
};

QTEST_MAIN(TestFirmwareWriter)
#include "tst_firmwarewriter.moc"
