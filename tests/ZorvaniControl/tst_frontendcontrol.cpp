#include "ZorvaniControl/FrontEndControl.h"

#include <QSignalSpy>
#include <QtTest>

class FrontEndControlTest : public QObject {
    Q_OBJECT
private slots:
    void bandForFrequency_data()
    {
        QTest::addColumn<qint64>("hz");
        QTest::addColumn<int>("band");
        QTest::newRow("below 160M") << qint64(1729999) << 13;
        QTest::newRow("160M low edge") << qint64(1730000) << 0;
        QTest::newRow("80M") << qint64(2600000) << 1;
        QTest::newRow("60M") << qint64(5350000) << 2;
        QTest::newRow("40M top") << qint64(7899999) << 3;
        QTest::newRow("17M and 15M share") << qint64(18100000) << 7;
        QTest::newRow("12M and 10M share") << qint64(28500000) << 10;
        QTest::newRow("above 30 MHz") << qint64(30000000) << 13;
    }
    void bandForFrequency()
    {
        QFETCH(qint64, hz);
        QFETCH(int, band);
        QCOMPARE(FrontEndControl::bandForFrequency(hz), band);
    }

    // The word announced on change only: band filter, attenuator, preamplifier.
    void wordFollowsBandAndSwitches()
    {
        FrontEndControl fe;
        QSignalSpy words(&fe, &FrontEndControl::valueChanged);
        QVERIFY(fe.setBpf(true));
        QVERIFY(!fe.setBpf(true));
        QCOMPARE(words.count(), 0); // band 13 has no filter: the word stays 0
        QVERIFY(fe.setBand(FrontEndControl::bandForFrequency(7100000)));
        QVERIFY(!fe.setBand(3));
        QCOMPARE(words.count(), 1);
        QCOMPARE(words.last().at(0).value<ushort>(), ushort(0x005));
        const QList<QPair<std::function<void()>, quint16>> steps = {
            {[&] { fe.setAtt(true); }, 0x805}, {[&] { fe.setPreamp(true); }, 0x885},
            {[&] { fe.setBand(FrontEndControl::bandForFrequency(35000000)); }, 0x880}, {[&] { fe.setBand(0); }, 0xA81},
            {[&] { fe.setBpf(false); }, 0x880}};
        for (const auto& step : steps) {
            step.first();
            QCOMPARE(fe.word(), step.second);
        }
        QCOMPARE(words.count(), 6);
        fe.emitState();
        QCOMPARE(words.count(), 7);
        QCOMPARE(words.last().at(0).value<ushort>(), ushort(0x880));
        // Out-of-range bands are clamped; bands 6 and 7 share one filter, 8 to 10 another.
        fe.setBpf(true);
        fe.setBand(42);
        QCOMPARE(fe.band(), 13);
        fe.setBand(6);
        const quint16 six = fe.word();
        fe.setBand(7);
        QCOMPARE(fe.word(), six);
        QCOMPARE(FrontEndControl::bandCode(8), FrontEndControl::bandCode(10));
        QCOMPARE(FrontEndControl::bandCode(11), quint16(0));
    }

    // Attenuator +18.5 dB, preamplifier -10.3 dB, announced on change only.
    void levelCorrection()
    {
        FrontEndControl fe;
        QSignalSpy coeff(&fe, &FrontEndControl::preampCoeffChanged);
        for (const auto& [att, preamp] : {std::pair{true, false}, {true, true}, {false, true}, {false, true}}) {
            fe.setAtt(att);
            fe.setPreamp(preamp);
            const double expected = (att ? 18.5 : 0.0) + (preamp ? -10.3 : 0.0);
            QVERIFY(qFuzzyCompare(1.0 + fe.levelCorrection(), 1.0 + expected));
            QVERIFY(qFuzzyCompare(1.0 + coeff.last().at(0).toDouble(), 1.0 + expected));
        }
        QCOMPARE(coeff.count(), 3);
    }
};

QTEST_GUILESS_MAIN(FrontEndControlTest)
#include "tst_frontendcontrol.moc"
