#include "ZorvaniFunctions.h"
#include "bandplan/AmateurRegion.h"

#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestZorvaniFunctions : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    std::unique_ptr<ZorvaniFunctions> m_functions;

    static void usePlan(int country, bool band11)
    {
        QSettings s(AmateurRegion::settingsPath(), QSettings::IniFormat);
        s.setValue("ITU/Country", country);
        s.setValue("ITU/Band11M", band11);
        s.setValue("ITU/Band60M", false);
        s.sync();
    }

    static QStringList names(const QList<DeviceBand>& bands)
    {
        QStringList out;
        for (const DeviceBand& b : bands)
            out << b.name;
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
        usePlan(QLocale::Russia, false);
        m_functions = std::make_unique<ZorvaniFunctions>();
    }
    void cleanupTestCase() { QFile::remove(AmateurRegion::settingsPath()); }

    void modes()
    {
        const ModeList modes = m_functions->modes();
        QCOMPARE(modes.size(), 11);
        const ModeList expected = {{0, "AM"}, {1, "SAM"},  {2, "DSB"},  {3, "LSB"},  {4, "USB"}, {5, "CW"},
                                   {6, "NFM"}, {9, "WFM"}, {7, "DIGL"}, {8, "DIGU"}, {10, "DRM"}};
        QCOMPARE(modes, expected);
    }

    void fixedLists()
    {
        QCOMPARE(m_functions->preamps(), QStringList({"-20dB", "0dB"}));
        QCOMPARE(m_functions->agcSettings(), QStringList({"Off", "Long", "Slow", "Med", "Fast", "User"}));
        QVERIFY(m_functions->listA().isEmpty());
        QVERIFY(m_functions->listB().isEmpty());
        QVERIFY(m_functions->list56().isEmpty());
        QVERIFY(m_functions->list61().isEmpty());
        const QList<DeviceBand> rf = m_functions->rfInputs();
        QCOMPARE(rf.size(), 1);
        QCOMPARE(rf[0].low, quint64(0));
        QCOMPARE(rf[0].high, quint64(800000000));
        QCOMPARE(rf[0].name, QString("RF"));
    }

    void valuesAndFlags()
    {
        const ZorvaniFunctions& f = *m_functions;
        QCOMPARE(f.flagForBool(true), false);
        QCOMPARE(f.flagForBool(false), true);
        bool a = false, b = true;
        f.flagsForIndex(0, &a, &b);
        QVERIFY(a);
        QVERIFY2(b, "the second flag is left alone");
        f.flagsForIndex(3, &a, nullptr);
        QVERIFY(!a);
        f.flagsForIndex(0, nullptr, nullptr);
        QCOMPARE(f.countA(), 30);
        QCOMPARE(f.adcClock(), 62500000.0);
        QCOMPARE(f.levelA(), -30.0f);
        QCOMPARE(f.levelB(), 0.0);
        QCOMPARE(f.levelC(), 0.5f);
        QCOMPARE(f.receiverCount(), 2);
        QCOMPARE(f.transmitterCount(), 0);
        QCOMPARE(f.filterCount(), 9);
        QCOMPARE(f.workingRate(), 39062.5);
        QCOMPARE(f.count20(), 0);
        QCOMPARE(f.count46(), 0);
        QCOMPARE(f.count50(), 1);
        QCOMPARE(f.count51(), 1);
        QCOMPARE(f.count52(), 0);
        QCOMPARE(f.count54(), 0);
        const bool trueFlags[] = {f.capability4(), f.capability5(), f.capability17(), f.capability32(),
                                  f.capability39(), f.capability44(), f.capability47()};
        for (bool flag : trueFlags)
            QVERIFY(flag);
        const bool falseFlags[] = {f.capability9(),  f.capability27(), f.capability41(), f.capability42(),
                                   f.capability43(), f.capability45(), f.capability48(), f.capability55(),
                                   f.capability62(), f.capability63(), f.capability64(), f.capability65(),
                                   f.capability66()};
        for (bool flag : falseFlags)
            QVERIFY(!flag);
    }

    void initialRates()
    {
        ZorvaniFunctions f;
        QCOMPARE(f.streamRate(), 39062.5);
        QCOMPARE(f.streamRateCopy(), 39062.5);
        QCOMPARE(f.displayedRate(), 36000.0);
        QCOMPARE(f.minimumDisplayedRate(), 36000.0);
        f.setStreamRate(156250.0);
        f.setDisplayedRate(144000.0);
        f.setMinimumDisplayedRate(36000.0);
        QCOMPARE(f.streamRate(), 156250.0);
        QCOMPARE(f.streamRateCopy(), 156250.0);
        QCOMPARE(f.displayedRate(), 144000.0);
        // Called through the host's base class.
        const DeviceFunctionsAbstract& base = f;
        QCOMPARE(base.displayedRate(), 144000.0);
    }

    void filters_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("choice");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::addColumn<QString>("label");
        const double am[] = {1500, 1750, 2000, 2500, 3000, 4000, 5000, 6000, 8000};
        const char* amLabel[] = {"3K", "3.5K", "4K", "5K", "6K", "8K", "10K", "12K", "16K"};
        const double ssb[] = {1800, 2000, 2200, 2500, 2700, 2900, 3000, 3300, 3500};
        const char* ssbLabel[] = {"1.8K", "2K", "2.2K", "2.5K", "2.7K", "2.9K", "3.0K", "3.3K", "3.5K"};
        const double cw[] = {25, 50, 125, 200, 250, 325, 400, 500, 600};
        const char* cwLabel[] = {"50", "100", "250", "400", "500", "650", "800", "1000", "1200"};
        const double wfm[] = {25000, 40000, 55000, 60000, 75000, 90000, 120000, 140000, 155000};
        const char* wfmLabel[] = {"50K", "80K", "110K", "120K", "150K", "180K", "240K", "280K", "310K"};
        for (int c = 0; c < 9; ++c) {
            for (int mode : {0, 1, 2, 6})
                QTest::addRow("mode %d choice %d", mode, c) << mode << c << -am[c] << am[c] << QString(amLabel[c]);
            for (int mode : {3, 7})
                QTest::addRow("mode %d choice %d", mode, c) << mode << c << -ssb[c] << -70.0 << QString(ssbLabel[c]);
            for (int mode : {4, 8})
                QTest::addRow("mode %d choice %d", mode, c) << mode << c << 70.0 << ssb[c] << QString(ssbLabel[c]);
            QTest::addRow("CW choice %d", c) << 5 << c << -cw[c] << cw[c] << QString(cwLabel[c]);
            QTest::addRow("WFM choice %d", c) << 9 << c << -wfm[c] << wfm[c] << QString(wfmLabel[c]);
            QTest::addRow("DRM choice %d", c) << 10 << c << -5000.0 << 5000.0 << QString("10K");
        }
    }
    void filters()
    {
        QFETCH(int, mode);
        QFETCH(int, choice);
        QFETCH(double, low);
        QFETCH(double, high);
        QFETCH(QString, label);
        const FilterEdges edges = m_functions->filterEdges(mode, uint(choice));
        QCOMPARE(edges.first, low);
        QCOMPARE(edges.second, high);
        QCOMPARE(m_functions->filterLabel(uint(mode), uint(choice)), label);
    }

    void filterEdgeCases()
    {
        QCOMPARE(m_functions->filterLabel(5, 9), QString());
        QCOMPARE(m_functions->filterLabel(10, 20), QString("10K"));
        QCOMPARE(m_functions->filterLabel(11, 0), QString());
        QCOMPARE(m_functions->filterLabel(0, 9), QString());
        // Out-of-table reads are refused instead of running past the table.
        QCOMPARE(m_functions->filterEdges(11, 0), FilterEdges(0.0, 0.0));
        QCOMPARE(m_functions->filterEdges(-1, 0), FilterEdges(0.0, 0.0));
        QCOMPARE(m_functions->filterEdges(0, 9), FilterEdges(0.0, 0.0));
    }

    void perModeValues_data()
    {
        QTest::addColumn<uint>("mode");
        QTest::addColumn<int>("agc");
        QTest::addColumn<int>("filter");
        QTest::addColumn<bool>("symmetric");
        QTest::addColumn<double>("limitLow");
        QTest::addColumn<double>("limitHigh");
        QTest::addColumn<int>("count");
        QTest::newRow("AM") << 0u << 1 << 3 << true << -18000.0 << 18000.0 << 9;
        QTest::newRow("SAM") << 1u << 1 << 3 << true << -18000.0 << 18000.0 << 9;
        QTest::newRow("DSB") << 2u << 1 << 3 << true << -18000.0 << 18000.0 << 9;
        QTest::newRow("LSB") << 3u << 2 << 6 << false << -10000.0 << 0.0 << 9;
        QTest::newRow("USB") << 4u << 2 << 6 << false << 0.0 << 10000.0 << 9;
        QTest::newRow("CW") << 5u << 4 << 1 << true << -10000.0 << 10000.0 << 9;
        QTest::newRow("NFM") << 6u << 1 << 3 << true << -18000.0 << 18000.0 << 9;
        QTest::newRow("DIGL") << 7u << 2 << 6 << false << -15000.0 << 0.0 << 9;
        QTest::newRow("DIGU") << 8u << 2 << 6 << false << 0.0 << 15000.0 << 9;
        QTest::newRow("WFM") << 9u << 1 << 0 << true << -156000.0 << 156000.0 << 9;
        QTest::newRow("DRM") << 10u << 1 << 0 << true << -5000.0 << 5000.0 << 1;
        QTest::newRow("beyond the table") << 11u << 1 << 0 << false << -156000.0 << 156000.0 << 9;
        QTest::newRow("far beyond") << 1000u << 1 << 0 << false << -156000.0 << 156000.0 << 9;
    }
    void perModeValues()
    {
        QFETCH(uint, mode);
        QFETCH(int, agc);
        QFETCH(int, filter);
        QFETCH(bool, symmetric);
        QFETCH(double, limitLow);
        QFETCH(double, limitHigh);
        QFETCH(int, count);
        QCOMPARE(m_functions->defaultAgc(mode), agc);
        QCOMPARE(m_functions->defaultFilter(mode), filter);
        QCOMPARE(m_functions->filterSymmetric(mode), symmetric);
        QCOMPARE(m_functions->filterEdgeLimits(mode), FilterEdges(limitLow, limitHigh));
        QCOMPARE(m_functions->filterCountForMode(int(mode)), count);
        QCOMPARE(m_functions->filterAdjustable(int(mode)), mode != 10);
        QCOMPARE(m_functions->filterFixed(int(mode)), mode == 10);
    }

    void bandGroups()
    {
        const int expected[] = {3, 3, 3, 3, 3, 4, 4, 4, 4, 6, 6, 6, 6, 0, 0};
        for (uint band = 0; band < 15; ++band)
            QCOMPARE(m_functions->bandGroupValue(band), expected[band]);
        QCOMPARE(m_functions->bandGroupValue(1000u), 0);
    }

    void bandsWithout60And11()
    {
        // Region 1, no 60 m allocation, 11 m off: neither appears, nor does 0.7M.
        const QList<DeviceBand> bands = m_functions->bands();
        QCOMPARE(names(bands), QStringList({"160M", "80M", "40M", "30M", "20M", "17M", "15M", "12M", "10M", "6M", "2M"}));
        QCOMPARE(bands[0].low, quint64(1810000));
        QCOMPARE(bands[2].high, quint64(7200000));
        QCOMPARE(bands[10].high, quint64(146000000));
    }

    void bandsWith60And11()
    {
        usePlan(QLocale::Germany, true);
        ZorvaniFunctions f;
        usePlan(QLocale::Russia, false);
        const QList<DeviceBand> bands = f.bands();
        QCOMPARE(names(bands), QStringList({"160M", "80M", "60M", "40M", "30M", "20M", "17M", "15M", "12M", "11M",
                                            "10M", "6M", "2M"}));
        QCOMPARE(bands[2].low, quint64(5351500));
        QCOMPARE(bands[2].high, quint64(5366500));
        QCOMPARE(f.bandIndex(27e6), 9);
    }

    void bandIndex_data()
    {
        QTest::addColumn<double>("hz");
        QTest::addColumn<int>("index");
        QTest::newRow("160M low edge") << 1810000.0 << 0;
        QTest::newRow("below 160M") << 1000000.0 << 11;
        QTest::newRow("80M") << 3.6e6 << 1;
        QTest::newRow("40M top edge") << 7.2e6 << 2;
        QTest::newRow("just above 40M") << 7200000.5 << 11;
        QTest::newRow("20M") << 14.1e6 << 4;
        QTest::newRow("2M") << 145e6 << 10;
        QTest::newRow("0.7M is not listed") << 435e6 << 11;
        QTest::newRow("27 MHz") << 27e6 << 11;
        QTest::newRow("negative") << -1.0 << 11;
    }
    void bandIndex()
    {
        QFETCH(double, hz);
        QFETCH(int, index);
        QCOMPARE(m_functions->bandIndex(hz), index);
        QCOMPARE(m_functions->bands().size(), 11);
    }
};

QTEST_GUILESS_MAIN(TestZorvaniFunctions)
#include "tst_zorvanifunctions.moc"
