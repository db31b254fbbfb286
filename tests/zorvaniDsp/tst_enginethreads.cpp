// The engine's threads: receiver wake-up, and start/stop under load with
// the socket thread feeding and the host's audio thread pulling.
#include "DspTestSupport.h"
#include "zorvaniDsp/Audio/MixerZorvani.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QtTest>

#include <atomic>
#include <thread>

using namespace dsptest;

namespace {

// The receivers' meter signals reach the engine as queued calls, published
// through Qt's own futex-based locking that ThreadSanitizer cannot see, so
// every delivery would be reported as a race inside Qt. The forwarding itself
// is tested on one thread (tst_engine); here the receivers emit into nothing.

// Polls a condition for up to about 5 s; the test's threads are what is being waited for.
template <typename Condition>
bool waitFor(Condition condition)
{
    for (int i = 0; i < 5000 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return condition();
}

} // namespace

class TestEngineThreads : public QObject {
    Q_OBJECT
private slots:
    void wakesAfterOneDecimatedBlock()
    {
        zorvaniDsp dsp(nullptr, nullptr, nullptr);
        for (int r = 0; r < 2; ++r) // the meters emit into nothing
            QObject::disconnect(dsp.receiver(r), nullptr, &dsp, nullptr);
        dsp.setSampleRate(312500.0);
        dsp.start();
        ReceiverZorvani* rx = dsp.receiver(0);
        QVERIFY(dsp.isRunning() && rx->isRunning());
        std::vector<C> block(200, C{0.01, 0.01}), audio(200);
        for (int i = 0; i < 7; ++i)
            QVERIFY(!dsp.processBlock(block.data(), audio.data(), 0));
        QCOMPARE(rx->inputRing().fill(), 1400u);
        // Give a wrongly woken thread the chance to show itself.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        QCOMPARE(rx->inputRing().fill(), 1400u);
        QCOMPARE(rx->outputRing(0).fill(), 0u);

        // One wake-up: 1600 input samples become 200 frames per channel, which the
        // mixer turns into one block of 200 mixed frames. The entry looks at the
        // mixer's ring right after waking the receiver, so on a quick machine the
        // block may already be there for this very packet.
        const bool takenAtOnce = dsp.processBlock(block.data(), audio.data(), 0);
        if (!takenAtOnce)
            QVERIFY(waitFor([&] { return dsp.mixer().outputRing().fill() == 200u; }));
        QVERIFY(rx->inputRing().fill() == 0u && rx->outputRing(0).fill() == 0u && rx->outputRing(1).fill() == 0u);
        // Otherwise the next packet (of the other receiver) takes them.
        if (!takenAtOnce)
            QVERIFY(dsp.processBlock(block.data(), audio.data(), 1));
        QVERIFY(dsp.mixer().outputRing().fill() == 0u && !dsp.processBlock(block.data(), audio.data(), 1));
        dsp.stop();
        QVERIFY(!dsp.isRunning() && !rx->isRunning());
    }

    void startStopUnderLoad()
    {
        zorvaniDsp dsp(nullptr, nullptr, nullptr);
        for (int r = 0; r < 2; ++r) // the meters emit into nothing
            QObject::disconnect(dsp.receiver(r), nullptr, &dsp, nullptr);
        dsp.setSampleRate(78125.0);
        std::atomic<bool> feeding{true};
        std::atomic<long> blocks{0};
        // The socket thread's role: a packet for each receiver in turn, as fast as
        // it can, while the GUI thread starts, stops and retunes the engine.
        std::thread feeder([&] {
            Signal block = tone(200, 1000.0 / 78125.0, 0.3), audio(200);
            for (quint32 rx = 0; feeding.load(); rx ^= 1u) {
                dsp.processBlock(block.data(), audio.data(), rx);
                blocks.fetch_add(1);
                std::this_thread::yield();
            }
        });
        // The host's audio thread pulls the main output and a VAC meanwhile.
        std::atomic<long> pulls{0};
        std::thread host([&] {
            std::vector<float> buffer(512);
            while (feeding.load()) {
                pulls.fetch_add(dsp.soundCardPull(buffer.data(), 512, 2) && dsp.vacPull(0, buffer.data(), 512, 2));
                std::this_thread::yield();
            }
        });
        dsp.soundCardOpen();
        std::vector<C> drain(4096);
        for (int round = 0; round < 40; ++round) {
            dsp.start();
            dsp.setMode(round & 1, round % 11);
            dsp.setAgc(round & 1, round % 6);
            dsp.setFilter(round & 1, -2800.0 + round, 2800.0 - round);
            dsp.setChannelOffset(round & 1, round & 1, 100.0 * round);
            // Stage settings while the receivers run.
            for (auto set : {&zorvaniDsp::setNr, &zorvaniDsp::setAnf, &zorvaniDsp::setEqualizerEnable, &zorvaniDsp::setNb1})
                (dsp.*set)(round & 1, (round & 2) != 0);
            dsp.setEqualizerGains(round & 1, QList<int>{round % 7, -(round % 5)});
            dsp.setWfmUsa((round & 8) != 0);
            dsp.setRit(round & 1, 1, 10.0 * round);
            dsp.setCwPitch(round & 1, 500.0 + round);
            dsp.setFirTaps(round % 4, 1001 + 2 * round);
            dsp.setSqlEnable(round & 1, 0, (round & 4) != 0);
            dsp.onRnfParam(0, 0, true, 1900000.0 + round, 100.0);
            if (round % 5 == 0)
                dsp.openVac(0, round % 10 ? 44100 : 48000); // reopened at another rate: retuned while running
            if (round % 7 == 2)
                dsp.soundCardClose();
            if (round % 7 == 4)
                dsp.soundCardOpen();
            if (round % 5 == 3)
                dsp.receiver(round & 1)->vacClose();
            const long target = blocks.load() + 20;
            QVERIFY(waitFor([&] { return blocks.load() >= target; }));
            for (CircularBuffer<C>* ring : {&dsp.receiver(0)->outputRing(0), &dsp.receiver(0)->outputRing(1), &dsp.receiver(1)->outputRing(0),
                                            &dsp.receiver(1)->outputRing(1), &dsp.mixer().outputRing()})
                ring->read(drain.data(), std::min<uint32_t>(ring->fill(), 4096));
            dsp.stop();
            QVERIFY(!dsp.receiver(0)->isRunning() && !dsp.receiver(1)->isRunning());
        }
        // After all that the engine still works.
        dsp.start();
        QVERIFY(waitFor([&] { return dsp.mixer().outputRing().fill() > 0; }));
        feeding.store(false);
        feeder.join();
        host.join();
        dsp.stop();
        QVERIFY(blocks.load() > 800 && pulls.load() > 0);
    }
};

QTEST_GUILESS_MAIN(TestEngineThreads)
#include "tst_enginethreads.moc"
