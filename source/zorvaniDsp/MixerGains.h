#pragma once

#include <array>
#include <cmath>

// Host volume in dB to a linear gain: 10^(dB/20), 0 at -60 dB or less.
inline double gainFromDb(double dB)
{
    return dB <= -60.0 ? 0.0 : std::pow(10.0, dB / 20.0);
}

struct ChannelGain {
    double gain = 1.0;
    double balance = 0.0;
};

using MixerGainTable = std::array<std::array<ChannelGain, 2>, 2>; // [rx][ch]

// The control surface's gain rule: when receiver 0 channel 0 is the only
// channel that can sound (receiver 0 channel 1 and receiver 1 channel 0 both
// off), it plays at unity gain and centred regardless of its volume, the other
// three at 0. Otherwise each channel gets its own volume and balance.
inline MixerGainTable mixerGains(const bool enabled[2][2], const double volumeDb[2][2], const double balance[2][2])
{
    MixerGainTable table;
    const bool single = enabled[0][0] && !enabled[0][1] && !enabled[1][0];
    for (int rx = 0; rx < 2; ++rx) {
        for (int ch = 0; ch < 2; ++ch) {
            if (single) {
                table[rx][ch] = (rx == 0 && ch == 0) ? ChannelGain{1.0, 0.0} : ChannelGain{0.0, 0.0};
            } else {
                table[rx][ch] = ChannelGain{gainFromDb(volumeDb[rx][ch]), balance[rx][ch]};
            }
        }
    }
    return table;
}
