// Audio made by the whole engine from synthetic IQ, measured with the tests'
// own DFT at the per-block entry's output (working rate). The engine's threads are not
// started: the test runs each stage's step itself, so a run is exact and
// repeatable.
#include "EngineRig.h"

#include <QtTest>

#include <array>

using namespace dsptest;

namespace {

// `blocks` blocks of `signal` from input sample `start` through the
// receiver's own step, woken as the engine wakes it or, held back, only once
// all are in; at the end until its input is empty. What each channel gave
// (nothing if a block found no room).
std::array<Signal, 2> feed(ReceiverZorvani& rx, const Waveform& signal, long start, int blocks, double rate = kFs, bool held = false)
{
    std::array<Signal, 2> heard;
    Signal block(200), out(ReceiverZorvani::kRingSize);
    for (int b = 0; b < blocks; ++b) {
        sample(block, signal, start + 200 * b, rate);
        if (!rx.inputRing().write(block.data(), 200))
            return {};
        if (b + 1 < blocks && (held || rx.inputRing().fill() < rx.wakeThreshold()))
            continue;
        do {
            rx.processBuffered();
            for (int ch = 0; ch < 2; ++ch) {
                const uint32_t n = rx.outputRing(ch).fill();
                rx.outputRing(ch).read(out.data(), n);
                heard[ch].insert(heard[ch].end(), out.begin(), out.begin() + n);
            }
        } while (b + 1 == blocks && rx.inputRing().fill() > 0);
    }
    return heard;
}

} // namespace

class TestEngineChain : public QObject {
    Q_OBJECT
private slots:
    // A complex tone of amplitude 0.1 (mean power -20 dB) meets the squelch
    // set some dB above the meter: from the next block on the channel is
    // muted or not. Then, AGC off, the RF gain is a fixed gain (USB: the
    // tone's real part, mono in the mixer); the master mute fades to silence
    // and releasing it restores the level.
    void squelchFixedGainAndMute()
    {
        Rig rig;
        rig.run(toneAt(1000.0, 0.1), 1.0);
        ReceiverZorvani* rx = rig.dsp.receiver(0);
        const double meter = rx->meterLevel(0);
        QVERIFY2(std::fabs(meter + 20.0) < 0.2, qPrintable(QString("meter reads %1 dB").arg(meter)));
        rx->setSquelchEnabled(true);
        const std::pair<double, bool> rows[] = {{3.1, false}, {2.9, true}, {10.0, false}, {-40.0, true}};
        for (const auto& [aboveMeterDb, passes] : rows) {
            rx->setSquelchLevel(meter + aboveMeterDb);
            const size_t from = rig.entry.size() + 800; // past the block in flight between the receiver and the entry
            rig.run(toneAt(1000.0, 0.1), 0.2);
            const double p = peak(rig.entry, from);
            QVERIFY2(rig.entry.size() >= from + 5000 && (passes ? p > 0.1 : p == 0.0),
                     qPrintable(QString("%1 dB above: audio peak %2").arg(aboveMeterDb).arg(p)));
        }
        rx->setSquelchEnabled(false);
        rig.dsp.setAgc(0, 0);
        const Waveform signal = toneAt(1000.0, 0.02);
        auto heard = [&](double seconds) {
            rig.run(signal, seconds);
            return level(rig.entry, 1000.0);
        };
        for (int rf : {0, -20, 20}) {
            rig.dsp.setRf(0, rf);
            const double a = heard(rf == 0 ? 1.5 : 0.5);
            QVERIFY2(std::fabs(a / (0.02 * std::pow(10.0, rf / 20.0)) - 1.0) < 0.02, qPrintable(QString("%1 dB: %2").arg(rf).arg(a)));
        }
        const double unity = heard(0.3);
        rig.dsp.setMute(0, -1, true);
        rig.run(signal, 0.3);
        QVERIFY(peak(rig.entry, rig.entry.size() - 4096) < 1e-12);
        rig.dsp.setMute(0, -1, false);
        QVERIFY(std::fabs(heard(0.3) / unity - 1.0) < 0.01);
    }

    // Channel 1 listens 200 Hz higher: the tone drops to 800 Hz there only, at its level.
    void ritMovesOnlyItsChannel()
    {
        ReceiverZorvani rx(0);
        rx.setMode(ReceiverZorvani::USB);
        for (int ch = 0; ch < 2; ++ch)
            rx.setFilter(ch, 100.0, 2900.0);
        rx.setRit(1, 200.0);
        const auto& [c0, c1] = feed(rx, toneAt(1000.0, 0.05), 0, 196);
        const double a[2][2] = {{level(c0, 1000.0), level(c0, 800.0)}, {level(c1, 1000.0), level(c1, 800.0)}};
        const QString text = QString("1000/800 Hz: %1, %2; %3, %4").arg(a[0][0]).arg(a[0][1]).arg(a[1][0]).arg(a[1][1]);
        QVERIFY2(std::fabs(a[1][1] / a[0][0] - 1.0) < 0.05 && a[0][0] > 20.0 * a[0][1] && a[1][1] > 20.0 * a[1][0],
                 qPrintable(text));
    }

    // A receiver thread kept waiting for 100 ms at 312500 Hz (a busy
    // desktop) finds every block still buffered and catches up pass by pass:
    // its audio is that of a receiver woken for every block.
    void heldBackReceiverLosesNothing()
    {
        ReceiverZorvani late(0), steady(0);
        late.setInputRate(312500.0);
        steady.setInputRate(312500.0);
        const Signal a = feed(late, toneAt(1000.0, 0.05), 0, 156, 312500.0, true)[0]; // 99.8 ms
        const Signal b = feed(steady, toneAt(1000.0, 0.05), 0, 156, 312500.0)[0];
        QVERIFY(!a.empty() && a.size() == b.size());
        QVERIFY2(maxDifference(a, b) < 1e-9, qPrintable(QString::number(maxDifference(a, b))));
    }

    // A disabled channel is processed only while the mixer fades it out: then
    // its meter stands still and it gives silence. Enabled again, it gives
    // what a fresh receiver gives from the same input, up to the fixed gain's
    // smoothing (AGC off); kept filter tails would bring back the old tone.
    void disabledChannelPausesAndResumesClean()
    {
        ReceiverZorvani rx(0), fresh(1);
        for (ReceiverZorvani* r : {&rx, &fresh}) {
            r->setMode(ReceiverZorvani::USB);
            r->queueAgc(AgcSettings{1.0, 800.0, 800, false});
            for (int ch = 0; ch < 2; ++ch)
                r->setFilter(ch, 100.0, 2900.0);
        }
        feed(rx, toneAt(1000.0, 0.05), 0, 100);
        feed(fresh, toneAt(0.0, 0.0), 0, 100); // past its first fade, then cleared
        fresh.reset();
        rx.setChannelEnabled(1, false);
        Signal paused = feed(rx, toneAt(2000.0, 0.2), 20000, 100)[1];
        const double frozen = rx.meterLevel(1);
        const Signal more = feed(rx, toneAt(2000.0, 0.2), 40000, 10)[1];
        paused.insert(paused.end(), more.begin(), more.end());
        QVERIFY2(rx.meterLevel(1) == frozen && rx.meterLevel(0) > frozen + 6.0, "the paused meter moved, or channel 0 stopped too");
        QVERIFY2(std::abs(paused[ReceiverZorvani::kFadeTail - 1].re) > 0.0, "cut before the mixer's fade");
        // Silent from the block after the one that completes the tail.
        const int tail = ReceiverZorvani::kFadeTail + 200;
        QVERIFY(silent(paused.data() + tail, int(paused.size()) - tail));
        rx.setChannelEnabled(1, true);
        const Signal resumed = feed(rx, toneAt(2000.0, 0.2), 42000, 20)[1];
        const Signal reference = feed(fresh, toneAt(2000.0, 0.2), 42000, 20)[1];
        const double level = maxDifference(reference, Signal(reference.size()));
        QVERIFY2(resumed.size() == reference.size() && level > 0.0 && maxDifference(resumed, reference) < 1e-3 * level,
                 qPrintable(QString("differs by %1 of %2").arg(maxDifference(resumed, reference)).arg(level)));
    }
};

QTEST_GUILESS_MAIN(TestEngineChain)
#include "tst_enginechain.moc"
