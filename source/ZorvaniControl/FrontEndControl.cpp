#include "ZorvaniControl/FrontEndControl.h"

#include <algorithm>

int FrontEndControl::bandForFrequency(qint64 hz)
{
    struct Edge {
        qint64 below;
        int band;
    };
    static constexpr Edge edges[] = {{1730000, 13}, {2600000, 0},   {4300000, 1},   {6500000, 2},  {7900000, 3},
                                     {13000000, 4}, {15900000, 5}, {21000000, 7}, {30000000, 10}};
    for (const Edge& e : edges)
        if (hz < e.below)
            return e.band;
    return 13;
}

quint16 FrontEndControl::bandCode(int band)
{
    switch (band) {
    case 0: return 0x201;
    case 1: return 0x401;
    case 2: return 0x003;
    case 3: return 0x005;
    case 4: return 0x009;
    case 5: return 0x011;
    case 6:
    case 7: return 0x021;
    case 8:
    case 9:
    case 10: return 0x041;
    default: return 0;
    }
}

FrontEndControl::FrontEndControl(QObject* parent) : QObject(parent) {}

quint16 FrontEndControl::word() const
{
    quint16 w = m_bpf ? bandCode(m_band) : 0;
    if (m_preamp)
        w |= 0x080;
    if (m_att)
        w |= 0x800;
    return w;
}

double FrontEndControl::levelCorrection() const
{
    return (m_att ? 18.5 : 0.0) + (m_preamp ? -10.3 : 0.0);
}

bool FrontEndControl::setBpf(bool on)
{
    if (on == m_bpf)
        return false;
    m_bpf = on;
    emitIfChanged();
    return true;
}

bool FrontEndControl::setBand(int band)
{
    band = std::clamp(band, 0, 13);
    if (band == m_band)
        return false;
    m_band = band;
    emitIfChanged();
    return true;
}

void FrontEndControl::setAtt(bool on)
{
    if (on == m_att)
        return;
    m_att = on;
    emit preampCoeffChanged(levelCorrection());
    emitIfChanged();
}

void FrontEndControl::setPreamp(bool on)
{
    if (on == m_preamp)
        return;
    m_preamp = on;
    emit preampCoeffChanged(levelCorrection());
    emitIfChanged();
}

void FrontEndControl::emitState()
{
    m_lastWord = word();
    emit valueChanged(m_lastWord);
}

void FrontEndControl::emitIfChanged()
{
    const quint16 w = word();
    if (w == m_lastWord)
        return;
    m_lastWord = w;
    emit valueChanged(w);
}
