// The firmware writer against the receiver emulator on loopback: what reaches
// the receiver's flash (the emulator deciphers every chunk), the states and
// progress the window shows, and every way an update can fail without ever
// being reported as done.
#include "ScriptedBoxes.h"

#include "Protocol.h"
#include "Simulator.h"
#include "SimulatorReceiver.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "ZorvaniControl/ZorvaniFirmware/FirmwareStates.h"
#include "ZorvaniControl/ZorvaniFirmware/ZorvaniFirmware.h"
#include "ZorvaniControl/ZorvaniFirmware/ZorvaniFirmwareDialog.h"

#include <QProgressBar>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using zorvani::sim::Config;
using zorvani::sim::Simulator;
namespace fw = zorvani::firmware;

namespace {
constexpr quint16 kPort = 37100;
constexpr quint16 kBoot = 0xFF11;
constexpr quint16 kErase = 1;
constexpr quint16 kWrite = 2;
constexpr quint16 kReadSerial = 5;
constexpr quint16 kQuit = 6;
constexpr quint16 kGoToBoot = 28;
constexpr int kFlashBytes = 458752;
constexpr int kChunks = 448;
const QString kUpdateError = QStringLiteral("Firmware update error! Can not firmware update for ZorvaniDDC.");

QByteArray randomBytes(int size)
{
    QByteArray b(size, '\0');
    QRandomGenerator gen(1234);
    for (char& c : b)
        c = char(gen.generate());
    return b;
}

// What the receiver's flash must hold after an image `file`: its bytes, zeros,
// the complement of the emulator's own CRC-32 of all but the last 4 bytes.
QByteArray expectedFlash(const QByteArray& file)
{
    QByteArray flash(kFlashBytes, '\0');
    std::copy(file.cbegin(), file.cend(), flash.begin());
    zorvani::sim::proto::wr32(flash, kFlashBytes - 4, ~zorvani::sim::proto::crc32(flash.constData(), kFlashBytes - 4));
    return flash;
}

QList<quint32> everyOffset()
{
    QList<quint32> offsets;
    for (int i = 0; i < kChunks; ++i)
        offsets << quint32(i * 1024);
    return offsets;
}
} // namespace

// One emulated receiver, a driver and a writer with short waits.
struct WriterRig {
    ScriptedBoxes boxes;
    Simulator sim;
    QTemporaryDir dir;
    ZorvaniDriver driver{nullptr, nullptr};
    std::unique_ptr<ZorvaniFirmware> writer = std::make_unique<ZorvaniFirmware>(&driver);
    QObject context; // receives the writer's signals on this thread
    QList<int> states;
    QList<int> progress;

    explicit WriterRig(Config c) : sim(withPort(c))
    {
        driver.setBootSettleTime(150);
        writer->setTiming({12, 20, 10});
        writer->setAdmin(false);
        const QHostAddress address = c.address;
        writer->setSearchTargets([address] { return QList<QHostAddress>{address}; });
        QObject::connect(writer.get(), &ZorvaniFirmware::state, &context, [this](int s) { states << s; },
                         Qt::QueuedConnection);
        QObject::connect(writer.get(), &ZorvaniFirmware::progress, &context, [this](int p) { progress << p; },
                         Qt::QueuedConnection);
    }
    static Config withPort(Config c)
    {
        c.port = kPort;
        c.bootSwitchMs = 50;
        return c;
    }

    // Image file of `size` bytes (-1: no file at all).
    QByteArray useImage(int size)
    {
        const QString path = dir.filePath(QStringLiteral("image.mcu"));
        const QByteArray bytes = randomBytes(std::max(size, 0));
        if (size >= 0) {
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
                return {};
        }
        writer->setImagePath(path);
        return bytes;
    }

    bool open() { return sim.start() && driver.open(zorvani::sim::receiverRecord(sim)); }

    bool waitForState(int state, int ms = 60000)
    {
        return QTest::qWaitFor([&] { return states.contains(state) && !writer->isUpdating(); }, ms);
    }
    bool waitForEnd(int ms = 60000)
    {
        return QTest::qWaitFor([&] { return !states.isEmpty() && fw::isEnd(states.last()) && !writer->isUpdating(); },
                               ms);
    }

    // The flash writes after each erase: the offsets of each attempt, in order.
    QList<QList<quint32>> attempts() const
    {
        QList<QList<quint32>> out;
        for (const auto& c : sim.commandLog()) {
            if (c.magic != kBoot)
                continue;
            if (c.command == kErase)
                out.append(QList<quint32>());
            else if (c.command == kWrite && !out.isEmpty())
                out.last() << zorvani::sim::proto::rd32(c.bytes, 6);
        }
        return out;
    }
};

class TestFirmwareWriter : public QObject {
    Q_OBJECT
private slots:
    void dialogShowsEachState_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("maximum"); // of the progress bar; 0: busy
        QTest::addColumn<bool>("visible");
        QTest::addColumn<QString>("box");
        QTest::newRow("0") << 0 << "Connection" << 0 << true << QString();
        QTest::newRow("2") << 2 << "Connection" << 0 << true << QString();
        QTest::newRow("3") << 3 << "Executing step 1" << 100 << true << QString();
        QTest::newRow("4") << 4 << "Executing step 2" << 0 << true << QString();
        QTest::newRow("5") << 5 << "Reset" << 0 << true << QString();
        QTest::newRow("6") << 6 << "Connecting" << 0 << false << "Firmware update error! Can not open UDP port.";
        QTest::newRow("7") << 7 << "Connecting" << 0 << false
                           << "Firmware update error! Can not go into bootloader mode.";
        for (int s : {8, 9, 10, 11, 12})
            QTest::newRow(qPrintable(QString::number(s))) << s << "Connecting" << 0 << false << kUpdateError;
        QTest::newRow("13") << 13 << "Connecting" << 0 << false << QString();
        QTest::newRow("14") << 14 << "Connecting" << 0 << false << "Firmware is up to date.";
    }
    void dialogShowsEachState()
    {
        QFETCH(int, state);
        QFETCH(QString, status);
        QFETCH(int, maximum);
        QFETCH(bool, visible);
        QFETCH(QString, box);
        ScriptedBoxes boxes;
        ZorvaniFirmwareDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Firmware updating"));
        QVERIFY(dialog.isModal());
        QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
        QSignalSpy retry(&dialog, &ZorvaniFirmwareDialog::retry);
        QSignalSpy cancel(&dialog, &ZorvaniFirmwareDialog::cancel);
        dialog.setState(state);
        QCOMPARE(dialog.statusText(), status);
        QCOMPARE(dialog.progressMaximum(), maximum);
        QCOMPARE(dialog.isVisible(), visible);
        QCOMPARE(boxes.texts(), box.isEmpty() ? QStringList() : QStringList{box});
        if (fw::isError(state)) {
            const auto asked = boxes.boxes().first();
            QCOMPARE(asked.title, QStringLiteral("Velmora2"));
            QCOMPARE(asked.buttons, QMessageBox::Retry | QMessageBox::Cancel);
            QCOMPARE(asked.defaultButton, QMessageBox::Retry);
            QCOMPARE(cancel.count(), 1); // answered Cancel
            // Retry keeps the window and asks for the update again.
            dialog.show();
            boxes.answer({QMessageBox::Retry});
            dialog.setState(state);
            QCOMPARE(retry.count(), 1);
            QVERIFY(dialog.isVisible());
        } else {
            QCOMPARE(retry.count() + cancel.count(), 0);
        }
    }

    // "admin" skips the version check, so a current receiver takes the image;
    // a 1000-byte image fills 448 chunks, zeros and the CRC included.
    void writesTheWholeImage()
    {
        WriterRig rig(Config{});
        const QByteArray file = rig.useImage(1000);
        rig.writer->setAdmin(true);
        QVERIFY(rig.open());
        rig.writer->upgrade();
        QVERIFY(rig.waitForEnd());

        QCOMPARE(rig.states, (QList<int>{1, 2, 3, 5, 13}));
        QCOMPARE(rig.attempts(), QList<QList<quint32>>{everyOffset()});
        for (const auto& c : rig.sim.commands(kWrite, kBoot))
            QCOMPARE(c.bytes.size(), 18 + 1024);
        QVERIFY(rig.sim.flashImage() == expectedFlash(file));
        QVERIFY(!rig.sim.commands(kQuit, kBoot).isEmpty());
        QCOMPARE(rig.sim.state().firmwareUpdates, 1);
        QVERIFY(!rig.sim.state().bootloader);

        // One percent more every 4 or 5 chunks, 100 at the end.
        QCOMPARE(rig.progress.size(), kChunks + 1);
        QCOMPARE(rig.progress.mid(0, 6), (QList<int>{0, 0, 0, 0, 0, 1}));
        QCOMPARE(rig.progress.last(), 100);
        for (int percent = 0; percent < 100; ++percent) {
            const int n = int(rig.progress.count(percent));
            QVERIFY2(n == 4 || n == 5, qPrintable(QStringLiteral("%1 %% came %2 times").arg(percent).arg(n)));
        }
        QVERIFY(std::is_sorted(rig.progress.cbegin(), rig.progress.cend()));

        QVERIFY(!rig.driver.isOpen());
        QVERIFY(!rig.writer->dialog()->isVisible());
        QVERIFY(rig.boxes.boxes().isEmpty());
    }

    // Each failure ends in its state and box; nothing in them leaves the
    // bootloader or calls the update done.
    void failuresEndInTheirBox_data()
    {
        QTest::addColumn<int>("imageBytes"); // -1: no image file
        QTest::addColumn<bool>("admin");
        QTest::addColumn<bool>("refuseBootloader");
        QTest::addColumn<int>("failedErases");
        QTest::addColumn<bool>("chunksUnanswered");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("erases");
        QTest::addColumn<bool>("inBootloader");

        QTest::newRow("image of 458753 bytes: nothing touched")
            << 458753 << true << false << 0 << false << 10 << kUpdateError << 0 << false;
        QTest::newRow("no image: nothing touched") << -1 << true << false << 0 << false << 9 << kUpdateError << 0 << false;
        QTest::newRow("current firmware without admin")
            << 1000 << false << false << 0 << false << 14 << QStringLiteral("Firmware is up to date.") << 0 << false;
        QTest::newRow("never enters the bootloader")
            << 1000 << true << true << 0 << false << 7
            << QStringLiteral("Firmware update error! Can not go into bootloader mode.") << 0 << false;
        QTest::newRow("erase fails twice") << 1000 << true << false << 2 << false << 8 << kUpdateError << 2 << true;
        QTest::newRow("no chunk answered in two attempts")
            << 1000 << true << false << 0 << true << 12 << kUpdateError << 2 << true;
    }
    void failuresEndInTheirBox()
    {
        QFETCH(int, imageBytes);
        QFETCH(bool, admin);
        QFETCH(bool, refuseBootloader);
        QFETCH(int, failedErases);
        QFETCH(bool, chunksUnanswered);
        QFETCH(int, state);
        QFETCH(QString, box);
        QFETCH(int, erases);
        QFETCH(bool, inBootloader);

        WriterRig rig(Config{});
        rig.useImage(imageBytes);
        rig.writer->setAdmin(admin);
        QVERIFY(rig.open());
        if (refuseBootloader)
            rig.sim.failCommands(kGoToBoot, -1);
        if (failedErases)
            rig.sim.failCommands(kErase, failedErases, kBoot);
        if (chunksUnanswered)
            rig.sim.dropReplies(kWrite, -1, kBoot);
        rig.writer->upgrade();
        QVERIFY(rig.waitForEnd());

        QCOMPARE(rig.states.last(), state);
        QVERIFY(!rig.states.contains(fw::Finished));
        QCOMPARE(rig.boxes.texts(), QStringList{box});
        QCOMPARE(rig.sim.commands(kErase, kBoot).size(), erases);
        QCOMPARE(rig.sim.state().bootloader, inBootloader);
        QVERIFY(rig.sim.commands(kQuit, kBoot).isEmpty());
        QCOMPARE(rig.sim.state().firmwareUpdates, 0);
        if (chunksUnanswered) // each attempt stopped at its first chunk, sent once
            QCOMPARE(rig.attempts(), (QList<QList<quint32>>{{0}, {0}}));
        if (refuseBootloader) // the first probe, the switch's own probe, then twelve passes
            QCOMPARE(rig.sim.commands(kReadSerial, kBoot).size(), 14);
        // Cancel in the error box closes the link; "up to date" leaves it open.
        QCOMPARE(rig.driver.isOpen(), state == fw::UpToDate);
    }

    // A chunk without answer is not sent again: the attempt ends and the
    // next one starts from the erase, then succeeds.
    void unansweredChunkStartsAgainFromTheErase()
    {
        WriterRig rig(Config{});
        const QByteArray file = rig.useImage(1000);
        rig.writer->setAdmin(true);
        QVERIFY(rig.open());
        rig.sim.dropReplies(kWrite, 1, kBoot);
        rig.writer->upgrade();
        QVERIFY(rig.waitForEnd());
        QCOMPARE(rig.states, (QList<int>{1, 2, 3, 2, 3, 5, 13}));
        QCOMPARE(rig.attempts(), (QList<QList<quint32>>{{0}, everyOffset()}));
        QVERIFY(rig.sim.flashImage() == expectedFlash(file));
        QVERIFY(rig.boxes.boxes().isEmpty());
    }

    void retryAfterAFailureSucceeds()
    {
        WriterRig rig(Config{});
        const QByteArray file = rig.useImage(1000);
        rig.writer->setAdmin(true);
        QVERIFY(rig.open());
        rig.sim.failCommands(kErase, 2, kBoot);
        rig.boxes.answer({QMessageBox::Retry});
        rig.writer->upgrade();
        QVERIFY(rig.waitForState(fw::Finished));
        QCOMPARE(rig.states, (QList<int>{1, 2, 8, 1, 2, 3, 5, 13}));
        QCOMPARE(rig.boxes.texts(), QStringList{kUpdateError});
        // The second run found the receiver waiting in its bootloader.
        QCOMPARE(rig.sim.commands(kGoToBoot).size(), 1);
        QVERIFY(rig.sim.flashImage() == expectedFlash(file));
        QCOMPARE(rig.sim.state().firmwareUpdates, 1);
    }

    // The image went out but the application does not answer afterwards:
    // that is no success.
    void silentApplicationIsNoSuccess()
    {
        WriterRig rig(Config{});
        rig.useImage(1000);
        rig.writer->setAdmin(true);
        QVERIFY(rig.open());
        rig.sim.failCommands(kQuit, 1, kBoot);
        rig.writer->upgrade();
        QVERIFY(rig.waitForEnd());
        QCOMPARE(rig.states, (QList<int>{1, 2, 3, 5, 11}));
        QCOMPARE(rig.boxes.texts(), QStringList{kUpdateError});
        QVERIFY(rig.sim.state().bootloader);
        QVERIFY(!rig.driver.isOpen());
    }

    // Torn down half way, the writer ends at once and the receiver stays in
    // its bootloader.
    void abandonedUpdateLeavesTheBootloader()
    {
        WriterRig rig(Config{});
        rig.useImage(1000);
        rig.writer->setAdmin(true);
        QVERIFY(rig.open());
        rig.writer->upgrade();
        QVERIFY(rig.sim.waitForCommand(kWrite, 30000, 10, kBoot));
        rig.writer.reset();
        QVERIFY(!rig.driver.isOpen());
        QVERIFY(rig.sim.state().bootloader);
        QVERIFY(rig.sim.commands(kQuit, kBoot).isEmpty());
        QVERIFY(rig.sim.commands(kWrite, kBoot).size() < kChunks);
    }
};

QTEST_MAIN(TestFirmwareWriter)
#include "tst_firmwarewriter.moc"
