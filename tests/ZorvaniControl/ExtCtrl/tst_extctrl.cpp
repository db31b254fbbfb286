#include "PrivateHome.h"
#include "ZorvaniControl/ExtCtrl/ExtCtrlZorvani.h"
#include "bandplan/AmateurRegion.h"

#include <QCheckBox>
#include <QtTest>

#include <tuple>

class ExtCtrlTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_home; // the band plan writes "itu.ini"

private slots:
    void initTestCase() { QVERIFY(support::isolateHome(m_home)); }

    // Each row makes its band's pattern (11 m has no row). The pattern goes
    // out when the band changes, when the current band's row changes, and on
    // enabling (zero on disabling); nothing while disabled.
    void patternsAndBands()
    {
        AmateurRegion region;
        region.setCountry(QLocale::Germany); // ITU region 1
        QWidget form; // with the check boxes the options page carries
        (new QCheckBox(&form))->setObjectName(QStringLiteral("chbExtCtrlEnable"));
        for (const char* row : {"160", "80", "60", "40", "30", "20", "17", "15", "12", "10", "6", "2", "Gen"})
            for (int bit = 0; bit < 7; ++bit)
                (new QCheckBox(&form))->setObjectName(QStringLiteral("chbExtCtrlRx%1_%2").arg(QLatin1String(row)).arg(bit));
        const auto box = [&](const char* row, int bit) { return form.findChild<QCheckBox*>(QStringLiteral("chbExtCtrlRx%1_%2").arg(row).arg(bit)); };
        QCheckBox* enable = form.findChild<QCheckBox*>(QStringLiteral("chbExtCtrlEnable"));
        ExtCtrlZorvani ext(&form, &region);
        for (const auto& [row, bit] : {std::pair{"40", 0}, {"40", 2}, {"Gen", 3}, {"160", 1}})
            box(row, bit)->setChecked(true);
        const uint expected[] = {2, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0};
        for (int band = -1; band < 15; ++band)
            QCOMPARE(ext.pattern(band), band < 0 ? 0u : expected[band]);
        ext.setFrequency(7100000.0);
        QSignalSpy values(&ext, &ExtCtrlZorvani::valueChanged);
        const auto sent = [&](int count, uint value) { return values.count() == count && values.last().at(0).toUInt() == value; };
        enable->setChecked(true);
        QVERIFY(sent(1, 5));
        ext.setFrequency(7150000.0); // same band, another band's row: nothing to send
        box("80", 1)->setChecked(true);
        QCOMPARE(values.count(), 1);
        box("40", 6)->setChecked(true);
        QVERIFY(sent(2, 69));
        ext.setFrequency(27000000.0);
        QVERIFY(sent(3, 8));
        enable->setChecked(false);
        QVERIFY(sent(4, 0) && ext.currentValue() == 0u);
        ext.changedEnable(false);
        ext.setFrequency(7100000.0);
        QCOMPARE(values.count(), 4); // disabled: nothing
        enable->setChecked(true);
        QVERIFY(sent(5, 69));

        // The band of the tuned frequency plus the offset (the plan's own edges: tst_amateurregion).
        for (const auto& [hz, offset, band] : {std::tuple{6990000.0, 0.0, 13}, {6990000.0, 20000.0, 3}, {7200000.0, 1.0, 13}}) {
            ext.setOffset(offset);
            ext.setFrequency(hz);
            QVERIFY2(ext.currentBand() == band, qPrintable(QStringLiteral("%1 Hz + %2").arg(hz, 0, 'f', 1).arg(offset)));
        }
    }
};

QTEST_MAIN(ExtCtrlTest)
#include "tst_extctrl.moc"
