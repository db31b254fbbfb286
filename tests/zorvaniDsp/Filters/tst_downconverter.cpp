#include "DspTestSupport.h"
#include "vector/Nco.h"
#include "zorvaniDsp/Filters/DownConverterZorvani.h"

#include <QtTest>

using namespace dsptest;

class TestDownConverter : public QObject {
    Q_OBJECT
private slots:
    // Frequency and RIT are limited to ±0.5 (NaN taken as 0), and so is their
    // sum (0.4 + 0.3 runs at 0.5). Which way a channel offset and RIT move the
    // tone is heard through the receiver in tst_enginechain.
    void mixingAndLimits()
    {
        const double rows[][4] = {{0.5, 0.5, 0.5, 0.0}, {-0.5, -0.5, 0.5, 0.0}, {0.7, 0.5, 0.5, 0.0},
                                  {-3.0, -0.5, 0.5, 0.0}, {0.1, 0.1, 0.1, 0.0}, {NAN, 0.0, 0.0, 0.0},
                                  {0.4, 0.4, 0.5, 0.3}};
        for (const auto& r : rows) { // set, stored, cycles run at, RIT while running
            DownConverterZorvani limited;
            limited.setFrequency(r[0]);
            limited.setRit(r[0]);
            QVERIFY2(limited.frequency() == r[1] && limited.rit() == r[1], qPrintable(QString::number(r[0])));
            limited.setRit(r[3]);
            Signal y(64, C{1.0, 0.0});
            QVERIFY(limited.process(y.data(), 64));
            QVERIFY2(maxDifference(y, tone(64, r[2])) < 1e-9, qPrintable(QString::number(r[0])));
        }
        // The oscillator stays within rounding of exp(j2π·rel·k) over a long run
        // (any cut of the stream gives the same bits: tst_blockcontract); a new
        // frequency continues from the current phase; reset starts from phase 0.
        const int n = 100000;
        for (double rel : {0.9744, 0.5, 1e-4, 0.318309886}) {
            ox::vec::Nco<double> nco;
            nco.setFrequency(rel);
            Signal whole(n), b(100);
            nco.generate(whole.data(), n);
            const double error = maxDifference(whole, tone(n, rel));
            QVERIFY2(error < 1e-9, qPrintable(QString("%1: %2").arg(rel).arg(error)));
            const double phase = nco.phase();
            nco.setFrequency(0.2);
            nco.generate(b.data(), 100);
            QVERIFY(maxDifference(b, tone(100, 0.2, 1.0, phase)) < 1e-9);
            nco.reset();
            nco.generate(b.data(), 100);
            QVERIFY(maxDifference(b, tone(100, 0.2)) < 1e-12);
        }
    }
};

QTEST_APPLESS_MAIN(TestDownConverter)
#include "tst_downconverter.moc"
