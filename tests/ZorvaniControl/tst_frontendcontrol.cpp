// The front-end word's band filters at their edges, announced on change only.
// (Attenuator, preamplifier and the 40 m filter on the wire: tst_panel; their
// level correction on the meter: tst_startsequence.)
#include "ZorvaniControl/FrontEndControl.h"

#include <QtTest>

class FrontEndControlTest : public QObject {
    Q_OBJECT
private slots:
    void bandsAndWord()
    {
        const QList<QPair<qint64, int>> edges = {{1729999, 13}, {1730000, 0}, {2600000, 1}, {5350000, 2}, {7899999, 3},
                                                 {18100000, 7}, {28500000, 10}, {30000000, 13}}; // 13: no band
        for (const auto& [hz, band] : edges)
            QVERIFY2(FrontEndControl::bandForFrequency(hz) == band, qPrintable(QString::number(hz)));
        QVERIFY(FrontEndControl::bandCode(8) == FrontEndControl::bandCode(10) && FrontEndControl::bandCode(11) == 0);
        FrontEndControl fe;
        QSignalSpy words(&fe, &FrontEndControl::valueChanged);
        QVERIFY(fe.setBpf(true) && !fe.setBpf(true));
        QCOMPARE(words.count(), 0); // band 13 has no filter: the word stays 0
        QVERIFY(fe.setBand(3) && !fe.setBand(3));
        QCOMPARE(words.count(), 1);
        QCOMPARE(words.last().at(0).value<ushort>(), ushort(0x005));
        fe.setBand(6);
        const quint16 six = fe.word();
        fe.setBand(7); // 6 and 7 share one filter
        QCOMPARE(fe.word(), six);
        fe.setBand(42); // clamped
        QVERIFY(fe.band() == 13 && fe.word() == 0);
        fe.emitState();
        QVERIFY(words.count() == 4 && words.last().at(0).value<ushort>() == 0);
    }
};

QTEST_GUILESS_MAIN(FrontEndControlTest)
#include "tst_frontendcontrol.moc"
