// The engine and its receivers driven block by block on the test thread, and
// its small pieces (AGC presets, tap classes, mode fader, AGC queue) against
// closed forms.
#include "AllocationCounter.h"
#include "EngineRig.h"
#include "IqTapAbstract.h"
#include "zorvaniDsp/AgcPresetTable.h"
#include "zorvaniDsp/FirTapClasses.h"
#include "zorvaniDsp/ModulationSwitcher.h"

#include <QtTest>

using namespace dsptest;
using Fader = ReceiverZorvani::ModulationSwitcher;

namespace {

// Ramp coefficient for a 15 ms time constant at the working rate.
const double kA = std::exp(-1.0 / (0.015 * kFs));

class CountingTap : public IqTapAbstract {
public:
    int blocks = 0;
    bool isActive() const override { return true; }
    void write(quint32, const C*, std::size_t) override { ++blocks; }
};

} // namespace

class TestEngine : public QObject {
    Q_OBJECT
private slots:
    // A stopped receiver still fills its raw ring and the tap, but is not
    // woken; no audio is given without mixed frames; unknown receivers are
    // refused. (What the tap receives: the IQ recording system test.)
    void blockEntry()
    {
        zorvaniDsp dsp(nullptr, nullptr, nullptr);
        CountingTap tap;
        dsp.setIqTap(&tap);
        Signal block(200), audio(200, C{7.0, 7.0}), sink(200);
        sample(block, toneAt(1000.0, 0.3), 0, kFs);
        QVERIFY(!dsp.receiver(1)->isRunning());
        QVERIFY(!dsp.processBlock(block.data(), audio.data(), 1));
        QCOMPARE(tap.blocks, 1);
        QVERIFY(dsp.rawIqRing(0)->fill() == 0u && dsp.receiver(1)->inputRing().fill() == 0u);
        QVERIFY(dsp.rawIqRing(1)->read(sink.data(), 200) && sameBits(sink, block));
        for (int i = 0; i < 5; ++i)
            QVERIFY(!dsp.processBlock(block.data(), audio.data(), 0));
        QVERIFY(tap.blocks == 6 && sameBits(audio, Signal(200, C{7.0, 7.0})));
        QVERIFY(!dsp.processBlock(block.data(), audio.data(), 2) && !dsp.processBlock(block.data(), audio.data(), 255));
        QVERIFY(dsp.rawIqRing(2) == nullptr);
    }

    // Host indices out of range are refused (the presets on the audio: the
    // panel's system test). The queue clamps (attack 0.1..5 ms, decay and
    // hang 1..3000 ms); a full queue keeps the newest.
    void agcPresetsAndQueue()
    {
        AgcPresetTable table;
        QVERIFY(!table.select(0, 1) && !table.select(0, 6) && !table.select(2, 3)); // already "Long", no such preset or receiver
        const AgcSettings in[] = {{0.01, 5000.0, 0, false}, {9.0, 0.5, 5000, false}, {0.1, 3000.0, 1, false}};
        const AgcSettings out[] = {{0.1, 3000.0, 1, false}, {5.0, 1.0, 3000, false}, {0.1, 3000.0, 1, false}};
        for (int row = 0; row < 3; ++row) {
            AgcQueue queue;
            for (int i = 0; i < AgcQueue::kCapacity + 5; ++i)
                queue.push(AgcSettings{1.0, double(100 + i), 100, true});
            queue.push(in[row]);
            QCOMPARE(queue.size(), AgcQueue::kCapacity);
            std::vector<AgcSettings> applied;
            queue.drain([&](const AgcSettings& a) { applied.push_back(a); });
            QVERIFY(int(applied.size()) == AgcQueue::kCapacity && queue.size() == 0 && applied.front().decayMs == 100.0);
            const AgcSettings& a = applied.back();
            QVERIFY2(a.attackMs == out[row].attackMs && a.decayMs == out[row].decayMs && a.hangMs == out[row].hangMs && !a.enabled,
                     qPrintable(QString("row %1").arg(row)));
        }
    }

    // Class taps SSB 1001, AM 1101, DIG 1201, CW 1301: the engine hands them
    // to the receiver whose mode is in the class (DSB and no mode keep theirs).
    void tapsFollowTheModeClass()
    {
        const auto classTaps = [](int c) { return uint32_t(1001 + 100 * c); };
        const int classes[] = {FirTapClasses::Am, FirTapClasses::Am, -1, FirTapClasses::Ssb, FirTapClasses::Ssb,
                               FirTapClasses::Cw, FirTapClasses::Am, FirTapClasses::Dig, FirTapClasses::Dig,
                               FirTapClasses::Am, FirTapClasses::Dig, -1};
        zorvaniDsp dsp(nullptr, nullptr, nullptr);
        dsp.setMode(1, ReceiverZorvani::DSB);
        for (int c = 0; c < FirTapClasses::kClasses; ++c)
            dsp.setFirTaps(c, classTaps(c));
        for (uint32_t refused : {0u, FastFirZorvani::kMaxTaps + 1}) // the class keeps its taps
            dsp.setFirTaps(FirTapClasses::Cw, refused);
        dsp.setFirTaps(FirTapClasses::kClasses, 101); // no such class
        uint32_t expected = classTaps(FirTapClasses::Ssb); // created in LSB
        QVERIFY(dsp.receiver(0)->taps() == expected && dsp.receiver(1)->taps() == FirTapClasses::kDefaultTaps);
        for (int mode = 0; mode <= 11; ++mode) {
            const int c = classes[mode];
            expected = c < 0 ? expected : classTaps(c);
            dsp.setMode(0, mode);
            QVERIFY2(FirTapClasses::classOf(mode) == c && dsp.receiver(0)->taps() == expected,
                     qPrintable(QString("mode %1").arg(mode)));
        }
    }

    // A new mode or AGC index fades only its receiver; the old mode plays on
    // through the fade-out; the same mode or index again does not fade.
    void modeChangeRefadesOnlyItsReceiver()
    {
        zorvaniDsp dsp(nullptr, nullptr, nullptr);
        Signal out(4096), silence(200);
        const auto passing = [&] {
            return dsp.receiver(0)->faderState() == Fader::Pass && dsp.receiver(1)->faderState() == Fader::Pass;
        };
        auto settle = [&] {
            for (int i = 0; i < 1000 && !passing(); ++i)
                for (ReceiverZorvani* rx : {dsp.receiver(0), dsp.receiver(1)}) {
                    rx->inputRing().write(silence.data(), 200); // a lost block would stall the fade: settle() fails
                    rx->processBuffered();
                    for (int ch = 0; ch < 2; ++ch)
                        rx->outputRing(ch).read(out.data(), rx->outputRing(ch).fill());
                }
            return passing();
        };
        QVERIFY(settle()); // the fade of the initial AGC preset
        dsp.setMode(0, ReceiverZorvani::AM);
        QVERIFY(dsp.receiver(0)->faderState() == Fader::FadeOut && dsp.receiver(1)->faderState() == Fader::Pass);
        QCOMPARE(dsp.receiver(0)->activeMode(), int(ReceiverZorvani::LSB));
        QVERIFY(settle());
        QCOMPARE(dsp.receiver(0)->activeMode(), int(ReceiverZorvani::AM));
        dsp.setMode(0, ReceiverZorvani::AM);
        dsp.setAgc(0, dsp.agcIndex(0));
        QCOMPARE(dsp.receiver(0)->faderState(), Fader::Pass);
        dsp.setAgc(1, 3);
        QVERIFY(dsp.receiver(1)->faderState() == Fader::FadeOut && dsp.receiver(0)->faderState() == Fader::Pass);
    }

    // Fade out to 10^-6.5 (done when (1 - t) a^k <= t / 1e5) with the old
    // mode, switch once, fade in with the new one (done when 1 - g <= 1e-5).
    void fadeOutSwitchFadeIn()
    {
        ModulationSwitcher fader(3);
        Signal a(200, C{1.0, -1.0}), b = a;
        fader.process(a.data(), b.data(), 200);
        QCOMPARE(a[199].re, 1.0); // pass leaves the block alone
        fader.setPendingMode(4);
        fader.requestChange();
        const double floor = std::pow(10.0, -6.5);
        const int fadeOutSamples = int(std::ceil(std::log(floor / 1e5 / (1.0 - floor)) / std::log(kA)));
        const int fadeInSamples = int(std::ceil(std::log(1e-5) / std::log(kA)));
        int processed = 0;
        double previous = 1.0;
        while (fader.state() == ModulationSwitcher::FadeOut && processed < 100000) {
            QVERIFY(fader.activeMode() == 3 && !fader.takeResetRequest());
            a = b = Signal(200, C{1.0, -1.0});
            fader.process(a.data(), b.data(), 200);
            processed += 200;
            QVERIFY2(a[199].re < previous && a[199].re == b[199].re, "gain must fall monotonically on both");
            for (int k = 0; processed == 200 && k < 200; ++k) // g_k = t + (1 - t) a^(k+1) towards the floor t
                QVERIFY2(std::fabs(a[k].re - floor - (1.0 - floor) * std::pow(kA, k + 1)) < 1e-12 && a[k].im == -a[k].re,
                         qPrintable(QString("sample %1").arg(k)));
            previous = a[199].re;
        }
        // The state changes at the end of the block in which the target is reached.
        QVERIFY2(processed >= fadeOutSamples && processed < fadeOutSamples + 400,
                 qPrintable(QString("%1 samples, expected about %2").arg(processed).arg(fadeOutSamples)));
        QCOMPARE(fader.state(), ModulationSwitcher::Switch);
        QVERIFY(fader.takeResetRequest() && !fader.takeResetRequest());
        processed = 0;
        do {
            a = b = Signal(200, C{1.0, -1.0});
            fader.process(a.data(), b.data(), 200);
            processed += 200;
            QCOMPARE(fader.activeMode(), 4);
        } while (fader.state() == ModulationSwitcher::FadeIn && processed < 100000);
        QVERIFY2(std::abs(processed - fadeInSamples) <= 400, qPrintable(QString("%1 samples").arg(processed)));
        QCOMPARE(fader.state(), ModulationSwitcher::Pass);
        QVERIFY(std::fabs(fader.gain(0) - 1.0) <= 1e-5 && std::fabs(fader.gain(1) - 1.0) <= 1e-5);
    }

    void receiverBlock_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("mode");
        for (double rate : {39062.5, 78125.0, 156250.0, 312500.0})
            for (int mode = 0; mode <= 10; ++mode)
                QTest::addRow("mode %d at %g", mode, rate) << rate << mode;
    }

    // Every optional stage on, and every wide-band stage at work (both
    // blankers, an active notch, the panorama worker, the tap): a wake-up
    // takes one decimation period's worth (d blocks) and gives 200 frames per
    // channel, mixed into one block the entry hands out; the meters reach the
    // engine's signal; and once running nothing allocates.
    void receiverBlock()
    {
        QFETCH(double, rate);
        QFETCH(int, mode);
        zorvaniDsp dsp(nullptr, nullptr, std::make_shared<BandCatalogue>());
        dsp.setSampleRate(rate);
        dsp.setMode(0, mode);
        const double edge = mode == ReceiverZorvani::WFM ? 100000.0 : 3000.0;
        dsp.setFilter(0, -edge, edge);
        for (auto on : {&zorvaniDsp::setNr, &zorvaniDsp::setAnf, &zorvaniDsp::setApf, &zorvaniDsp::setSsbApf, &zorvaniDsp::setDse,
                        &zorvaniDsp::setEqualizerEnable, &zorvaniDsp::setWfmStereo, &zorvaniDsp::setNb1, &zorvaniDsp::setNb2})
            (dsp.*on)(0, true);
        dsp.setEqualizerGains(0, QList<int>{3, -3, 6});
        dsp.setSqlEnable(0, 0, true);
        dsp.setSqlValue(0, 0, -120);
        dsp.setEnableCTCSS(0, mode == ReceiverZorvani::NFM);
        dsp.setCentreFrequency(0, 7100000.0);
        dsp.onRnfParam(1, 0, true, 7101000.0, 100.0); // 40 m
        dsp.onRnfEnabled(1, true);
        CountingTap tap;
        dsp.setIqTap(&tap);
        ReceiverZorvani* rx = dsp.receiver(0);
        QSignalSpy levels(&dsp, &zorvaniDsp::dBmMeter);
        const int d = rx->decimation();
        QVERIFY(d == int(rate / kFs) && rx->wakeThreshold() == uint32_t(d * 200));
        Signal block(200), audio(200), sink(200);
        long t = 0;
        int delivered = 0;
        auto oneWake = [&] {
            for (int i = 0; i < d; ++i) {
                sample(block, toneAt(1000.0, 0.3), 200 * t++, rate);
                delivered += dsp.processBlock(block.data(), audio.data(), 0) ? 1 : 0;
                dsp.rawIqRing(0)->read(sink.data(), 200);
                rx->inputRing().write(block.data(), 200);
            }
            rx->processBuffered();
            const bool whole = rx->inputRing().fill() == 0 && rx->outputRing(0).fill() == 200u && rx->outputRing(1).fill() == 200u;
            return dsp.mixer().mixOnce() && whole;
        };
        for (int i = 0; i < 250; ++i) // through the fade to the new mode
            QVERIFY(oneWake());
        QVERIFY(rx->activeMode() == mode && levels.count() == 500 && delivered == 249);
        // The spy copies each emission; detach it before counting.
        QObject::disconnect(&dsp, &zorvaniDsp::dBmMeter, nullptr, nullptr);
        delivered = tap.blocks = 0;
        testsupport::AllocationScope scope;
        for (int i = 0; i < 20; ++i)
            oneWake();
        QCOMPARE(scope.count(), 0u);
        QVERIFY(delivered == 20 && tap.blocks == 20 * d);
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
