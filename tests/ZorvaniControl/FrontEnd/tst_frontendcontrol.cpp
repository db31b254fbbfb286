#include "ZorvaniControl/FrontEndControl.h"

#include <QSignalSpy>
#include <QtTest>

class FrontEndControlTest : public QObject {
    Q_OBJECT
private slots:
    void bandForFrequency_data();
    void bandForFrequency();
    void wordFollowsBandAndSwitches();
    void levelCorrection();
    void emitsOnlyOnChange();
};

void FrontEndControlTest::bandForFrequency_data()
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

void FrontEndControlTest::bandForFrequency()
{
    QFETCH(qint64, hz);
    QFETCH(int, band);
    QCOMPARE(FrontEndControl::bandForFrequency(hz), band);
}

void FrontEndControlTest::wordFollowsBandAndSwitches()
{
    FrontEndControl fe;
    fe.setBpf(true);
    fe.setBand(FrontEndControl::bandForFrequency(7100000));
    QCOMPARE(fe.band(), 3);
    QCOMPARE(fe.word(), quint16(0x005));
    fe.setAtt(true);
    QCOMPARE(fe.word(), quint16(0x805));
    fe.setPreamp(true);
    QCOMPARE(fe.word(), quint16(0x885));
    fe.setBand(FrontEndControl::bandForFrequency(35000000));
    QCOMPARE(fe.word(), quint16(0x880));
    fe.setBand(0);
    QCOMPARE(fe.word(), quint16(0xA81));
    fe.setBpf(false);
    QCOMPARE(fe.word(), quint16(0x880));
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

void FrontEndControlTest::levelCorrection()
{
    // Attenuator +18.5 dB, preamp -10.3 dB, announced on change only.
    FrontEndControl fe;
    QSignalSpy coeff(&fe, &FrontEndControl::preampCoeffChanged);
    const bool steps[][2] = {{true, false}, {true, true}, {false, true}, {false, true}};
    for (const auto& step : steps) {
        fe.setAtt(step[0]);
        fe.setPreamp(step[1]);
        const double expected = (step[0] ? 18.5 : 0.0) + (step[1] ? -10.3 : 0.0);
        QVERIFY(qFuzzyCompare(1.0 + fe.levelCorrection(), 1.0 + expected));
        QVERIFY(qFuzzyCompare(1.0 + coeff.last().at(0).toDouble(), 1.0 + expected));
    }
    QCOMPARE(coeff.count(), 3);
}

void FrontEndControlTest::emitsOnlyOnChange()
{
    FrontEndControl fe;
    QSignalSpy words(&fe, &FrontEndControl::valueChanged);
    QVERIFY(fe.setBpf(true));
    QVERIFY(!fe.setBpf(true));
    QCOMPARE(words.count(), 0); // band 13 has no filter: the word stays 0
    QVERIFY(fe.setBand(3));
    QCOMPARE(words.count(), 1);
    QCOMPARE(words.last().at(0).value<ushort>(), ushort(0x005));
    QVERIFY(!fe.setBand(3));
    QCOMPARE(words.count(), 1);
    fe.emitState();
    QCOMPARE(words.count(), 2);
    QCOMPARE(words.last().at(0).value<ushort>(), ushort(0x005));
}

QTEST_GUILESS_MAIN(FrontEndControlTest)
#include "tst_frontendcontrol.moc"
