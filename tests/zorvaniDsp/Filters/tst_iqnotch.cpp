#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/IQNotchFilter.h"

#include <QtTest>

using namespace dsptest;

constexpr double kCentre = 7100000.0;

class TestIqNotch : public QObject {
    Q_OBJECT

private slots:
    // An active notch takes a carrier down by 30 dB or more and leaves a tone
    // 1 kHz away within 1 dB; a notch at or beyond half the rate is inactive
    // and the block passes bit for bit, as it does with the bank off.
    void notch()
    {
        const double rows[][3] = {{3000.0, 100.0, 1}, {-5000.0, 100.0, 1}, {12000.0, 20.0, 1}, {-19000.0, 100.0, 1},
                                  {kFs / 2.0 - 1.0, 100.0, 1}, {kFs / 2.0, 100.0, 0}, {-kFs / 2.0, 100.0, 0}, {30000.0, 100.0, 0}};
        for (const auto& r : rows) { // carrier offset, width, active
            const double carrier = r[0], other = carrier > 0.0 ? carrier - 1000.0 : carrier + 1000.0;
            IQNotchFilter bank;
            bank.setCenterFrequency(kCentre);
            bank.setEnabled(true);
            bank.setNotchEnabled(3, true);
            bank.setNotchFrequency(3, kCentre + carrier);
            bank.setNotchWidth(3, r[1]);
            QVERIFY(bank.notchActive(3) == bool(r[2]) && bank.notchOffset(3) == carrier);
            const Signal input = toneHz(40000, carrier, 0.5, 0.1) + toneHz(40000, other, 0.2, 1.3);
            Signal x = input;
            inBlocks(x, 200, [&](C* p, int n) { bank.process(p, n); });
            const int first = 40000 - 31250;
            const double down = db(complexAmplitude(input, first, 31250, carrier) / complexAmplitude(x, first, 31250, carrier));
            const double moved = db(complexAmplitude(x, first, 31250, other) / complexAmplitude(input, first, 31250, other));
            QVERIFY2(r[2] ? down >= 30.0 && std::fabs(moved) <= 1.0 : sameBits(x, input),
                     qPrintable(QString("%1 Hz: carrier down by %2 dB, tone 1 kHz away by %3 dB").arg(carrier).arg(down).arg(moved)));
            bank.setEnabled(false);
            x = input;
            bank.process(x.data(), 40000);
            QVERIFY(sameBits(x, input));
        }
    }

    // Widths are limited to 10 .. 10000 Hz (NaN ignored); the pole is about
    // exp(-2 pi W / fs) (its time constant kept in single precision) and
    // follows the rate. Offsets follow the centre.
    void settings()
    {
        IQNotchFilter bank;
        const double widths[][2] = {{10.0, 10.0}, {30000.0, 10000.0}, {200.0, 100.0}, {0.0, 10.0}};
        for (const auto& w : widths) {
            bank.setNotchWidth(5, w[0]);
            bank.setNotchWidth(5, std::nan(""));
            QVERIFY2(bank.notchWidth(5) == w[1] && std::fabs(bank.notchPole(5) - std::exp(-2.0 * kPi * w[1] / kFs)) < 1e-6,
                     qPrintable(QString("width %1: %2").arg(w[0]).arg(bank.notchWidth(5))));
        }
        bank.setCenterFrequency(kCentre);
        bank.setNotchFrequency(2, kCentre + 2000.0);
        bank.setCenterFrequency(kCentre + 500.0);
        QCOMPARE(bank.notchOffset(2), 1500.0);
        bank.setNotchFrequency(2, kCentre + 30000.0);
        QVERIFY(!bank.notchActive(2));
        bank.setSampleRate(78125.0);
        QVERIFY(bank.notchActive(2) && std::fabs(bank.notchPole(2) - std::exp(-2.0 * kPi * 10.0 / 78125.0)) < 1e-6);
        bank.setNotchEnabled(99, true);
        QVERIFY(!bank.notchEnabled(99));
    }
};

QTEST_APPLESS_MAIN(TestIqNotch)
#include "tst_iqnotch.moc"
