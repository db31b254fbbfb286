// Audio made by the whole engine from synthetic IQ, measured with a DFT
// written here: at the per-block entry's output (working rate) and at the
// main output (sound-card converter, 48000 Hz). The engine's threads are not
// started: the test runs each stage's step itself, so the run is exact and
// repeatable.
#include "EngineTestSupport.h"

#include <QtTest>

using namespace enginetest;


class TestEngineChain : public QObject {
    Q_OBJECT
private slots:
    void toneComesOutAtItsAudioFrequency_data();
    void toneComesOutAtItsAudioFrequency();
    void squelchEdges_data();
    void squelchEdges();
    void masterVolumeAndMute();
    void rfGainSetsFixedGainWithAgcOff_data();
    void rfGainSetsFixedGainWithAgcOff();
    void ritMovesOnlyItsChannel();
    void heldBackReceiverLosesNothing();
    void disabledChannelPausesAndResumesClean();
    void onsetComesAfterTheStatedFilterDelay_data();
    void onsetComesAfterTheStatedFilterDelay();
};

void TestEngineChain::toneComesOutAtItsAudioFrequency_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("mode");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<double>("offset");
    QTest::addColumn<int>("kind"); // 0 tone, 1 AM, 2 narrow FM, 3 wide FM
    QTest::addColumn<double>("toneHz");
    QTest::addColumn<double>("expectedHz");

    // USB: a tone 1 kHz above the channel frequency is heard at 1 kHz.
    QTest::newRow("USB 39062.5") << 39062.5 << 4 << 100.0 << 2900.0 << 0.0 << 0 << 1000.0 << 1000.0;
    QTest::newRow("USB 312500") << 312500.0 << 4 << 100.0 << 2900.0 << 0.0 << 0 << 1000.0 << 1000.0;
    QTest::newRow("USB offset 78125") << 78125.0 << 4 << 100.0 << 2900.0 << 15000.0 << 0 << 16000.0 << 1000.0;
    // LSB: 1 kHz below.
    QTest::newRow("LSB 78125") << 78125.0 << 3 << -2900.0 << -100.0 << 0.0 << 0 << -1000.0 << 1000.0;
    QTest::newRow("LSB offset 156250") << 156250.0 << 3 << -2900.0 << -100.0 << -20000.0 << 0 << -21500.0 << 1500.0;
    // CW: a carrier on the channel frequency is heard at the 700 Hz pitch.
    QTest::newRow("CW 156250") << 156250.0 << 5 << -250.0 << 250.0 << 0.0 << 0 << 0.0 << 700.0;
    // AM and NFM: the 1 kHz modulation.
    QTest::newRow("AM 39062.5") << 39062.5 << 0 << -5000.0 << 5000.0 << 0.0 << 1 << 1000.0 << 1000.0;
    QTest::newRow("NFM 312500") << 312500.0 << 6 << -6000.0 << 6000.0 << 0.0 << 2 << 1000.0 << 1000.0;
    // WFM: the 1 kHz programme of a broadcast carrier (mono).
    QTest::newRow("WFM 312500") << 312500.0 << 9 << -100000.0 << 100000.0 << 0.0 << 3 << 1000.0 << 1000.0;
    // DIGU and DIGL move the passband up by 2200 and 1500 Hz; DRM by 5200 Hz.
    QTest::newRow("DIGU 78125") << 78125.0 << 8 << 100.0 << 2900.0 << 0.0 << 0 << 500.0 << 2700.0;
    QTest::newRow("DIGL 39062.5") << 39062.5 << 7 << 100.0 << 2900.0 << 0.0 << 0 << -500.0 << 1000.0;
    QTest::newRow("DRM 156250") << 156250.0 << 10 << -5000.0 << 5000.0 << 0.0 << 0 << 1000.0 << 6200.0;
}

void TestEngineChain::toneComesOutAtItsAudioFrequency()
{
    QFETCH(double, rate);
    QFETCH(int, mode);
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(double, offset);
    QFETCH(int, kind);
    QFETCH(double, toneHz);
    QFETCH(double, expectedHz);

    Signal signal;
    if (kind == 0) {
        signal = toneSignal(toneHz, 0.05);
    } else if (kind == 1) {
        signal = [toneHz](double t) { return Sample{0.05 * (1.0 + 0.5 * std::cos(2.0 * kPi * toneHz * t)), 0.0}; };
    } else {
        // Peak deviation 2.5 kHz (narrow) or 15 kHz (wide).
        const double beta = (kind == 2 ? 2500.0 : 15000.0) / toneHz;
        signal = [toneHz, beta](double t) {
            const double ph = beta * std::sin(2.0 * kPi * toneHz * t);
            return Sample{0.05 * std::cos(ph), 0.05 * std::sin(ph)};
        };
    }

    Rig rig(rate, mode, low, high, offset);
    QCOMPARE(rig.dsp.receiver(0)->decimation(), int(std::lround(rate / 39062.5)));
    rig.run(signal, 1.5);
    QVERIFY2(rig.entryLeft.size() >= 50000, "the per-block entry delivered too little audio");
    QVERIFY2(rig.mainLeft.size() >= 8192, "the main output delivered too little audio");
    QCOMPARE(rig.dsp.receiver(0)->activeMode(), mode);

    const std::vector<double> entry = Rig::tail(rig.entryLeft, 8192);
    const std::vector<double> entryRight = Rig::tail(rig.entryRight, 8192);
    for (size_t k = 0; k < entry.size(); ++k)
        QVERIFY2(std::isfinite(entry[k]) && std::isfinite(entryRight[k]), "non-finite audio");
    const double top = expectedHz + 2000.0;
    const Spectrum e = analyse(entry, 39062.5, 100.0, top);
    QVERIFY2(std::fabs(e.peakHz - expectedHz) <= 5.0,
             qPrintable(QString("entry peak at %1 Hz, expected %2 Hz").arg(e.peakHz).arg(expectedHz)));
    QVERIFY2(e.toneFraction > 0.9, qPrintable(QString("entry tone holds %1 of the power").arg(e.toneFraction)));
    QVERIFY2(e.amplitude > 0.05, qPrintable(QString("entry tone amplitude %1").arg(e.amplitude)));
    const Spectrum er = analyse(entryRight, 39062.5, 100.0, top);
    QVERIFY2(std::fabs(er.peakHz - expectedHz) <= 5.0, "right channel of the entry output");

    const std::vector<double> main = Rig::tail(rig.mainLeft, 8192);
    const Spectrum m = analyse(main, 48000.0, 100.0, top);
    QVERIFY2(std::fabs(m.peakHz - expectedHz) <= 5.0,
             qPrintable(QString("main output peak at %1 Hz, expected %2 Hz").arg(m.peakHz).arg(expectedHz)));
    QVERIFY2(m.toneFraction > 0.9, qPrintable(QString("main output tone holds %1 of the power").arg(m.toneFraction)));
    // The converter keeps the level (DC gain 1 of its low-pass).
    QVERIFY2(std::fabs(m.amplitude / e.amplitude - 1.0) < 0.05,
             qPrintable(QString("main %1 vs entry %2").arg(m.amplitude).arg(e.amplitude)));
}

void TestEngineChain::squelchEdges_data()
{
    QTest::addColumn<double>("aboveMeterDb"); // squelch level minus the meter level
    QTest::addColumn<bool>("passes");
    QTest::newRow("meter + 2.5 dB passes") << 2.5 << true;
    QTest::newRow("meter + 2.9 dB passes") << 2.9 << true;
    QTest::newRow("meter + 3.1 dB mutes") << 3.1 << false;
    QTest::newRow("meter + 10 dB mutes") << 10.0 << false;
    QTest::newRow("far below passes") << -40.0 << true;
}

void TestEngineChain::squelchEdges()
{
    QFETCH(double, aboveMeterDb);
    QFETCH(bool, passes);
    // A complex tone of amplitude 0.1 has mean power 0.01: -20 dB.
    const Signal signal = toneSignal(1000.0, 0.1);
    Rig rig(39062.5, 4, 100.0, 2900.0, 0.0);
    rig.run(signal, 1.0);
    ReceiverZorvani* rx = rig.dsp.receiver(0);
    const double meter = rx->meterLevel(0);
    QVERIFY2(std::fabs(meter + 20.0) < 0.2, qPrintable(QString("meter reads %1 dB").arg(meter)));

    rx->setSquelchLevel(meter + aboveMeterDb);
    rx->setSquelchEnabled(true);
    // From the next block on the channel is muted or not; the meter stays put.
    const size_t before = rig.entryLeft.size();
    rig.run(signal, 0.2);
    // Skip the block in flight between the receiver and the entry.
    const std::vector<double> after(rig.entryLeft.begin() + long(before) + 800, rig.entryLeft.end());
    QVERIFY(after.size() >= 5000);
    double peak = 0.0;
    for (double v : after)
        peak = std::max(peak, std::fabs(v));
    if (passes)
        QVERIFY2(peak > 0.1, qPrintable(QString("audio peak %1 with the squelch open").arg(peak)));
    else
        QVERIFY2(peak == 0.0, qPrintable(QString("audio peak %1 with the squelch closed").arg(peak)));
}

void TestEngineChain::masterVolumeAndMute()
{
    Rig rig(39062.5, 4, 100.0, 2900.0, 0.0);
    const Signal signal = toneSignal(1000.0, 0.05);
    rig.run(signal, 1.0);
    const double unity = analyse(Rig::tail(rig.entryLeft, 4096), 39062.5, 900.0, 1100.0).amplitude;
    QVERIFY2(unity > 0.1, qPrintable(QString("amplitude %1").arg(unity)));

    // -6 dB: 10^(-6/20) of the level once the master ramp has settled.
    rig.dsp.setMainVolume(-6.0);
    rig.run(signal, 0.3);
    const double half = analyse(Rig::tail(rig.entryLeft, 4096), 39062.5, 900.0, 1100.0).amplitude;
    QVERIFY2(std::fabs(half / unity - std::pow(10.0, -0.3)) < 0.01, qPrintable(QString("ratio %1").arg(half / unity)));

    // -60 dB or less is silence.
    rig.dsp.setMainVolume(-60.0);
    rig.run(signal, 0.3);
    double peak = 0.0;
    for (double v : Rig::tail(rig.entryLeft, 4096))
        peak = std::max(peak, std::fabs(v));
    QVERIFY2(peak < 1e-12, qPrintable(QString("peak %1").arg(peak)));

    // The master mute fades to silence and releasing it restores the level.
    rig.dsp.setMainVolume(0.0);
    rig.dsp.setMute(0, -1, true);
    rig.run(signal, 0.3);
    peak = 0.0;
    for (double v : Rig::tail(rig.entryLeft, 4096))
        peak = std::max(peak, std::fabs(v));
    QVERIFY2(peak < 1e-12, qPrintable(QString("peak %1 while muted").arg(peak)));
    rig.dsp.setMute(0, -1, false);
    rig.run(signal, 0.3);
    const double back = analyse(Rig::tail(rig.entryLeft, 4096), 39062.5, 900.0, 1100.0).amplitude;
    QVERIFY2(std::fabs(back / unity - 1.0) < 0.01, qPrintable(QString("ratio %1 after unmute").arg(back / unity)));
}

void TestEngineChain::rfGainSetsFixedGainWithAgcOff_data()
{
    QTest::addColumn<int>("rfDb");
    QTest::addColumn<double>("gain");
    QTest::newRow("+20 dB") << 20 << 10.0;
    QTest::newRow("0 dB") << 0 << 1.0;
    QTest::newRow("-20 dB") << -20 << 0.1;
}

void TestEngineChain::rfGainSetsFixedGainWithAgcOff()
{
    QFETCH(int, rfDb);
    QFETCH(double, gain);
    Rig rig(39062.5, 4, 100.0, 2900.0, 0.0);
    rig.dsp.setAgc(0, 0);
    rig.dsp.setRf(0, rfDb);
    rig.run(toneSignal(1000.0, 0.02), 1.5);
    // USB: the tone's real part, mono in the mixer, at the fixed gain.
    const double a = analyse(Rig::tail(rig.entryLeft, 8192), 39062.5, 900.0, 1100.0).amplitude;
    QVERIFY2(std::fabs(a / (0.02 * gain) - 1.0) < 0.02, qPrintable(QString("amplitude %1, expected %2").arg(a).arg(0.02 * gain)));
}

void TestEngineChain::ritMovesOnlyItsChannel()
{
    ReceiverZorvani rx(0);
    rx.setMode(ReceiverZorvani::USB);
    for (int ch = 0; ch < 2; ++ch)
        rx.setFilter(ch, 100.0, 2900.0);
    rx.setRit(1, 200.0); // channel 1 listens 200 Hz higher: the tone drops to 800 Hz
    const Signal signal = toneSignal(1000.0, 0.05);
    std::vector<Sample> block(200), out(ReceiverZorvani::kRingSize);
    std::vector<double> left[2];
    for (long t = 0; t < 39062; t += 200) {
        for (int k = 0; k < 200; ++k)
            block[size_t(k)] = signal(double(t + k) / 39062.5);
        rx.inputRing().write(block.data(), 200);
        rx.processBuffered();
        for (int ch = 0; ch < 2; ++ch) {
            const uint32_t n = rx.outputRing(ch).fill();
            rx.outputRing(ch).read(out.data(), n);
            for (uint32_t i = 0; i < n; ++i)
                left[ch].push_back(out[i].re);
        }
    }
    const Spectrum s0 = analyse(Rig::tail(left[0], 8192), 39062.5, 100.0, 3000.0);
    const Spectrum s1 = analyse(Rig::tail(left[1], 8192), 39062.5, 100.0, 3000.0);
    QVERIFY2(std::fabs(s0.peakHz - 1000.0) <= 5.0, qPrintable(QString("channel 0 at %1 Hz").arg(s0.peakHz)));
    QVERIFY2(std::fabs(s1.peakHz - 800.0) <= 5.0, qPrintable(QString("channel 1 at %1 Hz").arg(s1.peakHz)));
}

// A receiver thread kept waiting for 100 ms at 312500 Hz (a busy desktop)
// finds every block still buffered and catches up pass by pass: its audio is
// the same as that of a receiver woken for every block.
void TestEngineChain::heldBackReceiverLosesNothing()
{
    const Signal signal = toneSignal(1000.0, 0.05);
    const int blocks = 156; // 99.8 ms
    ReceiverZorvani late(0), steady(0);
    std::vector<Sample> block(200), out(ReceiverZorvani::kRingSize);
    std::vector<Sample> heard[2];
    auto drain = [&](ReceiverZorvani& rx, std::vector<Sample>& into) {
        const uint32_t n = rx.outputRing(0).fill();
        rx.outputRing(0).read(out.data(), n);
        into.insert(into.end(), out.begin(), out.begin() + n);
    };
    for (ReceiverZorvani* rx : {&late, &steady})
        rx->setInputRate(312500.0);
    for (int b = 0; b < blocks; ++b) {
        for (int k = 0; k < 200; ++k)
            block[size_t(k)] = signal(double(b * 200 + k) / 312500.0);
        QVERIFY2(late.inputRing().write(block.data(), 200), qPrintable(QString("block %1 lost").arg(b)));
        QVERIFY(steady.inputRing().write(block.data(), 200));
        if (steady.inputRing().fill() >= steady.wakeThreshold()) {
            steady.processBuffered();
            drain(steady, heard[1]);
        }
    }
    for (int i = 0; i < 2; ++i) {
        ReceiverZorvani& rx = i == 0 ? late : steady;
        while (rx.inputRing().fill() > 0) {
            rx.processBuffered();
            drain(rx, heard[i]);
        }
    }
    QCOMPARE(heard[0].size(), heard[1].size());
    for (size_t i = 0; i < heard[0].size(); ++i)
        QVERIFY2(std::abs(heard[0][i].re - heard[1][i].re) < 1e-9 && std::abs(heard[0][i].im - heard[1][i].im) < 1e-9,
                 qPrintable(QString("frame %1 differs").arg(i)));
}

// A disabled channel is not processed once the mixer has faded it out: its
// meter stands still and it gives silence. Enabled again, it gives exactly
// what a fresh receiver gives from the same input, up to the fixed gain's
// smoothing (AGC off; its gain is no filter state). Kept filter tails would
// bring back the old tone at full level.
void TestEngineChain::disabledChannelPausesAndResumesClean()
{
    ReceiverZorvani rx(0), fresh(1);
    AgcSettings off;
    off.enabled = false;
    for (ReceiverZorvani* r : {&rx, &fresh}) {
        r->setMode(ReceiverZorvani::USB);
        r->queueAgc(off);
        for (int ch = 0; ch < 2; ++ch)
            r->setFilter(ch, 100.0, 2900.0);
    }
    std::vector<Sample> block(200), out(ReceiverZorvani::kRingSize);
    long t = 0;
    // Blocks of `signal` through `r` (when given); channel 1's output is kept.
    const auto feed = [&](ReceiverZorvani* r, const Signal& signal, int blocks, std::vector<Sample>* sub) {
        const long start = t;
        for (int b = 0; b < blocks; ++b) {
            for (int k = 0; k < 200; ++k)
                block[size_t(k)] = signal(double(start + 200 * b + k) / 39062.5);
            r->inputRing().write(block.data(), 200);
            r->processBuffered();
            for (int ch = 0; ch < 2; ++ch) {
                const uint32_t n = r->outputRing(ch).fill();
                r->outputRing(ch).read(out.data(), n);
                if (ch == 1 && sub)
                    sub->insert(sub->end(), out.begin(), out.begin() + n);
            }
        }
    };
    feed(&rx, toneSignal(1000.0, 0.05), 100, nullptr);
    // The fresh receiver past its first fade, then cleared.
    feed(&fresh, toneSignal(0.0, 0.0), 100, nullptr);
    fresh.reset();
    t += 100 * 200;

    rx.setChannelEnabled(1, false);
    std::vector<Sample> paused;
    feed(&rx, toneSignal(2000.0, 0.2), 100, &paused);
    const double frozen = rx.meterLevel(1);
    feed(&rx, toneSignal(2000.0, 0.2), 10, &paused);
    t += 110 * 200;
    QCOMPARE(rx.meterLevel(1), frozen);
    QVERIFY2(rx.meterLevel(0) > frozen + 6.0, "channel 0 stopped too");
    QVERIFY2(std::abs(paused[ReceiverZorvani::kFadeTail - 1].re) > 0.0, "cut before the mixer's fade");
    // Silent from the block after the one that completes the tail.
    for (size_t k = ReceiverZorvani::kFadeTail + 200; k < paused.size(); ++k)
        QVERIFY2(paused[k].re == 0.0 && paused[k].im == 0.0, qPrintable(QString("sample %1 not silent").arg(k)));

    rx.setChannelEnabled(1, true);
    std::vector<Sample> resumed, reference;
    feed(&rx, toneSignal(2000.0, 0.2), 20, &resumed);
    feed(&fresh, toneSignal(2000.0, 0.2), 20, &reference);
    QCOMPARE(resumed.size(), reference.size());
    double peak = 0.0, worst = 0.0;
    for (size_t k = 0; k < resumed.size(); ++k) {
        peak = std::max(peak, std::hypot(reference[k].re, reference[k].im));
        worst = std::max(worst, std::hypot(resumed[k].re - reference[k].re, resumed[k].im - reference[k].im));
    }
    QVERIFY2(peak > 0.0 && worst < 1e-3 * peak, qPrintable(QString("differs by %1 of %2").arg(worst).arg(peak)));
}

void TestEngineChain::onsetComesAfterTheStatedFilterDelay_data()
{
    QTest::addColumn<double>("rate");
    QTest::newRow("39062.5 Hz") << 39062.5;
    QTest::newRow("312500 Hz") << 312500.0;
}

// Processed as it comes (no thread), a tone switched on after silence reaches
// half its level in the output (AGC off) after the receiver's stated filter
// delay: the linear-phase filters' step responses are half way there.
void TestEngineChain::onsetComesAfterTheStatedFilterDelay()
{
    QFETCH(double, rate);
    ReceiverZorvani rx(0);
    rx.setInputRate(rate);
    rx.setMode(ReceiverZorvani::USB);
    rx.setFilter(0, 100.0, 2900.0);
    AgcSettings off;
    off.enabled = false;
    rx.queueAgc(off);
    const int d = rx.decimation();
    const long onset = 40000L * d; // input samples of silence, past the fade of the mode change
    std::vector<Sample> block(200), out(ReceiverZorvani::kRingSize);
    std::vector<double> level;
    for (long t = 0; t < onset + 8000L * d; t += 200) {
        for (int k = 0; k < 200; ++k) {
            const long n = t + k - onset;
            block[size_t(k)] = n < 0 ? Sample{0.0, 0.0} : toneSignal(1000.0, 0.05)(double(n) / rate);
        }
        rx.inputRing().write(block.data(), 200);
        if (rx.inputRing().fill() < rx.wakeThreshold())
            continue;
        rx.processBuffered();
        rx.outputRing(1).read(out.data(), rx.outputRing(1).fill());
        const uint32_t n = rx.outputRing(0).fill();
        rx.outputRing(0).read(out.data(), n);
        for (uint32_t i = 0; i < n; ++i)
            level.push_back(std::hypot(out[i].re, out[i].im));
    }
    const double steady = level.back();
    size_t half = 0;
    while (half < level.size() && level[half] < 0.5 * steady)
        ++half;
    const double expected = double(onset / d) + rx.filterDelaySeconds() * 39062.5;
    QVERIFY2(std::abs(double(half) - expected) <= 2.0,
             qPrintable(QString("half level at output sample %1, expected %2").arg(half).arg(expected)));
}

QTEST_GUILESS_MAIN(TestEngineChain)
#include "tst_enginechain.moc"
