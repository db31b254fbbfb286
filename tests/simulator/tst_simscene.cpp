#include "Scene.h"
#include "SceneGenerator.h"

#include <QtTest>

#include <cmath>
#include <complex>
#include <vector>

using zorvani::sim::Emitter;
using zorvani::sim::Scene;
using zorvani::sim::SceneGenerator;
using Sample = Ostrovix::complex<double>;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Plain DFT of one bin, scaled by 1/N so a complex exponential of amplitude A gives A.
std::complex<double> dftBin(const std::vector<Sample>& x, double bin)
{
    std::complex<double> acc = 0.0;
    const int n = int(x.size());
    for (int i = 0; i < n; ++i) {
        const double ph = -2.0 * kPi * bin * i / n;
        acc += std::complex<double>(x[size_t(i)].re, x[size_t(i)].im) * std::complex<double>(std::cos(ph), std::sin(ph));
    }
    return acc / double(n);
}

double db(double amplitude)
{
    return 20.0 * std::log10(amplitude);
}

Scene sceneOf(const QString& text)
{
    Scene s;
    QString error;
    if (!Scene::parse(text, &s, &error))
        qFatal("bad scene in test: %s", qPrintable(error));
    return s;
}

std::vector<Sample> render(const Scene& scene, double centre, double rate, int n, int skip = 0)
{
    SceneGenerator g(scene, 1);
    g.setTuning(centre, rate);
    std::vector<Sample> x(size_t(skip + n));
    g.generate(x.data(), skip + n);
    return std::vector<Sample>(x.begin() + skip, x.end());
}

// Instantaneous frequency (Hz) between consecutive samples.
std::vector<double> instantaneousFrequency(const std::vector<Sample>& x, double rate)
{
    std::vector<double> f(x.size() - 1);
    for (size_t i = 1; i < x.size(); ++i) {
        const std::complex<double> a(x[i - 1].re, x[i - 1].im), b(x[i].re, x[i].im);
        f[i - 1] = std::arg(b * std::conj(a)) * rate / (2.0 * kPi);
    }
    return f;
}

} // namespace

class TestSimScene : public QObject {
    Q_OBJECT
private slots:
    void carrierLandsInItsBin_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("bin");
        QTest::addColumn<double>("level");
        const double rates[] = {39062.5, 78125.0, 156250.0, 312500.0};
        for (double rate : rates) {
            QTest::addRow("%.1f Hz, bin 37, -20 dBFS", rate) << rate << 37 << -20.0;
            QTest::addRow("%.1f Hz, bin -300, -60 dBFS", rate) << rate << -300 << -60.0;
        }
        QTest::newRow("near full scale") << 78125.0 << 1 << -0.5;
    }
    void carrierLandsInItsBin()
    {
        QFETCH(double, rate);
        QFETCH(int, bin);
        QFETCH(double, level);
        const int n = 1024;
        const double centre = 7000000.0;
        const double freq = centre + bin * rate / n;
        const auto x = render(sceneOf(QStringLiteral("carrier %1 %2").arg(freq, 0, 'f', 6).arg(level)), centre, rate, n);
        const double peak = std::abs(dftBin(x, (bin + n) % n));
        QVERIFY2(std::abs(db(peak) - level) < 0.01, qPrintable(QStringLiteral("level %1 dBFS").arg(db(peak))));
        // Every other bin is empty (the oscillator is exact to far below the 24-bit floor).
        for (int k : {0, 5, (bin + n + 1) % n, (bin + n - 1) % n, n / 2}) {
            if (k == (bin + n) % n)
                continue;
            QVERIFY2(db(std::abs(dftBin(x, k))) < level - 100.0, qPrintable(QStringLiteral("bin %1").arg(k)));
        }
    }

    void emittersOutsideTheBandAreNotSeen()
    {
        const double rate = 39062.5;
        const auto x = render(sceneOf("carrier 7030000 -10; am 6950000 -10"), 7000000.0, rate, 400);
        for (const Sample& s : x)
            QCOMPARE(std::hypot(s.re, s.im), 0.0);
        // Retuned so that both are inside: they appear.
        SceneGenerator g(sceneOf("carrier 7030000 -10"), 1);
        g.setTuning(7020000.0, rate);
        std::vector<Sample> y(200);
        g.generate(y.data(), 200);
        QVERIFY(std::hypot(y[10].re, y[10].im) > 0.3);
    }

    void amHasCarrierAndTwoSidebands()
    {
        const int n = 4000;
        const double rate = 40000.0;                       // 10 Hz bins
        const double centre = 7000000.0, carrier = centre + 2000.0;
        const auto x = render(sceneOf(QStringLiteral("am %1 -20 tone=1000 depth=0.5").arg(carrier)), centre, rate, n);
        const double a = std::pow(10.0, -20.0 / 20.0);
        QVERIFY(std::abs(std::abs(dftBin(x, 200)) - a) < 1e-6);          // carrier, 2000 Hz
        QVERIFY(std::abs(std::abs(dftBin(x, 300)) - a * 0.25) < 1e-6);   // upper sideband, 3000 Hz
        QVERIFY(std::abs(std::abs(dftBin(x, 100)) - a * 0.25) < 1e-6);   // lower sideband, 1000 Hz
        QVERIFY(std::abs(dftBin(x, 400)) < 1e-6);
    }

    void ssbTonesSitOnTheirSide_data()
    {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<QVector<int>>("present");
        QTest::addColumn<QVector<int>>("absent");
        // Bins of 10 Hz, carrier at +5000 Hz (bin 500).
        QTest::newRow("usb") << "usb 7005000 -30 tone=1000" << QVector<int>{600} << QVector<int>{400, 500};
        QTest::newRow("lsb") << "lsb 7005000 -30 tone=1000" << QVector<int>{400} << QVector<int>{600, 500};
        QTest::newRow("usb two-tone") << "usb 7005000 -30 tone=700 tone2=1900" << QVector<int>{570, 690}
                                      << QVector<int>{430, 310, 500};
        QTest::newRow("lsb two-tone") << "lsb 7005000 -30 tone=700 tone2=1900" << QVector<int>{430, 310}
                                      << QVector<int>{570, 690, 500};
    }
    void ssbTonesSitOnTheirSide()
    {
        QFETCH(QString, scene);
        QFETCH(QVector<int>, present);
        QFETCH(QVector<int>, absent);
        const auto x = render(sceneOf(scene), 7000000.0, 40000.0, 4000);
        for (int k : present)
            QVERIFY2(std::abs(db(std::abs(dftBin(x, k))) + 30.0) < 0.01, qPrintable(QString::number(k)));
        for (int k : absent)
            QVERIFY2(db(std::abs(dftBin(x, k))) < -130.0, qPrintable(QString::number(k)));
    }

    void nfmDeviatesAroundItsCarrier()
    {
        const double rate = 78125.0, offset = 3000.0;
        const auto x = render(sceneOf(QStringLiteral("nfm %1 -10 tone=1000 dev=2500").arg(7000000.0 + offset)),
                              7000000.0, rate, 78125);
        const double a = std::pow(10.0, -0.5);
        double lo = 1e9, hi = -1e9, mean = 0.0;
        for (const Sample& s : x)
            QVERIFY(std::abs(std::hypot(s.re, s.im) - a) < 1e-9); // constant envelope
        const auto f = instantaneousFrequency(x, rate);
        for (double v : f) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            mean += v;
        }
        mean /= double(f.size());
        QVERIFY2(std::abs(mean - offset) < 1.0, qPrintable(QString::number(mean)));
        // Peak deviation 2500 Hz (a sample difference averages the frequency over 1/rate: within 1 %).
        QVERIFY2(std::abs(hi - (offset + 2500.0)) < 25.0, qPrintable(QString::number(hi)));
        QVERIFY2(std::abs(lo - (offset - 2500.0)) < 25.0, qPrintable(QString::number(lo)));
    }

    void nfmCarriesItsCtcssTone()
    {
        const double rate = 39062.5;
        const int n = 39062;
        const auto x = render(sceneOf("nfm 7000000 -10 tone=1000 dev=2500 ctcss=88.5"), 7000000.0, rate, n + 1);
        const auto f = instantaneousFrequency(x, rate);
        // Correlate the frequency track with the sub-audible tone: 300 Hz deviation.
        std::complex<double> acc = 0.0;
        for (int i = 0; i < n; ++i)
            acc += f[size_t(i)] * std::polar(1.0, -2.0 * kPi * 88.5 * (i + 0.5) / rate);
        const double dev = 2.0 * std::abs(acc) / n;
        QVERIFY2(std::abs(dev - 300.0) < 6.0, qPrintable(QString::number(dev)));
    }

    void cwKeysDots()
    {
        const double rate = 39062.5;
        // 20 wpm: 60 ms dot, 120 ms period; two seconds.
        const auto x = render(sceneOf("cw 7000500 -20 wpm=20"), 7000000.0, rate, 78125);
        const double a = 0.1;
        int on = 0, off = 0, transitions = 0;
        bool was = false;
        for (const Sample& s : x) {
            const double m = std::hypot(s.re, s.im);
            const bool key = m > a / 2;
            on += m > a * 0.999;
            off += m < 1e-12;
            transitions += key != was;
            was = key;
        }
        // Key down (full) about 60 ms minus the edges of every 120 ms, silent 60 ms.
        QVERIFY2(std::abs(double(off) / x.size() - 0.5) < 0.02, qPrintable(QString::number(off)));
        QVERIFY2(std::abs(double(on) / x.size() - (0.060 - 0.010) / 0.120) < 0.02, qPrintable(QString::number(on)));
        QVERIFY2(std::abs(transitions - 2 * 2000 / 120) <= 2, qPrintable(QString::number(transitions)));
    }

    void noiseHasItsDensity_data()
    {
        QTest::addColumn<double>("rate");
        QTest::newRow("39k") << 39062.5;
        QTest::newRow("312k") << 312500.0;
    }
    void noiseHasItsDensity()
    {
        QFETCH(double, rate);
        const int n = 200000;
        const auto x = render(sceneOf("noise -120"), 7000000.0, rate, n);
        double power = 0.0, mean = 0.0;
        for (const Sample& s : x) {
            power += s.re * s.re + s.im * s.im;
            mean += s.re;
        }
        power /= n;
        const double expected = 1e-12 * rate;
        // 200000 complex samples: the estimate's standard deviation is 0.22 %.
        QVERIFY2(std::abs(power / expected - 1.0) < 0.015, qPrintable(QString::number(power / expected)));
        QVERIFY(std::abs(mean / n) < 5.0 * std::sqrt(expected / 2.0 / n));
    }

    void impulsesComeAtTheirRate()
    {
        const double rate = 78125.0;
        const auto x = render(sceneOf("impulse -6 rate=100"), 7000000.0, rate, 781250); // 10 s
        int count = 0;
        for (const Sample& s : x)
            count += s.re > 0.25;
        // Poisson with mean 1000: 5 sigma is about 160.
        QVERIFY2(std::abs(count - 1000) < 160, qPrintable(QString::number(count)));
    }

    void blocksAreContinuousAndResetRepeats()
    {
        const Scene scene = sceneOf("seed 7; noise -130; am 7001000 -30; nfm 6990000 -40 ctcss=100; "
                                    "wfm 7050000 -20 left=500 right=700; cw 7002000 -50; impulse -20 rate=300; "
                                    "usb 7003000 -40 tone=700 tone2=1900");
        SceneGenerator one(scene, 1), two(scene, 1);
        one.setTuning(7000000.0, 156250.0);
        two.setTuning(7000000.0, 156250.0);
        std::vector<Sample> a(400), b(400);
        one.generate(a.data(), 400);
        two.generate(b.data(), 200);
        two.generate(b.data() + 200, 200);
        for (int i = 0; i < 400; ++i)
            QVERIFY2(a[size_t(i)].re == b[size_t(i)].re && a[size_t(i)].im == b[size_t(i)].im, qPrintable(QString::number(i)));
        one.reset();
        std::vector<Sample> c(400);
        one.generate(c.data(), 400);
        for (int i = 0; i < 400; ++i)
            QVERIFY(a[size_t(i)].re == c[size_t(i)].re && a[size_t(i)].im == c[size_t(i)].im);
        // Another receiver of the same scene has its own noise.
        SceneGenerator other(scene, 2);
        other.setTuning(7000000.0, 156250.0);
        other.generate(c.data(), 400);
        QVERIFY(a[3].re != c[3].re);
    }

    void retuningKeepsThePhase()
    {
        // A carrier seen at +1 kHz, then retuned so that it sits at 0 Hz: the
        // phase goes on from where it was (no jump between the blocks).
        SceneGenerator g(sceneOf("carrier 7001000 -10"), 1);
        const double rate = 39062.5;
        g.setTuning(7000000.0, rate);
        std::vector<Sample> x(201);
        g.generate(x.data(), 200);
        g.setTuning(7001000.0, rate);
        g.generate(x.data() + 200, 1);
        const std::complex<double> last(x[199].re, x[199].im), next(x[200].re, x[200].im);
        const double step = std::arg(next * std::conj(last));
        QVERIFY2(std::abs(step - 2.0 * kPi * 1000.0 / rate) < 1e-9, qPrintable(QString::number(step)));
    }

    void parseRefusesBadScenes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("default kinds") << "seed 3\nnoise -140\ncarrier 1e6 -3 # comment\nwfm 98e6 -20 left=1000 right=400"
                                       << true;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("unknown kind") << "fm 7000000 -20" << false;
        QTest::newRow("missing level") << "carrier 7000000" << false;
        QTest::newRow("above full scale") << "carrier 7000000 3" << false;
        QTest::newRow("negative frequency") << "am -5 -20" << false;
        QTest::newRow("bad option") << "am 7000000 -20 tone" << false;
        QTest::newRow("unknown option") << "am 7000000 -20 colour=1" << false;
        QTest::newRow("depth out of range") << "am 7000000 -20 depth=1.5" << false;
        QTest::newRow("bad seed") << "seed x" << false;
    }
    void parseRefusesBadScenes()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        Scene s;
        s.seed = 99;
        QString error;
        QCOMPARE(Scene::parse(text, &s, &error), valid);
        QCOMPARE(error.isEmpty(), valid);
        if (!valid)
            QCOMPARE(s.seed, quint64(99)); // untouched
    }
};

QTEST_APPLESS_MAIN(TestSimScene)
#include "tst_simscene.moc"
