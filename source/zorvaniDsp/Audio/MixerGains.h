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

// The host's volume controls of the mixer's four channels and the rule that
// turns them into mixer gains. GUI thread only.
//
// Receivers 0..1, channels 0..1; a setter out of range changes nothing and
// returns false. Volume in dB (-60 or less is silence), balance as the mixer
// takes it. Every channel starts enabled at 0 dB, centred.
class MixerGains {
public:
    bool setVolume(int rx, int ch, double dB) { return set(rx, ch, &Control::volumeDb, dB); }
    bool setBalance(int rx, int ch, double balance) { return set(rx, ch, &Control::balance, balance); }
    bool setEnabled(int rx, int ch, bool on) { return set(rx, ch, &Control::enabled, on); }

    // The control surface's rule: when receiver 0 channel 0 is the only
    // channel that can sound (receiver 0 channel 1 and receiver 1 channel 0
    // both off), it plays at unity gain and centred regardless of its volume,
    // the other three at 0. Otherwise each channel gets its own volume and
    // balance.
    MixerGainTable table() const;

private:
    struct Control {
        bool enabled = true;
        double volumeDb = 0.0;
        double balance = 0.0;
    };

    template <typename T>
    bool set(int rx, int ch, T Control::*field, T value)
    {
        if (rx < 0 || rx > 1 || ch < 0 || ch > 1)
            return false;
        m_controls[rx][ch].*field = value;
        return true;
    }

    Control m_controls[2][2];
};
