// The link against the receiver emulator on loopback: the stream under
// network faults (loss - the emulator re-sends an unanswered packet after
// 40 ms, twice at most - reordering and duplication) and commands through a
// stream that never pauses. (The stream at every rate without faults:
// tst_streamminute; the watchdog on a stalled stream: tst_mainjob.)
#include "BoxScript.h"
#include "EmulatedLink.h"
#include "TestPorts.h"

#include <QtTest>

using zorvani::sim::Config;
Q_DECLARE_METATYPE(zorvani::sim::Faults)

class TestLinkEmulator : public QObject {
    Q_OBJECT
    ScriptedBoxes m_boxes; // boxes answered No where offered, else Ok
    int m_slot = 0;

    Config config()
    {
        Config c;
        c.port = testsupport::processPort(56000, m_slot++); // a fresh port: nothing of the last run arrives
        c.logCommands = false;
        return c;
    }

private slots:

    // About 2.6 s at 312500 Hz: what arrives is processed once and in order,
    // every answer goes out in sequence order, and loss costs no more than the
    // packets whose every transmission was lost (loss^3: 1e-6, 1.25e-4 and
    // 0.8 %; the bounds leave room for a busy machine).
    void streamKeepsWhatArrives_data()
    {
        QTest::addColumn<zorvani::sim::Faults>("faults");
        QTest::addColumn<double>("minimum"); // fraction of the stream processed
        const auto faults = [](double loss, double reorder, double duplicate) {
            zorvani::sim::Faults f;
            f.iqLoss = loss, f.iqReorder = reorder, f.iqDuplicate = duplicate;
            return f;
        };
        QTest::newRow("1 % loss") << faults(0.01, 0, 0) << 0.995;
        QTest::newRow("5 % loss") << faults(0.05, 0, 0) << 0.99;
        QTest::newRow("20 % loss") << faults(0.20, 0, 0) << 0.97;
        QTest::newRow("20 % reordered") << faults(0, 0.20, 0) << 0.995;
        QTest::newRow("20 % duplicated") << faults(0, 0, 0.20) << 0.995;
        QTest::newRow("5 % loss, 10 % reordered, 10 % duplicated") << faults(0.05, 0.10, 0.10) << 0.99;
    }
    void streamKeepsWhatArrives()
    {
        QFETCH(zorvani::sim::Faults, faults);
        QFETCH(double, minimum);
        EmulatedLink link(config(), 6000);
        link.sim.setFaults(faults);
        QSignalSpy givenUp(&link.driver, &ZorvaniDriver::iqPacketsGivenUp);
        QVERIFY(link.start(3));
        QVERIFY(link.sim.waitUntil([&] { return link.sim.state().streaming; }, 2000));
        QTRY_VERIFY_WITH_TIMEOUT(link.blocks() >= 4000, 60000);
        QVERIFY(link.driver.Stop());
        QVERIFY(link.sim.waitUntil([&] { return !link.sim.state().streaming; }, 2000));
        link.driver.close();

        const auto sent = link.sim.counters();
        const EmulatedLink::Order order = link.order();
        const auto iq = link.driver.device()->stream().counters();
        const QString numbers = QStringLiteral("%1 of %2 packets processed, %3 given up; emulator: %4 sent, %5 lost, %6 re-sent")
                                    .arg(order.processed).arg(order.span).arg(iq.givenUp).arg(sent.iqSent).arg(sent.iqLost).arg(sent.iqResent);
        QVERIFY2(order.ok, qPrintable(order.why));
        QVERIFY2(order.fraction() >= minimum, qPrintable(numbers));
        // (Answers may come late on a busy machine, even too late for the emulator to know them; never out of order.)
        QCOMPARE(sent.iqAnswersOutOfOrder, quint64(0));
        QCOMPARE(iq.resyncs, quint64(0));
        QCOMPARE(iq.processed, quint64(order.processed));
        // Processed or given up, nothing else, up to the last processed packet.
        QVERIFY2(qint64(iq.givenUp) >= order.span - order.processed, qPrintable(numbers));
        if (iq.givenUp > 0) // the last report crosses from the socket thread as the link closes
            QTRY_COMPARE_WITH_TIMEOUT(givenUp.constLast().at(0).toULongLong(), quint64(iq.givenUp), 2000);
        else
            QCOMPARE(givenUp.count(), 0);
    }

    void commandsPassAStreamThatNeverPauses()
    {
        Config c = config();
        c.paced = false; // the next packet as soon as the previous is answered
        c.fastWindow = 8;
        c.logCommands = true;
        zorvani::sim::Simulator sim(c);
        QVERIFY(sim.start());
        ZorvaniDriver driver(nullptr, nullptr);
        driver.device()->stream().setBlockEntry([](IqStream::Sample*, IqStream::Sample*, quint32) {
            QElapsedTimer t; // an engine entry that takes its time keeps the socket busy
            t.start();
            while (t.nsecsElapsed() < 30000) {
            }
            return false;
        });
        QVERIFY(driver.open(zorvani::sim::receiverRecord(sim)) && driver.Start());
        QTRY_VERIFY_WITH_TIMEOUT(sim.counters().iqAnswered > 500, 5000);
        for (int i = 0; i < 10; ++i) {
            driver.setFreq(0, 1000000.0 + i);
            QVERIFY2(sim.waitForCommand(8, 10000, i + 1), qPrintable(QStringLiteral("setFreq %1 never arrived").arg(i)));
        }
        SDR2_HDR info{};
        QVERIFY(driver.information(&info));
        driver.close(); // (a close that waited for the stream to pause would never return)
        QVERIFY(!driver.isOpen());
    }
};

QTEST_MAIN(TestLinkEmulator)
#include "tst_linkemulator.moc"
