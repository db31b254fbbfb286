// The link streams a full minute at each of the four rates (all at once, one
// emulator each) and stops without a lost or re-sent answer.
#include "Simulator.h"
#include "SimulatorReceiver.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDevice.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "common/MessageBox.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <memory>

using zorvani::sim::Config;
using zorvani::sim::Simulator;
using zorvani::sim::receiverRecord;

namespace {
constexpr double kSeconds = 60.0;

struct Link {
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<ZorvaniDriver> driver;
    std::atomic<qint64> blocks{0};
};

} // namespace

class TestStreamMinute : public QObject {
    Q_OBJECT
private slots:
    void init() { ox::ui::setMessageHandler([](const ox::ui::MessageRequest&) { return QMessageBox::No; }); }
    void cleanup() { ox::ui::setMessageHandler({}); }

    void oneMinuteAtEveryRate()
    {
        Link links[4];
        for (int index = 0; index < 4; ++index) {
            Link& l = links[index];
            Config c;
            c.port = quint16(53400 + index);
            c.logCommands = false;
            // Late is not lost: a re-send only after half a second means an
            // answer that never came (the host keeps its last 8 answers, so a
            // re-send that late also goes unanswered and shows in the counts).
            c.resendAfterMs = 500;
            l.sim = std::make_unique<Simulator>(c);
            QVERIFY(l.sim->start());
            l.driver = std::make_unique<ZorvaniDriver>(nullptr, nullptr);
            // Audio in every answer the engine could fill: half the IQ.
            l.driver->device()->stream().setBlockEntry([&l](IqStream::Sample* in, IqStream::Sample* out, quint32) {
                ++l.blocks;
                for (int i = 0; i < 200; ++i)
                    out[i] = IqStream::Sample{in[i].re * 0.5, in[i].im * 0.5};
                return true;
            });
            QVERIFY(l.driver->open(receiverRecord(*l.sim)));
            l.driver->setSampleRateId(index);
            QVERIFY(l.driver->Start());
            QVERIFY(l.sim->waitUntil([&] { return l.sim->state().streaming; }, 2000));
            QCOMPARE(l.sim->state().rateIndex, index);
        }

        QElapsedTimer timer;
        timer.start();
        auto behind = [&] {
            for (int index = 0; index < 4; ++index)
                if (double(links[index].blocks.load()) < 39062.5 * (1 << index) / 200.0 * kSeconds)
                    return true;
            return false;
        };
        while (behind()) {
            QVERIFY2(timer.elapsed() < qint64(kSeconds * 1000) + 15000, "the stream fell behind real time");
            QTest::qWait(200);
        }

        for (int index = 0; index < 4; ++index) {
            Link& l = links[index];
            // Everything sent so far gets its answer while the stream runs;
            // what is in flight when the stop goes out may not.
            const quint64 sent = l.sim->counters().iqSent;
            QVERIFY(l.sim->waitUntil([&] { return l.sim->counters().iqAnswered >= sent; }, 2000));
            QVERIFY(l.driver->Stop());
            QVERIFY(l.sim->waitUntil([&] { return !l.sim->state().streaming; }, 2000));
            l.driver->close();
            QVERIFY(!l.driver->isOpen());
            const auto c = l.sim->counters();
            const QString text = QStringLiteral("rate %1: %2 sent before the stop, %3 in all, %4 answered (%5 full), "
                                                "%6 re-sent, %7 repeated, %8 unknown")
                                     .arg(index)
                                     .arg(sent)
                                     .arg(c.iqSent)
                                     .arg(c.iqAnswered)
                                     .arg(c.iqAnswersFull)
                                     .arg(c.iqResent)
                                     .arg(c.iqAnswersRepeated)
                                     .arg(c.iqAnswersUnknown);
            qDebug().noquote() << text;
            QVERIFY2(c.iqAnswersFull >= sent, qPrintable(text));
            QVERIFY2(c.iqResent == 0 && c.iqAnswersRepeated == 0 && c.iqAnswersUnknown == 0, qPrintable(text));
            QVERIFY2(double(sent) >= 39062.5 * (1 << index) / 200.0 * kSeconds, qPrintable(text));
        }
    }
};

QTEST_MAIN(TestStreamMinute)
#include "tst_streamminute.moc"
