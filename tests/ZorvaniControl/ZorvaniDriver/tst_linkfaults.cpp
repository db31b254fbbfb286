// The IQ stream against the emulator's network faults: loss (the emulator
// re-sends an unanswered packet after 40 ms, twice at most), reordering and
// duplication. What arrives is processed once and in order, every answer goes
// out in sequence order, and loss costs no more than the packets whose every
// transmission was lost.
#include "EmulatedLink.h"
#include "TestPorts.h"
#include "common/MessageBox.h"

#include <QtTest>

using zorvani::sim::Config;
using zorvani::sim::Faults;

class TestLinkFaults : public QObject {
    Q_OBJECT
    int m_row = 0;

private slots:
    void init() { ox::ui::setMessageHandler([](const ox::ui::MessageRequest&) { return QMessageBox::No; }); }
    void cleanup() { ox::ui::setMessageHandler({}); }

    void streamKeepsWhatArrives_data()
    {
        QTest::addColumn<double>("loss");
        QTest::addColumn<double>("reorder");
        QTest::addColumn<double>("duplicate");
        QTest::addColumn<double>("minimum"); // fraction of the stream processed
        // All three transmissions of a packet are lost with loss^3: 1e-6,
        // 1.25e-4 and 0.8 %; the bounds leave room for a busy machine.
        QTest::newRow("1 % loss") << 0.01 << 0.0 << 0.0 << 0.995;
        QTest::newRow("5 % loss") << 0.05 << 0.0 << 0.0 << 0.99;
        QTest::newRow("20 % loss") << 0.20 << 0.0 << 0.0 << 0.97;
        QTest::newRow("20 % reordered") << 0.0 << 0.20 << 0.0 << 0.995;
        QTest::newRow("20 % duplicated") << 0.0 << 0.0 << 0.20 << 0.995;
        QTest::newRow("5 % loss, 10 % reordered, 10 % duplicated") << 0.05 << 0.10 << 0.10 << 0.99;
    }
    void streamKeepsWhatArrives()
    {
        QFETCH(double, loss);
        QFETCH(double, reorder);
        QFETCH(double, duplicate);
        QFETCH(double, minimum);
        constexpr int kBlocks = 4000; // about 2.6 s at 312500 Hz
        Config c;
        c.port = testsupport::processPort(56000, m_row++); // a fresh port: nothing of the last row arrives
        c.logCommands = false;
        EmulatedLink link(c, kBlocks + 2000);
        Faults faults;
        faults.iqLoss = loss;
        faults.iqReorder = reorder;
        faults.iqDuplicate = duplicate;
        link.sim.setFaults(faults);
        QSignalSpy givenUp(&link.driver, &ZorvaniDriver::iqPacketsGivenUp);
        QVERIFY(link.start(3));
        QTRY_VERIFY_WITH_TIMEOUT(link.blocks() >= kBlocks, 60000);
        QVERIFY(link.driver.Stop());
        link.driver.close();

        const auto sent = link.sim.counters();
        const EmulatedLink::Order order = link.order();
        const auto iq = link.driver.device()->stream().counters();
        const QString numbers = QStringLiteral("%1 of %2 packets processed (%3 %), %4 given up, %5 resyncs; emulator: "
                                               "%6 sent, %7 lost, %8 re-sent, %9 reordered, %10 duplicated")
                                    .arg(order.processed)
                                    .arg(order.span)
                                    .arg(100.0 * order.fraction(), 0, 'f', 3)
                                    .arg(iq.givenUp)
                                    .arg(iq.resyncs)
                                    .arg(sent.iqSent)
                                    .arg(sent.iqLost)
                                    .arg(sent.iqResent)
                                    .arg(sent.iqReordered)
                                    .arg(sent.iqDuplicated);
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
        // The last report crosses from the socket thread as the link closes.
        if (iq.givenUp > 0)
            QTRY_COMPARE_WITH_TIMEOUT(givenUp.constLast().at(0).toULongLong(), quint64(iq.givenUp), 2000);
        else
            QCOMPARE(givenUp.count(), 0);
    }
};

QTEST_MAIN(TestLinkFaults)
#include "tst_linkfaults.moc"
