#include "zorvaniDsp/Audio/MixerGains.h"

MixerGainTable MixerGains::table() const
{
    MixerGainTable table;
    const bool single = m_controls[0][0].enabled && !m_controls[0][1].enabled && !m_controls[1][0].enabled;
    for (int rx = 0; rx < 2; ++rx) {
        for (int ch = 0; ch < 2; ++ch) {
            const Control& c = m_controls[rx][ch];
            if (single)
                table[rx][ch] = (rx == 0 && ch == 0) ? ChannelGain{1.0, 0.0} : ChannelGain{0.0, 0.0};
            else
                table[rx][ch] = ChannelGain{gainFromDb(c.volumeDb), c.balance};
        }
    }
    return table;
}
