#include "BlockTestSupport.h"
#include "zorvaniDsp/Meter/MeterZorvani.h"

#include <QtTest>

using namespace blocktest;

class TestMeter : public QObject {
    Q_OBJECT
private slots:
    // Zeros: the new level -225 dB is outside [-200, 100] and counts as -100 dB;
    // the peak floor is 10^(-7.5), i.e. -150 dB.
    void zeros()
    {
        MeterZorvani m;
        const Signal x(200, C{0.0, 0.0});
        QVERIFY(m.process(x.data(), 200));
        QVERIFY(std::abs(m.level() - (0.95 * -140.0 + 0.05 * -100.0)) < 1e-9);
        QVERIFY(std::abs(m.slowLevel() - (0.96 * -140.0 + 0.04 * -100.0)) < 1e-9);
        QVERIFY(std::abs(m.peakRe() - (0.995 * -120.0 + 0.005 * -150.0)) < 1e-9);
        QVERIFY(std::abs(m.peakIm() - (0.995 * -120.0 + 0.005 * -150.0)) < 1e-9);
        for (int i = 0; i < 5000; ++i)
            m.process(x.data(), 200);
        QVERIFY(std::abs(m.level() + 100.0) < 1e-6);
        QVERIFY(std::abs(m.peakRe() + 150.0) < 1e-6);
    }

    // |x| = 1 with re and im reaching ±1: 0 dB mean power, 0 dB peaks.
    void fullScaleTone()
    {
        MeterZorvani m;
        const Signal x = tone(200, 0.25);
        QVERIFY(m.process(x.data(), 200));
        QVERIFY(std::abs(m.level() - 0.95 * -140.0) < 1e-9);  // attack towards 0 dB
        QVERIFY(std::abs(m.slowLevel() - 0.96 * -140.0) < 1e-9);
        for (int i = 0; i < 10000; ++i)
            m.process(x.data(), 200);
        QVERIFY2(std::abs(m.level()) < 1e-6, qPrintable(QString::number(m.level())));
        QVERIFY(std::abs(m.slowLevel()) < 1e-6);
        QVERIFY(std::abs(m.peakRe()) < 1e-6);
        QVERIFY(std::abs(m.peakIm()) < 1e-6);
    }

    // -20 dBFS: level and peaks measured independently of each other.
    void levelOfAQuieterSignal()
    {
        MeterZorvani m;
        const Signal x = tone(200, 0.25, 0.1);
        for (int i = 0; i < 20000; ++i)
            m.process(x.data(), 200);
        QVERIFY(std::abs(m.level() + 20.0) < 1e-6);
        QVERIFY(std::abs(m.peakRe() + 20.0) < 1e-6);
        // Falling back uses the decay coefficient.
        const double before = m.level();
        const Signal quiet = tone(200, 0.25, 0.01);
        m.process(quiet.data(), 200);
        QVERIFY(std::abs(m.level() - (0.99 * before + 0.01 * -40.0)) < 1e-9);
    }

    void decimationCoefficients_data()
    {
        QTest::addColumn<int>("D");
        QTest::addColumn<double>("attack");
        QTest::addColumn<double>("decay");
        QTest::newRow("D 1") << 1 << 0.05 << 0.01;
        QTest::newRow("D 8") << 8 << 0.00625 << 0.00125;
    }

    void decimationCoefficients()
    {
        QFETCH(int, D);
        QFETCH(double, attack);
        QFETCH(double, decay);
        MeterZorvani m;
        m.setDecimation(D);
        QCOMPARE(m.attack(), attack);
        QCOMPARE(m.decay(), decay);
        const Signal zeros(200, C{0.0, 0.0});
        m.process(zeros.data(), 200);  // rising: -140 -> -100
        QVERIFY(std::abs(m.level() - ((1 - attack) * -140.0 + attack * -100.0)) < 1e-9);
        const Signal loud = tone(200, 0.25);
        for (int i = 0; i < 100000; ++i)
            m.process(loud.data(), 200);
        m.process(zeros.data(), 200);  // falling: 0 -> -100
        QVERIFY(std::abs(m.level() - (decay * -100.0)) < 1e-6);

        MessageCapture capture;
        m.setDecimation(0);
        QCOMPARE(m.attack(), attack);
        QCOMPARE(capture.all().size(), 1);
    }

    // NaN or infinite input never sticks: the stored level is replaced by
    // -100 dB before the next update.
    void nanRecovery()
    {
        MeterZorvani m;
        Signal bad = tone(200, 0.25);
        bad[0] = {std::nan(""), std::nan("")};
        bad[1] = {INFINITY, -INFINITY};
        m.process(bad.data(), 200);
        QVERIFY(std::isfinite(m.level()));
        QVERIFY(std::isfinite(m.slowLevel()));
        m.process(bad.data(), 200);
        const Signal zeros(200, C{0.0, 0.0});
        m.process(zeros.data(), 200);
        QVERIFY(std::isfinite(m.level()) && m.level() >= -200.0 && m.level() <= 100.0);
        QVERIFY(std::isfinite(m.peakRe()) && std::isfinite(m.peakIm()));
        QVERIFY(std::isfinite(m.slowLevel()));
    }

    // Reset goes back to the readings a new meter starts from; bad input
    // changes none of them.
    void resetAndInvalidInput()
    {
        MeterZorvani m;
        const Signal x = tone(200, 0.25);
        m.process(x.data(), 200);
        m.reset();
        MessageCapture capture;
        QVERIFY(!m.process(nullptr, 200));
        QVERIFY(!m.process(x.data(), 0));
        QCOMPARE(m.level(), -140.0);
        QCOMPARE(m.slowLevel(), -140.0);
        QCOMPARE(m.peakRe(), -120.0);
        QCOMPARE(m.peakIm(), -120.0);
        QCOMPARE(capture.all().size(), 2);
        QVERIFY(capture.all().first().startsWith("source/zorvaniDsp/Meter/MeterZorvani:"));
    }
};

QTEST_APPLESS_MAIN(TestMeter)
#include "tst_meter.moc"
