#include "ZorvaniControl/FrontEndControl.h"

#include <QSignalSpy>
#include <QtTest>

class FrontEndControlTest : public QObject {
    Q_OBJECT
private slots:
    // Band edges (13: no band), and the bands that share a filter.
    void bandForFrequency()
    {
        const QList<QPair<qint64, int>> edges = {{1729999, 13}, {1730000, 0}, {2600000, 1}, {5350000, 2}, {7899999, 3},
                                                 {18100000, 7}, {28500000, 10}, {30000000, 13}};
        for (const auto& [hz, band] : edges)
            QVERIFY2(FrontEndControl::bandForFrequency(hz) == band, qPrintable(QString::number(hz)));
        QCOMPARE(FrontEndControl::bandCode(8), FrontEndControl::bandCode(10));
        QCOMPARE(FrontEndControl::bandCode(11), quint16(0));
    }

    // The word (band filter, attenuator, preamplifier) and the level correction
    // (attenuator +18.5 dB, preamplifier -10.3 dB), each announced on change only.
    void wordAndLevelFollowBandAndSwitches()
    {
        FrontEndControl fe;
        QSignalSpy words(&fe, &FrontEndControl::valueChanged), coeff(&fe, &FrontEndControl::preampCoeffChanged);
        QVERIFY(fe.setBpf(true) && !fe.setBpf(true));
        QCOMPARE(words.count(), 0); // band 13 has no filter: the word stays 0
        QVERIFY(fe.setBand(FrontEndControl::bandForFrequency(7100000)) && !fe.setBand(3));
        QCOMPARE(words.count(), 1);
        QCOMPARE(words.last().at(0).value<ushort>(), ushort(0x005));
        const QList<QPair<std::function<void()>, quint16>> steps = {
            {[&] { fe.setAtt(true); }, 0x805}, {[&] { fe.setPreamp(true); }, 0x885}, {[&] { fe.setBand(FrontEndControl::bandForFrequency(35000000)); }, 0x880},
            {[&] { fe.setBand(0); }, 0xA81}, {[&] { fe.setBpf(false); }, 0x880}, {[&] { fe.setAtt(false); }, 0x080}, {[&] { fe.setAtt(false); }, 0x080}};
        for (const auto& step : steps) {
            step.first();
            QCOMPARE(fe.word(), step.second);
            const double level = (fe.word() & 0x800 ? 18.5 : 0.0) + (fe.word() & 0x080 ? -10.3 : 0.0);
            QVERIFY(qFuzzyCompare(1.0 + fe.levelCorrection(), 1.0 + level));
            QVERIFY(qFuzzyCompare(1.0 + coeff.last().at(0).toDouble(), 1.0 + level));
        }
        QVERIFY(words.count() == 7 && coeff.count() == 3);
        fe.emitState();
        QCOMPARE(words.count(), 8);
        QCOMPARE(words.last().at(0).value<ushort>(), ushort(0x080));
        // Out-of-range bands are clamped; bands 6 and 7 share one filter.
        fe.setBpf(true);
        fe.setBand(42);
        QCOMPARE(fe.band(), 13);
        fe.setBand(6);
        const quint16 six = fe.word();
        fe.setBand(7);
        QCOMPARE(fe.word(), six);
    }
};

QTEST_GUILESS_MAIN(FrontEndControlTest)
#include "tst_frontendcontrol.moc"
