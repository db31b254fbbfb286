// The firmware writer against the receiver emulator on loopback: what reaches
// the receiver's flash (the emulator deciphers every chunk), the states and
// progress the window shows, and every way an update can fail without ever
// being reported as done.
#include "../ControlRig.h"

#include "Protocol.h"
#include "SimulatorReceiver.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "ZorvaniControl/ZorvaniFirmware/FirmwareStates.h"
#include "ZorvaniControl/ZorvaniFirmware/ZorvaniFirmware.h"
#include "ZorvaniControl/ZorvaniFirmware/ZorvaniFirmwareDialog.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using zorvani::sim::Config;
namespace fw = zorvani::firmware;
using Answers = QList<QMessageBox::StandardButton>;

namespace {
constexpr quint16 kBoot = 0xFF11, kErase = 1, kWrite = 2, kReadSerial = 5, kQuit = 6, kGoToBoot = 28;
constexpr int kFlashBytes = 458752, kChunks = 448;
const QString kUpdateError = QStringLiteral("Firmware update error! Can not firmware update for ZorvaniDDC.");
} // namespace

// One emulated receiver, a driver and a writer with short waits.
struct WriterRig {
    ScriptedBoxes boxes;
    zorvani::sim::Simulator sim;
    QTemporaryDir dir;
    ZorvaniDriver driver{nullptr, nullptr};
    std::unique_ptr<ZorvaniFirmware> writer = std::make_unique<ZorvaniFirmware>(&driver);
    QObject context; // receives the writer's signals on this thread
    QList<int> states, progress;
    QByteArray image;

    // An image file of `size` random bytes (-1: no file at all).
    explicit WriterRig(int size) : sim(config())
    {
        driver.setBootSettleTime(150);
        writer->setTiming({12, 20, 10});
        writer->setSearchTargets([] { return QList<QHostAddress>{Config().address}; });
        QObject::connect(writer.get(), &ZorvaniFirmware::state, &context, [this](int s) { states << s; }, Qt::QueuedConnection);
        QObject::connect(writer.get(), &ZorvaniFirmware::progress, &context, [this](int p) { progress << p; }, Qt::QueuedConnection);
        QRandomGenerator random(1234);
        for (int i = 0; i < size; ++i)
            image += char(random.generate());
        const QString path = dir.filePath(QStringLiteral("image.mcu"));
        QFile f(path);
        if (size >= 0 && (!f.open(QIODevice::WriteOnly) || f.write(image) != image.size()))
            qFatal("cannot write the image");
        writer->setImagePath(path);
    }
    static Config config()
    {
        Config c;
        c.port = 37100;
        c.bootSwitchMs = 50;
        return c;
    }
    bool open() { return sim.start() && driver.open(zorvani::sim::receiverRecord(sim)); }
    bool waitForEnd(int state = -1)
    {
        return QTest::qWaitFor([&] {
            return !states.isEmpty() && (state < 0 ? fw::isEnd(states.last()) : states.contains(state)) && !writer->isUpdating();
        }, 60000);
    }
    // What the receiver's flash must hold: the image, zeros, the complement
    // of the emulator's own CRC-32 of all but the last 4 bytes.
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
        QTest::newRow("7") << 7 << "Connecting" << 0 << false << "Firmware update error! Can not go into bootloader mode.";
        for (int s : {8, 9, 10, 11, 12})
            QTest::addRow("%d", s) << s << "Connecting" << 0 << false << kUpdateError;
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

    // Each path ends in its state and box. Only a finished update reports
    // done: the image fills 448 chunks, zeros and CRC included; "admin" skips
    // the version check, so a current receiver takes the image. A chunk without
    // answer is not sent again: the attempt ends and the next starts from the erase.
    void updatePaths_data()
    {
        QTest::addColumn<int>("imageBytes"); // -1: no image file
        QTest::addColumn<bool>("admin");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<QList<int>>("states"); // the whole sequence, or the last state only
        QTest::addColumn<QString>("box");
        QTest::addColumn<QList<int>>("attempts"); // chunks written after each erase
        QTest::addColumn<bool>("inBootloader");
        QTest::addColumn<bool>("linkOpen");
        const QString none;
        QTest::newRow("whole image") << 1000 << true << none << Answers() << QList<int>{1, 2, 3, 5, 13} << none
                                     << QList<int>{kChunks} << false << false;
        QTest::newRow("first chunk unanswered, then whole") << 1000 << true << "drop write once" << Answers()
                                                            << QList<int>{1, 2, 3, 2, 3, 5, 13} << none
                                                            << QList<int>{1, kChunks} << false << false;
        QTest::newRow("erase fails twice, Retry") << 1000 << true << "fail erase twice" << Answers{QMessageBox::Retry}
                                                  << QList<int>{1, 2, 8, 1, 2, 3, 5, 13} << kUpdateError
                                                  << QList<int>{0, 0, kChunks} << false << false;
        QTest::newRow("image of 458753 bytes: nothing touched") << 458753 << true << none << Answers() << QList<int>{10}
                                                                << kUpdateError << QList<int>() << false << false;
        QTest::newRow("no image: nothing touched") << -1 << true << none << Answers() << QList<int>{9} << kUpdateError
                                                   << QList<int>() << false << false;
        QTest::newRow("current firmware without admin") << 1000 << false << none << Answers() << QList<int>{14}
                                                        << "Firmware is up to date." << QList<int>() << false << true;
        QTest::newRow("never enters the bootloader") << 1000 << true << "refuse bootloader" << Answers() << QList<int>{7}
                                                     << "Firmware update error! Can not go into bootloader mode."
                                                     << QList<int>() << false << false;
        QTest::newRow("erase fails twice, Cancel") << 1000 << true << "fail erase twice" << Answers() << QList<int>{8}
                                                   << kUpdateError << QList<int>{0, 0} << true << false;
        QTest::newRow("no chunk answered in two attempts") << 1000 << true << "drop every write" << Answers()
                                                           << QList<int>{12} << kUpdateError << QList<int>{1, 1} << true << false;
        // The image went out but the application does not answer afterwards: no success.
        QTest::newRow("silent application") << 1000 << true << "fail quit once" << Answers() << QList<int>{1, 2, 3, 5, 11}
                                            << kUpdateError << QList<int>{kChunks} << true << false;
    }
    void updatePaths()
    {
        QFETCH(int, imageBytes);
        QFETCH(bool, admin);
        QFETCH(QString, fault);
        QFETCH(Answers, answers);
        QFETCH(QList<int>, states);
        QFETCH(QString, box);
        QFETCH(QList<int>, attempts);
        QFETCH(bool, inBootloader);
        QFETCH(bool, linkOpen);
        WriterRig rig(imageBytes);
        rig.writer->setAdmin(admin);
        QVERIFY(rig.open());
        if (fault == "refuse bootloader")
            rig.sim.failCommands(kGoToBoot, -1);
        if (fault == "fail erase twice")
            rig.sim.failCommands(kErase, 2, kBoot);
        if (fault.startsWith("drop"))
            rig.sim.dropReplies(kWrite, fault.endsWith("once") ? 1 : -1, kBoot);
        if (fault == "fail quit once")
            rig.sim.failCommands(kQuit, 1, kBoot);
        rig.boxes.answer(answers);
        rig.writer->upgrade();
        const bool finished = states.last() == fw::Finished;
        QVERIFY(rig.waitForEnd(finished ? fw::Finished : -1));

        if (states.size() > 1)
            QCOMPARE(rig.states, states);
        QCOMPARE(rig.states.last(), states.last());
        QCOMPARE(rig.states.contains(fw::Finished), finished);
        QCOMPARE(rig.boxes.texts(), box.isEmpty() ? QStringList() : QStringList{box});
        QList<int> sizes;
        for (const QList<quint32>& attempt : rig.attempts()) {
            sizes << attempt.size();
            for (int i = 0; i < attempt.size(); ++i)
                QCOMPARE(attempt[i], quint32(i * 1024));
        }
        QCOMPARE(sizes, attempts);
        for (const auto& c : rig.sim.commands(kWrite, kBoot))
            QCOMPARE(c.bytes.size(), 18 + 1024);
        QCOMPARE(rig.sim.state().bootloader, inBootloader);
        QCOMPARE(rig.sim.state().firmwareUpdates, finished ? 1 : 0);
        if (finished)
            QVERIFY(rig.sim.flashImage() == rig.expectedFlash());
        else if (fault != "fail quit once")
            QVERIFY(rig.sim.commands(kQuit, kBoot).isEmpty());
        if (fault == "refuse bootloader") // the first probe, the switch's own probe, then twelve passes
            QCOMPARE(rig.sim.commands(kReadSerial, kBoot).size(), 14);
        if (!answers.isEmpty()) // the second run found the receiver waiting in its bootloader
            QCOMPARE(rig.sim.commands(kGoToBoot).size(), 1);
        QCOMPARE(rig.driver.isOpen(), linkOpen); // Cancel in the error box closes the link
        QVERIFY(!rig.writer->dialog()->isVisible());
        if (attempts == QList<int>{kChunks} && finished) {
            // One percent more every 4 or 5 chunks, 100 at the end.
            QCOMPARE(rig.progress.size(), kChunks + 1);
            QCOMPARE(rig.progress.mid(0, 6), (QList<int>{0, 0, 0, 0, 0, 1}));
            QCOMPARE(rig.progress.last(), 100);
            for (int percent = 0; percent < 100; ++percent)
                QVERIFY2(rig.progress.count(percent) == 4 || rig.progress.count(percent) == 5, qPrintable(QString::number(percent)));
            QVERIFY(std::is_sorted(rig.progress.cbegin(), rig.progress.cend()));
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
        QVERIFY(!rig.driver.isOpen());
        QVERIFY(rig.sim.state().bootloader);
        QVERIFY(rig.sim.commands(kQuit, kBoot).isEmpty());
        QVERIFY(rig.sim.commands(kWrite, kBoot).size() < kChunks);
    }
};

QTEST_MAIN(TestFirmwareWriter)
#include "tst_firmwarewriter.moc"
