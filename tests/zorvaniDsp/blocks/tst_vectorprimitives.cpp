#include "BlockTestSupport.h"
#include "vector/Nco.h"
#include "vector/Status.h"
#include "vector/Vector.h"

#include <QtTest>

using namespace blocktest;

class TestVectorPrimitives : public QObject {
    Q_OBJECT
private slots:
    void blackmanNuttallClosedForm_data()
    {
        QTest::addColumn<int>("length");
        QTest::newRow("odd 9") << 9;
        QTest::newRow("even 16") << 16;
        QTest::newRow("1537") << 1537;
    }

    // Ends are a0 - a1 + a2 - a3, the centre of an odd window is the sum of
    // the terms, both lifted by 1/10^(-0.44); the window is symmetric.
    void blackmanNuttallClosedForm()
    {
        QFETCH(int, length);
        std::vector<double> w(static_cast<size_t>(length));
        ox::vec::blackmanNuttall(w.data(), length);
        const double lift = std::pow(10.0, 0.44);
        const double end = (0.3635819 - 0.4891775 + 0.1365995 - 0.0106411) * lift;
        QVERIFY2(std::abs(w.front() - end) < 1e-12, qPrintable(QString::number(w.front())));
        QVERIFY(std::abs(w.back() - end) < 1e-12);
        for (int k = 0; k < length; ++k)
            QVERIFY2(std::abs(w[k] - w[length - 1 - k]) < 1e-12, "window not symmetric");
        if (length % 2 == 1) {
            const double centre = (0.3635819 + 0.4891775 + 0.1365995 + 0.0106411) * lift;
            QVERIFY(std::abs(w[length / 2] - centre) < 1e-12);
        }
        std::vector<float> wf(static_cast<size_t>(length));
        ox::vec::blackmanNuttall(wf.data(), length);
        for (int k = 0; k < length; ++k)
            QVERIFY(std::abs(wf[k] - float(w[k])) < 1e-6f);
    }

    // The rotating oscillator stays within rounding of exp(j2π·rel·k) over a
    // long run and is independent of how the stream is cut.
    void ncoAgainstExactTone_data()
    {
        QTest::addColumn<double>("rel");
        QTest::newRow("0.9744") << 0.9744;
        QTest::newRow("0.5") << 0.5;
        QTest::newRow("1e-4") << 1e-4;
        QTest::newRow("0.318309886") << 0.318309886;
    }

    void ncoAgainstExactTone()
    {
        QFETCH(double, rel);
        const int n = 100000;
        ox::vec::Nco<double> nco;
        nco.setFrequency(rel);
        Signal whole(static_cast<size_t>(n));
        nco.generate(whole.data(), n);
        QVERIFY2(maxDifference(whole, tone(n, rel)) < 1e-9, qPrintable(QString::number(maxDifference(whole, tone(n, rel)))));

        ox::vec::Nco<double> split;
        split.setFrequency(rel);
        Signal pieces(static_cast<size_t>(n));
        std::mt19937 gen(3);
        for (int done = 0; done < n;) {
            const int len = std::min(int(gen() % 500) + 1, n - done);
            split.generate(pieces.data() + done, len);
            done += len;
        }
        QVERIFY2(sameBits(whole, pieces), "cut stream differs");
        QCOMPARE(split.phase(), nco.phase());

        std::vector<Ostrovix::complex<float>> single(1000);
        ox::vec::Nco<float> f;
        f.setFrequency(rel);
        f.generate(single.data(), 1000);
        for (int k = 0; k < 1000; ++k)
            QVERIFY(std::abs(single[k].re - float(whole[k].re)) < 1e-6f);
    }

    // A new frequency continues from the current phase without a step.
    void ncoFrequencyChangeIsPhaseContinuous()
    {
        ox::vec::Nco<double> nco;
        nco.setFrequency(0.1);
        Signal a(37);
        nco.generate(a.data(), 37);
        const double phase = nco.phase();
        nco.setFrequency(0.2);
        Signal b(100);
        nco.generate(b.data(), 100);
        QVERIFY(maxDifference(b, tone(100, 0.2, 1.0, phase)) < 1e-12);
        nco.reset();
        Signal c(37);
        nco.generate(c.data(), 37);
        QVERIFY(maxDifference(c, tone(37, 0.2)) < 1e-12);
    }

    void elementWiseAgainstStdComplex()
    {
        Signal a = noise(257, 1), b = noise(257, 2);
        const Signal a0 = a;
        ox::vec::multiply(a.data(), b.data(), 257);
        for (int i = 0; i < 257; ++i)
            QVERIFY(std::abs(toStd(a[i]) - toStd(a0[i]) * toStd(b[i])) < 1e-15);
        ox::vec::add(a.data(), b.data(), 257);
        ox::vec::scale(a.data(), 2.0, 257);
        for (int i = 0; i < 257; ++i)
            QVERIFY(std::abs(toStd(a[i]) - 2.0 * (toStd(a0[i]) * toStd(b[i]) + toStd(b[i]))) < 1e-14);

        std::vector<double> power(257), magnitude(257);
        ox::vec::power(b.data(), power.data(), 257);
        ox::vec::magnitude(b.data(), magnitude.data(), 257);
        double sum = 0.0;
        for (int i = 0; i < 257; ++i) {
            QVERIFY(std::abs(power[i] - std::norm(toStd(b[i]))) < 1e-15);
            QVERIFY(std::abs(magnitude[i] - std::abs(toStd(b[i]))) < 1e-15);
            sum += std::norm(toStd(b[i]));
        }
        QVERIFY(std::abs(ox::vec::sumPower(b.data(), 257) - sum) < 1e-12);

        std::vector<double> re(257), im(257);
        ox::vec::split(b.data(), re.data(), im.data(), 257);
        Signal joined(257);
        ox::vec::join(re.data(), im.data(), joined.data(), 257);
        QVERIFY(sameBits(joined, b));
    }

    void decibelsAndMaxAbs()
    {
        std::vector<double> x = {1.0, 100.0, 0.0, 1e-3};
        ox::vec::toDb(x.data(), 4, 10.0, 1e-10);
        QCOMPARE(x[0], 0.0);
        QVERIFY(std::abs(x[1] - 20.0) < 1e-12);
        QVERIFY(std::abs(x[2] + 100.0) < 1e-12);  // floored
        QVERIFY(std::abs(x[3] + 30.0) < 1e-12);
        const double v[] = {0.5, -2.5, 1.0};
        QCOMPARE(ox::vec::maxAbs(v, 3), 2.5);
        QCOMPARE(ox::vec::maxAbs(v, 0), 0.0);
    }

    void statusWarningShape()
    {
        MessageCapture capture;
        ox::vec::reportStatus("source/x/Y", 12, ox::vec::StsNullPtrErr);
        QCOMPARE(capture.all().size(), 1);
        QCOMPARE(capture.all().first(), QStringLiteral("source/x/Y:12 : code: -8 , text: Null pointer error"));
    }
};

QTEST_APPLESS_MAIN(TestVectorPrimitives)
#include "tst_vectorprimitives.moc"
