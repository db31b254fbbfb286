// What the engine hands to the rest of the plug-in: the audio paths (main,
// VAC, line out) and the wide-band stages (notches by band, blankers).
#include "EngineRig.h"
#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"

#include <QtTest>

using namespace dsptest;

namespace {

// The raw rings have no consumer inside the engine and a full ring takes no
// more blocks: the tests read all but the newest n away.
void keepLatest(CircularBuffer<C>& ring, uint32_t n)
{
    Signal sink(8192);
    if (ring.fill() > n)
        ring.read(sink.data(), ring.fill() - n);
}

// Amplitude of the tone at hz in the newest 4000 samples of a raw ring.
double rawAmplitude(CircularBuffer<C>& ring, double hz)
{
    Signal x(4000);
    return ring.peekLatest(x.data(), 4000) ? complexAmplitude(x, 0, 4000, hz) : -1.0;
}

using Pull = std::function<bool(float*, quint32, quint32)>;

std::vector<float> pull(const Pull& f, quint32 frames)
{
    std::vector<float> buffer(frames * 2, 9.0f);
    if (!f(buffer.data(), quint32(buffer.size()), 2))
        buffer.assign(buffer.size(), -1.0f);
    return buffer;
}

bool allZero(const std::vector<float>& v) { return std::all_of(v.begin(), v.end(), [](float x) { return x == 0.0f; }); }

} // namespace

class TestEnginePaths : public QObject {
    Q_OBJECT
private slots:
    // VAC and line out give silence while closed, short of frames, or for
    // receivers that do not exist (the main output: every system run opens
    // and pulls it); opening an open path changes nothing; a VAC
    // reopened at another rate is retuned without a restart. The VAC and the
    // line output carry channel 0 at a quarter of its level, converted to
    // 48000 Hz, taken beyond each ring's reserve as a steady host takes them;
    // closed, they give silence with frames left in them.
    void audioPaths()
    {
        Rig rig;
        zorvaniDsp& dsp = rig.dsp;
        ReceiverZorvani* rx = dsp.receiver(0);
        const Pull vac = [&](float* b, quint32 l, quint32 c) { return dsp.vacPull(0, b, l, c); };
        const Pull line = [&](float* b, quint32 l, quint32 c) { return dsp.lineOutPull(0, b, l, c); };
        QVERIFY(allZero(pull(vac, 512)) && allZero(pull(line, 512)));
        dsp.openVac(1, 0); // no rate: the path stays closed
        QVERIFY(!dsp.receiver(1)->vacOpen());
        dsp.openVac(1, 44100);
        QVERIFY(dsp.receiver(1)->vacConverter().inputRate() == kFs && dsp.receiver(1)->vacConverter().outputRate() == 44100.0);
        dsp.openVac(1, 96000);
        QVERIFY(dsp.receiver(1)->vacConverter().isRunning() && dsp.receiver(1)->vacConverter().outputRate() == 96000.0);
        QVERIFY(allZero(pull([&](float* b, quint32 l, quint32 c) { return dsp.vacPull(5, b, l, c); }, 64)));
        QVERIFY(allZero(pull([&](float* b, quint32 l, quint32 c) { return dsp.lineOutPull(-1, b, l, c); }, 64)));
        dsp.receiver(1)->vacClose();

        dsp.openVac(0, 48000);
        dsp.openVac(0, 48000); // open already: the thread keeps running
        QVERIFY(rx->vacConverter().isRunning());
        rx->lineoutOpen();
        const Waveform signal = toneAt(1000.0, 0.05);
        Signal heard[2];
        ResamplerSCZorvani* converters[2] = {&rx->vacConverter(), &rx->lineOutConverter()};
        // Steps small enough that the reserve, a chunk still converting when
        // the input ring is seen empty, and the next step fit the output ring.
        for (int step = 0; step < 120; ++step) {
            rig.run(signal, 0.0125);
            for (int p = 0; p < 2; ++p) {
                CircularBuffer<C>& ring = converters[p]->outputRing();
                QTRY_VERIFY_WITH_TIMEOUT(converters[p]->inputRing().fill() == 0, 5000);
                if (ring.fill() <= ring.prefill())
                    continue;
                const std::vector<float> v = pull(p == 0 ? vac : line, ring.fill() - ring.prefill());
                for (size_t i = 0; i < v.size(); i += 2)
                    heard[p].push_back(C{v[i], v[i + 1]});
            }
        }
        // USB: the receiver's channel is complex (re = audio), so the VAC hears re.
        const double entry = level(rig.entry, 1000.0);
        for (const Signal& h : heard) {
            const double a = level(h, 1000.0, 0, 48000.0, 8000);
            QVERIFY2(std::fabs(a / entry - 0.25) < 0.01 && rms(h, int(h.size()) - 8000, 8000) < 1.05 * a / std::sqrt(2.0),
                     qPrintable(QString("%1 of the entry, rms %2").arg(a / entry).arg(rms(h, int(h.size()) - 8000, 8000))));
        }
        rig.run(signal, 0.05);
        QTRY_VERIFY_WITH_TIMEOUT(rx->vacConverter().outputRing().fill() > 0, 5000);
        rx->vacClose();
        rx->lineoutClose();
        QVERIFY(!rx->vacConverter().isRunning() && !rx->lineOutConverter().isRunning());
        QVERIFY(allZero(pull(vac, 64)) && allZero(pull(line, 64)));
    }

    // A notch in a band acts on the receivers tuned into that band, at its
    // offset from the receiver's centre, once the band's bank is on.
    void notchesFollowTheReceiversBand()
    {
        zorvaniDsp dsp(nullptr, nullptr, std::make_shared<BandCatalogue>());
        dsp.setCentreFrequency(0, 7100000.0);
        dsp.setCentreFrequency(1, 13990000.0);
        dsp.setChannelOffset(1, 0, 20000.0); // 14.01 MHz: the 20 m band
        dsp.onRnfParam(1, 0, true, 7103000.0, 200.0); // 40 m (band index 1)
        dsp.onRnfEnabled(1, true);
        dsp.onRnfParam(2, 0, true, 13993000.0, 200.0); // 20 m, +3 kHz of receiver 1's centre
        Signal block(200), audio(200);
        auto run = [&](long from, long to, quint32 first) {
            for (long t = from; t < to; t += 200)
                for (quint32 r = first; r < 2; ++r) {
                    sample(block, toneAt(3000.0, 0.1), t, kFs);
                    keepLatest(*dsp.rawIqRing(int(r)), 4000);
                    dsp.processBlock(block.data(), audio.data(), r);
                }
        };
        run(0, 20000, 0);
        const double open = rawAmplitude(*dsp.rawIqRing(1), 3000.0);
        QVERIFY2(std::fabs(open - 0.1) < 1e-3, qPrintable(QString("receiver 1 (bank off) %1").arg(open)));
        QVERIFY2(rawAmplitude(*dsp.rawIqRing(0), 3000.0) < 0.1 * 0.01, "receiver 0 not notched");
        dsp.onRnfEnabled(2, true);
        run(20000, 40000, 1);
        QVERIFY(rawAmplitude(*dsp.rawIqRing(1), 3000.0) < 0.1 * 0.01);
    }

    // Off, an impulse passes; NB1 of receiver 0 blanks seven samples around
    // it once its average has settled; receiver 1's blanker stays off.
    void blankerReachesTheBlock()
    {
        zorvaniDsp dsp(nullptr, nullptr, nullptr);
        Signal block(200), audio(200), raw(200);
        auto blanked = [&](quint32 rx, bool impulse) {
            std::fill(block.begin(), block.end(), C{0.01, 0.0});
            block[100] = impulse ? C{5.0, 0.0} : block[100];
            keepLatest(*dsp.rawIqRing(int(rx)), 0);
            dsp.processBlock(block.data(), audio.data(), rx);
            dsp.rawIqRing(int(rx))->peekLatest(raw.data(), 200);
            return std::count_if(raw.begin(), raw.end(), [](const C& s) { return s.re == 0.0 && s.im == 0.0; });
        };
        QCOMPARE(blanked(0, true), 0L);
        dsp.setNb1(0, true);
        for (int i = 0; i < 50; ++i)
            blanked(0, false);
        QCOMPARE(blanked(0, true), 7L);
        QCOMPARE(blanked(1, true), 0L);
    }
};

QTEST_GUILESS_MAIN(TestEnginePaths)
#include "tst_enginepaths.moc"
