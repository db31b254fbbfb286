#include "PrivateHome.h"
#include "bandplan/AmateurRegion.h"

#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QtTest>

class TestAmateurRegion : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        QVERIFY(support::isolateHome(m_home));
        QVERIFY2(AmateurRegion::settingsPath().contains("qttest"),
                 qPrintable("settings must live in the test location: " + AmateurRegion::settingsPath()));
    }
    void init() { QFile::remove(AmateurRegion::settingsPath()); }

    // itu.ini: created with the system's country when missing, read when
    // present, an unusable country replaced by the system's.
    void settingsFile_data()
    {
        QTest::addColumn<QVariant>("country"); // invalid: no file
        QTest::addColumn<bool>("bands");
        QTest::addColumn<int>("expected");
        const int system = int(QLocale::system().country());
        QTest::newRow("no file") << QVariant() << false << system;
        QTest::newRow("stored") << QVariant(int(QLocale::Germany)) << true << int(QLocale::Germany);
        QTest::newRow("country zero") << QVariant(0) << false << system;
        QTest::newRow("negative") << QVariant(-5) << false << system;
        QTest::newRow("text") << QVariant("abc") << true << system;
        QTest::newRow("beyond the last country") << QVariant(100000) << false << system;
    }
    void settingsFile()
    {
        QFETCH(QVariant, country);
        QFETCH(bool, bands);
        QFETCH(int, expected);
        if (country.isValid()) {
            QSettings s(AmateurRegion::settingsPath(), QSettings::IniFormat);
            s.setValue("ITU/Band11M", bands);
            s.setValue("ITU/Band60M", bands);
            s.setValue("ITU/Country", country);
        }
        AmateurRegion region;
        QCOMPARE(region.country(), expected);
        QCOMPARE(region.band11M(), bands);
        QCOMPARE(region.band60M(), bands);
        QSettings s(AmateurRegion::settingsPath(), QSettings::IniFormat);
        QCOMPARE(s.value("ITU/Band11M").toBool(), bands);
        QCOMPARE(s.value("ITU/Band60M").toBool(), bands);
        if (!country.isValid())
            QCOMPARE(s.value("ITU/Country").toInt(), expected);

        // What is saved is what the next restore finds.
        region.setCountry(QLocale::Japan);
        region.setBand11M(!bands);
        region.saveSettings();
        region.setCountry(QLocale::France);
        region.setBand11M(bands);
        region.restoreSettings();
        QCOMPARE(region.country(), int(QLocale::Japan));
        QCOMPARE(region.region(), 2);
        QCOMPARE(region.band11M(), !bands);
    }

    void regionOfCountry_data()
    {
        QTest::addColumn<int>("country");
        QTest::addColumn<int>("region");
        QTest::newRow("Germany") << int(QLocale::Germany) << 0;
        QTest::newRow("South Africa") << int(QLocale::SouthAfrica) << 0;
        QTest::newRow("Mongolia") << int(QLocale::Mongolia) << 0;
        QTest::newRow("United States") << int(QLocale::UnitedStates) << 1;
        QTest::newRow("Greenland") << int(QLocale::Greenland) << 1;
        QTest::newRow("Japan") << int(QLocale::Japan) << 2;
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
        row("R1 80M", r1, false, false, 1, true, 3500000, 3800000);
        row("R2 80M", r2, false, false, 1, true, 3500000, 4000000);
        row("R3 80M", r3, false, false, 1, true, 3500000, 3900000);
        row("R1 60M off", r1, false, false, 2, false, 5275000, 5450000);
        row("R1 60M forced", r1, false, true, 2, true, 5275000, 5450000);
        row("R3 60M forced", r3, false, true, 2, true, 5100000, 5500000);
        row("R1 40M", r1, false, false, 3, true, 7000000, 7200000);
        row("R2 40M", r2, false, false, 3, true, 7000000, 7300000);
        row("R3 30M", r3, false, false, 4, true, 10100000, 10157300);
        row("11M off", r1, false, false, 9, false, 26965000, 28000000);
        row("11M on", r2, true, false, 9, true, 26965000, 28000000);
        row("R1 2M", r1, false, false, 12, true, 144000000, 146000000);
        row("R3 2M", r3, false, false, 12, true, 144000000, 148000000);
        row("R2 0.7M", r2, false, false, 13, true, 420000000, 450000000);
        row("Japan 160M", jp, false, false, 0, true, 1800000, 1923500);
        row("Japan 80M", jp, false, false, 1, true, 3500000, 3805000);
        row("Japan 11M stays off", jp, true, false, 9, false, 26965000, 28000000);
        row("Thailand 80M", th, false, false, 1, true, 3500000, 3600000);
        row("Thailand 40M", th, false, false, 3, false, 7000000, 7200000);
        row("Thailand 2M", th, false, false, 12, true, 144100000, 147000000);
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
    }

    // A country with its own 60 m allocation has the band without Band60M,
    // with its own edges even when Band60M is set.
    void sixtyMetreCountries_data()
    {
        QTest::addColumn<int>("country");
        QTest::addColumn<quint64>("low");
        QTest::addColumn<quint64>("high");
        QTest::newRow("82") << 82 << quint64(5351500) << quint64(5366500);
        QTest::newRow("17") << 17 << quint64(5357500) << quint64(5363500);
        QTest::newRow("18") << 18 << quint64(5250000) << quint64(5310000);
        QTest::newRow("38") << 38 << quint64(5332000) << quint64(5405000);
        QTest::newRow("55") << 55 << quint64(5418000) << quint64(5430000);
        QTest::newRow("177") << 177 << quint64(5363500) << quint64(5366500);
        QTest::newRow("225") << 225 << quint64(5330500) << quint64(5403500);
    }
    void sixtyMetreCountries()
    {
        QFETCH(int, country);
        QFETCH(quint64, low);
        QFETCH(quint64, high);
        AmateurRegion plan;
        plan.setCountry(country);
        for (bool band60 : {false, true}) {
            plan.setBand60M(band60);
            QVERIFY(plan.has60MAllocation());
            const AmateurRegion::Band b = plan.band(AmateurRegion::kBand60M);
            QVERIFY(b.enabled);
            QCOMPARE(b.low, low);
            QCOMPARE(b.high, high);
            QCOMPARE(plan.bandIndex(double(low)), AmateurRegion::kBand60M);
            QCOMPARE(plan.bandIndex(double(high) + 1.0), AmateurRegion::kNoBand);
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
        QTest::newRow("40M lower edge") << r1 << false << false << 7.0e6 << 3;
        QTest::newRow("40M upper edge") << r1 << false << false << 7.2e6 << 3;
        QTest::newRow("just above 40M") << r1 << false << false << 7200000.1 << 13;
        QTest::newRow("R2 40M reaches 7.3") << r2 << false << false << 7.3e6 << 3;
        QTest::newRow("below 160M R1") << r1 << false << false << 1809999.0 << 13;
        QTest::newRow("zero") << r1 << false << false << 0.0 << 13;
        QTest::newRow("0.7M") << r1 << false << false << 435e6 << 13;
        QTest::newRow("27 MHz, 11M off") << r1 << false << false << 27e6 << 13;
        QTest::newRow("27 MHz, 11M on") << r1 << true << false << 27e6 << 9;
        QTest::newRow("28 MHz, 11M off") << r1 << false << false << 28e6 << 10;
        QTest::newRow("28 MHz, 11M on: first wins") << r1 << true << false << 28e6 << 9;
        QTest::newRow("60M without allocation") << r1 << false << false << 5.3e6 << 13;
        QTest::newRow("Australia 60M without allocation") << int(QLocale::Australia) << false << false << 5.3e6 << 13;
        QTest::newRow("60M forced") << r1 << false << true << 5.3e6 << 2;
        QTest::newRow("Japan 11M never") << int(QLocale::Japan) << true << false << 27e6 << 13;
        QTest::newRow("Thailand 6M out of plan") << int(QLocale::Thailand) << false << false << 51e6 << 13;
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

    // Bands travel through queued signals.
    void bandIsMetatype()
    {
        const int id = QMetaType::type("AmateurRegion::Band");
        QVERIFY2(id != QMetaType::UnknownType, "AmateurRegion::Band is not registered");
        const QVariant v = QVariant::fromValue(AmateurRegion::Band{true, 1, 2, "x"});
        QCOMPARE(v.userType(), id);
        QCOMPARE(v.value<AmateurRegion::Band>().high, quint64(2));
    }
};

QTEST_GUILESS_MAIN(TestAmateurRegion)
#include "tst_amateurregion.moc"
