#include "PrivateHome.h"
#include "ZorvaniControl/ExtCtrl/ExtCtrlZorvani.h"
#include "bandplan/AmateurRegion.h"

#include <QCheckBox>
#include <QFile>
#include <QLocale>
#include <QSignalSpy>
#include <QWidget>
#include <QtTest>

#include <memory>

// A form with the check boxes the options page carries.
class Form : public QWidget {
public:
    Form()
    {
        enable = add(QStringLiteral("chbExtCtrlEnable"));
        for (const char* row : {"160", "80", "60", "40", "30", "20", "17", "15", "12", "10", "6", "2", "Gen"})
            for (int bit = 0; bit < 7; ++bit)
                add(QStringLiteral("chbExtCtrlRx%1_%2").arg(QLatin1String(row)).arg(bit));
    }
    QCheckBox* box(const char* row, int bit)
    {
        return findChild<QCheckBox*>(QStringLiteral("chbExtCtrlRx%1_%2").arg(QLatin1String(row)).arg(bit));
    }
    QCheckBox* enable;

private:
    QCheckBox* add(const QString& name)
    {
        auto* b = new QCheckBox(this);
        b->setObjectName(name);
        return b;
    }
};

class ExtCtrlTest : public QObject {
    Q_OBJECT

    // The band plan writes "itu.ini": keep it in a folder of this test.
    QTemporaryDir m_home;
    std::unique_ptr<AmateurRegion> m_region;
    std::unique_ptr<Form> m_form;
    std::unique_ptr<ExtCtrlZorvani> m_ext;

private slots:
    void initTestCase() { QVERIFY(support::isolateHome(m_home)); }
    void init()
    {
        QFile::remove(AmateurRegion::settingsPath());
        m_region = std::make_unique<AmateurRegion>();
        m_region->setCountry(QLocale::Germany); // ITU region 1
        m_form = std::make_unique<Form>();
        m_ext = std::make_unique<ExtCtrlZorvani>(m_form.get(), m_region.get());
    }

    void patternPerRow()
    {
        m_form->box("40", 0)->setChecked(true);
        m_form->box("40", 2)->setChecked(true);
        m_form->box("Gen", 6)->setChecked(true);
        m_form->box("160", 1)->setChecked(true);
        const uint expected[] = {2, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 64, 0}; // no boxes for 11M
        for (int band = -1; band < 15; ++band)
            QCOMPARE(m_ext->pattern(band), band < 0 ? 0u : expected[band]);
    }

    // The band of the tuned frequency plus the offset; edges belong to the
    // band, 11 m only when the plan has it.
    void bandOfFrequency_data()
    {
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("offset");
        QTest::addColumn<bool>("band11");
        QTest::addColumn<int>("band");
        QTest::newRow("40M") << 7100000.0 << 0.0 << false << 3;
        QTest::newRow("40M low edge") << 7000000.0 << 0.0 << false << 3;
        QTest::newRow("40M top edge") << 7200000.0 << 0.0 << false << 3;
        QTest::newRow("just above 40M") << 7200000.1 << 0.0 << false << 13;
        QTest::newRow("below 40M") << 6990000.0 << 0.0 << false << 13;
        QTest::newRow("offset into 40M") << 6990000.0 << 20000.0 << false << 3;
        QTest::newRow("27 MHz, no 11M") << 27000000.0 << 0.0 << false << 13;
        QTest::newRow("27 MHz, 11M") << 27000000.0 << 0.0 << true << 9;
    }
    void bandOfFrequency()
    {
        QFETCH(double, hz);
        QFETCH(double, offset);
        QFETCH(bool, band11);
        QFETCH(int, band);
        m_region->setBand11M(band11);
        m_form->enable->setChecked(true);
        m_ext->setOffset(offset);
        m_ext->setFrequency(hz);
        QCOMPARE(m_ext->currentBand(), band);
    }

    // The pattern goes out when the band changes, when the current band's
    // row changes, and on enabling (zero on disabling); nothing while disabled.
    void emitsTheCurrentBandsPattern()
    {
        m_form->box("40", 0)->setChecked(true);
        m_form->box("40", 2)->setChecked(true);
        m_form->box("Gen", 3)->setChecked(true);
        m_ext->setFrequency(7100000.0);
        QSignalSpy values(m_ext.get(), &ExtCtrlZorvani::valueChanged);
        m_form->enable->setChecked(true);
        QCOMPARE(values.count(), 1);
        QCOMPARE(values.last().at(0).toUInt(), 5u);
        m_ext->setFrequency(7150000.0); // same band: nothing to send
        m_form->box("80", 1)->setChecked(true);
        QCOMPARE(values.count(), 1);
        m_form->box("40", 6)->setChecked(true);
        QCOMPARE(values.count(), 2);
        QCOMPARE(values.last().at(0).toUInt(), 69u);
        m_ext->setFrequency(27000000.0);
        QCOMPARE(values.count(), 3);
        QCOMPARE(values.last().at(0).toUInt(), 8u);
        m_form->enable->setChecked(false);
        QCOMPARE(values.count(), 4);
        QCOMPARE(values.last().at(0).toUInt(), 0u);
        QCOMPARE(m_ext->currentValue(), 0u);
        m_ext->changedEnable(false);
        m_ext->setFrequency(7100000.0);
        QCOMPARE(values.count(), 4);
        m_form->enable->setChecked(true);
        QCOMPARE(values.last().at(0).toUInt(), 69u);
    }
};

QTEST_MAIN(ExtCtrlTest)
#include "tst_extctrl.moc"
