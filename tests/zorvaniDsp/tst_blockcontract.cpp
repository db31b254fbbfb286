// What every block of the chain promises: a stream cut into any blocks gives
// the output of the receiver's 200-sample blocks, reset() starts over, a null
// or empty block is refused and left alone, and once configured a block
// allocates nothing while it runs.
#include "AllocationCounter.h"
#include "DspTestSupport.h"
#include "zorvaniDsp/Demodulators/DemodAMZorvani.h"
#include "zorvaniDsp/Demodulators/FmDemodZorvani.h"
#include "zorvaniDsp/Demodulators/SamDemodZorvani.h"
#include "zorvaniDsp/Demodulators/SquelchZorvani.h"
#include "zorvaniDsp/Demodulators/WfmReceiverZorvani.h"
#include "zorvaniDsp/EqualizerZorvani.h"
#include "zorvaniDsp/Filters/AgcZorvani.h"
#include "zorvaniDsp/Filters/BiQuadFilter.h"
#include "zorvaniDsp/Filters/DecimatorZorvani.h"
#include "zorvaniDsp/Filters/DownConverterZorvani.h"
#include "zorvaniDsp/Filters/IQNotchFilter.h"
#include "zorvaniDsp/Filters/IirLowpassZorvani.h"
#include "zorvaniDsp/Filters/LmsFilterZorvani.h"
#include "zorvaniDsp/Filters/Resampler.h"
#include "zorvaniDsp/Filters/SurrounfCW.h"
#include "zorvaniDsp/Filters/ZorvaniNB.h"
#include "zorvaniDsp/Meter/MeterZorvani.h"
#include "zorvaniDsp/zorvaniFFT/FastFirZorvani.h"

#include <QtTest>

#include <functional>
#include <map>
#include <memory>

using namespace dsptest;

namespace {

// A configured block behind one signature: `count` inputs at x give the
// returned number of frames at out (-1: refused).
struct Block {
    std::function<int(const C* x, int count, C* out)> run;
    std::function<void()> reset; // empty: no state to clear, or a reset that keeps some (AGC: its gain)
    double tolerance = 0.0;      // FFT blocks cut their transforms differently; NaN: output is per call
    bool refuses = true;         // false: null and empty blocks are ignored
    std::function<void(int)> reconfigure; // settings changed while running, within capacity
};

template <typename T, typename = void>
struct HasReset : std::false_type {};
template <typename T>
struct HasReset<T, std::void_t<decltype(std::declval<T&>().reset())>> : std::true_type {};

template <typename T, typename Call>
Block wrap(std::shared_ptr<T> b, Call call, double tolerance = 0.0)
{
    Block block{[b, call](const C* x, int n, C* out) { return call(*b, x, n, out); }, {}, tolerance, true, {}};
    if constexpr (HasReset<T>::value)
        block.reset = [b] { b->reset(); };
    return block;
}

// Blocks working in place (the input is copied to out first) and telling
// success (kind 0), frames (1) or nothing (2: never refuse).
template <int kind = 0, typename T>
Block inPlace(std::shared_ptr<T> b, double tolerance = 0.0)
{
    Block block = wrap(b, [](T& t, const C* x, int n, C* out) {
        if (x)
            std::copy(x, x + std::max(n, 0), out);
        if constexpr (kind == 0)
            return t.process(x ? out : nullptr, n) ? n : -1;
        else if constexpr (kind == 1)
            return int(t.process(x ? out : nullptr, n));
        else
            return t.process(x ? out : nullptr, n), n;
    }, tolerance);
    block.refuses = kind != 2;
    return block;
}

template <typename T, typename... A>
std::shared_ptr<T> make(A... a) { return std::make_shared<T>(a...); }

Block agc(bool enabled)
{
    auto a = make<AgcZorvani>();
    a->setSampleRate(kFs);
    a->setMaxGain(120.0);
    a->setMinGain(-40.0);
    a->setParameters(0.2, 50.0, 5, enabled);
    a->setRfGain(30);
    Block block = inPlace(a);
    block.reset = {};
    block.reconfigure = [a, enabled](int i) { a->setParameters(i % 2 ? 2.0 : 0.2, 300.0, 200, enabled); };
    return block;
}

Block decimator(int factor)
{
    auto d = make<DecimatorZorvani>();
    d->init(factor, kFs, kFs / 2.0 - 2000.0);
    return inPlace<1>(d);
}

Block resampler(float rate)
{
    auto r = make<Resampler>();
    r->init(39062.5f, rate);
    return wrap(r, [](Resampler& t, const C* x, int n, C* out) { return t.process(x, out, n); });
}

Block wfm(double rate)
{
    auto in = std::make_shared<std::vector<Ostrovix::complex<float>>>(8192);
    return wrap(make<WfmReceiverZorvani>(rate, kFs, true, 50e-6), [in](WfmReceiverZorvani& t, const C* x, int n, C* out) {
        for (int k = 0; x && k < n; ++k)
            (*in)[size_t(k)] = {float(x[k].re), float(x[k].im)};
        return t.process(x ? in->data() : nullptr, n, out);
    });
}

// Opens and closes per block: no tolerance applies.
template <typename T>
Block squelch(std::shared_ptr<T> s)
{
    s->setEnabled(true);
    return wrap(s, [](T& t, const C* x, int n, C* out) {
        if (x)
            std::copy(x, x + std::max(n, 0), out);
        return t.process(x ? out : nullptr, n, -200.0) ? n : -1;
    }, NAN);
}

const std::map<QByteArray, std::function<Block()>>& blocks()
{
    using Lms = LmsFilterZorvani;
    static const std::map<QByteArray, std::function<Block()>> table{
        {"down-converter, 64-sample pieces", [] { auto d = make<DownConverterZorvani>(64); d->setFrequency(0.3183); d->setRit(-0.01); return inPlace(d); }},
        {"IIR low-pass", [] { auto f = make<IirLowpassZorvani>(); f->init(0.0561, 11); return inPlace(f); }},
        {"decimator x1", [] { return decimator(1); }},
        {"decimator x8", [] { return decimator(8); }},
        {"fast FIR", [] { auto f = make<FastFirZorvani>(); f->init(-0.05, 0.1, 1537); return inPlace(f, 1e-12); }},
        {"AGC on", [] { return agc(true); }},
        {"AGC off", [] { return agc(false); }},
        {"resampler to 48000", [] { return resampler(48000.0f); }},
        {"resampler to 8000", [] { return resampler(8000.0f); }},
        {"meter", [] { return inPlace(make<MeterZorvani>(), NAN); }}, // its readings change per call
        {"AM", [] { auto am = make<DemodAMZorvani>(); am->setBandwidth(5000.0 / kFs); return inPlace(am, 1e-12); }},
        {"SAM", [] { return inPlace(make<SamDemodZorvani>(), 1e-12); }},
        {"FM", [] { return inPlace(make<FmDemodZorvani>()); }},
        {"carrier squelch", [] { return squelch(make<CarrierSquelch>()); }},
        {"FM squelch with CTCSS", [] { auto s = make<FmSquelch>(); s->setCtcssEnabled(true); s->setTone(12); return squelch(s); }},
        {"WFM at 312500", [] { return wfm(312500.0); }},
        {"NR", [] { auto f = make<Lms>(Lms::Kind::NoiseReduction); f->setEnabled(true); f->setTaps(257); return inPlace(f); }},
        // Both blankers at once share one average, updated by each in turn
        // over an internal chunk: that output depends on the cut (tst_interference::noiseBlankers).
        {"NB1", [] { auto nb = make<ZorvaniNB>(); nb->setNb1(true); return inPlace<2>(nb); }},
        {"NB2", [] { auto nb = make<ZorvaniNB>(); nb->setNb2(true); return inPlace<2>(nb); }},
        {"IQ notches", [] {
             auto bank = make<IQNotchFilter>();
             bank->setCenterFrequency(7100000.0);
             bank->setEnabled(true);
             for (int id = 0; id < IQNotchFilter::kNotchCount; ++id) {
                 bank->setNotchEnabled(id, true);
                 bank->setNotchFrequency(id, 7101000.0 + 1000.0 * id);
                 bank->setNotchWidth(id, 300.0);
             }
             return inPlace<2>(bank);
         }},
        {"APF", [] { auto f = make<BiQuadFilter>(); f->init(BiQuadFilter::Peaking, 0.02, 3.0, 15.0); f->setEnabled(true); return inPlace(f); }},
        {"binaural CW", [] { auto s = make<SurrounfCW>(); s->setEnabled(true); return inPlace(s, 1e-12); }},
        {"equalizer", [] {
             auto eq = make<EqualizerZorvani>();
             eq->setGains(QList<int>{-12, 5, 12, -7, 0, 9, -3, 2}); // the other bands at 0 dB
             eq->setEnabled(true);
             return inPlace(eq);
         }},
    };
    return table;
}

// Noise with a loud burst (the AGC and the blankers act on it), in pieces of
// the given lengths; the frames each piece gives, one after the other.
Signal stream(Block& block, const Signal& input, const std::vector<int>& pieces)
{
    Signal out, buffer(2 * 4096 + 16);
    size_t at = 0;
    for (int n : pieces) {
        const int frames = block.run(input.data() + at, n, buffer.data());
        if (frames < 0)
            return {};
        out.insert(out.end(), buffer.begin(), buffer.begin() + frames);
        at += size_t(n);
    }
    return out;
}

} // namespace

class TestBlockContract : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        testsupport::AllocationScope scope; // the zero counts below mean something only if the counter sees new
        auto probe = std::make_unique<std::vector<int>>(100);
        QVERIFY(probe && scope.count() >= 2u);
    }

    void contract_data()
    {
        QTest::addColumn<QByteArray>("name");
        for (const auto& row : blocks())
            QTest::newRow(row.first.constData()) << row.first;
    }

    void contract()
    {
        QFETCH(QByteArray, name);
        Block whole = blocks().at(name)(), split = blocks().at(name)();
        const int n = 4800;
        Signal input = noise(n, 5, 0.01);
        for (int k = 1200; k < 1500; ++k)
            input[size_t(k)] = {0.7, -0.4};
        const Signal a = stream(whole, input, std::vector<int>(n / 200, 200));
        QVERIFY(!a.empty());
        if (!std::isnan(whole.tolerance)) {
            std::vector<int> pieces;
            std::mt19937 gen(3);
            for (int done = 0; done < n; done += pieces.back())
                pieces.push_back(std::min(int(gen() % 700) + 1, n - done));
            const Signal b = stream(split, input, pieces);
            QCOMPARE(b.size(), a.size());
            QVERIFY2(whole.tolerance == 0.0 ? sameBits(a, b) : maxDifference(a, b) < whole.tolerance,
                     qPrintable(QString("cut stream differs by %1").arg(maxDifference(a, b))));
        }
        if (whole.reset) {
            whole.reset();
            QVERIFY2(sameBits(stream(whole, input, std::vector<int>(n / 200, 200)), a), "reset kept state");
        }

        Signal x = noise(4096, 7, 0.3), out(2 * 4096 + 16, C{7.0, 7.0});
        const Signal before = out;
        MessageCapture quiet; // refusals are logged
        const int refused = std::max(whole.run(nullptr, 200, out.data()), whole.run(x.data(), 0, out.data()));
        QVERIFY(sameBits(out, before) && (!whole.refuses || refused <= 0));

        for (int i = 0; i < 3; ++i)
            whole.run(x.data(), 4096, out.data());
        testsupport::AllocationScope scope;
        for (int i = 0; i < 10; ++i) {
            if (whole.reconfigure)
                whole.reconfigure(i);
            QVERIFY(whole.run(x.data(), i % 2 ? 200 : 4096, out.data()) >= 0);
        }
        QCOMPARE(scope.count(), 0u);
    }
};

QTEST_APPLESS_MAIN(TestBlockContract)
#include "tst_blockcontract.moc"
