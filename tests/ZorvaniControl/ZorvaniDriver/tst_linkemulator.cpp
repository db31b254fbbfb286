// The link against the receiver emulator on loopback: the stream at every
// rate and under network faults (loss - the emulator re-sends an unanswered
// packet after 40 ms, twice at most - reordering and duplication), commands
// through a stream that never pauses, and the watchdog on a stall.
#include "EmulatedLink.h"
#include "TestPorts.h"
#include "common/MessageBox.h"

#include <QElapsedTimer>
#include <QtTest>

using zorvani::sim::Config;

class TestLinkEmulator : public QObject {
    Q_OBJECT
    int m_slot = 0;

    Config config()
    {
        Config c;
        c.port = testsupport::processPort(56000, m_slot++); // a fresh port: nothing of the last run arrives
        c.logCommands = false;
        return c;
    }

private slots:
    void init() { ox::ui::setMessageHandler([](const ox::ui::MessageRequest&) { return QMessageBox::No; }); }
    void cleanup() { ox::ui::setMessageHandler({}); }

    // What arrives is processed once and in order, every answer goes out in
    // sequence order, and loss costs no more than the packets whose every
    // transmission was lost.
    void streamKeepsWhatArrives_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("audio");
        QTest::addColumn<int>("blocks");
        QTest::addColumn<double>("loss");
        QTest::addColumn<double>("reorder");
        QTest::addColumn<double>("duplicate");
        QTest::addColumn<double>("minimum"); // fraction of the stream processed
        // Two seconds at each rate, then about 2.6 s at 312500 Hz with faults.
        QTest::newRow("39062.5, acknowledges") << 0 << false << 390 << 0.0 << 0.0 << 0.0 << 0.995;
        QTest::newRow("78125, audio") << 1 << true << 781 << 0.0 << 0.0 << 0.0 << 0.995;
        QTest::newRow("156250, acknowledges") << 2 << false << 1562 << 0.0 << 0.0 << 0.0 << 0.995;
        QTest::newRow("312500, audio") << 3 << true << 3125 << 0.0 << 0.0 << 0.0 << 0.995;
        // All three transmissions of a packet are lost with loss^3: 1e-6,
        // 1.25e-4 and 0.8 %; the bounds leave room for a busy machine.
        QTest::newRow("1 % loss") << 3 << false << 4000 << 0.01 << 0.0 << 0.0 << 0.995;
        QTest::newRow("5 % loss") << 3 << false << 4000 << 0.05 << 0.0 << 0.0 << 0.99;
        QTest::newRow("20 % loss") << 3 << false << 4000 << 0.20 << 0.0 << 0.0 << 0.97;
        QTest::newRow("20 % reordered") << 3 << false << 4000 << 0.0 << 0.20 << 0.0 << 0.995;
        QTest::newRow("20 % duplicated") << 3 << false << 4000 << 0.0 << 0.0 << 0.20 << 0.995;
        QTest::newRow("5 % loss, 10 % reordered, 10 % duplicated") << 3 << false << 4000 << 0.05 << 0.10 << 0.10 << 0.99;
    }
    void streamKeepsWhatArrives()
    {
        QFETCH(int, rate);
        QFETCH(bool, audio);
        QFETCH(int, blocks);
        QFETCH(double, loss);
        QFETCH(double, reorder);
        QFETCH(double, duplicate);
        QFETCH(double, minimum);
        EmulatedLink link(config(), blocks + 2000);
        zorvani::sim::Faults faults;
        faults.iqLoss = loss;
        faults.iqReorder = reorder;
        faults.iqDuplicate = duplicate;
        link.sim.setFaults(faults);
        link.answerWithAudio(audio);
        QSignalSpy givenUp(&link.driver, &ZorvaniDriver::iqPacketsGivenUp);
        QVERIFY(link.start(rate));
        QVERIFY(link.sim.waitUntil([&] { return link.sim.state().streaming; }, 2000));
        QCOMPARE(link.sim.state().rateIndex, rate);
        QTRY_VERIFY_WITH_TIMEOUT(link.blocks() >= blocks, 60000);
        QVERIFY(link.driver.Stop());
        QVERIFY(link.sim.waitUntil([&] { return !link.sim.state().streaming; }, 2000));
        link.driver.close();

        const auto sent = link.sim.counters();
        const EmulatedLink::Order order = link.order();
        const auto iq = link.driver.device()->stream().counters();
        const QString numbers = QStringLiteral("%1 of %2 packets processed, %3 given up, %4 resyncs; emulator: %5 sent, "
                                               "%6 lost, %7 re-sent, %8 reordered, %9 duplicated, %10 answered, %11 with audio")
                                    .arg(order.processed).arg(order.span).arg(iq.givenUp).arg(iq.resyncs).arg(sent.iqSent)
                                    .arg(sent.iqLost).arg(sent.iqResent).arg(sent.iqReordered).arg(sent.iqDuplicated)
                                    .arg(sent.iqAnswered).arg(sent.iqAnswersFull);
        qInfo().noquote() << QTest::currentDataTag() << numbers;
        QVERIFY2(order.ok, qPrintable(order.why));
        QVERIFY2(order.fraction() >= minimum, qPrintable(numbers));
        // (Answers may come late on a busy machine, even too late for the
        // emulator to know them; never out of order.)
        QCOMPARE(sent.iqAnswersOutOfOrder, quint64(0));
        QCOMPARE(iq.resyncs, quint64(0));
        QCOMPARE(iq.processed, quint64(order.processed));
        // Processed or given up, nothing else, up to the last processed packet.
        QVERIFY2(qint64(iq.givenUp) >= order.span - order.processed, qPrintable(numbers));
        if (iq.givenUp > 0) // the last report crosses from the socket thread as the link closes
            QTRY_COMPARE_WITH_TIMEOUT(givenUp.constLast().at(0).toULongLong(), quint64(iq.givenUp), 2000);
        else
            QCOMPARE(givenUp.count(), 0);
        if (loss + reorder + duplicate == 0.0) {
            // Every packet but the one in flight at the stop was answered, with audio when there was some.
            QCOMPARE(sent.iqAnswersUnknown, quint64(0));
            QVERIFY2(sent.iqAnswered + 1 >= sent.iqSent, qPrintable(numbers));
            QVERIFY2(audio ? sent.iqAnswersFull + 1 >= sent.iqSent : sent.iqAnswersFull == 0, qPrintable(numbers));
        }
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
        QVERIFY(driver.open(zorvani::sim::receiverRecord(sim)));
        QVERIFY(driver.Start());
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

    // An idle open link and a flowing stream keep the watchdog quiet; a stall trips it once.
    void watchdogAfterIqStall()
    {
        zorvani::sim::Simulator sim(config());
        QVERIFY(sim.start());
        ZorvaniDriver driver(nullptr, nullptr);
        QSignalSpy stop(&driver, &ZorvaniDriver::forceStop);
        QVERIFY(driver.open(zorvani::sim::receiverRecord(sim)));
        QTest::qWait(300);
        QVERIFY(driver.Start());
        QTRY_VERIFY_WITH_TIMEOUT(sim.counters().iqAnswered > 50, 10000);
        QCOMPARE(stop.count(), 0);
        sim.setIqStall(true);
        QTRY_COMPARE_WITH_TIMEOUT(stop.count(), 1, 15000);
        QVERIFY(driver.device()->wait(1000));
        QCOMPARE(stop.count(), 1);
        driver.close();
        QVERIFY(!driver.isOpen());
    }
};

QTEST_MAIN(TestLinkEmulator)
#include "tst_linkemulator.moc"
