#include "ZorvaniFunctions.h"

#include "bandplan/AmateurRegion.h"
#include "common/ZorvaniSR.h"

namespace {

enum Mode { AM, SAM, DSB, LSB, USB, CW, NFM, DIGL, DIGU, WFM, DRM };

// Filter families: modes of one family share edges and labels.
enum Family { Envelope, Lower, Upper, Morse, Broadcast, Digital };

constexpr Family kFamily[ZorvaniFunctions::kModeCount] = {Envelope, Envelope, Envelope, Lower, Upper, Morse,
                                                         Envelope, Lower,    Upper,    Broadcast, Digital};

// Half widths (symmetric families) or the far edge (sideband families), Hz.
constexpr double kEdge[6][ZorvaniFunctions::kFilterChoices] = {
    {1500, 1750, 2000, 2500, 3000, 4000, 5000, 6000, 8000},
    {1800, 2000, 2200, 2500, 2700, 2900, 3000, 3300, 3500},
    {1800, 2000, 2200, 2500, 2700, 2900, 3000, 3300, 3500},
    {25, 50, 125, 200, 250, 325, 400, 500, 600},
    {25000, 40000, 55000, 60000, 75000, 90000, 120000, 140000, 155000},
    {5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000},
};

// The sideband filters start this far from the carrier, Hz.
constexpr double kSidebandInner = 70.0;

const char* const kLabel[6][ZorvaniFunctions::kFilterChoices] = {
    {"3K", "3.5K", "4K", "5K", "6K", "8K", "10K", "12K", "16K"},
    {"1.8K", "2K", "2.2K", "2.5K", "2.7K", "2.9K", "3.0K", "3.3K", "3.5K"},
    {"1.8K", "2K", "2.2K", "2.5K", "2.7K", "2.9K", "3.0K", "3.3K", "3.5K"},
    {"50", "100", "250", "400", "500", "650", "800", "1000", "1200"},
    {"50K", "80K", "110K", "120K", "150K", "180K", "240K", "280K", "310K"},
    {"10K", "10K", "10K", "10K", "10K", "10K", "10K", "10K", "10K"},
};

bool knownMode(qint64 mode)
{
    return mode >= 0 && mode < ZorvaniFunctions::kModeCount;
}

} // namespace

ZorvaniFunctions::ZorvaniFunctions()
{
    m_modes = {{AM, "AM"},   {SAM, "SAM"},   {DSB, "DSB"},   {LSB, "LSB"},   {USB, "USB"}, {CW, "CW"},
               {NFM, "NFM"}, {WFM, "WFM"},   {DIGL, "DIGL"}, {DIGU, "DIGU"}, {DRM, "DRM"}};

    // The amateur bands of the user's region, without 0.7M and those not allocated.
    const QList<AmateurRegion::Band> plan = AmateurRegion().bands();
    for (int id = 0; id < AmateurRegion::kNoBand; ++id)
        if (plan[id].enabled)
            m_bands.append(DeviceBand{plan[id].low, plan[id].high, plan[id].name});

    m_rfInputs = {DeviceBand{0, 800000000, QStringLiteral("RF")}};
    m_preamps = QStringList{QStringLiteral("-20dB"), QStringLiteral("0dB")};
    m_agcSettings = QStringList{QStringLiteral("Off"),  QStringLiteral("Long"), QStringLiteral("Slow"),
                                QStringLiteral("Med"),  QStringLiteral("Fast"), QStringLiteral("User")};
}

void ZorvaniFunctions::setStreamRate(double hz)
{
    m_streamRate = hz;
    m_streamRateCopy = hz;
}
void ZorvaniFunctions::setDisplayedRate(double hz) { m_displayedRate = hz; }
void ZorvaniFunctions::setMinimumDisplayedRate(double hz) { m_minimumDisplayedRate = hz; }
double ZorvaniFunctions::streamRate() const { return m_streamRate; }
double ZorvaniFunctions::streamRateCopy() const { return m_streamRateCopy; }
double ZorvaniFunctions::displayedRate() const { return m_displayedRate; }
double ZorvaniFunctions::minimumDisplayedRate() const { return m_minimumDisplayedRate; }
double ZorvaniFunctions::workingRate() const { return zorvani::kWorkingRate; }

bool ZorvaniFunctions::flagForBool(bool b) const
{
    return !b;
}

void ZorvaniFunctions::flagsForIndex(int i, bool* a, bool*) const
{
    if (a)
        *a = (i == 0);
}

int ZorvaniFunctions::bandIndex(double hz) const
{
    for (int i = 0; i < m_bands.size(); ++i)
        if (double(m_bands[i].low) <= hz && hz <= double(m_bands[i].high))
            return i;
    return m_bands.size();
}

int ZorvaniFunctions::bandGroupValue(uint band) const
{
    if (band <= 4)
        return 3;
    if (band <= 8)
        return 4;
    if (band <= 12)
        return 6;
    return 0;
}

int ZorvaniFunctions::defaultAgc(uint mode) const
{
    switch (mode) {
    case LSB:
    case USB:
    case DIGL:
    case DIGU:
        return 2;
    case CW:
        return 4;
    default:
        return 1;
    }
}

int ZorvaniFunctions::defaultFilter(uint mode) const
{
    switch (mode) {
    case AM:
    case SAM:
    case DSB:
    case NFM:
        return 3;
    case LSB:
    case USB:
    case DIGL:
    case DIGU:
        return 6;
    case CW:
        return 1;
    default:
        return 0;
    }
}

QString ZorvaniFunctions::filterLabel(uint mode, uint choice) const
{
    if (mode == DRM)
        return QString::fromLatin1(kLabel[Digital][0]);
    if (!knownMode(mode) || choice >= uint(kFilterChoices))
        return {};
    return QString::fromLatin1(kLabel[kFamily[mode]][choice]);
}

FilterEdges ZorvaniFunctions::filterEdges(int mode, uint choice) const
{
    if (!knownMode(mode) || choice >= uint(kFilterChoices))
        return {0.0, 0.0};
    const Family family = kFamily[mode];
    const double edge = kEdge[family][choice];
    switch (family) {
    case Lower:
        return {-edge, -kSidebandInner};
    case Upper:
        return {kSidebandInner, edge};
    default:
        return {-edge, edge};
    }
}

bool ZorvaniFunctions::filterSymmetric(uint mode) const
{
    return knownMode(mode) && kFamily[mode] != Lower && kFamily[mode] != Upper;
}

FilterEdges ZorvaniFunctions::filterEdgeLimits(uint mode) const
{
    switch (mode) {
    case AM:
    case SAM:
    case DSB:
    case NFM:
        return {-18000.0, 18000.0};
    case LSB:
        return {-10000.0, 0.0};
    case USB:
        return {0.0, 10000.0};
    case CW:
        return {-10000.0, 10000.0};
    case DIGL:
        return {-15000.0, 0.0};
    case DIGU:
        return {0.0, 15000.0};
    case DRM:
        return {-5000.0, 5000.0};
    default:
        return {-156000.0, 156000.0};
    }
}
