#include "AllocationCounter.h"
#include "BlockTestSupport.h"
#include "zorvaniDsp/Filters/AgcZorvani.h"
#include "zorvaniDsp/Filters/DecimatorZorvani.h"
#include "zorvaniDsp/Filters/DownConverterZorvani.h"
#include "zorvaniDsp/Filters/IirLowpassZorvani.h"
#include "zorvaniDsp/Filters/Resampler.h"
#include "zorvaniDsp/Meter/MeterZorvani.h"
#include "zorvaniDsp/zorvaniFFT/FastFirZorvani.h"

#include <QtTest>

using namespace blocktest;

// Once configured, process() of every block allocates nothing.
class TestBlockAllocations : public QObject {
    Q_OBJECT
private slots:
    void processAllocatesNothing()
    {
        DownConverterZorvani dc;
        dc.setFrequency(-0.1);
        FastFirZorvani fir;
        QVERIFY(fir.init(0.0, 0.07, 1537));
        IirLowpassZorvani iir;
        QVERIFY(iir.init(0.0561, 11));
        DecimatorZorvani decimator;
        QVERIFY(decimator.init(8, 39062.5, 17531.25));
        MeterZorvani meter;
        meter.setDecimation(8);
        AgcZorvani agc;
        agc.setSampleRate(39062.5);
        agc.setMaxGain(120.0);
        agc.setMinGain(-40.0);
        agc.setParameters(1.0, 400.0, 400, true);
        Resampler resampler;
        QVERIFY(resampler.init(39062.5f, 48000.0f));

        {
            // The counter must see allocations, or the check below proves nothing.
            testsupport::AllocationScope live;
            auto probe = std::make_unique<int>(1);
            static int* volatile escape = nullptr;
            escape = probe.get();
            QVERIFY(escape != nullptr);
            QVERIFY2(live.count() > 0, "allocation counter not linked");
        }

        Signal block = noise(1600, 1, 0.5);
        Signal audio(static_cast<size_t>(Resampler::maxOutput(200, 768, 625)));
        testsupport::AllocationScope scope;
        for (int i = 0; i < 50; ++i) {
            QVERIFY(dc.process(block.data(), 1600));
            QVERIFY(iir.process(block.data(), 1600));
            QCOMPARE(decimator.process(block.data(), 1600), 200);
            QVERIFY(fir.process(block.data(), 200));
            QVERIFY(meter.process(block.data(), 200));
            QVERIFY(agc.process(block.data(), 200));
            agc.setParameters(2.0, 300.0, 200, i % 2 == 0);  // reconfiguring within capacity
            QVERIFY(resampler.process(block.data(), audio.data(), 200) > 0);
        }
        QCOMPARE(scope.count(), 0u);
    }
};

QTEST_APPLESS_MAIN(TestBlockAllocations)
#include "tst_blockallocations.moc"
