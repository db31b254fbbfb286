#include "ZorvaniControl/ExtCtrl/ExtCtrlZorvani.h"

#include "bandplan/AmateurRegion.h"
#include "common/CheckedConnect.h"

#include <QCheckBox>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

// Row names by band id; the 11M row (id 9) has no boxes.
constexpr const char* kRowNames[ExtCtrlZorvani::kBandCount] = {"160", "80", "60", "40", "30", "20", "17",
                                                             "15",  "12", nullptr, "10", "6", "2", "Gen"};

// The per-row slots, by band id.
constexpr const char* kRowSlots[ExtCtrlZorvani::kBandCount] = {
    SLOT(changed160M(bool)), SLOT(changed80M(bool)), SLOT(changed60M(bool)), SLOT(changed40M(bool)),
    SLOT(changed30M(bool)),  SLOT(changed20M(bool)), SLOT(changed17M(bool)), SLOT(changed15M(bool)),
    SLOT(changed12M(bool)),  nullptr,                SLOT(changed10M(bool)), SLOT(changed6M(bool)),
    SLOT(changed2M(bool)),   SLOT(changedGEN(bool))};

// Two frequencies count as equal when they agree to twelve significant digits.
bool sameFrequency(double a, double b)
{
    return std::abs(a - b) * 1e12 <= std::min(std::abs(a), std::abs(b));
}

} // namespace

ExtCtrlZorvani::ExtCtrlZorvani(QWidget* form, const AmateurRegion* region, QObject* parent)
    : QObject(parent), m_region(region)
{
    if (!form)
        return;
    if (auto* enable = form->findChild<QCheckBox*>(QStringLiteral("chbExtCtrlEnable"))) {
        m_enabled = enable->isChecked();
        CHECKED_CONNECT(enable, SIGNAL(toggled(bool)), this, SLOT(changedEnable(bool)));
    }
    for (int band = 0; band < kBandCount; ++band) {
        if (!kRowNames[band])
            continue;
        for (int bit = 0; bit < kBits; ++bit) {
            const QString name = QStringLiteral("chbExtCtrlRx%1_%2").arg(QLatin1String(kRowNames[band])).arg(bit);
            QCheckBox* box = form->findChild<QCheckBox*>(name);
            m_boxes[band][bit] = box;
            if (box)
                CHECKED_CONNECT(box, SIGNAL(toggled(bool)), this, kRowSlots[band]);
        }
    }
}

uint ExtCtrlZorvani::pattern(int band) const
{
    if (band < 0 || band >= kBandCount)
        return 0;
    uint value = 0;
    for (int bit = 0; bit < kBits; ++bit)
        if (m_boxes[band][bit] && m_boxes[band][bit]->isChecked())
            value |= 1u << bit;
    return value;
}

uint ExtCtrlZorvani::currentValue() const
{
    return m_enabled ? pattern(m_band) : 0;
}

void ExtCtrlZorvani::setFrequency(double hz)
{
    if (sameFrequency(hz, m_frequency))
        return;
    m_frequency = hz;
    updateBand();
}

void ExtCtrlZorvani::setOffset(double hz)
{
    if (sameFrequency(hz, m_offset))
        return;
    m_offset = hz;
    updateBand();
}

void ExtCtrlZorvani::updateBand()
{
    if (!m_enabled || !m_region)
        return;
    const int band = m_region->bandIndex(m_frequency + m_offset);
    if (band == m_band)
        return;
    m_band = band;
    emit valueChanged(pattern(band));
}

void ExtCtrlZorvani::changedEnable(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    if (!on) {
        emit valueChanged(0);
        return;
    }
    // The band may have moved while the outputs were off.
    if (m_region)
        m_band = m_region->bandIndex(m_frequency + m_offset);
    emit valueChanged(pattern(m_band));
}

void ExtCtrlZorvani::rowChanged(int band)
{
    // A row of another band, or any row while the outputs are off, changes nothing on the receiver.
    if (m_enabled && band == m_band)
        emit valueChanged(pattern(band));
}

void ExtCtrlZorvani::changed160M(bool) { rowChanged(0); }
void ExtCtrlZorvani::changed80M(bool) { rowChanged(1); }
void ExtCtrlZorvani::changed60M(bool) { rowChanged(2); }
void ExtCtrlZorvani::changed40M(bool) { rowChanged(3); }
void ExtCtrlZorvani::changed30M(bool) { rowChanged(4); }
void ExtCtrlZorvani::changed20M(bool) { rowChanged(5); }
void ExtCtrlZorvani::changed17M(bool) { rowChanged(6); }
void ExtCtrlZorvani::changed15M(bool) { rowChanged(7); }
void ExtCtrlZorvani::changed12M(bool) { rowChanged(8); }
void ExtCtrlZorvani::changed10M(bool) { rowChanged(10); }
void ExtCtrlZorvani::changed6M(bool) { rowChanged(11); }
void ExtCtrlZorvani::changed2M(bool) { rowChanged(12); }
void ExtCtrlZorvani::changedGEN(bool) { rowChanged(13); }
