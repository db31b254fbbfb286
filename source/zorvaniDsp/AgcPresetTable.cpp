#include "zorvaniDsp/AgcPresetTable.h"

namespace {

// Long, Slow, Med, Fast, User.
constexpr AgcPresetTable::Preset kDefaults[AgcPresetTable::kPresets] = {
    {0.0, 1.0, 800.0, -120.0, 800}, {0.0, 1.0, 500.0, -120.0, 500}, {0.0, 1.0, 250.0, -120.0, 250},
    {0.0, 0.7, 100.0, -120.0, 100}, {-6.0, 1.0, 1000.0, -120.0, 1000}};

} // namespace

AgcPresetTable::AgcPresetTable()
{
    for (int p = 0; p < kPresets; ++p)
        m_presets[size_t(p)] = kDefaults[p];
}

AgcPresetTable::Preset AgcPresetTable::preset(int preset) const
{
    return validPreset(preset) ? m_presets[size_t(preset)] : Preset{};
}

bool AgcPresetTable::select(int rx, int hostIndex)
{
    if (!validRx(rx) || hostIndex < 0 || hostIndex > kPresets || hostIndex - 1 == m_selected[size_t(rx)])
        return false;
    m_selected[size_t(rx)] = hostIndex - 1;
    return true;
}

int AgcPresetTable::hostIndex(int rx) const
{
    return validRx(rx) ? m_selected[size_t(rx)] + 1 : 0;
}

bool AgcPresetTable::follows(int rx, int preset) const
{
    return validRx(rx) && validPreset(preset) && m_selected[size_t(rx)] == preset;
}

AgcSettings AgcPresetTable::settings(int rx) const
{
    const int selected = validRx(rx) ? m_selected[size_t(rx)] : -1;
    const bool enabled = selected >= 0;
    const Preset& p = m_presets[size_t(enabled ? selected : 0)];
    return AgcSettings{p.attack, p.decay, p.hang, enabled};
}
