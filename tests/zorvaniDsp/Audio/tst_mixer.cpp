#include "AllocationCounter.h"
#include "DspTestSupport.h"
#include "zorvaniDsp/Audio/MixerGains.h"
#include "zorvaniDsp/Audio/MixerZorvani.h"
#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"

#include <QtTest>

using namespace dsptest;

namespace {

constexpr int kBlock = MixerZorvani::kBlockFrames;

class FakeSource : public MixerSource {
public:
    explicit FakeSource(int m = 0) : mode(m) {}
    CircularBuffer<C>& outputRing(int channel) override { return rings[channel]; }
    int activeMode() const override { return mode; }
    bool binauralCw() const override { return binaural; }
    // One block per channel; channel 1 gets `sub` (silence by default).
    void push(const Signal& main, const Signal& sub = Signal(kBlock))
    {
        rings[0].write(main.data(), kBlock);
        rings[1].write(sub.data(), kBlock);
        outputWritten();
    }
    CircularBuffer<C> rings[2]{CircularBuffer<C>(4096), CircularBuffer<C>(4096)};
    int mode;
    bool binaural = false;
};

Signal constant(double l, double r) { return Signal(kBlock, C{l, r}); }

// Left n + 1, right -(n + 1) from frame `start` on.
Signal ramp(int start)
{
    Signal x(kBlock);
    for (int i = 0; i < kBlock; ++i)
        x[i] = {double(start + i + 1), -double(start + i + 1)};
    return x;
}

// `blocks` blocks of `block` through the mixer, each mixed and taken.
Signal mix(MixerZorvani& mixer, FakeSource& source, int blocks, const Signal& block = constant(1.0, 1.0))
{
    Signal all, out(kBlock);
    for (int b = 0; b < blocks; ++b) {
        source.push(block);
        if (!mixer.mixOnce() || !mixer.outputRing().read(out.data(), kBlock))
            return all;
        all.insert(all.end(), out.begin(), out.end());
    }
    return all;
}

} // namespace

class TestMixer : public QObject {
    Q_OBJECT
private slots:
    // Mono (LSB, USB, and CW without its binaural stage) makes im a copy of re.
    void monoOrStereoByMode()
    {
        for (int mode = 0; mode <= 10; ++mode)
            for (bool binauralCw : {false, true}) {
                FakeSource source(mode);
                source.binaural = binauralCw;
                MixerZorvani mixer({&source}, nullptr);
                const bool mono = mode == 3 || mode == 4 || (mode == 5 && !binauralCw);
                QVERIFY2(sameBits(mix(mixer, source, 1, constant(0.3, -0.2)), constant(0.3, mono ? 0.3 : -0.2)),
                         qPrintable(QString("mode %1%2").arg(mode).arg(binauralCw ? ", binaural CW" : "")));
            }
    }

    // A binaural channel stays stereo in LSB, USB and CW and its right side
    // comes 391 frames (10 ms) late; other modes keep the right side. Turning
    // it off and on empties the delay line; setting it again keeps it.
    void binaural()
    {
        for (int mode : {3, 4, 5, 0}) {
            FakeSource source(mode);
            MixerZorvani mixer({&source}, nullptr);
            mixer.setBinaural(0, 0, true);
            Signal all;
            for (int b = 0; b < 4; ++b) {
                const Signal out = mix(mixer, source, 1, ramp(b * kBlock));
                all.insert(all.end(), out.begin(), out.end());
            }
            QCOMPARE(int(all.size()), 4 * kBlock);
            for (int n = 0; n < int(all.size()); ++n) {
                const double right = mode == 0 ? -double(n + 1) : n < 391 ? 0.0 : -double(n - 390);
                QVERIFY2(all[n].re == n + 1 && all[n].im == right, qPrintable(QString("mode %1 frame %2").arg(mode).arg(n)));
            }
            mixer.setBinaural(0, 0, true);
            QCOMPARE(mix(mixer, source, 1).back().im, mode == 0 ? 1.0 : -double(4 * kBlock - 191));
            mixer.setBinaural(0, 0, false);
            mixer.setBinaural(0, 0, true);
            QCOMPARE(mix(mixer, source, 1).back().im, mode == 0 ? 1.0 : 0.0);
        }
    }

    // g(n) = t + (g0 - t) 0.98^(n+1) per frame, then the block is simply
    // scaled. Reset empties the rings and the delay line, keeps the settings.
    void gainRampAndReset()
    {
        FakeSource source(4);
        MixerZorvani mixer({&source}, nullptr);
        mixer.setGain(0, 0, 0.5, 0.0);
        mixer.setBinaural(0, 0, true);
        const Signal all = mix(mixer, source, 3);
        for (int n = 0; n < int(all.size()); ++n)
            QVERIFY2(std::abs(all[n].re - (0.5 + 0.5 * std::pow(0.98, n + 1))) < 1e-12, qPrintable(QString::number(n)));
        mix(mixer, source, 5);
        for (const C& f : mix(mixer, source, 1, constant(0.8, 0.8)))
            QCOMPARE(f.re, 0.4);
        source.push(constant(1.0, 1.0));
        QVERIFY(mixer.mixOnce() && mixer.outputRing().fill() == uint32_t(kBlock));
        mixer.reset();
        QCOMPARE(mixer.outputRing().fill(), 0u);
        QVERIFY(sameBits(mix(mixer, source, 1), constant(0.5, 0.0)));
    }

    // Once the ramp is done (0.98^2000 is far below the snap to the
    // target): balance -100 is left only, +100 right only, beyond clamps; a
    // negative gain is silence.
    void balanceLaw()
    {
        const double rows[][4] = {{1.0, 0.0, 1.0, 1.0}, {1.0, 50.0, 0.5, 1.0}, {0.5, -100.0, 0.5, 0.0}, {2.0, 250.0, 0.0, 2.0}, {-1.0, 0.0, 0.0, 0.0}};
        for (const auto& r : rows) { // gain, balance, left, right
            FakeSource source;
            MixerZorvani mixer({&source}, nullptr);
            mixer.setGain(0, 0, r[0], r[1]);
            mix(mixer, source, 10);
            QVERIFY2(sameBits(mix(mixer, source, 1), constant(r[2], r[3])), qPrintable(QString("gain %1 balance %2").arg(r[0]).arg(r[1])));
        }
    }

    // A muted channel fades at 0.98 per frame to silence and keeps being
    // read; NaN input is silenced, not spread; unmuting ramps back up.
    void muteAndDisable()
    {
        FakeSource source;
        MixerZorvani mixer({&source}, nullptr);
        mixer.setMute(0, 0, true);
        const Signal all = mix(mixer, source, 8);
        QCOMPARE(int(all.size()), 8 * kBlock);
        for (int n = 0; n < 400; ++n)
            QVERIFY2(std::abs(all[n].re - std::pow(0.98, n + 1)) < 1e-12, qPrintable(QString::number(n)));
        QVERIFY(all.back().re == 0.0 && all.back().im == 0.0);
        QCOMPARE(mix(mixer, source, 1, constant(std::nan(""), 1.0))[0].re, 0.0);
        mixer.setMute(0, 0, false);
        const Signal back = mix(mixer, source, 1);
        QVERIFY(std::abs(back[0].re - 0.02) < 1e-12 && back[199].re > back[0].re);
        // A disabled receiver fades out, then its rings are no longer read.
        mixer.setEnable(0, 0, false);
        mixer.setEnable(0, 1, false);
        int passes = 0;
        for (Signal out; passes < 20 && !(out = mix(mixer, source, 1)).empty(); ++passes)
            QVERIFY(out.back().re < 1.0);
        QVERIFY2(passes > 1 && passes < 20, qPrintable(QString("faded in %1 passes").arg(passes)));
        QVERIFY(source.rings[0].fill() == uint32_t(kBlock) && !mixer.mixOnce());
        mixer.setEnable(0, 0, true);
        QVERIFY(mixer.mixOnce() && source.rings[0].fill() == 0u);
    }

    // Receivers are summed and the sum goes to the sound card too; a sound
    // card ring without room for a block is skipped, the mixer's is not.
    // Once running, mixing allocates nothing.
    void sumsReceiversAndFeedsSoundCard()
    {
        FakeSource rx0(9), rx1(9);
        auto soundCard = std::make_shared<ResamplerSCZorvani>();
        MixerZorvani mixer({&rx0, &rx1}, soundCard);
        rx0.push(constant(0.1, 0.2), constant(0.01, 0.02));
        rx1.push(constant(0.001, 0.002), constant(0.0001, 0.0002));
        QVERIFY(mixer.mixOnce());
        C out, fed;
        QVERIFY(mixer.outputRing().read(&out, 1) && soundCard->inputRing().read(&fed, 1));
        QVERIFY(std::abs(out.re - 0.1111) < 1e-15 && std::abs(out.im - 0.2222) < 1e-15);
        QVERIFY(fed.re == out.re && soundCard->inputRing().fill() == uint32_t(kBlock - 1));
        mixer.reset();
        std::vector<C> filler(4096 - 100);
        soundCard->inputRing().reset();
        QVERIFY(soundCard->inputRing().write(filler.data(), uint32_t(filler.size())));
        rx0.push(constant(0.1, 0.2));
        rx1.push(constant(0.001, 0.002));
        QVERIFY(mixer.mixOnce());
        QVERIFY(soundCard->inputRing().fill() == filler.size() && mixer.outputRing().fill() == uint32_t(kBlock));

        soundCard->inputRing().reset();
        rx0.mode = 5;
        mixer.setBinaural(1, 0, true);
        mixer.setGain(0, 1, 0.5, 20.0);
        mixer.setLevelStageEnabled(true);
        const Signal block = constant(0.5, 0.25);
        Signal sink(kBlock);
        testsupport::AllocationScope scope;
        for (int b = 0; b < 10; ++b) {
            rx0.push(block, block);
            rx1.push(block, block);
            QVERIFY(mixer.mixOnce() && mixer.outputRing().read(sink.data(), kBlock));
            QVERIFY(soundCard->inputRing().read(sink.data(), kBlock));
        }
        QCOMPARE(scope.count(), 0u);
    }

    // A receiver that never delivered is not waited for; once both deliver,
    // a late one holds the mix back; one that stops is left out once the
    // other leads by kMaxLeadFrames, and not waited for after kAbsentBlocks.
    void receiversAreMixedInStep()
    {
        FakeSource rx0(9), rx1(9);
        MixerZorvani mixer({&rx0, &rx1}, nullptr);
        QVERIFY(std::abs(mix(mixer, rx0, 1, constant(0.1, 0.1)).back().re - 0.1) < 1e-12);
        rx1.push(constant(0.01, 0.01));
        QVERIFY(std::abs(mix(mixer, rx0, 1, constant(0.1, 0.1)).back().re - 0.11) < 1e-12);
        rx0.push(constant(0.1, 0.1));
        QVERIFY(!mixer.mixOnce());
        rx1.push(constant(0.01, 0.01));
        QVERIFY(mixer.mixOnce());
        mixer.outputRing().reset();
        int pushed = 0;
        for (; !mixer.mixOnce(); ++pushed)
            rx0.push(constant(0.1, 0.1));
        QCOMPARE(pushed, int(MixerZorvani::kMaxLeadFrames / kBlock));
        while (mixer.mixOnce()) {
        }
        QCOMPARE(rx0.rings[0].fill(), uint32_t(3 * kBlock)); // still waiting with a lead of 600
        for (int i = 1; i < MixerZorvani::kAbsentBlocks; ++i) {
            rx0.push(constant(0.1, 0.1));
            QVERIFY(mixer.mixOnce());
        }
        while (mixer.mixOnce()) {
        }
        QCOMPARE(rx0.rings[0].fill(), 0u);
        // Both channels move together: a lone partial block waits.
        rx0.rings[0].write(constant(0.1, 0.1).data(), 199);
        rx0.rings[1].write(constant(0.1, 0.1).data(), 200);
        QVERIFY(!mixer.mixOnce());
    }

    // A lone audible channel (receiver 1's second channel does not count)
    // plays at unity gain whatever its volume; with receiver 0's second one
    // on, volumes (-60 dB or less is silence) and balances apply (the panel
    // system test hears both rules). Controls out of range change nothing.
    void gainTable()
    {
        const double volume[4] = {-80.0, -6.0, -60.0, 20.0}, balance[4] = {0.5, -0.25, 0.75, -1.0};
        MixerGains gains;
        for (int i = 0; i < 4; ++i) // receiver 0's first and receiver 1's second channel on
            QVERIFY(gains.setVolume(i / 2, i % 2, volume[i]) && gains.setBalance(i / 2, i % 2, balance[i])
                    && gains.setEnabled(i / 2, i % 2, i % 3 == 0));
        QVERIFY(!gains.setVolume(2, 0, 0.0) && !gains.setBalance(0, 2, 0.0) && !gains.setEnabled(-1, 0, true));
        MixerGainTable t = gains.table();
        QVERIFY(t[0][0].gain == 1.0 && t[0][0].balance == 0.0 && t[0][1].gain + t[1][0].gain + t[1][1].gain == 0.0);
        QVERIFY(gains.setEnabled(0, 1, true));
        t = gains.table();
        QVERIFY(t[0][0].gain == 0.0 && t[1][0].gain == 0.0 && std::fabs(t[1][1].gain - 10.0) < 1e-12);
        QVERIFY(std::fabs(t[0][1].gain - 0.501187233627) < 1e-9);
        for (int i = 0; i < 4; ++i)
            QVERIFY2(t[i / 2][i % 2].balance == balance[i], qPrintable(QString("channel %1").arg(i)));
    }
};

QTEST_GUILESS_MAIN(TestMixer)
#include "tst_mixer.moc"
