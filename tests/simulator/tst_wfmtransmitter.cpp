// The emulator's broadcast FM transmitter against a reference built here from
// the definition of the stereo multiplex: m(t) written out term by term and
// its phase integrated numerically over every sample interval.
#include "Scene.h"
#include "SceneGenerator.h"
#include "WfmTransmitter.h"

#include <QtTest>

#include <cmath>
#include <complex>
#include <vector>

using zorvani::sim::Scene;
using zorvani::sim::SceneGenerator;
using zorvani::sim::WfmProgramme;
using zorvani::sim::WfmTransmitter;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = 312500.0;
constexpr double kCentre = 98000000.0;
constexpr double kOffset = 20000.0; // the station's carrier above the tuned frequency
constexpr double kBitRate = 1187.5;

struct Reference {
    double leftHz, rightHz, tau, pilot, data, audio;

    // The multiplex, full deviation = 1: L and R pre-emphasised as x + tau dx/dt.
    double multiplex(double t) const
    {
        auto emphasised = [&](double hz) {
            const double w = 2.0 * kPi * hz;
            return hz > 0.0 ? audio * (std::cos(w * t) - tau * w * std::sin(w * t)) : 0.0;
        };
        const double l = emphasised(leftHz), r = emphasised(rightHz);
        const double p = 2.0 * kPi * 19000.0 * t;
        const double programme = 1.0 - pilot - data;
        double m = programme * (l + r) / 2.0;
        if (pilot > 0.0)
            m += programme * (l - r) / 2.0 * std::sin(2.0 * p) + pilot * std::sin(p);
        if (data > 0.0) {
            const auto bit = static_cast<std::uint64_t>(std::floor(t * kBitRate));
            m += data * WfmTransmitter::dataBit(bit) * std::sin(2.0 * kPi * kBitRate * t) * std::sin(3.0 * p);
        }
        return m;
    }

    // 2 pi 75 kHz times the integral of m over [a, b], by 5-point Gauss-Legendre
    // on each side of a data bit edge (d(t) has a kink there).
    double phaseStep(double a, double b) const
    {
        const double edge = std::ceil(a * kBitRate) / kBitRate;
        if (data > 0.0 && edge > a && edge < b)
            return phaseStep(a, edge) + phaseStep(edge, b);
        static const double x[5] = {0.0, -0.5384693101056831, 0.5384693101056831, -0.9061798459386640,
                                    0.9061798459386640};
        static const double w[5] = {0.5688888888888889, 0.4786286704993665, 0.4786286704993665,
                                    0.2369268850561891, 0.2369268850561891};
        const double half = (b - a) / 2.0, mid = (a + b) / 2.0;
        double sum = 0.0;
        for (int i = 0; i < 5; ++i)
            sum += w[i] * multiplex(mid + half * x[i]);
        return 2.0 * kPi * 75000.0 * sum * half;
    }
};

} // namespace

class TestWfmTransmitter : public QObject {
    Q_OBJECT
private slots:
    void matchesTheMultiplexDefinition_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<double>("leftHz");
        QTest::addColumn<double>("rightHz");
        QTest::addColumn<double>("tauUs");
        QTest::addColumn<double>("pilot");
        QTest::addColumn<double>("data");
        // Defaults: 50 us, pilot at 9 %, no data subcarrier.
        QTest::newRow("stereo, defaults") << "left=1000 right=3000" << 1000.0 << 3000.0 << 50.0 << 0.09 << 0.0;
        QTest::newRow("75 us, left only, data at 5 %") << "left=400 tau=75 rds=0.05" << 400.0 << 0.0 << 75.0 << 0.09
                                                       << 0.05;
        QTest::newRow("mono station") << "left=1000 right=6000 pilot=0" << 1000.0 << 6000.0 << 50.0 << 0.0 << 0.0;
        QTest::newRow("no pre-emphasis, half level, 15 kHz")
            << "left=15000 right=200 tau=0 audio=0.5 pilot=0.1" << 15000.0 << 200.0 << 0.0 << 0.1 << 0.0;
    }

    void matchesTheMultiplexDefinition()
    {
        QFETCH(QString, options);
        QFETCH(double, leftHz);
        QFETCH(double, rightHz);
        QFETCH(double, tauUs);
        QFETCH(double, pilot);
        QFETCH(double, data);
        Scene scene;
        QString error;
        QVERIFY2(Scene::parse(QStringLiteral("wfm %1 -6 %2").arg(kCentre + kOffset, 0, 'f', 1).arg(options), &scene,
                              &error),
                 qPrintable(error));
        SceneGenerator g(scene, 1);
        g.setTuning(kCentre, kRate);
        const int n = 31250; // 0.1 s: 118 data bits
        std::vector<Ostrovix::complex<double>> x(size_t(n) + 1);
        g.generate(x.data(), 100); // two blocks: the generator's state carries over
        g.generate(x.data() + 100, n + 1 - 100);

        WfmProgramme programme;
        programme.leftHz = leftHz;
        programme.rightHz = rightHz;
        programme.tauSeconds = tauUs * 1e-6;
        programme.pilot = pilot;
        programme.data = data;
        programme.audio = options.contains(QLatin1String("audio=")) ? 0.5 : -1.0;
        const double audio = WfmTransmitter(programme).audioAmplitude();
        // Without a given level the louder pre-emphasised tone peaks at exactly full programme.
        if (programme.audio < 0.0) {
            auto emphasis = [&](double hz) {
                return hz > 0.0 ? std::hypot(1.0, 2.0 * kPi * hz * programme.tauSeconds) : 0.0;
            };
            const double loudest = std::max(emphasis(leftHz), emphasis(rightHz));
            QVERIFY(std::fabs(audio * loudest - 1.0) < 1e-12);
        }
        const Reference ref{leftHz, rightHz, programme.tauSeconds, pilot, data, audio};

        const double amplitude = std::pow(10.0, -6.0 / 20.0);
        const std::complex<double> first(x[0].re, x[0].im);
        double phase = 0.0, worst = 0.0;
        for (int k = 1; k <= n; ++k) {
            phase += ref.phaseStep((k - 1) / kRate, k / kRate);
            const std::complex<double> expected =
                first * std::polar(1.0, phase + 2.0 * kPi * kOffset * k / kRate);
            const std::complex<double> got(x[size_t(k)].re, x[size_t(k)].im);
            worst = std::max(worst, std::abs(got - expected));
        }
        QVERIFY2(std::fabs(std::abs(first) - amplitude) < 1e-12, "carrier level");
        // 1e-7 of the carrier: far below the 24-bit samples the link carries.
        QVERIFY2(worst < 1e-7 * amplitude, qPrintable(QStringLiteral("largest difference %1").arg(worst / amplitude)));
    }

    void dataBitsArePrbs9()
    {
        // x^9 + x^5 + 1 repeats after 511 bits and holds 256 ones in a period.
        int ones = 0;
        for (std::uint64_t k = 0; k < 511; ++k)
            ones += WfmTransmitter::dataBit(k) > 0;
        QCOMPARE(ones, 256);
        for (std::uint64_t k : {0ull, 7ull, 300ull})
            QCOMPARE(WfmTransmitter::dataBit(k), WfmTransmitter::dataBit(k + 511));
        QCOMPARE(WfmTransmitter::dataBit(0), 1);
    }
};

QTEST_APPLESS_MAIN(TestWfmTransmitter)
#include "tst_wfmtransmitter.moc"
