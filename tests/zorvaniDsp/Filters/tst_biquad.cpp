#include "DspTestSupport.h"

#include "zorvaniDsp/Filters/BiQuadFilter.h"

#include <QtTest>

using namespace dsptest;

Q_DECLARE_METATYPE(BiQuadFilter::Type)

namespace {

// Steady-state amplitude of the filter's answer to a cosine at hz (both parts).
double measuredGain(BiQuadFilter& f, double hz, double extraDb = 0.0)
{
    Signal x = monoTone(40000, hz, 0.01);
    inBlocks(x, 200, [&](C* p, int n) { f.process(p, n, extraDb); });
    const double re = realAmplitude(x, 40000 - 31250, 31250, hz, 0) / 0.01;
    const double im = realAmplitude(x, 40000 - 31250, 31250, hz, 1) / 0.01;
    return std::fabs(re - im) < 1e-9 ? re : -1.0;
}

// Gain of the filter for a constant input.
double dcGain(BiQuadFilter& f, double extraDb)
{
    Signal x(40000, C{0.01, 0.01});
    inBlocks(x, 200, [&](C* p, int n) { f.process(p, n, extraDb); });
    return x.back().re / 0.01;
}

} // namespace

class TestBiQuad : public QObject {
    Q_OBJECT

private slots:
    // 0 dB peaking is exact pass-through; so is any filter switched off.
    void transparent_data()
    {
        QTest::addColumn<double>("gainDb");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("peaking 0 dB") << 0.0 << true;
        QTest::newRow("peaking +20 dB, off") << 20.0 << false;
    }

    void transparent()
    {
        QFETCH(double, gainDb);
        QFETCH(bool, enabled);
        BiQuadFilter f;
        f.init(BiQuadFilter::Peaking, 700.0 / kFs, 5.0, gainDb);
        f.setEnabled(enabled);
        Signal x = gaussian(2000, 0.5, 1);
        const Signal input = x;
        QVERIFY(f.process(x.data(), 2000));
        QVERIFY(sameBits(x, input));
    }

    void gain_data()
    {
        QTest::addColumn<BiQuadFilter::Type>("type");
        QTest::addColumn<double>("q");
        QTest::addColumn<double>("gainDb");
        QTest::addColumn<double>("extraDb");
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("expected");
        // At the centre: closed forms of the analogue prototypes at s = j (the
        // bilinear transform is prewarped there), times the output scale 1 / V
        // of the gain types (V = 10^(|gain| / 20)), times the extra gain.
        const double v12 = std::pow(10.0, 12.0 / 20.0);
        const double v20 = 10.0;
        const auto lp = BiQuadFilter::LowPass, peak = BiQuadFilter::Peaking;
        const auto low = BiQuadFilter::LowShelf, high = BiQuadFilter::HighShelf;
        QTest::newRow("low-pass, |H| = Q") << lp << 2.0 << 0.0 << 0.0 << 1000.0 << 2.0;
        QTest::newRow("high-pass, |H| = Q") << BiQuadFilter::HighPass << 0.7 << 0.0 << 0.0 << 1000.0 << 0.7;
        QTest::newRow("band-pass, |H| = 1") << BiQuadFilter::BandPass << 3.0 << 0.0 << 0.0 << 1000.0 << 1.0;
        QTest::newRow("notch, |H| = 0") << BiQuadFilter::Notch << 3.0 << 0.0 << 0.0 << 1000.0 << 0.0;
        QTest::newRow("peaking +20 dB, V / V") << peak << 1.0 << 20.0 << 0.0 << 1000.0 << 1.0;
        QTest::newRow("peaking -12 dB, 1 / V / V") << peak << 2.0 << -12.0 << 0.0 << 1000.0 << 1.0 / (v12 * v12);
        QTest::newRow("low shelf +12 dB") << low << 1.0 << 12.0 << 0.0 << 1000.0 << std::sqrt((1 + v12 * v12) / 2) / v12;
        QTest::newRow("high shelf +20 dB") << high << 1.0 << 20.0 << 0.0 << 1000.0 << std::sqrt((1 + v20 * v20) / 2) / v20;
        QTest::newRow("high shelf -12 dB") << high << 1.0 << -12.0 << 0.0 << 1000.0 << 1.0 / std::sqrt((1 + v12 * v12) / 2) / v12;
        // At DC: low shelf V scaled back to 1; high shelf 1, so 1 / V; a
        // peaking filter lowers the rest of the band by its gain.
        QTest::newRow("low shelf +12 dB at DC") << low << 1.0 << 12.0 << 0.0 << 0.0 << 1.0;
        QTest::newRow("high shelf +12 dB at DC") << high << 1.0 << 12.0 << 0.0 << 0.0 << 1.0 / v12;
        QTest::newRow("peaking +12 dB at DC") << peak << 1.0 << 12.0 << 0.0 << 0.0 << 1.0 / v12;
        // Types with scale 1 ignore the extra gain.
        QTest::newRow("peaking +20 dB, 6 dB extra") << peak << 2.0 << 20.0 << 6.0 << 1000.0 << std::pow(10.0, 6.0 / 20.0);
        QTest::newRow("low-pass, 6 dB extra ignored") << lp << 2.0 << 0.0 << 6.0 << 1000.0 << 2.0;
    }

    void gain()
    {
        QFETCH(BiQuadFilter::Type, type);
        QFETCH(double, q);
        QFETCH(double, gainDb);
        QFETCH(double, extraDb);
        QFETCH(double, hz);
        QFETCH(double, expected);
        BiQuadFilter f;
        f.init(type, 1000.0 / kFs, q, gainDb);
        f.setEnabled(true);
        const double g = hz > 0.0 ? measuredGain(f, hz, extraDb) : dcGain(f, extraDb);
        QVERIFY2(std::fabs(g - expected) < 1e-3 * std::max(1.0, expected),
                 qPrintable(QString("gain %1 expected %2").arg(g, 0, 'g', 8).arg(expected, 0, 'g', 8)));
    }

    // A refused design keeps the working one: a bad type, a centre outside
    // (0, 0.5), or a value that is not finite. A Q under 0.1 counts as 0.1.
    void invalidDesignKept()
    {
        BiQuadFilter f, floor;
        f.init(BiQuadFilter::Peaking, 0.02, 2.0, 10.0);
        const double b0 = f.b0(), a2 = f.a2(), scale = f.outputScale();
        MessageCapture capture;
        f.init(static_cast<BiQuadFilter::Type>(7), 0.1, 1.0, 3.0);
        const double bad[][3] = {{0.0, 1.0, 6.0}, {0.5, 1.0, 6.0}, {NAN, 1.0, 6.0}, {0.1, NAN, 6.0}, {0.1, 1.0, HUGE_VAL}};
        for (const auto& d : bad)
            f.init(BiQuadFilter::Peaking, d[0], d[1], d[2]);
        QCOMPARE(capture.all().size(), 6);
        QVERIFY(capture.all().first().contains("Incorrect filter type!"));
        QVERIFY(f.b0() == b0 && f.a2() == a2 && f.outputScale() == scale);
        f.init(BiQuadFilter::Peaking, 0.02, 0.01, 10.0);
        floor.init(BiQuadFilter::Peaking, 0.02, 0.1, 10.0);
        QVERIFY(f.b0() == floor.b0() && f.b2() == floor.b2() && f.a2() == floor.a2());
    }

    // The CW peak filter's Q: 5 x 700 Hz over the passband's width, 7 at most.
    void cwApfQuality()
    {
        QCOMPARE(::cwApfQuality(5.0, 700.0, -250.0, 250.0), 7.0);
        QCOMPARE(::cwApfQuality(5.0, 700.0, 250.0, -250.0), 7.0);
        QCOMPARE(::cwApfQuality(5.0, 700.0, -150.0, 150.0), 5.0 * 700.0 / 450.0);
        QCOMPARE(::cwApfQuality(5.0, 700.0, 0.0, 1000.0), 3.5);
    }
};

QTEST_APPLESS_MAIN(TestBiQuad)
#include "tst_biquad.moc"
