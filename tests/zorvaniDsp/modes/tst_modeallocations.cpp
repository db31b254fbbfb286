#include "AllocationCounter.h"
#include "ModesTestSupport.h"

#include "zorvaniDsp/Demodulators/DemodAMZorvani.h"
#include "zorvaniDsp/Demodulators/FmDemodZorvani.h"
#include "zorvaniDsp/Demodulators/SamDemodZorvani.h"
#include "zorvaniDsp/Demodulators/SquelchZorvani.h"
#include "zorvaniDsp/Demodulators/WfmReceiverZorvani.h"
#include "zorvaniDsp/Filters/BiQuadFilter.h"
#include "zorvaniDsp/Filters/IQNotchFilter.h"
#include "zorvaniDsp/Filters/LmsFilterZorvani.h"
#include "zorvaniDsp/Filters/SurrounfCW.h"
#include "zorvaniDsp/Filters/ZorvaniNB.h"

#include <QtTest>

using namespace modestest;

// Every mode stage, once configured, processes blocks without touching the heap.
class TestModeAllocations : public QObject {
    Q_OBJECT

private slots:
    void counterCounts()
    {
        // The zero counts below mean something only if the counter sees new.
        testsupport::AllocationScope scope;
        auto probe = std::make_unique<std::vector<int>>(100);
        QVERIFY(probe);
        QVERIFY2(scope.count() >= 2u, "allocation counter is not active");
    }

    void stagesAllocateNothing_data()
    {
        QTest::addColumn<int>("block");
        QTest::newRow("200") << 200;
        QTest::newRow("4096") << 4096;
    }

    void stagesAllocateNothing()
    {
        QFETCH(int, block);
        DemodAMZorvani am;
        SamDemodZorvani sam;
        FmDemodZorvani fm;
        CarrierSquelch carrier;
        carrier.setEnabled(true);
        FmSquelch squelch;
        squelch.setEnabled(true);
        squelch.setCtcssEnabled(true);
        squelch.setTone(12);
        WfmReceiverZorvani wfm(312500.0, kFs, true, 50e-6);
        LmsFilterZorvani nr(LmsFilterZorvani::Kind::NoiseReduction);
        LmsFilterZorvani anf(LmsFilterZorvani::Kind::AutoNotch);
        nr.setEnabled(true);
        anf.setEnabled(true);
        nr.setTaps(257);
        anf.setTaps(257);
        ZorvaniNB nb;
        nb.setNb1(true);
        nb.setNb2(true);
        IQNotchFilter notches;
        notches.setEnabled(true);
        for (int id = 0; id < IQNotchFilter::kNotchCount; ++id) {
            notches.setNotchEnabled(id, true);
            notches.setNotchFrequency(id, 1900000.0 + 1000.0 * id);
        }
        BiQuadFilter apf;
        apf.init(BiQuadFilter::Peaking, 700.0 / kFs, 7.0, 30.0);
        apf.setEnabled(true);
        SurrounfCW dse;
        dse.setEnabled(true);

        std::vector<Sample> x = complexNoise(block, 0.3, 5);
        std::vector<Ostrovix::complex<float>> wide(static_cast<size_t>(block), Ostrovix::complex<float>{0.5f, 0.1f});
        std::vector<Sample> audio(static_cast<size_t>(WfmReceiverZorvani::maxOutput(block, 312500.0, kFs)));

        auto runAll = [&] {
            bool ok = am.process(x.data(), block);
            ok &= sam.process(x.data(), block);
            ok &= fm.process(x.data(), block);
            ok &= carrier.process(x.data(), block, -200.0);
            ok &= squelch.process(x.data(), block, -200.0);
            ok &= wfm.process(wide.data(), block, audio.data()) > 0;
            ok &= nr.process(x.data(), block);
            ok &= anf.process(x.data(), block);
            nb.process(x.data(), block);
            notches.process(x.data(), block);
            ok &= apf.process(x.data(), block);
            ok &= dse.process(x.data(), block);
            return ok;
        };
        QVERIFY(runAll()); // warm-up
        testsupport::AllocationScope scope;
        for (int i = 0; i < 5; ++i)
            QVERIFY(runAll());
        QCOMPARE(scope.count(), 0u);
    }
};

QTEST_APPLESS_MAIN(TestModeAllocations)
#include "tst_modeallocations.moc"
