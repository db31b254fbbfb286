#include "bandplan/AmateurRegion.h"

#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestAmateurRegion : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;

    static void writeIni(const QVariant& band11, const QVariant& band60, const QVariant& country)
    {
        QSettings s(AmateurRegion::settingsPath(), QSettings::IniFormat);
        s.beginGroup("ITU");
        s.setValue("Band11M", band11);
        s.setValue("Band60M", band60);
        s.setValue("Country", country);
        s.endGroup();
        s.sync();
    }

private slots:
    void initTestCase()
    {
        // A private home keeps the test location apart from other test runs.
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY2(AmateurRegion::settingsPath().contains("qttest"),
                 qPrintable("settings must live in the test location: " + AmateurRegion::settingsPath()));
    }
    void init() { QFile::remove(AmateurRegion::settingsPath()); }
    void cleanup() { QFile::remove(AmateurRegion::settingsPath()); }

    void missingFileIsCreatedWithDefaults()
    {
        QVERIFY(!QFile::exists(AmateurRegion::settingsPath()));
        AmateurRegion region;
        QVERIFY2(QFile::exists(AmateurRegion::settingsPath()), "itu.ini was not created");
        QSettings s(AmateurRegion::settingsPath(), QSettings::IniFormat);
        QVERIFY(s.contains("ITU/Band11M"));
        QVERIFY(s.contains("ITU/Band60M"));
        QVERIFY(s.contains("ITU/Country"));
        QCOMPARE(s.value("ITU/Band11M").toBool(), false);
        QCOMPARE(s.value("ITU/Band60M").toBool(), false);
        QCOMPARE(s.value("ITU/Country").toInt(), int(QLocale::system().country()));
        QCOMPARE(region.country(), int(QLocale::system().country()));
        QVERIFY(!region.band11M());
        QVERIFY(!region.band60M());
    }

    void storedValuesAreReadBack()
    {
        writeIni(true, true, int(QLocale::Germany));
        AmateurRegion region;
        QCOMPARE(region.country(), int(QLocale::Germany));
        QCOMPARE(region.region(), 0);
        QVERIFY(region.band11M());
        QVERIFY(region.band60M());
        QVERIFY(region.has60MAllocation());
        QCOMPARE(region.band(AmateurRegion::kBand60M).low, quint64(5351500));
        QCOMPARE(region.band(AmateurRegion::kBand60M).high, quint64(5366500));
        QVERIFY(region.band(AmateurRegion::kBand11M).enabled);

        // The existing file is written back unchanged.
        QSettings s(AmateurRegion::settingsPath(), QSettings::IniFormat);
        QCOMPARE(s.value("ITU/Country").toInt(), int(QLocale::Germany));
        QCOMPARE(s.value("ITU/Band11M").toBool(), true);
    }

    void invalidCountryFallsBackToSystem_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("zero") << QVariant(0);
        QTest::newRow("negative") << QVariant(-5);
        QTest::newRow("text") << QVariant("abc");
        QTest::newRow("beyond the last country") << QVariant(100000);
    }
    void invalidCountryFallsBackToSystem()
    {
        QFETCH(QVariant, stored);
        writeIni(false, false, stored);
        AmateurRegion region;
        QCOMPARE(region.country(), int(QLocale::system().country()));
    }

    void saveThenRestore()
    {
        AmateurRegion region;
        region.setCountry(QLocale::Japan);
        region.setBand11M(true);
        region.saveSettings();
        region.setCountry(QLocale::France);
        region.setBand11M(false);
        region.restoreSettings();
        QCOMPARE(region.country(), int(QLocale::Japan));
        QCOMPARE(region.region(), 2);
        QVERIFY(region.band11M());
    }

    void regionOfCountry_data()
    {
        QTest::addColumn<int>("country");
        QTest::addColumn<int>("region");
        QTest::newRow("Germany") << int(QLocale::Germany) << 0;
        QTest::newRow("Russia") << int(QLocale::Russia) << 0;
        QTest::newRow("South Africa") << int(QLocale::SouthAfrica) << 0;
        QTest::newRow("Israel") << int(QLocale::Israel) << 0;
        QTest::newRow("Mongolia") << int(QLocale::Mongolia) << 0;
        QTest::newRow("United States") << int(QLocale::UnitedStates) << 1;
        QTest::newRow("Canada") << int(QLocale::Canada) << 1;
        QTest::newRow("Brazil") << int(QLocale::Brazil) << 1;
        QTest::newRow("Greenland") << int(QLocale::Greenland) << 1;
        QTest::newRow("Japan") << int(QLocale::Japan) << 2;
        QTest::newRow("Australia") << int(QLocale::Australia) << 2;
        QTest::newRow("India") << int(QLocale::India) << 2;
        QTest::newRow("Thailand") << int(QLocale::Thailand) << 2;
        QTest::newRow("unknown") << int(QLocale::AnyCountry) << 0;
    }
    void regionOfCountry()
    {
        QFETCH(int, country);
        QFETCH(int, region);
        QCOMPARE(AmateurRegion::regionOf(country), region);
        AmateurRegion plan;
        plan.setCountry(country);
        QCOMPARE(plan.region(), region);
    }

    void bandEdges_data()
    {
        QTest::addColumn<int>("country");
        QTest::addColumn<bool>("band11");
        QTest::addColumn<bool>("band60");
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<quint64>("low");
        QTest::addColumn<quint64>("high");
        const int r1 = QLocale::Russia, r2 = QLocale::Chile, r3 = QLocale::Australia;
        const int jp = QLocale::Japan, th = QLocale::Thailand;
        auto row = [](const char* name, int c, bool b11, bool b60, int id, bool on, quint64 lo, quint64 hi) {
            QTest::newRow(name) << c << b11 << b60 << id << on << lo << hi;
        };
        row("R1 160M", r1, false, false, 0, true, 1810000, 2000000);
        row("R2 160M", r2, false, false, 0, true, 1800000, 2000000);
        row("R3 160M", r3, false, false, 0, true, 1800000, 2000000);
        row("R1 80M", r1, false, false, 1, true, 3500000, 3800000);
        row("R2 80M", r2, false, false, 1, true, 3500000, 4000000);
        row("R3 80M", r3, false, false, 1, true, 3500000, 3900000);
        row("R1 60M off", r1, false, false, 2, false, 5275000, 5450000);
        row("R1 60M forced", r1, false, true, 2, true, 5275000, 5450000);
        row("R2 60M forced", r2, false, true, 2, true, 5100000, 5500000);
        row("R3 60M forced", r3, false, true, 2, true, 5100000, 5500000);
        row("R1 40M", r1, false, false, 3, true, 7000000, 7200000);
        row("R2 40M", r2, false, false, 3, true, 7000000, 7300000);
        row("R3 40M", r3, false, false, 3, true, 7000000, 7300000);
        row("R1 30M", r1, false, false, 4, true, 10100000, 10150000);
        row("R3 30M", r3, false, false, 4, true, 10100000, 10157300);
        row("R2 20M", r2, false, false, 5, true, 14000000, 14350000);
        row("R1 17M", r1, false, false, 6, true, 18068000, 18168000);
        row("R3 15M", r3, false, false, 7, true, 21000000, 21450000);
        row("R1 12M", r1, false, false, 8, true, 24890000, 24990000);
        row("11M off", r1, false, false, 9, false, 26965000, 28000000);
        row("11M on", r2, true, false, 9, true, 26965000, 28000000);
        row("R3 10M", r3, false, false, 10, true, 28000000, 29700000);
        row("R1 6M", r1, false, false, 11, true, 50000000, 54000000);
        row("R1 2M", r1, false, false, 12, true, 144000000, 146000000);
        row("R2 2M", r2, false, false, 12, true, 144000000, 148000000);
        row("R3 2M", r3, false, false, 12, true, 144000000, 148000000);
        row("R1 0.7M", r1, false, false, 13, true, 430000000, 440000000);
        row("R2 0.7M", r2, false, false, 13, true, 420000000, 450000000);
        row("R3 0.7M", r3, false, false, 13, true, 430000000, 450000000);
        row("Japan 160M", jp, false, false, 0, true, 1800000, 1923500);
        row("Japan 80M", jp, false, false, 1, true, 3500000, 3805000);
        row("Japan 40M", jp, false, false, 3, true, 7000000, 7200000);
        row("Japan 30M", jp, false, false, 4, true, 10100000, 10150000);
        row("Japan 11M stays off", jp, true, false, 9, false, 26965000, 28000000);
        row("Japan 2M", jp, false, false, 12, true, 144000000, 146000000);
        row("Japan 0.7M", jp, false, false, 13, true, 430000000, 440000000);
        row("Thailand 80M", th, false, false, 1, true, 3500000, 3600000);
        row("Thailand 40M", th, false, false, 3, false, 7000000, 7200000);
        row("Thailand 30M", th, false, false, 4, false, 10100000, 10150000);
        row("Thailand 6M", th, false, false, 11, false, 50000000, 54000000);
        row("Thailand 2M", th, false, false, 12, true, 144100000, 147000000);
        row("Thailand 0.7M", th, false, false, 13, true, 430000000, 450000000);
    }
    void bandEdges()
    {
        QFETCH(int, country);
        QFETCH(bool, band11);
        QFETCH(bool, band60);
        QFETCH(int, id);
        QFETCH(bool, enabled);
        QFETCH(quint64, low);
        QFETCH(quint64, high);
        AmateurRegion plan;
        plan.setCountry(country);
        plan.setBand11M(band11);
        plan.setBand60M(band60);
        const AmateurRegion::Band b = plan.band(id);
        QCOMPARE(b.enabled, enabled);
        QCOMPARE(b.low, low);
        QCOMPARE(b.high, high);
        QCOMPARE(plan.bands().size(), AmateurRegion::kBandCount);
        QCOMPARE(plan.bands().at(id).name, b.name);
    }

    void bandNames()
    {
        AmateurRegion plan;
        QStringList names;
        for (const AmateurRegion::Band& b : plan.bands())
            names << b.name;
        QCOMPARE(names, QStringList({"160M", "80M", "60M", "40M", "30M", "20M", "17M", "15M", "12M", "11M", "10M",
                                     "6M", "2M", "0.7M"}));
    }

    void sixtyMetreCountries_data()
    {
        QTest::addColumn<int>("country");
        QTest::addColumn<quint64>("low");
        QTest::addColumn<quint64>("high");
        QTest::newRow("5") << 5 << quint64(5351500) << quint64(5366500);
        QTest::newRow("82") << 82 << quint64(5351500) << quint64(5366500);
        QTest::newRow("242") << 242 << quint64(5351500) << quint64(5366500);
        QTest::newRow("17") << 17 << quint64(5357500) << quint64(5363500);
        QTest::newRow("18") << 18 << quint64(5250000) << quint64(5310000);
        QTest::newRow("19") << 19 << quint64(5250000) << quint64(5400000);
        QTest::newRow("215") << 215 << quint64(5250000) << quint64(5400000);
        QTest::newRow("38") << 38 << quint64(5332000) << quint64(5405000);
        QTest::newRow("96") << 96 << quint64(5332000) << quint64(5405000);
        QTest::newRow("55") << 55 << quint64(5418000) << quint64(5430000);
        QTest::newRow("58") << 58 << quint64(5250000) << quint64(5450000);
        QTest::newRow("224") << 224 << quint64(5250000) << quint64(5450000);
        QTest::newRow("60") << 60 << quint64(5258500) << quint64(5403500);
        QTest::newRow("68") << 68 << quint64(5370000) << quint64(5450000);
        QTest::newRow("104") << 104 << quint64(5351500) << quint64(5405000);
        QTest::newRow("105") << 105 << quint64(5298500) << quint64(5403500);
        QTest::newRow("111") << 111 << quint64(5275000) << quint64(5450000);
        QTest::newRow("154") << 154 << quint64(5353000) << quint64(5366000);
        QTest::newRow("161") << 161 << quint64(5260000) << quint64(5410000);
        QTest::newRow("162") << 162 << quint64(5319000) << quint64(5349000);
        QTest::newRow("173") << 173 << quint64(5351500) << quint64(5403500);
        QTest::newRow("177") << 177 << quint64(5363500) << quint64(5366500);
        QTest::newRow("195") << 195 << quint64(5290000) << quint64(5450000);
        QTest::newRow("225") << 225 << quint64(5330500) << quint64(5403500);
    }
    void sixtyMetreCountries()
    {
        QFETCH(int, country);
        QFETCH(quint64, low);
        QFETCH(quint64, high);
        AmateurRegion plan;
        plan.setCountry(country);
        QVERIFY(plan.has60MAllocation());
        const AmateurRegion::Band b = plan.band(AmateurRegion::kBand60M);
        QVERIFY2(b.enabled, "a country with an allocation has 60M without Band60M");
        QCOMPARE(b.low, low);
        QCOMPARE(b.high, high);
        // The country table wins over Band60M's region edges.
        plan.setBand60M(true);
        QCOMPARE(plan.band(AmateurRegion::kBand60M).low, low);
        QCOMPARE(plan.band(AmateurRegion::kBand60M).high, high);
        QCOMPARE(plan.bandIndex(double(low)), AmateurRegion::kBand60M);
        QCOMPARE(plan.bandIndex(double(high)), AmateurRegion::kBand60M);
        QCOMPARE(plan.bandIndex(double(high) + 1.0), AmateurRegion::kNoBand);
    }

    void countriesWithout60M()
    {
        for (int country : {int(QLocale::Russia), int(QLocale::Chile), int(QLocale::Australia), int(QLocale::Japan)}) {
            AmateurRegion plan;
            plan.setCountry(country);
            QVERIFY2(!plan.has60MAllocation(), qPrintable(QString::number(country)));
            QVERIFY(!plan.band(AmateurRegion::kBand60M).enabled);
        }
    }

    void lookup_data()
    {
        QTest::addColumn<int>("country");
        QTest::addColumn<bool>("band11");
        QTest::addColumn<bool>("band60");
        QTest::addColumn<double>("hz");
        QTest::addColumn<int>("band");
        const int r1 = QLocale::Russia, r2 = QLocale::Chile;
        QTest::newRow("40M middle") << r1 << false << false << 7.1e6 << 3;
        QTest::newRow("40M lower edge") << r1 << false << false << 7.0e6 << 3;
        QTest::newRow("40M upper edge") << r1 << false << false << 7.2e6 << 3;
        QTest::newRow("just above 40M") << r1 << false << false << 7200000.1 << 13;
        QTest::newRow("R2 40M reaches 7.3") << r2 << false << false << 7.3e6 << 3;
        QTest::newRow("160M lower edge R1") << r1 << false << false << 1810000.0 << 0;
        QTest::newRow("below 160M R1") << r1 << false << false << 1809999.0 << 13;
        QTest::newRow("zero") << r1 << false << false << 0.0 << 13;
        QTest::newRow("20M") << r1 << false << false << 14.2e6 << 5;
        QTest::newRow("2M") << r1 << false << false << 145e6 << 12;
        QTest::newRow("0.7M") << r1 << false << false << 435e6 << 13;
        QTest::newRow("27 MHz, 11M off") << r1 << false << false << 27e6 << 13;
        QTest::newRow("27 MHz, 11M on") << r1 << true << false << 27e6 << 9;
        QTest::newRow("28 MHz, 11M off") << r1 << false << false << 28e6 << 10;
        QTest::newRow("28 MHz, 11M on: first wins") << r1 << true << false << 28e6 << 9;
        QTest::newRow("10M with 11M on") << r1 << true << false << 28.5e6 << 10;
        QTest::newRow("60M without allocation") << r1 << false << false << 5.3e6 << 13;
        QTest::newRow("60M forced") << r1 << false << true << 5.3e6 << 2;
        QTest::newRow("20M with 60M forced keeps its id") << r1 << false << true << 14.2e6 << 5;
        QTest::newRow("Japan 11M never") << int(QLocale::Japan) << true << false << 27e6 << 13;
        QTest::newRow("Thailand 40M out of plan") << int(QLocale::Thailand) << false << false << 7.1e6 << 13;
        QTest::newRow("Thailand 6M out of plan") << int(QLocale::Thailand) << false << false << 51e6 << 13;
        QTest::newRow("Germany 60M") << int(QLocale::Germany) << false << false << 5.36e6 << 2;
        QTest::newRow("Germany 40M") << int(QLocale::Germany) << false << false << 7.1e6 << 3;
    }
    void lookup()
    {
        QFETCH(int, country);
        QFETCH(bool, band11);
        QFETCH(bool, band60);
        QFETCH(double, hz);
        QFETCH(int, band);
        AmateurRegion plan;
        plan.setCountry(country);
        plan.setBand11M(band11);
        plan.setBand60M(band60);
        QCOMPARE(plan.bandIndex(hz), band);
    }

    void bandIsMetatype()
    {
        AmateurRegion plan;
        const int id = QMetaType::type("AmateurRegion::Band");
        QVERIFY2(id != QMetaType::UnknownType, "AmateurRegion::Band is not registered");
        AmateurRegion::Band b{true, 1, 2, "x"};
        const QVariant v = QVariant::fromValue(b);
        QCOMPARE(v.userType(), id);
        QCOMPARE(v.value<AmateurRegion::Band>().name, QString("x"));
        QCOMPARE(v.value<AmateurRegion::Band>().high, quint64(2));
    }
};

QTEST_GUILESS_MAIN(TestAmateurRegion)
#include "tst_amateurregion.moc"
