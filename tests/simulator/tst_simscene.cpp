// The emulator's scene: carriers and AM against the levels they must put in
// the band, measured here with a plain DFT; the broadcast FM transmitter
// against a reference built from the definition of the stereo multiplex, its
// phase integrated over every sample interval. (The sidebands, NFM and the
// noise floor: the mode system tests, which hear each station's tone at its
// frequency with a clean floor.)
#include "SimClient.h"
#include "SceneGenerator.h"
#include "WfmTransmitter.h"

#include <QtTest>

#include <cmath>
#include <complex>
#include <vector>

using namespace simtest;
using Sample = Ostrovix::complex<double>;
Q_DECLARE_METATYPE(WfmProgramme)

namespace {

constexpr double kPi = 3.14159265358979323846;

std::complex<double> z(const Sample& s) { return {s.re, s.im}; }

std::vector<Sample> render(const QString& scene, double centre, double rate, int n)
{
    SceneGenerator g(sceneOf(scene), 1);
    g.setTuning(centre, rate);
    std::vector<Sample> x(static_cast<size_t>(n));
    g.generate(x.data(), n);
    return x;
}

// Level in dB of one DFT bin, scaled by 1/N so that a complex exponential of amplitude A gives A.
double binDb(const std::vector<Sample>& x, int bin)
{
    std::complex<double> acc = 0.0;
    const int n = int(x.size());
    for (int i = 0; i < n; ++i)
        acc += z(x[size_t(i)]) * std::polar(1.0, -2.0 * kPi * bin * i / n);
    return 20.0 * std::log10(std::abs(acc) / n);
}

// The stereo multiplex written out term by term, full deviation = 1, with L
// and R pre-emphasised as x + tau dx/dt.
struct Multiplex {
    double leftHz, rightHz, tau, pilot, data, audio;
    static constexpr double kBitRate = 1187.5;

    double at(double t) const
    {
        auto emphasised = [&](double hz) {
            const double w = 2.0 * kPi * hz;
            return hz > 0.0 ? audio * (std::cos(w * t) - tau * w * std::sin(w * t)) : 0.0;
        };
        const double l = emphasised(leftHz), r = emphasised(rightHz), p = 2.0 * kPi * 19000.0 * t;
        const double programme = 1.0 - pilot - data;
        double m = programme * (l + r) / 2.0;
        if (pilot > 0.0)
            m += programme * (l - r) / 2.0 * std::sin(2.0 * p) + pilot * std::sin(p);
        if (data > 0.0)
            m += data * WfmTransmitter::dataBit(std::uint64_t(std::floor(t * kBitRate))) *
                 std::sin(2.0 * kPi * kBitRate * t) * std::sin(3.0 * p);
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
        static const double w[5] = {0.5688888888888889, 0.4786286704993665, 0.4786286704993665, 0.2369268850561891,
                                    0.2369268850561891};
        const double half = (b - a) / 2.0, mid = (a + b) / 2.0;
        double sum = 0.0;
        for (int i = 0; i < 5; ++i)
            sum += w[i] * at(mid + half * x[i]);
        return 2.0 * kPi * 75000.0 * sum * half;
    }
};

} // namespace

class TestSimScene : public QObject {
    Q_OBJECT
private slots:
    // Lines of a 10 Hz (or rate/1024) grid at their levels; elsewhere nothing
    // above the floor (the oscillators are exact far below the 24-bit floor).
    void spectralLines()
    {
        struct Row { QString scene; double rate; int n; QList<int> bins; QList<double> levels; double tolerance;
                     QList<int> empty; double floor; };
        QList<Row> rows;
        for (double rate : {39062.5, 78125.0, 156250.0, 312500.0})
            for (auto [bin, level] : {std::pair{37, -20.0}, {-300, -60.0}}) {
                const int k = (bin + 1024) % 1024;
                QList<int> empty;
                for (int e : {0, 5, (k + 1) % 1024, (k + 1023) % 1024, 512})
                    if (e != k)
                        empty << e;
                const QString scene = QStringLiteral("carrier %1 %2").arg(7000000.0 + bin * rate / 1024, 0, 'f', 6);
                rows.append({scene.arg(level), rate, 1024, {k}, {level}, 0.01, empty, level - 100.0});
            }
        const double side = -20.0 + 20.0 * std::log10(0.25);
        rows.append({"am 7002000 -20 tone=1000 depth=0.5", 40000.0, 4000, {200, 300, 100}, {-20.0, side, side}, 8e-5,
                     {400}, -120.0});
        for (const Row& r : rows) {
            const auto x = render(r.scene, 7000000.0, r.rate, r.n);
            const auto where = [&](int bin) {
                const QString at = QStringLiteral("%1 at %2 Hz, bin %3").arg(r.scene).arg(r.rate).arg(bin);
                return at + QStringLiteral(": %1 dB").arg(binDb(x, bin), 0, 'f', 6);
            };
            for (int i = 0; i < r.bins.size(); ++i)
                QVERIFY2(std::abs(binDb(x, r.bins[i]) - r.levels[i]) < r.tolerance, qPrintable(where(r.bins[i])));
            for (int k : r.empty)
                QVERIFY2(binDb(x, k) < r.floor, qPrintable(where(k)));
        }
        for (const Sample& s : render("carrier 7030000 -10; am 6950000 -10", 7000000.0, 39062.5, 400))
            QVERIFY2(std::abs(z(s)) == 0.0, "emitters outside the band must be silent");
    }

    // The station 20 kHz above the tuning, over two blocks (the generator's
    // state carries over), against the multiplex phase integrated sample by sample.
    void wfmMatchesTheMultiplexDefinition_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<WfmProgramme>("p"); // the loudest audio that fits
        QTest::newRow("stereo, pilot 9 %") << "left=1000 right=3000" << WfmProgramme{1000, 3000, 50e-6, 0.09, 0};
        QTest::newRow("75 us, left only, data at 5 %")
            << "left=400 tau=75 rds=0.05" << WfmProgramme{400, 0, 75e-6, 0.09, 0.05};
        QTest::newRow("mono station") << "left=1000 right=6000 pilot=0" << WfmProgramme{1000, 6000, 50e-6, 0, 0};
    }
    void wfmMatchesTheMultiplexDefinition()
    {
        QFETCH(QString, options);
        QFETCH(WfmProgramme, p);
        const double rate = 312500.0, offset = 20000.0;
        SceneGenerator g(sceneOf(QStringLiteral("wfm %1 -6 %2").arg(98000000.0 + offset, 0, 'f', 1).arg(options)), 1);
        g.setTuning(98000000.0, rate);
        const int n = 31250; // 0.1 s: 118 data bits
        std::vector<Sample> x(size_t(n) + 1);
        g.generate(x.data(), 100);
        g.generate(x.data() + 100, n + 1 - 100);
        const double audio = WfmTransmitter(p).audioAmplitude();
        // The louder pre-emphasised tone peaks at exactly full programme.
        auto emphasis = [&](double hz) { return hz > 0.0 ? std::hypot(1.0, 2.0 * kPi * hz * p.tauSeconds) : 0.0; };
        QVERIFY(std::fabs(audio * std::max(emphasis(p.leftHz), emphasis(p.rightHz)) - 1.0) < 1e-12);
        const Multiplex m{p.leftHz, p.rightHz, p.tauSeconds, p.pilot, p.data, audio};
        const double amplitude = std::pow(10.0, -6.0 / 20.0);
        double phase = 0.0, worst = 0.0;
        for (int k = 1; k <= n; ++k) {
            phase += m.phaseStep((k - 1) / rate, k / rate);
            const std::complex<double> expected = z(x[0]) * std::polar(1.0, phase + 2.0 * kPi * offset * k / rate);
            worst = std::max(worst, std::abs(z(x[size_t(k)]) - expected));
        }
        QVERIFY2(std::fabs(std::abs(z(x[0])) - amplitude) < 1e-12, "carrier level");
        // 1e-7 of the carrier: far below the 24-bit samples the link carries.
        QVERIFY2(worst < 1e-7 * amplitude, qPrintable(QStringLiteral("largest difference %1").arg(worst / amplitude)));
    }
};

QTEST_GUILESS_MAIN(TestSimScene)
#include "tst_simscene.moc"
