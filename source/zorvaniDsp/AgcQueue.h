#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

// One AGC parameter set on its way from a setter to the receiver thread.
struct AgcSettings {
    double attackMs = 1.0;  // clamped to [0.1, 5.0]
    double decayMs = 800.0; // clamped to [1, 3000]
    uint32_t hangMs = 800;  // clamped to [1, 3000]
    bool enabled = true;

    // The limits the receiver applies before the values reach its AGC stages.
    AgcSettings clamped() const
    {
        AgcSettings s = *this;
        s.attackMs = std::clamp(attackMs, 0.1, 5.0);
        s.decayMs = std::clamp(decayMs, 1.0, 3000.0);
        s.hangMs = std::clamp<uint32_t>(hangMs, 1u, 3000u);
        return s;
    }
};

// Fixed-capacity queue of pending AGC sets, guarded by the receiver's
// parameter lock (both sides hold it). When full, the newest entry is
// replaced: only the last set survives the drain anyway.
class AgcQueue {
public:
    static constexpr int kCapacity = 16;

    void push(const AgcSettings& s)
    {
        if (m_count == kCapacity)
            m_entries[kCapacity - 1] = s;
        else
            m_entries[m_count++] = s;
    }

    template <typename Apply>
    void drain(Apply&& apply)
    {
        for (int i = 0; i < m_count; ++i)
            apply(m_entries[i].clamped());
        m_count = 0;
    }

    int size() const { return m_count; }

private:
    std::array<AgcSettings, kCapacity> m_entries{};
    int m_count = 0;
};
