// A minute's worth of packets at each of the four rates (all at once, one
// emulator each): every packet reaches the engine once and in order, and every
// one sent before the stop is answered, with audio, in sequence order. The
// emulators send as fast as they are answered (eight packets in flight), not
// in real time, and the test waits for the counts with generous limits: a
// loaded machine makes it slower, not wrong. Speed is the benchmarks' business.
#include "BoxScript.h"
#include "EmulatedLink.h"
#include "TestPorts.h"

#include <QtTest>

#include <memory>

class TestStreamMinute : public QObject {
    Q_OBJECT

    static int minuteOfPackets(int index) { return int(39062.5 * (1 << index) / 200.0 * 60.0); }

private slots:
    void oneMinuteAtEveryRate()
    {
        const ScriptedBoxes boxes;
        std::unique_ptr<EmulatedLink> links[4];
        for (int index = 0; index < 4; ++index) {
            zorvani::sim::Config c;
            c.port = testsupport::processPort(58200, index);
            c.logCommands = c.paced = false;
            c.fastWindow = 8;
            links[index] = std::make_unique<EmulatedLink>(c, minuteOfPackets(index) + 60000);
            EmulatedLink& l = *links[index];
            l.answerWithAudio(true);
            QVERIFY(l.start(index) && l.sim.waitUntil([&] { return l.sim.state().streaming; }, 5000));
            QCOMPARE(l.sim.state().rateIndex, index);
        }
        // Each link stops once it has its minute: everything sent so far gets
        // its answer while the stream runs; what is in flight at the stop may not.
        quint64 sentBeforeStop[4] = {0, 0, 0, 0};
        const auto stopFinished = [&] {
            for (int index = 0; index < 4; ++index) {
                EmulatedLink& l = *links[index];
                if (!sentBeforeStop[index] && l.blocks() >= minuteOfPackets(index)) {
                    sentBeforeStop[index] = l.sim.counters().iqSent;
                    l.sim.waitUntil([&] { return l.sim.counters().iqAnswered >= sentBeforeStop[index]; }, 10000);
                    l.driver.Stop();
                    l.sim.waitUntil([&] { return !l.sim.state().streaming; }, 5000);
                    l.driver.close();
                }
            }
            return std::all_of(std::begin(sentBeforeStop), std::end(sentBeforeStop), [](quint64 s) { return s > 0; });
        };
        QTRY_VERIFY2_WITH_TIMEOUT(stopFinished(), qPrintable(QStringLiteral("blocks at each rate: %1 %2 %3 %4").arg(links[0]->blocks())
                                                                .arg(links[1]->blocks()).arg(links[2]->blocks()).arg(links[3]->blocks())),
                                  180000);
        for (int index = 0; index < 4; ++index) {
            EmulatedLink& l = *links[index];
            const auto c = l.sim.counters();
            const auto iq = l.driver.device()->stream().counters();
            const EmulatedLink::Order order = l.order();
            const QString text = QStringLiteral("rate %1: %2 sent before the stop, %3 in all, %4 answered (%5 full), %6 re-sent, "
                                                "%7 repeated, %8 unknown, %9 out of order; %10 processed of %11, %12 given up. %13")
                                     .arg(index).arg(sentBeforeStop[index]).arg(c.iqSent).arg(c.iqAnswered).arg(c.iqAnswersFull)
                                     .arg(c.iqResent).arg(c.iqAnswersRepeated).arg(c.iqAnswersUnknown).arg(c.iqAnswersOutOfOrder)
                                     .arg(order.processed).arg(order.span).arg(iq.givenUp).arg(order.why);
            QVERIFY2(order.ok && quint64(order.processed) == iq.processed && order.processed == order.span, qPrintable(text));
            QVERIFY2(iq.givenUp == 0 && iq.resyncs == 0 && c.iqAnswersFull >= sentBeforeStop[index], qPrintable(text));
            QVERIFY2(c.iqAnswersUnknown == 0 && c.iqAnswersOutOfOrder == 0, qPrintable(text));
        }
    }
};

QTEST_MAIN(TestStreamMinute)
#include "tst_streamminute.moc"
