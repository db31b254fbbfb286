#include "AllocationCounter.h"
#include "spectrum/Decibels.h"
#include "spectrum/SpectrumExpAverager.h"
#include "spectrum/SpectrumHistoryAverager.h"

#include <QtTest>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

using namespace zorvaniddc;

namespace {

constexpr size_t kSize = 64;

double db(double power)
{
    return 10.0 * std::log10(power + 1e-19);
}

std::vector<float> randomFrame(std::mt19937& rng)
{
    std::uniform_real_distribution<float> dist(1e-6f, 10.0f);
    std::vector<float> f(kSize);
    for (float& v : f)
        v = dist(rng);
    return f;
}

std::vector<float> readLine(SpectrumAveragerAbstract& a, size_t n = kSize)
{
    std::vector<float> out(n, 12345.0f);
    a.read(out.data(), n);
    return out;
}

// Float dB values carry about 1e-5 dB of rounding at these magnitudes.
void compareDb(const std::vector<float>& actual, const std::vector<double>& expected, double tolerance = 1e-3)
{
    QCOMPARE(actual.size(), expected.size());
    for (size_t k = 0; k < actual.size(); ++k)
        QVERIFY2(std::abs(actual[k] - expected[k]) <= tolerance,
                 qPrintable(QString("bin %1: %2 dB, expected %3 dB").arg(k).arg(actual[k]).arg(expected[k])));
}

void expectSizeMessage(const char* cls)
{
    QTest::ignoreMessage(QtDebugMsg,
                         qPrintable(QString("void __cdecl zorvaniddc::%1::write(float *,unsigned __int64) incorrect input "
                                            "buffer size!")
                                        .arg(cls)));
}

} // namespace

class TestSpectrumAverager : public QObject {
    Q_OBJECT
private slots:
    void decibelsMatchLog10_data();
    void decibelsMatchLog10();
    void linearFollowsMeanOfLastFrames();
    void countClamps_data();
    void countClamps();
    void zeroFrameGivesFloor_data();
    void zeroFrameGivesFloor();
    void rmsOfOneAndThree();
    void sizeMismatchIsIgnored_data();
    void sizeMismatchIsIgnored();
    void emptyAfterResetAndCount();
    void expCoefficients_data();
    void expCoefficients();
    void expSteadyState();
    void expResetReadsZero();
    void resetReproducesOutput();
    void steadyWriteAllocatesNothing();
};

void TestSpectrumAverager::decibelsMatchLog10_data()
{
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::newRow("tiny") << 1e-30 << 1e-18;
    QTest::newRow("panorama range") << 1e-18 << 1.0;
    QTest::newRow("above full scale") << 1.0 << 1e12;
}

void TestSpectrumAverager::decibelsMatchLog10()
{
    QFETCH(double, low);
    QFETCH(double, high);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> exponent(std::log10(low), std::log10(high));
    std::vector<float> v(4099);
    for (float& x : v)
        x = float(std::pow(10.0, exponent(rng)));
    v[0] = 0.0f;
    v[1] = 1.0f;
    v[2] = float(std::sqrt(2.0)); // the edges of the mantissa range
    v[3] = float(std::sqrt(0.5));
    std::vector<double> expected(v.size());
    for (size_t k = 0; k < v.size(); ++k)
        expected[k] = db(double(v[k]));
    powerToDb(v.data(), v.size());
    compareDb(v, expected, 2e-4);
}

void TestSpectrumAverager::linearFollowsMeanOfLastFrames()
{
    std::mt19937 rng(1);
    std::vector<std::vector<float>> frames;
    for (int i = 0; i < 5; ++i)
        frames.push_back(randomFrame(rng));
    SpectrumLinearAverager a;
    a.setSize(kSize);
    a.setAverageCount(4);

    a.write(frames[0].data(), kSize);
    std::vector<double> expected(kSize);
    for (size_t k = 0; k < kSize; ++k)
        expected[k] = db(frames[0][k]);
    compareDb(readLine(a), expected);

    for (int i = 1; i < 5; ++i)
        a.write(frames[i].data(), kSize);
    for (size_t k = 0; k < kSize; ++k) {
        double sum = 0;
        for (int i = 1; i < 5; ++i)
            sum += frames[i][k];
        expected[k] = db(sum / 4.0);
    }
    compareDb(readLine(a), expected);
}

void TestSpectrumAverager::countClamps_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("expected");
    for (int kind = 0; kind < 3; ++kind) {
        QTest::addRow("kind %d, 0", kind) << kind << 0 << 1;
        QTest::addRow("kind %d, 100", kind) << kind << 100 << 30;
        QTest::addRow("kind %d, 7", kind) << kind << 7 << 7;
    }
}

std::unique_ptr<SpectrumAveragerAbstract> makeAverager(int kind)
{
    if (kind == 0)
        return std::make_unique<SpectrumLinearAverager>();
    if (kind == 1)
        return std::make_unique<SpectrumRmsAverager>();
    return std::make_unique<SpectrumExpAverager>();
}

void TestSpectrumAverager::countClamps()
{
    QFETCH(int, kind);
    QFETCH(int, requested);
    QFETCH(int, expected);
    auto a = makeAverager(kind);
    a->setSize(kSize);
    a->setAverageCount(size_t(requested));
    QCOMPARE(int(a->averageCount()), expected);
    if (kind == 2 || expected != 1)
        return;
    // Count 1: the line follows the last frame alone.
    std::mt19937 rng(2);
    const auto f1 = randomFrame(rng);
    const auto f2 = randomFrame(rng);
    a->write(f1.data(), kSize);
    a->write(f2.data(), kSize);
    std::vector<double> want(kSize);
    for (size_t k = 0; k < kSize; ++k)
        want[k] = db(f2[k]);
    compareDb(readLine(*a), want);
}

void TestSpectrumAverager::zeroFrameGivesFloor_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("linear") << 0;
    QTest::newRow("rms") << 1;
}

void TestSpectrumAverager::zeroFrameGivesFloor()
{
    QFETCH(int, kind);
    auto a = makeAverager(kind);
    a->setSize(kSize);
    a->setAverageCount(4);
    const std::vector<float> zeros(kSize, 0.0f);
    a->write(zeros.data(), kSize);
    compareDb(readLine(*a), std::vector<double>(kSize, -190.0));
}

void TestSpectrumAverager::rmsOfOneAndThree()
{
    SpectrumRmsAverager a;
    a.setSize(kSize);
    a.setAverageCount(2);
    const std::vector<float> ones(kSize, 1.0f), threes(kSize, 3.0f);
    a.write(ones.data(), kSize);
    a.write(threes.data(), kSize);
    // sqrt((1 + 9) / 2) = 2.2360680, 10 log10 of it = 3.4948500 dB.
    compareDb(readLine(a), std::vector<double>(kSize, 3.4948500), 1e-4);
}

void TestSpectrumAverager::sizeMismatchIsIgnored_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("name");
    QTest::newRow("linear") << 0 << "SpectrumLinearAverager";
    QTest::newRow("rms") << 1 << "SpectrumRmsAverager";
    QTest::newRow("exp") << 2 << "SpectrumExpAverager";
}

void TestSpectrumAverager::sizeMismatchIsIgnored()
{
    QFETCH(int, kind);
    QFETCH(QString, name);
    auto a = makeAverager(kind);
    a->setSize(kSize);
    a->setAverageCount(4);
    std::mt19937 rng(3);
    const auto f = randomFrame(rng);
    a->write(f.data(), kSize);
    const auto before = readLine(*a);
    const std::vector<float> longer(kSize * 2, 100.0f);
    expectSizeMessage(qPrintable(name));
    a->write(longer.data(), longer.size());
    QCOMPARE(readLine(*a), before);
    // A read of another size gets the empty line.
    QCOMPARE(readLine(*a, kSize / 2), std::vector<float>(kSize / 2, -180.0f));
}

void TestSpectrumAverager::emptyAfterResetAndCount()
{
    for (int kind = 0; kind < 2; ++kind) {
        auto a = makeAverager(kind);
        a->setSize(kSize);
        a->setAverageCount(4);
        const std::vector<float> empty(kSize, -180.0f);
        QCOMPARE(readLine(*a), empty);
        std::mt19937 rng(4);
        const auto f = randomFrame(rng);
        a->write(f.data(), kSize);
        QVERIFY(readLine(*a) != empty);
        a->reset();
        QCOMPARE(readLine(*a), empty);
        a->write(f.data(), kSize);
        a->setAverageCount(3);
        QCOMPARE(readLine(*a), empty);
        a->write(f.data(), kSize);
        a->setSize(kSize * 2);
        QCOMPARE(readLine(*a, kSize * 2), std::vector<float>(kSize * 2, -180.0f));
    }
}

void TestSpectrumAverager::expCoefficients_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("factor");
    QTest::addColumn<double>("offset");
    QTest::newRow("3") << 3 << 0.760690 << -9.975395;
    QTest::newRow("4") << 4 << 0.767586 << -10.3221;
    QTest::newRow("30") << 30 << 0.946897 << -24.6715;
    QTest::newRow("0 as 1") << 0 << 0.746897 << -96.0 - (0.0076 + 0.2935 - 86.9735);
    QTest::newRow("99 as 30") << 99 << 0.946897 << -24.6715;
}

void TestSpectrumAverager::expCoefficients()
{
    QFETCH(int, count);
    QFETCH(double, factor);
    QFETCH(double, offset);
    SpectrumExpAverager a;
    a.setSize(kSize);
    a.setAverageCount(size_t(count));
    QVERIFY2(std::abs(a.factor() - factor) < 2e-6, qPrintable(QString::number(a.factor(), 'f', 7)));
    QVERIFY2(std::abs(a.offset() - offset) < 1e-4, qPrintable(QString::number(a.offset(), 'f', 6)));
}

void TestSpectrumAverager::expSteadyState()
{
    SpectrumExpAverager a;
    a.setSize(kSize);
    a.setAverageCount(3);
    const double p = 0.25;
    const std::vector<float> frame(kSize, float(p));
    // a^n falls below 1e-7 after about 60 writes.
    for (int i = 0; i < 200; ++i)
        a.write(frame.data(), kSize);
    const double factor = 3 * 0.0068965517 + 0.74;
    const double state = p * factor / (1.0 - factor);
    QVERIFY2(std::abs(state / p - 3.178) < 1e-3, "closed form of a/(1-a) for count 3");
    for (size_t k = 0; k < kSize; ++k)
        QVERIFY2(std::abs(a.state(k) - state) < 1e-5 * state, qPrintable(QString::number(a.state(k))));
    // The line is the state in dB lifted by offset + 8 = -1.975395 dB.
    compareDb(readLine(a), std::vector<double>(kSize, db(state) - 1.975395), 1e-3);

    // One step from zero: state = a P.
    a.reset();
    a.write(frame.data(), kSize);
    QVERIFY(std::abs(a.state(0) - factor * p) < 1e-6);
}

void TestSpectrumAverager::expResetReadsZero()
{
    SpectrumExpAverager a;
    a.setSize(kSize);
    a.setAverageCount(4);
    const std::vector<float> frame(kSize, 1.0f);
    a.write(frame.data(), kSize);
    a.reset();
    QCOMPARE(readLine(a), std::vector<float>(kSize, 0.0f));
}

void TestSpectrumAverager::resetReproducesOutput()
{
    std::mt19937 rng(9);
    std::vector<std::vector<float>> frames;
    for (int i = 0; i < 12; ++i)
        frames.push_back(randomFrame(rng));
    for (int kind = 0; kind < 3; ++kind) {
        auto a = makeAverager(kind);
        a->setSize(kSize);
        a->setAverageCount(5);
        std::vector<std::vector<float>> first, second;
        for (const auto& f : frames) {
            a->write(f.data(), kSize);
            first.push_back(readLine(*a));
        }
        a->reset();
        for (const auto& f : frames) {
            a->write(f.data(), kSize);
            second.push_back(readLine(*a));
        }
        QVERIFY2(first == second, qPrintable(QString("kind %1").arg(kind)));
    }
}

void TestSpectrumAverager::steadyWriteAllocatesNothing()
{
    for (int kind = 0; kind < 3; ++kind) {
        auto a = makeAverager(kind);
        a->setSize(4096);
        a->setAverageCount(30);
        std::vector<float> frame(4096, 1.0f), out(4096);
        for (int i = 0; i < 30; ++i)
            a->write(frame.data(), frame.size());
        // After a restart the history refills without new storage.
        a->reset();
        testsupport::AllocationScope scope;
        for (int i = 0; i < 40; ++i) {
            a->write(frame.data(), frame.size());
            a->read(out.data(), out.size());
        }
        QCOMPARE(scope.count(), 0u);
    }
}

QTEST_APPLESS_MAIN(TestSpectrumAverager)
#include "tst_spectrumaverager.moc"
