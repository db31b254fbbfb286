#include "DspTestSupport.h"
#include "zorvaniDsp/Meter/MeterZorvani.h"

#include <QtTest>

using namespace dsptest;

class TestMeter : public QObject {
    Q_OBJECT
private slots:
    // From the readings a new meter starts with (level and slow level -140,
    // peaks -120 dB) the first block moves each by its attack; in the long
    // run they settle on the signal; falling back uses the decay.
    void levels()
    {
        // Zeros: -225 dB is outside [-200, 100] and counts as -100 dB; the
        // peak floor is 10^(-7.5), i.e. -150 dB.
        const double rows[][3] = {{0.0, -100.0, -150.0}, {1.0, 0.0, 0.0}, {0.1, -20.0, -20.0}}; // amplitude, mean power and peaks in dB
        for (const auto& [amplitude, level, peak] : rows) {
            const QByteArray row = "amplitude " + QByteArray::number(amplitude);
            MeterZorvani m;
            const Signal x = tone(200, 0.25, amplitude);
            QVERIFY2(m.process(x.data(), 200), row);
            const double first[] = {0.95 * -140.0 + 0.05 * level, 0.96 * -140.0 + 0.04 * level, 0.995 * -120.0 + 0.005 * peak};
            QVERIFY2(std::abs(m.level() - first[0]) < 1e-9 && std::abs(m.slowLevel() - first[1]) < 1e-9, row);
            QVERIFY2(std::abs(m.peakRe() - first[2]) < 1e-9 && std::abs(m.peakIm() - first[2]) < 1e-9, row);
            for (int i = 0; i < 20000; ++i)
                m.process(x.data(), 200);
            QVERIFY2(std::abs(m.level() - level) < 1e-6 && std::abs(m.slowLevel() - level) < 1e-6, row);
            QVERIFY2(std::abs(m.peakRe() - peak) < 1e-6 && std::abs(m.peakIm() - peak) < 1e-6, row);
            const Signal quiet = tone(200, 0.25, 0.01);
            m.process(quiet.data(), 200);
            if (level > -40.0)
                QVERIFY2(std::abs(m.level() - (0.99 * level + 0.01 * -40.0)) < 1e-9, row);
        }
    }

    // NaN or infinite input never sticks; bad blocks are refused with a
    // logged line each, and reset gives a new meter's readings.
    void badInputAndReset()
    {
        MeterZorvani m;
        Signal bad = tone(200, 0.25);
        bad[0] = {std::nan(""), std::nan("")};
        bad[1] = {INFINITY, -INFINITY};
        const Signal zeros(200, C{0.0, 0.0});
        for (const Signal* x : std::initializer_list<const Signal*>{&bad, &bad, &zeros})
            m.process(x->data(), 200);
        QVERIFY(std::isfinite(m.level()) && m.level() >= -200.0 && m.level() <= 100.0);
        QVERIFY(std::isfinite(m.slowLevel()) && std::isfinite(m.peakRe()) && std::isfinite(m.peakIm()));
        m.reset();
        MessageCapture capture;
        QVERIFY(!m.process(nullptr, 200) && !m.process(zeros.data(), 0));
        QVERIFY(m.level() == -140.0 && m.slowLevel() == -140.0 && m.peakRe() == -120.0 && m.peakIm() == -120.0);
        m.setDecimation(8); // at 312500 Hz: attack and decay per input sample
        QVERIFY(m.attack() == 0.00625 && m.decay() == 0.00125 && capture.all().size() == 2);
    }
};

QTEST_APPLESS_MAIN(TestMeter)
#include "tst_meter.moc"
