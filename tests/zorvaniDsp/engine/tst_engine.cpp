// The engine and its receivers driven block by block on the test thread, and
// its small pieces (AGC presets, tap classes, mode fader, AGC queue, mixer gain
// rule) against closed forms.
#include "AllocationCounter.h"
#include "DeviceFunctionsAbstract.h"
#include "IqTapAbstract.h"
#include "zorvaniDsp/AgcPresetTable.h"
#include "zorvaniDsp/AgcQueue.h"
#include "zorvaniDsp/FirTapClasses.h"
#include "zorvaniDsp/Audio/MixerGains.h"
#include "zorvaniDsp/Audio/MixerZorvani.h"
#include "zorvaniDsp/ModulationSwitcher.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <vector>

using Sample = Ostrovix::complex<double>;
using Fader = ReceiverZorvani::ModulationSwitcher;

namespace {

constexpr double kPi = 3.14159265358979323846;
// Ramp coefficient for a 15 ms time constant at 39062.5 Hz.
const double kA = std::exp(-1.0 / (0.015 * 39062.5));

// Complex tone of amplitude a at f Hz, continuing from sample index `start`.
void tone(Sample* x, int n, double f, double fs, double a, long start)
{
    for (int k = 0; k < n; ++k) {
        const double ph = 2.0 * kPi * f * double(start + k) / fs;
        x[k] = Sample{a * std::cos(ph), a * std::sin(ph)};
    }
}

std::vector<Sample> ones(int n)
{
    return std::vector<Sample>(size_t(n), Sample{1.0, -1.0});
}

// One block of `value` through a receiver's own step.
void step(ReceiverZorvani* rx, Sample value = Sample{0.0, 0.0})
{
    const std::vector<Sample> block(200, value);
    QVERIFY(rx->inputRing().write(block.data(), 200));
    rx->processBuffered();
}

class FortyMetres : public DeviceFunctionsAbstract {
public:
    QList<DeviceBand> bands() const override { return {DeviceBand{7000000, 7200000, "40m"}}; }
};

class CountingTap : public IqTapAbstract {
public:
    bool active = true;
    int blocks = 0;
    std::size_t lastCount = 0;
    quint32 lastReceiver = 99;
    bool isActive() const override { return active; }
    void write(quint32 receiver, const Sample*, std::size_t count) override
    {
        ++blocks;
        lastCount = count;
        lastReceiver = receiver;
    }
};

} // namespace

class TestEngine : public QObject {
    Q_OBJECT
private slots:
    void blockEntry();
    void agcPresetsReachTheReceiver();
    void agcPresetTable();
    void tapsFollowTheModeClass_data();
    void tapsFollowTheModeClass();
    void modeChangeRefadesOnlyItsReceiver();
    void decimationFollowsRate_data();
    void decimationFollowsRate();
    void blockEntryAllocatesNothing();
    void receiverBlockAllocatesNothing_data();
    void receiverBlockAllocatesNothing();
    void rampFollowsFirstOrderLaw_data();
    void rampFollowsFirstOrderLaw();
    void fadeOutSwitchFadeIn();
    void agcQueue_data();
    void agcQueue();
    void mixerSingleChannelRule_data();
    void mixerSingleChannelRule();
};

// A stopped receiver still fills its raw ring and the tap, but is not woken;
// no audio is given without mixed frames; unknown receivers are refused.
void TestEngine::blockEntry()
{
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    CountingTap tap;
    dsp.setIqTap(&tap);
    std::vector<Sample> block(200), audio(200, Sample{7.0, 7.0}), raw(200);
    tone(block.data(), 200, 1000.0, 39062.5, 0.5, 0);
    QVERIFY(!dsp.receiver(1)->isRunning());
    QVERIFY(!dsp.processBlock(block.data(), audio.data(), 1));
    QCOMPARE(tap.blocks, 1);
    QCOMPARE(tap.lastCount, std::size_t(200));
    QCOMPARE(tap.lastReceiver, 1u);
    QCOMPARE(dsp.rawIqRing(0)->fill(), 0u);
    QCOMPARE(dsp.receiver(1)->inputRing().fill(), 0u);
    QVERIFY(dsp.rawIqRing(1)->read(raw.data(), 200));
    QVERIFY(std::memcmp(raw.data(), block.data(), 200 * sizeof(Sample)) == 0);

    tap.active = false;
    for (int i = 0; i < 5; ++i)
        QVERIFY(!dsp.processBlock(block.data(), audio.data(), 0));
    QCOMPARE(tap.blocks, 1);
    for (const Sample& s : audio)
        QVERIFY(s.re == 7.0 && s.im == 7.0);
    QVERIFY(!dsp.processBlock(block.data(), audio.data(), 2));
    QVERIFY(!dsp.processBlock(block.data(), audio.data(), 255));
    QVERIFY(dsp.rawIqRing(2) == nullptr);
}

void TestEngine::agcPresetsReachTheReceiver()
{
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    auto applied = [&](int rx) {
        step(dsp.receiver(rx));
        return dsp.receiver(rx)->appliedAgc();
    };
    // Created with "Long", enabled.
    QCOMPARE(applied(0).decayMs, 800.0);
    dsp.setAgc(0, 4); // "Fast"
    QCOMPARE(applied(0).decayMs, 100.0);
    dsp.setAgc(1, 5); // "User"
    dsp.setAgcAttack(4, 2.0);
    dsp.setAgcDecay(4, 1200.0);
    dsp.setAgcHang(4, 5000);
    dsp.setAgcDecay(2, 42.0); // a preset nobody follows
    AgcSettings s = applied(1);
    QCOMPARE(s.attackMs, 2.0);
    QCOMPARE(s.decayMs, 1200.0);
    QCOMPARE(s.hangMs, 3000u); // clamped on the way in
    QCOMPARE(dsp.agcPreset(4).hang, 5000u);
    QCOMPARE(applied(0).decayMs, 100.0);
}

// The host's index: 0 off, 1..5 a preset; each field through the one setter.
void TestEngine::agcPresetTable()
{
    AgcPresetTable table;
    QVERIFY(!table.select(0, 1)); // already "Long"
    QVERIFY(!table.select(0, 6)); // no such preset
    QVERIFY(!table.select(2, 3)); // no such receiver
    QCOMPARE(table.hostIndex(2), 0);
    QVERIFY(table.select(0, 4)); // "Fast"
    AgcSettings s = table.settings(0);
    QVERIFY(s.attackMs == 0.7 && s.decayMs == 100.0 && s.hangMs == 100u && s.enabled);
    QVERIFY(table.follows(0, 3) && !table.follows(1, 3));
    QVERIFY(table.select(0, 0)); // off: the first preset's times, disabled
    s = table.settings(0);
    QVERIFY(s.decayMs == 800.0 && !s.enabled);
    QVERIFY(!table.follows(0, 0));
    QCOMPARE(table.hostIndex(0), 0);

    QVERIFY(table.set(4, &AgcPresetTable::Preset::attack, 2.5));
    QVERIFY(table.set(4, &AgcPresetTable::Preset::hang, 5000u));
    QVERIFY(!table.set(5, &AgcPresetTable::Preset::decay, 1.0));
    QVERIFY(table.select(1, 5)); // "User"
    s = table.settings(1);
    QVERIFY(s.attackMs == 2.5 && s.decayMs == 1000.0 && s.hangMs == 5000u); // passed on unclamped
    QCOMPARE(table.preset(3).attack, 0.7); // the others untouched
}

void TestEngine::tapsFollowTheModeClass_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("firClass"); // -1: the mode keeps its taps
    const int classes[] = {FirTapClasses::Am,  FirTapClasses::Am,  -1, FirTapClasses::Ssb,
                           FirTapClasses::Ssb, FirTapClasses::Cw,  FirTapClasses::Am, FirTapClasses::Dig,
                           FirTapClasses::Dig, FirTapClasses::Am,  FirTapClasses::Dig};
    for (int mode = 0; mode <= 10; ++mode)
        QTest::addRow("mode %d", mode) << mode << classes[mode];
    QTest::newRow("no mode") << 11 << -1;
}

// Class taps: SSB 1001, AM 1101, DIG 1201, CW 1301; the engine hands them to
// the receiver whose mode is in the class.
void TestEngine::tapsFollowTheModeClass()
{
    QFETCH(int, mode);
    QFETCH(int, firClass);
    const auto classTaps = [](int c) { return uint32_t(1001 + 100 * c); };
    FirTapClasses taps;
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    dsp.setMode(1, ReceiverZorvani::DSB); // receiver 1 keeps its taps
    for (int c = 0; c < FirTapClasses::kClasses; ++c) {
        QVERIFY(taps.set(c, classTaps(c)));
        dsp.setFirTaps(c, classTaps(c));
    }
    QCOMPARE(FirTapClasses::classOf(mode), firClass);
    QCOMPARE(taps.tapsFor(mode), firClass < 0 ? 0u : classTaps(firClass));
    QVERIFY(!taps.set(FirTapClasses::Cw, 0));
    QVERIFY(!taps.set(FirTapClasses::Cw, FastFirZorvani::kMaxTaps + 1));
    QVERIFY(!taps.set(FirTapClasses::kClasses, 101));
    QCOMPARE(taps.taps(FirTapClasses::Cw), classTaps(FirTapClasses::Cw));

    QCOMPARE(dsp.receiver(0)->taps(), classTaps(FirTapClasses::Ssb)); // created in LSB
    QCOMPARE(dsp.receiver(1)->taps(), FirTapClasses::kDefaultTaps);
    dsp.setMode(0, mode);
    QCOMPARE(dsp.receiver(0)->taps(), firClass < 0 ? classTaps(FirTapClasses::Ssb) : classTaps(firClass));
}

void TestEngine::modeChangeRefadesOnlyItsReceiver()
{
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    std::vector<Sample> out(4096);
    auto settle = [&] {
        for (int i = 0; i < 1000; ++i) {
            bool busy = false;
            for (int r = 0; r < 2; ++r) {
                ReceiverZorvani* rx = dsp.receiver(r);
                step(rx);
                for (int ch = 0; ch < 2; ++ch)
                    rx->outputRing(ch).read(out.data(), rx->outputRing(ch).fill());
                busy = busy || rx->faderState() != Fader::Pass;
            }
            if (!busy)
                return true;
        }
        return false;
    };
    QVERIFY(settle()); // the fade of the initial AGC preset
    dsp.setMode(0, ReceiverZorvani::AM);
    QCOMPARE(dsp.receiver(0)->faderState(), Fader::FadeOut);
    QCOMPARE(dsp.receiver(1)->faderState(), Fader::Pass);
    QCOMPARE(dsp.receiver(0)->activeMode(), int(ReceiverZorvani::LSB)); // the old mode plays on
    QVERIFY(settle());
    QCOMPARE(dsp.receiver(0)->activeMode(), int(ReceiverZorvani::AM));
    // The same mode again, or the same AGC index again: no fade.
    dsp.setMode(0, ReceiverZorvani::AM);
    dsp.setAgc(0, dsp.agcIndex(0));
    QCOMPARE(dsp.receiver(0)->faderState(), Fader::Pass);
    // A new AGC index fades that receiver.
    dsp.setAgc(1, 3);
    QCOMPARE(dsp.receiver(1)->faderState(), Fader::FadeOut);
    QCOMPARE(dsp.receiver(0)->faderState(), Fader::Pass);
}

void TestEngine::decimationFollowsRate_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("decimation");
    QTest::newRow("39062.5") << 39062.5 << 1;
    QTest::newRow("78125") << 78125.0 << 2;
    QTest::newRow("312500") << 312500.0 << 8;
}

void TestEngine::decimationFollowsRate()
{
    QFETCH(double, rate);
    QFETCH(int, decimation);
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    dsp.setSampleRate(rate);
    for (int r = 0; r < 2; ++r)
        QCOMPARE(dsp.receiver(r)->wakeThreshold(), uint32_t(decimation * 200));
    // One wake-up's worth becomes 200 frames per channel.
    ReceiverZorvani* rx = dsp.receiver(0);
    std::vector<Sample> block(200, Sample{0.01, 0.0});
    for (int i = 0; i < decimation; ++i)
        QVERIFY(rx->inputRing().write(block.data(), 200));
    rx->processBuffered();
    QCOMPARE(rx->inputRing().fill(), 0u);
    QCOMPARE(rx->outputRing(0).fill(), 200u);
    QCOMPARE(rx->outputRing(1).fill(), 200u);
}

void TestEngine::blockEntryAllocatesNothing()
{
    // Every wide-band stage at work: both blankers, an active notch, the
    // panorama worker, an active IQ tap, and mixed audio to take.
    zorvaniDsp dsp(nullptr, nullptr, std::make_shared<FortyMetres>());
    dsp.setCentreFrequency(0, 7100000.0);
    dsp.onRnfParam(0, 0, true, 7101000.0, 100.0);
    dsp.onRnfEnabled(0, true);
    dsp.setNb1(0, true);
    dsp.setNb2(0, true);
    CountingTap tap;
    dsp.setIqTap(&tap);
    ReceiverZorvani* rx = dsp.receiver(0);
    std::vector<Sample> block(200), audio(200), sink(8192);
    long t = 0;
    int delivered = 0;
    auto packet = [&] {
        tone(block.data(), 200, 1000.0, 39062.5, 0.3, t);
        t += 200;
        if (dsp.processBlock(block.data(), audio.data(), 0))
            ++delivered;
        dsp.rawIqRing(0)->read(sink.data(), 200);
        rx->inputRing().write(block.data(), 200);
        rx->processBuffered();
        dsp.mixer().mixOnce();
    };
    for (int i = 0; i < 100; ++i)
        packet();
    delivered = 0;
    testsupport::AllocationScope scope;
    for (int i = 0; i < 200; ++i)
        packet();
    const auto allocations = scope.count();
    QCOMPARE(allocations, 0u);
    QCOMPARE(delivered, 200);
    QCOMPARE(tap.blocks, 300);
}

void TestEngine::receiverBlockAllocatesNothing_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("mode");
    for (double rate : {39062.5, 312500.0}) {
        for (int mode = 0; mode <= 10; ++mode)
            QTest::newRow(qPrintable(QString("mode %1 at %2").arg(mode).arg(rate))) << rate << mode;
    }
}

void TestEngine::receiverBlockAllocatesNothing()
{
    QFETCH(double, rate);
    QFETCH(int, mode);
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    dsp.setSampleRate(rate);
    dsp.setMode(0, mode);
    const double edge = mode == ReceiverZorvani::WFM ? 100000.0 : 3000.0;
    dsp.setFilter(0, -edge, edge);
    // Every optional stage on.
    dsp.setNr(0, true);
    dsp.setAnf(0, true);
    dsp.setApf(0, true);
    dsp.setSsbApf(0, true);
    dsp.setDse(0, true);
    dsp.setEqualizerEnable(0, true);
    dsp.setEqualizerGains(0, QList<int>{3, -3, 6});
    dsp.setSqlEnable(0, 0, true);
    dsp.setSqlValue(0, 0, -120);
    dsp.setEnableCTCSS(0, mode == ReceiverZorvani::NFM);
    dsp.setWfmStereo(0, true);
    ReceiverZorvani* rx = dsp.receiver(0);
    QSignalSpy levels(&dsp, &zorvaniDsp::dBmMeter);
    const int d = rx->decimation();
    std::vector<Sample> block(200), out(ReceiverZorvani::kRingSize);
    long t = 0;
    auto oneWake = [&] {
        for (int i = 0; i < d; ++i, t += 200) {
            tone(block.data(), 200, 1000.0, rate, 0.3, t);
            rx->inputRing().write(block.data(), 200);
        }
        rx->processBuffered();
        rx->outputRing(0).read(out.data(), rx->outputRing(0).fill());
        rx->outputRing(1).read(out.data(), rx->outputRing(1).fill());
    };
    // Through the fade to the new mode and into the steady state.
    for (int i = 0; i < 250; ++i)
        oneWake();
    QCOMPARE(rx->activeMode(), mode);
    QCOMPARE(levels.count(), 500); // the receiver's meters reach the engine's signal
    // The spy copies each emission; detach it before counting.
    QObject::disconnect(&dsp, &zorvaniDsp::dBmMeter, nullptr, nullptr);
    testsupport::AllocationScope scope;
    for (int i = 0; i < 20; ++i)
        oneWake();
    const auto allocations = scope.count();
    QCOMPARE(allocations, 0u);
}

void TestEngine::rampFollowsFirstOrderLaw_data()
{
    QTest::addColumn<double>("dB");
    QTest::addColumn<double>("target");
    QTest::newRow("-20 dB") << -20.0 << 0.1;
    QTest::newRow("+6 dB limited to 0") << 6.0 << 1.0;
    QTest::newRow("-59 dB") << -59.0 << std::pow(10.0, -59.0 / 20.0);
    QTest::newRow("-130 dB floor") << -130.0 << std::pow(10.0, -6.5);
}

// g_k = t + (g0 - t) a^(k+1), applied after the update.
void TestEngine::rampFollowsFirstOrderLaw()
{
    QFETCH(double, dB);
    QFETCH(double, target);
    GainRamp ramp;
    ramp.setTargetDb(dB);
    std::vector<Sample> x = ones(1000);
    ramp.apply(x.data(), 1000);
    for (int k : {0, 1, 10, 500, 999}) {
        const double expected = target + (1.0 - target) * std::pow(kA, k + 1);
        QVERIFY2(std::fabs(x[size_t(k)].re - expected) < 1e-12, qPrintable(QString("sample %1").arg(k)));
        QVERIFY2(std::fabs(x[size_t(k)].im + expected) < 1e-12, qPrintable(QString("sample %1").arg(k)));
    }
    QVERIFY(std::fabs(ramp.gain() - x[999].re) < 1e-15);
}

void TestEngine::fadeOutSwitchFadeIn()
{
    ModulationSwitcher fader(3);
    std::vector<Sample> a = ones(200), b = ones(200);
    fader.process(a.data(), b.data(), 200);
    QCOMPARE(a[199].re, 1.0); // pass leaves the block alone

    fader.setPendingMode(4);
    fader.requestChange();
    QCOMPARE(fader.state(), ModulationSwitcher::FadeOut);
    // Fade out: g -> 10^-6.5; done when |g - t| * 1e5 <= t, i.e.
    // (1 - t) a^k <= t / 1e5.
    const double floor = std::pow(10.0, -6.5);
    const int fadeOutSamples = int(std::ceil(std::log(floor / 1e5 / (1.0 - floor)) / std::log(kA)));
    int processed = 0;
    double previous = 1.0;
    while (fader.state() == ModulationSwitcher::FadeOut) {
        QCOMPARE(fader.activeMode(), 3); // the old mode plays during the fade-out
        QVERIFY(!fader.takeResetRequest());
        a = ones(200);
        b = ones(200);
        fader.process(a.data(), b.data(), 200);
        processed += 200;
        QVERIFY2(a[199].re < previous, "gain must fall monotonically");
        QCOMPARE(a[199].re, b[199].re);
        previous = a[199].re;
        QVERIFY2(processed < 100000, "fade-out never completes");
        if (processed == 2000) {
            // A second change meanwhile does not restart the fade.
            fader.setPendingMode(5);
            fader.requestChange();
            QCOMPARE(fader.gain(0), previous);
            fader.setPendingMode(4);
        }
    }
    // The state changes at the end of the block in which the target is reached.
    QVERIFY2(processed >= fadeOutSamples && processed < fadeOutSamples + 400,
             qPrintable(QString("%1 samples, expected about %2").arg(processed).arg(fadeOutSamples)));
    QCOMPARE(fader.state(), ModulationSwitcher::Switch);
    QVERIFY(fader.takeResetRequest());
    QVERIFY(!fader.takeResetRequest());

    processed = 0;
    do {
        a = ones(200);
        b = ones(200);
        fader.process(a.data(), b.data(), 200);
        processed += 200;
        QCOMPARE(fader.activeMode(), 4);
        QVERIFY2(processed < 100000, "fade-in never completes");
    } while (fader.state() == ModulationSwitcher::FadeIn);
    // Fade in done when (1 - g) * 1e5 <= 1 from about 10^-6.5.
    const int fadeInSamples = int(std::ceil(std::log(1e-5) / std::log(kA)));
    QVERIFY2(std::abs(processed - fadeInSamples) <= 400,
             qPrintable(QString("%1 samples, expected about %2").arg(processed).arg(fadeInSamples)));
    QCOMPARE(fader.state(), ModulationSwitcher::Pass);
    QVERIFY(std::fabs(fader.gain(0) - 1.0) <= 1e-5);
    QVERIFY(std::fabs(fader.gain(1) - 1.0) <= 1e-5);
}

void TestEngine::agcQueue_data()
{
    QTest::addColumn<double>("attack");
    QTest::addColumn<double>("decay");
    QTest::addColumn<uint>("hang");
    QTest::addColumn<double>("attackOut");
    QTest::addColumn<double>("decayOut");
    QTest::addColumn<uint>("hangOut");
    QTest::newRow("below limits") << 0.01 << 5000.0 << 0u << 0.1 << 3000.0 << 1u;
    QTest::newRow("above limits") << 9.0 << 0.5 << 5000u << 5.0 << 1.0 << 3000u;
    QTest::newRow("edges") << 0.1 << 3000.0 << 1u << 0.1 << 3000.0 << 1u;
}

// Values are clamped on the way in; a full queue keeps the newest.
void TestEngine::agcQueue()
{
    QFETCH(double, attack);
    QFETCH(double, decay);
    QFETCH(uint, hang);
    QFETCH(double, attackOut);
    QFETCH(double, decayOut);
    QFETCH(uint, hangOut);
    AgcQueue queue;
    for (int i = 0; i < AgcQueue::kCapacity + 5; ++i)
        queue.push(AgcSettings{1.0, double(100 + i), 100, true});
    queue.push(AgcSettings{attack, decay, hang, false});
    QCOMPARE(queue.size(), AgcQueue::kCapacity);
    std::vector<AgcSettings> applied;
    queue.drain([&](const AgcSettings& s) { applied.push_back(s); });
    QCOMPARE(int(applied.size()), AgcQueue::kCapacity);
    QCOMPARE(applied.front().decayMs, 100.0);
    QCOMPARE(queue.size(), 0);
    const AgcSettings& s = applied.back();
    QCOMPARE(s.attackMs, attackOut);
    QCOMPARE(s.decayMs, decayOut);
    QCOMPARE(s.hangMs, uint32_t(hangOut));
    QCOMPARE(s.enabled, false);
}

void TestEngine::mixerSingleChannelRule_data()
{
    QTest::addColumn<int>("enabledMask"); // bit rx*2+ch
    QTest::addColumn<bool>("single");
    QTest::newRow("only rx0 ch0") << 0b0001 << true;
    QTest::newRow("rx0 ch0 and rx1 ch1") << 0b1001 << true;
    QTest::newRow("rx0 both") << 0b0011 << false;
    QTest::newRow("rx0 ch0 and rx1 ch0") << 0b0101 << false;
    QTest::newRow("all") << 0b1111 << false;
}

// A lone audible channel plays at unity gain whatever its volume; otherwise
// volumes and balances apply. Controls out of range change nothing.
void TestEngine::mixerSingleChannelRule()
{
    QFETCH(int, enabledMask);
    QFETCH(bool, single);
    const double volume[2][2] = {{-80.0, -6.0}, {-60.0, 20.0}};
    const double balance[2][2] = {{0.5, -0.25}, {0.75, -1.0}};
    MixerGains gains;
    for (int i = 0; i < 4; ++i) {
        QVERIFY(gains.setVolume(i / 2, i % 2, volume[i / 2][i % 2]));
        QVERIFY(gains.setBalance(i / 2, i % 2, balance[i / 2][i % 2]));
        QVERIFY(gains.setEnabled(i / 2, i % 2, (enabledMask >> i) & 1));
    }
    QVERIFY(!gains.setVolume(2, 0, 0.0) && !gains.setBalance(0, 2, 0.0) && !gains.setEnabled(-1, 0, true));
    const MixerGainTable table = gains.table();
    if (single) {
        QCOMPARE(table[0][0].gain, 1.0);
        QCOMPARE(table[0][0].balance, 0.0);
        QCOMPARE(table[0][1].gain + table[1][0].gain + table[1][1].gain, 0.0);
        return;
    }
    QCOMPARE(table[0][0].gain, 0.0);                              // -80 dB
    QVERIFY(std::fabs(table[0][1].gain - 0.501187233627) < 1e-9); // -6 dB
    QCOMPARE(table[1][0].gain, 0.0);                              // -60 dB is silence
    QVERIFY(std::fabs(table[1][1].gain - 10.0) < 1e-12);          // +20 dB
    for (int rx = 0; rx < 2; ++rx)
        for (int ch = 0; ch < 2; ++ch)
            QCOMPARE(table[rx][ch].balance, balance[rx][ch]);
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
