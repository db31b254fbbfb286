#include "BlockTestSupport.h"
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

    void toneMatchesPolarAndJoinsBlocks()
    {
        const double rel = 0.123456789;
        const Signal expected = tone(1000, rel);
        Signal once(1000);
        double phase = 0.0;
        ox::vec::tone(once.data(), 1000, rel, phase);
        QVERIFY2(maxDifference(once, expected) < 1e-9, "tone differs from exp(j2πfk)");
        QVERIFY(phase >= 0.0 && phase < ox::vec::kTwoPi);
        const double expectedPhase = std::fmod(ox::vec::kTwoPi * rel * 1000, ox::vec::kTwoPi);
        QVERIFY(std::abs(phase - expectedPhase) < 1e-9);

        Signal split(1000);
        double p = 0.0;
        ox::vec::tone(split.data(), 300, rel, p);
        ox::vec::tone(split.data() + 300, 700, rel, p);
        QVERIFY2(sameBits(split, once), "split tone differs from one call");
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
