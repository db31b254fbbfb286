#include "bandplan/AmateurRegion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <initializer_list>

namespace {

struct Edges {
    quint64 low;
    quint64 high;
};

struct BandRow {
    const char* name;
    Edges region[3];
};

// Edges by ITU region 1, 2, 3, before the country exceptions.
constexpr BandRow kBandRows[AmateurRegion::kBandCount] = {
    {"160M", {{1810000, 2000000}, {1800000, 2000000}, {1800000, 2000000}}},
    {"80M", {{3500000, 3800000}, {3500000, 4000000}, {3500000, 3900000}}},
    {"60M", {{5275000, 5450000}, {5100000, 5500000}, {5100000, 5500000}}},
    {"40M", {{7000000, 7200000}, {7000000, 7300000}, {7000000, 7300000}}},
    {"30M", {{10100000, 10150000}, {10100000, 10150000}, {10100000, 10157300}}},
    {"20M", {{14000000, 14350000}, {14000000, 14350000}, {14000000, 14350000}}},
    {"17M", {{18068000, 18168000}, {18068000, 18168000}, {18068000, 18168000}}},
    {"15M", {{21000000, 21450000}, {21000000, 21450000}, {21000000, 21450000}}},
    {"12M", {{24890000, 24990000}, {24890000, 24990000}, {24890000, 24990000}}},
    {"11M", {{26965000, 28000000}, {26965000, 28000000}, {26965000, 28000000}}},
    {"10M", {{28000000, 29700000}, {28000000, 29700000}, {28000000, 29700000}}},
    {"6M", {{50000000, 54000000}, {50000000, 54000000}, {50000000, 54000000}}},
    {"2M", {{144000000, 146000000}, {144000000, 148000000}, {144000000, 148000000}}},
    {"0.7M", {{430000000, 440000000}, {420000000, 450000000}, {430000000, 450000000}}},
};

struct Allocation60M {
    std::initializer_list<int> countries;
    Edges edges;
};

// Countries with their own 60 m allocation (QLocale country values).
const Allocation60M k60M[] = {
    {{5, 10, 20, 21, 22, 27, 30, 44, 54, 56, 57, 63, 73, 74, 82, 85, 97, 98, 99, 100, 101, 106, 107, 110,
      115, 118, 123, 124, 125, 133, 139, 148, 151, 156, 166, 168, 170, 172, 191, 192, 197, 205, 206, 217,
      223, 227, 242},
     {5351500, 5366500}},
    {{17}, {5357500, 5363500}},
    {{18}, {5250000, 5310000}},
    {{19, 33, 215}, {5250000, 5400000}},
    {{38, 96}, {5332000, 5405000}},
    {{55}, {5418000, 5430000}},
    {{58, 71, 86, 87, 127, 183, 224}, {5250000, 5450000}},
    {{60}, {5258500, 5403500}},
    {{68}, {5370000, 5450000}},
    {{104}, {5351500, 5405000}},
    {{105}, {5298500, 5403500}},
    {{111}, {5275000, 5450000}},
    {{154}, {5353000, 5366000}},
    {{161}, {5260000, 5410000}},
    {{162}, {5319000, 5349000}},
    {{173}, {5351500, 5403500}},
    {{177}, {5363500, 5366500}},
    {{195}, {5290000, 5450000}},
    {{225}, {5330500, 5403500}},
};

const Allocation60M* allocation60M(int country)
{
    for (const Allocation60M& a : k60M)
        if (std::find(a.countries.begin(), a.countries.end(), country) != a.countries.end())
            return &a;
    return nullptr;
}

// The Americas, Greenland and the eastern Pacific.
const QLocale::Country kRegion2[] = {
    QLocale::Anguilla, QLocale::AntiguaAndBarbuda, QLocale::Argentina, QLocale::Aruba, QLocale::Bahamas,
    QLocale::Barbados, QLocale::Belize, QLocale::Bermuda, QLocale::Bolivia, QLocale::Bonaire, QLocale::Brazil,
    QLocale::BritishVirginIslands, QLocale::Canada, QLocale::CaymanIslands, QLocale::Chile,
    QLocale::ClippertonIsland, QLocale::Colombia, QLocale::CostaRica, QLocale::Cuba, QLocale::CuraSao,
    QLocale::Dominica, QLocale::DominicanRepublic, QLocale::Ecuador, QLocale::ElSalvador,
    QLocale::FalklandIslands, QLocale::FrenchGuiana, QLocale::Greenland, QLocale::Grenada, QLocale::Guadeloupe,
    QLocale::Guatemala, QLocale::Guyana, QLocale::Haiti, QLocale::Honduras, QLocale::Jamaica,
    QLocale::LatinAmerica, QLocale::Martinique, QLocale::Mexico, QLocale::Montserrat, QLocale::Nicaragua,
    QLocale::Panama, QLocale::Paraguay, QLocale::Peru, QLocale::PuertoRico, QLocale::SaintBarthelemy,
    QLocale::SaintKittsAndNevis, QLocale::SaintLucia, QLocale::SaintMartin, QLocale::SaintPierreAndMiquelon,
    QLocale::SaintVincentAndTheGrenadines, QLocale::SintMaarten,
    QLocale::SouthGeorgiaAndTheSouthSandwichIslands, QLocale::Suriname, QLocale::TrinidadAndTobago,
    QLocale::TurksAndCaicosIslands, QLocale::UnitedStates, QLocale::UnitedStatesMinorOutlyingIslands,
    QLocale::UnitedStatesVirginIslands, QLocale::Uruguay, QLocale::Venezuela,
};

// Asia east of Iraq outside the former Soviet Union, Oceania and the western Pacific.
const QLocale::Country kRegion3[] = {
    QLocale::Afghanistan, QLocale::AmericanSamoa, QLocale::Australia, QLocale::Bangladesh, QLocale::Bhutan,
    QLocale::BritishIndianOceanTerritory, QLocale::Brunei, QLocale::Cambodia, QLocale::China,
    QLocale::ChristmasIsland, QLocale::CocosIslands, QLocale::CookIslands, QLocale::DiegoGarcia,
    QLocale::EastTimor, QLocale::Fiji, QLocale::FrenchPolynesia, QLocale::Guam,
    QLocale::HeardAndMcDonaldIslands, QLocale::HongKong, QLocale::India, QLocale::Indonesia, QLocale::Iran,
    QLocale::Japan, QLocale::Kiribati, QLocale::Laos, QLocale::Macau, QLocale::Malaysia, QLocale::Maldives,
    QLocale::MarshallIslands, QLocale::Micronesia, QLocale::Myanmar, QLocale::NauruCountry, QLocale::Nepal,
    QLocale::NewCaledonia, QLocale::NewZealand, QLocale::Niue, QLocale::NorfolkIsland, QLocale::NorthKorea,
    QLocale::NorthernMarianaIslands, QLocale::OutlyingOceania, QLocale::Pakistan, QLocale::Palau,
    QLocale::PapuaNewGuinea, QLocale::Philippines, QLocale::Pitcairn, QLocale::Samoa, QLocale::Singapore,
    QLocale::SolomonIslands, QLocale::SouthKorea, QLocale::SriLanka, QLocale::Taiwan, QLocale::Thailand,
    QLocale::TokelauCountry, QLocale::Tonga, QLocale::TuvaluCountry, QLocale::Vanuatu, QLocale::Vietnam,
    QLocale::WallisAndFutunaIslands,
};

template <std::size_t N> bool contains(const QLocale::Country (&list)[N], int country)
{
    return std::find(std::begin(list), std::end(list), QLocale::Country(country)) != std::end(list);
}

} // namespace

AmateurRegion::AmateurRegion(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<AmateurRegion::Band>("AmateurRegion::Band");
    m_systemCountry = int(QLocale::system().country());
    m_country = m_systemCountry;

    const bool existed = QFileInfo::exists(settingsPath());
    if (!existed)
        saveSettings();
    restoreSettings();
    if (existed)
        saveSettings();
}

QString AmateurRegion::settingsPath()
{
    const QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::ConfigLocation);
    const QString dir = dirs.isEmpty() ? QCoreApplication::applicationDirPath() : dirs.first();
    return dir + QStringLiteral("/itu.ini");
}

void AmateurRegion::saveSettings()
{
    const QString path = settingsPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("ITU"));
    settings.setValue(QStringLiteral("Band11M"), m_band11M);
    settings.setValue(QStringLiteral("Band60M"), m_band60M);
    settings.setValue(QStringLiteral("Country"), m_country);
    settings.endGroup();
    settings.sync();
}

void AmateurRegion::restoreSettings()
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("ITU"));
    m_band11M = settings.value(QStringLiteral("Band11M"), false).toBool();
    m_band60M = settings.value(QStringLiteral("Band60M"), false).toBool();
    bool ok = false;
    const int country = settings.value(QStringLiteral("Country"), m_systemCountry).toInt(&ok);
    settings.endGroup();
    // A value that names no country falls back to the system's, like a missing one.
    m_country = (ok && country >= 1 && country <= int(QLocale::LastCountry)) ? country : m_systemCountry;
    rebuild();
}

void AmateurRegion::setCountry(int country)
{
    m_country = country;
    rebuild();
}

void AmateurRegion::setBand11M(bool on)
{
    m_band11M = on;
    rebuild();
}

void AmateurRegion::setBand60M(bool on)
{
    m_band60M = on;
    rebuild();
}

int AmateurRegion::regionOf(int country)
{
    if (contains(kRegion2, country))
        return 1;
    if (contains(kRegion3, country))
        return 2;
    return 0;
}

void AmateurRegion::rebuild()
{
    m_region = regionOf(m_country);
    const Allocation60M* own60M = allocation60M(m_country);
    m_has60M = own60M != nullptr;

    for (int id = 0; id < kBandCount; ++id) {
        const Edges& e = kBandRows[id].region[m_region];
        m_bands[id] = Band{true, e.low, e.high, QString::fromLatin1(kBandRows[id].name)};
    }

    Band& b60 = m_bands[kBand60M];
    if (own60M) {
        b60.low = own60M->edges.low;
        b60.high = own60M->edges.high;
    } else {
        b60.enabled = m_band60M;
    }
    m_bands[kBand11M].enabled = m_band11M;

    auto set = [this](int id, quint64 low, quint64 high) {
        m_bands[id].low = low;
        m_bands[id].high = high;
    };
    if (m_country == QLocale::Japan) {
        set(0, 1800000, 1923500);
        set(1, 3500000, 3805000);
        set(3, 7000000, 7200000);
        set(4, 10100000, 10150000);
        m_bands[kBand11M].enabled = false;
        set(12, 144000000, 146000000);
        set(13, 430000000, 440000000);
    } else if (m_country == QLocale::Thailand) { // always region 3
        set(1, 3500000, 3600000);
        // 40 m and 30 m keep narrower edges but stay out of the plan.
        set(3, 7000000, 7200000);
        m_bands[3].enabled = false;
        set(4, 10100000, 10150000);
        m_bands[4].enabled = false;
        m_bands[11].enabled = false;
        set(12, 144100000, 147000000);
    }
}

QList<AmateurRegion::Band> AmateurRegion::bands() const
{
    return QList<Band>(m_bands.begin(), m_bands.end());
}

AmateurRegion::Band AmateurRegion::band(int id) const
{
    return (id >= 0 && id < kBandCount) ? m_bands[std::size_t(id)] : Band{};
}

int AmateurRegion::bandIndex(double hz) const
{
    for (int id = 0; id < kBandCount; ++id) {
        const Band& b = m_bands[std::size_t(id)];
        if (b.enabled && double(b.low) <= hz && hz <= double(b.high))
            return id;
    }
    return kNoBand;
}
