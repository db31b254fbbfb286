#include "ModesTestSupport.h"

#include "zorvaniDsp/Filters/IQNotchFilter.h"

#include <QtTest>

using namespace modestest;

namespace {

constexpr double kCentre = 7100000.0;

std::vector<Sample> twoTones(int n, double carrierOffset, double toneOffset)
{
    std::vector<Sample> x = complexTone(n, carrierOffset, 0.5, 0.1);
    add(x, complexTone(n, toneOffset, 0.2, 1.3));
    return x;
}

} // namespace

class TestIqNotch : public QObject {
    Q_OBJECT

private slots:
    void removesCarrier_data()
    {
        QTest::addColumn<double>("carrier");
        QTest::addColumn<double>("width");
        QTest::newRow("+3 kHz, 100 Hz") << 3000.0 << 100.0;
        QTest::newRow("-5 kHz, 100 Hz") << -5000.0 << 100.0;
        QTest::newRow("+12 kHz, 20 Hz") << 12000.0 << 20.0;
    }

    void removesCarrier()
    {
        QFETCH(double, carrier);
        QFETCH(double, width);
        IQNotchFilter bank;
        bank.setCenterFrequency(kCentre);
        bank.setEnabled(true);
        bank.setNotchEnabled(3, true);
        bank.setNotchFrequency(3, kCentre + carrier);
        bank.setNotchWidth(3, width);
        QVERIFY(bank.notchActive(3));
        std::vector<Sample> x = twoTones(40000, carrier, carrier + 1000.0);
        const std::vector<Sample> input = x;
        inBlocks(x, 200, [&](Sample* p, int n) { bank.process(p, n); });
        const int first = 40000 - 31250;
        const double before = complexToneAmplitude(input, first, 31250, carrier);
        const double after = complexToneAmplitude(x, first, 31250, carrier);
        const double toneBefore = complexToneAmplitude(input, first, 31250, carrier + 1000.0);
        const double toneAfter = complexToneAmplitude(x, first, 31250, carrier + 1000.0);
        QVERIFY2(db(before / after) >= 30.0, qPrintable(QString("carrier down by %1 dB").arg(db(before / after))));
        QVERIFY2(std::fabs(db(toneAfter / toneBefore)) <= 1.0,
                 qPrintable(QString("tone 1 kHz away changed by %1 dB").arg(db(toneAfter / toneBefore))));
    }

    void inactiveBeyondHalfRate_data()
    {
        QTest::addColumn<double>("offset");
        QTest::addColumn<bool>("active");
        QTest::newRow("+fs/2") << kFs / 2.0 << false;
        QTest::newRow("-fs/2") << -kFs / 2.0 << false;
        QTest::newRow("+30 kHz") << 30000.0 << false;
        QTest::newRow("just inside") << kFs / 2.0 - 1.0 << true;
        QTest::newRow("-19 kHz") << -19000.0 << true;
    }

    void inactiveBeyondHalfRate()
    {
        QFETCH(double, offset);
        QFETCH(bool, active);
        IQNotchFilter bank;
        bank.setCenterFrequency(kCentre);
        bank.setEnabled(true);
        bank.setNotchEnabled(0, true);
        bank.setNotchFrequency(0, kCentre + offset);
        QCOMPARE(bank.notchActive(0), active);
        QCOMPARE(bank.notchOffset(0), offset);
        std::vector<Sample> x = twoTones(400, 1000.0, 2000.0);
        const std::vector<Sample> input = x;
        bank.process(x.data(), 400);
        QCOMPARE(sameSamples(x, input), !active);
    }

    void widthLimits_data()
    {
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("used");
        QTest::newRow("10 -> 10") << 10.0 << 10.0;
        QTest::newRow("30000 -> 10000") << 30000.0 << 10000.0;
        QTest::newRow("200 -> 100") << 200.0 << 100.0;
        QTest::newRow("0 -> 10") << 0.0 << 10.0;
    }

    void widthLimits()
    {
        QFETCH(double, width);
        QFETCH(double, used);
        IQNotchFilter bank;
        bank.setNotchWidth(5, width);
        QCOMPARE(bank.notchWidth(5), used);
        bank.setNotchWidth(5, std::nan(""));
        QCOMPARE(bank.notchWidth(5), used);
        // Pole about exp(-2 pi W / fs) (the time constant is kept in single precision).
        QVERIFY2(std::fabs(bank.notchPole(5) - std::exp(-2.0 * kPi * used / kFs)) < 1e-6,
                 qPrintable(QString("pole %1").arg(bank.notchPole(5))));
    }

    void switchedOffPasses()
    {
        IQNotchFilter bank;
        bank.setCenterFrequency(kCentre);
        bank.setNotchEnabled(1, true);
        bank.setNotchFrequency(1, kCentre + 1000.0);
        std::vector<Sample> x = twoTones(400, 1000.0, 2000.0);
        const std::vector<Sample> input = x;
        bank.process(x.data(), 400); // bank disabled
        QVERIFY(sameSamples(x, input));
        bank.setEnabled(true);
        bank.setNotchEnabled(1, false);
        bank.process(x.data(), 400); // entry disabled
        QVERIFY(sameSamples(x, input));
        bank.setNotchEnabled(99, true);
        QVERIFY(!bank.notchEnabled(99));
        bank.process(nullptr, 200);
    }

    void followsCentreAndRate()
    {
        IQNotchFilter bank;
        bank.setCenterFrequency(kCentre);
        bank.setNotchFrequency(2, kCentre + 2000.0);
        QCOMPARE(bank.notchOffset(2), 2000.0);
        bank.setCenterFrequency(kCentre + 500.0);
        QCOMPARE(bank.notchOffset(2), 1500.0);
        bank.setNotchFrequency(2, kCentre + 30000.0);
        QVERIFY(!bank.notchActive(2));
        bank.setSampleRate(78125.0);
        QVERIFY(bank.notchActive(2));
        QVERIFY(std::fabs(bank.notchPole(2) - std::exp(-2.0 * kPi * 10.0 / 78125.0)) < 1e-6);
    }

    void continuity()
    {
        auto make = [] {
            auto bank = std::make_unique<IQNotchFilter>();
            bank->setCenterFrequency(kCentre);
            bank->setEnabled(true);
            for (int id = 0; id < 3; ++id) {
                bank->setNotchEnabled(id, true);
                bank->setNotchFrequency(id, kCentre + 1000.0 * (id + 1));
                bank->setNotchWidth(id, 300.0);
            }
            return bank;
        };
        auto a = make();
        auto b = make();
        std::vector<Sample> x = twoTones(400, 1000.0, 2500.0);
        std::vector<Sample> y = x;
        a->process(x.data(), 400);
        b->process(y.data(), 200);
        b->process(y.data() + 200, 200);
        QVERIFY(sameSamples(x, y));
    }
};

QTEST_APPLESS_MAIN(TestIqNotch)
#include "tst_iqnotch.moc"
