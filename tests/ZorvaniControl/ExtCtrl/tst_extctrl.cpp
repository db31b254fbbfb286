#include "ZorvaniControl/ExtCtrl/ExtCtrlZorvani.h"
#include "bandplan/AmateurRegion.h"

#include <QCheckBox>
#include <QFile>
#include <QLocale>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
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
private slots:
    void initTestCase();
    void init();
    void patternPerRow();
    void tuningEmitsTheBandsPattern();
    void edgesAreInclusive();
    void elevenMetres();
    void enableAndDisable();
    void rowsOfOtherBandsAreSilent();
    void offsetMovesTheBand();

private:
    QTemporaryDir m_home;
    std::unique_ptr<AmateurRegion> m_region;
    std::unique_ptr<Form> m_form;
    std::unique_ptr<ExtCtrlZorvani> m_ext;
};

void ExtCtrlTest::initTestCase()
{
    // The band plan writes "itu.ini": keep it in a folder of this test.
    QVERIFY(m_home.isValid());
    qputenv("HOME", m_home.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    QFile::remove(AmateurRegion::settingsPath());
}

void ExtCtrlTest::init()
{
    m_region = std::make_unique<AmateurRegion>();
    m_region->setCountry(QLocale::Germany); // ITU region 1
    QCOMPARE(m_region->region(), 0);
    m_form = std::make_unique<Form>();
    m_ext = std::make_unique<ExtCtrlZorvani>(m_form.get(), m_region.get());
}

void ExtCtrlTest::patternPerRow()
{
    m_form->box("40", 0)->setChecked(true);
    m_form->box("40", 2)->setChecked(true);
    m_form->box("Gen", 6)->setChecked(true);
    m_form->box("160", 1)->setChecked(true);
    QCOMPARE(m_ext->pattern(3), 5u);
    QCOMPARE(m_ext->pattern(13), 64u);
    QCOMPARE(m_ext->pattern(0), 2u);
    QCOMPARE(m_ext->pattern(9), 0u); // the 11M row has no boxes
    QCOMPARE(m_ext->pattern(14), 0u);
    QCOMPARE(m_ext->pattern(-1), 0u);
}

void ExtCtrlTest::tuningEmitsTheBandsPattern()
{
    m_form->box("40", 0)->setChecked(true);
    m_form->box("40", 2)->setChecked(true);
    QSignalSpy values(m_ext.get(), &ExtCtrlZorvani::valueChanged);
    m_form->enable->setChecked(true);
    QCOMPARE(values.count(), 1); // enabling announces the current (GEN) band
    QCOMPARE(values.last().at(0).toUInt(), 0u);
    m_ext->setFrequency(7100000.0);
    QCOMPARE(values.count(), 2);
    QCOMPARE(values.last().at(0).toUInt(), 5u);
    QCOMPARE(m_ext->currentBand(), 3);
    m_ext->setFrequency(7150000.0); // same band: nothing to send
    QCOMPARE(values.count(), 2);
    QCOMPARE(m_ext->currentValue(), 5u);
}

void ExtCtrlTest::edgesAreInclusive()
{
    m_form->enable->setChecked(true);
    m_ext->setFrequency(7200000.0);
    QCOMPARE(m_ext->currentBand(), 3);
    m_ext->setFrequency(7200000.1);
    QCOMPARE(m_ext->currentBand(), 13);
    m_ext->setFrequency(7000000.0);
    QCOMPARE(m_ext->currentBand(), 3);
}

void ExtCtrlTest::elevenMetres()
{
    m_form->box("Gen", 3)->setChecked(true);
    m_form->enable->setChecked(true);
    QSignalSpy values(m_ext.get(), &ExtCtrlZorvani::valueChanged);
    m_ext->setFrequency(14100000.0);
    m_ext->setFrequency(27000000.0);
    QCOMPARE(m_ext->currentBand(), 13);
    QCOMPARE(values.last().at(0).toUInt(), 8u);

    m_region->setBand11M(true);
    m_ext->setFrequency(14100000.0);
    m_ext->setFrequency(27000000.0);
    QCOMPARE(m_ext->currentBand(), 9);
    QCOMPARE(values.last().at(0).toUInt(), 0u);
}

void ExtCtrlTest::enableAndDisable()
{
    m_form->box("20", 4)->setChecked(true);
    m_ext->setFrequency(14200000.0); // disabled: stored, nothing sent
    QSignalSpy values(m_ext.get(), &ExtCtrlZorvani::valueChanged);
    m_form->enable->setChecked(true);
    QCOMPARE(values.count(), 1);
    QCOMPARE(values.last().at(0).toUInt(), 16u);
    m_form->enable->setChecked(false);
    QCOMPARE(values.count(), 2);
    QCOMPARE(values.last().at(0).toUInt(), 0u);
    QCOMPARE(m_ext->currentValue(), 0u);
    m_ext->changedEnable(false);
    QCOMPARE(values.count(), 2);
    m_form->enable->setChecked(true);
    QCOMPARE(values.last().at(0).toUInt(), 16u);
}

void ExtCtrlTest::rowsOfOtherBandsAreSilent()
{
    m_form->enable->setChecked(true);
    m_ext->setFrequency(7100000.0);
    QSignalSpy values(m_ext.get(), &ExtCtrlZorvani::valueChanged);
    m_form->box("80", 1)->setChecked(true);
    QCOMPARE(values.count(), 0);
    m_form->box("40", 6)->setChecked(true);
    QCOMPARE(values.count(), 1);
    QCOMPARE(values.last().at(0).toUInt(), 64u);
}

void ExtCtrlTest::offsetMovesTheBand()
{
    m_form->enable->setChecked(true);
    m_ext->setFrequency(6990000.0);
    QCOMPARE(m_ext->currentBand(), 13);
    m_ext->setOffset(20000.0);
    QCOMPARE(m_ext->currentBand(), 3);
}

QTEST_MAIN(ExtCtrlTest)
#include "tst_extctrl.moc"
