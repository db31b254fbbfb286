#include "PrivateHome.h"
#include "bandplan/AmateurRegion.h"

#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QtTest>

#include <memory>

namespace {
std::unique_ptr<AmateurRegion> plan(int country, bool band11 = false, bool band60 = false)
{
    auto p = std::make_unique<AmateurRegion>();
    p->setCountry(country);
    p->setBand11M(band11);
    p->setBand60M(band60);
    return p;
}
const int R1 = QLocale::Russia, R2 = QLocale::Chile, R3 = QLocale::Australia, JP = QLocale::Japan,
          TH = QLocale::Thailand;
} // namespace

class TestAmateurRegion : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        QVERIFY(support::isolateHome(m_home));
        QVERIFY2(AmateurRegion::settingsPath().contains("qttest"), qPrintable(AmateurRegion::settingsPath()));
    }

    // itu.ini: created with the system's country when missing, read when
    // present, an unusable country replaced by the system's; what is saved is
    // what the next restore finds.
    void settingsFile()
    {
        const int system = int(QLocale::system().country());
        const struct { QVariant country; bool bands; int expected; } rows[] = {
            {QVariant(), false, system}, {int(QLocale::Germany), true, int(QLocale::Germany)}, {0, false, system},
            {-5, false, system}, {"abc", true, system}, {100000, false, system}};
        for (const auto& row : rows) {
            QFile::remove(AmateurRegion::settingsPath());
            if (row.country.isValid()) {
                QSettings s(AmateurRegion::settingsPath(), QSettings::IniFormat);
                s.setValue("ITU/Band11M", row.bands);
                s.setValue("ITU/Band60M", row.bands);
                s.setValue("ITU/Country", row.country);
            }
            AmateurRegion region;
            QCOMPARE(region.country(), row.expected);
            QVERIFY(region.band11M() == row.bands && region.band60M() == row.bands);
            QSettings s(AmateurRegion::settingsPath(), QSettings::IniFormat);
            QVERIFY(s.value("ITU/Band11M").toBool() == row.bands && s.value("ITU/Band60M").toBool() == row.bands);
            QVERIFY(row.country.isValid() || s.value("ITU/Country").toInt() == row.expected);

            region.setCountry(QLocale::Japan);
            region.setBand11M(!row.bands);
            region.saveSettings();
            region.setCountry(QLocale::France);
            region.setBand11M(row.bands);
            region.restoreSettings();
            QVERIFY(region.country() == int(QLocale::Japan) && region.region() == 2 && region.band11M() != row.bands);
        }
    }

    void regionOfCountry()
    {
        const int rows[][2] = {{QLocale::Germany, 0}, {QLocale::SouthAfrica, 0}, {QLocale::Mongolia, 0},
                               {QLocale::UnitedStates, 1}, {QLocale::Greenland, 1}, {QLocale::Japan, 2},
                               {QLocale::Thailand, 2}, {QLocale::AnyCountry, 0}};
        for (const auto& r : rows) {
            QCOMPARE(AmateurRegion::regionOf(r[0]), r[1]);
            QCOMPARE(plan(r[0])->region(), r[1]);
        }
    }

    void bandEdges()
    {
        const struct { int country; bool b11, b60; int id; bool on; quint64 low, high; } rows[] = {
            {R1, 0, 0, 0, 1, 1810000, 2000000}, {R2, 0, 0, 0, 1, 1800000, 2000000},
            {R1, 0, 0, 1, 1, 3500000, 3800000}, {R2, 0, 0, 1, 1, 3500000, 4000000},
            {R3, 0, 0, 1, 1, 3500000, 3900000}, {R1, 0, 0, 2, 0, 5275000, 5450000},
            {R1, 0, 1, 2, 1, 5275000, 5450000}, {R3, 0, 1, 2, 1, 5100000, 5500000},
            {R1, 0, 0, 3, 1, 7000000, 7200000}, {R2, 0, 0, 3, 1, 7000000, 7300000},
            {R3, 0, 0, 4, 1, 10100000, 10157300}, {R1, 0, 0, 9, 0, 26965000, 28000000},
            {R2, 1, 0, 9, 1, 26965000, 28000000}, {R1, 0, 0, 12, 1, 144000000, 146000000},
            {R3, 0, 0, 12, 1, 144000000, 148000000}, {R2, 0, 0, 13, 1, 420000000, 450000000},
            {JP, 0, 0, 0, 1, 1800000, 1923500}, {JP, 0, 0, 1, 1, 3500000, 3805000},
            {JP, 1, 0, 9, 0, 26965000, 28000000}, {TH, 0, 0, 1, 1, 3500000, 3600000},
            {TH, 0, 0, 3, 0, 7000000, 7200000}, {TH, 0, 0, 12, 1, 144100000, 147000000}};
        for (const auto& r : rows) {
            const auto p = plan(r.country, r.b11, r.b60);
            const AmateurRegion::Band b = p->band(r.id);
            QVERIFY2(b.enabled == r.on && b.low == r.low && b.high == r.high,
                     qPrintable(QStringLiteral("country %1 band %2").arg(r.country).arg(r.id)));
            QCOMPARE(p->bands().size(), AmateurRegion::kBandCount);
        }
    }

    // A country with its own 60 m allocation has the band without Band60M,
    // with its own edges even when Band60M is set.
    void sixtyMetreCountries()
    {
        const quint64 rows[][3] = {{82, 5351500, 5366500}, {17, 5357500, 5363500}, {18, 5250000, 5310000},
                                   {38, 5332000, 5405000}, {55, 5418000, 5430000}, {177, 5363500, 5366500},
                                   {225, 5330500, 5403500}};
        for (const auto& r : rows) {
            for (bool band60 : {false, true}) {
                const auto p = plan(int(r[0]), false, band60);
                const AmateurRegion::Band b = p->band(AmateurRegion::kBand60M);
                QVERIFY2(p->has60MAllocation() && b.enabled && b.low == r[1] && b.high == r[2],
                         qPrintable(QString::number(r[0])));
                QCOMPARE(p->bandIndex(double(r[1])), AmateurRegion::kBand60M);
                QCOMPARE(p->bandIndex(double(r[2]) + 1.0), AmateurRegion::kNoBand);
            }
        }
    }

    void lookup()
    {
        const struct { int country; bool b11, b60; double hz; int band; } rows[] = {
            {R1, 0, 0, 7.0e6, 3}, {R1, 0, 0, 7.2e6, 3}, {R1, 0, 0, 7200000.1, 13}, {R2, 0, 0, 7.3e6, 3},
            {R1, 0, 0, 1809999.0, 13}, {R1, 0, 0, 0.0, 13}, {R1, 0, 0, 435e6, 13}, {R1, 0, 0, 27e6, 13},
            {R1, 1, 0, 27e6, 9}, {R1, 0, 0, 28e6, 10}, {R1, 1, 0, 28e6, 9} /* the first band wins */,
            {R1, 0, 0, 5.3e6, 13}, {R3, 0, 0, 5.3e6, 13}, {R1, 0, 1, 5.3e6, 2}, {JP, 1, 0, 27e6, 13},
            {TH, 0, 0, 51e6, 13}};
        for (const auto& r : rows)
            QVERIFY2(plan(r.country, r.b11, r.b60)->bandIndex(r.hz) == r.band,
                     qPrintable(QStringLiteral("country %1 at %2 Hz").arg(r.country).arg(r.hz, 0, 'f', 1)));
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
