#pragma once

#include <QObject>

#include <array>

class AmateurRegion;
class QCheckBox;
class QWidget;

// The receiver's seven external control outputs: which outputs are on in each
// amateur band, chosen on the options' "Ext Ctrl" page. When the receiver is
// tuned into another band the band's 7-bit pattern is emitted.
class ExtCtrlZorvani : public QObject {
    Q_OBJECT
public:
    static constexpr int kBandCount = 14; // band ids 0..13; 13 is "GEN" (no amateur band)
    static constexpr int kBits = 7;

    // Finds "chbExtCtrlEnable" and the boxes "chbExtCtrlRx<band>_<bit>" in the
    // form (none without a form) and follows them; the band plan decides which
    // band a frequency is in.
    ExtCtrlZorvani(QWidget* form, const AmateurRegion* region, QObject* parent = nullptr);

    // Bit i set when box i of band's row is checked; 0 for the 11M row (it has
    // no boxes) and for ids above 13.
    uint pattern(int band) const;
    // What the outputs should show now: the current band's pattern, 0 when disabled.
    uint currentValue() const;
    int currentBand() const { return m_band; }
    bool isEnabled() const { return m_enabled; }

    // Tuning of receiver 0 and its channel-0 offset (Hz). The band of
    // frequency + offset is looked up only when enabled and something changed;
    // a new band emits its pattern.
    void setFrequency(double hz);
    void setOffset(double hz);

public slots:
    void changedEnable(bool on);
    void changed160M(bool);
    void changed80M(bool);
    void changed60M(bool);
    void changed40M(bool);
    void changed30M(bool);
    void changed20M(bool);
    void changed17M(bool);
    void changed15M(bool);
    void changed12M(bool);
    void changed10M(bool);
    void changed6M(bool);
    void changed2M(bool);
    void changedGEN(bool);

signals:
    void valueChanged(uint value);

private:
    void rowChanged(int band);
    void updateBand();

    const AmateurRegion* m_region;
    std::array<std::array<QCheckBox*, kBits>, kBandCount> m_boxes{};
    bool m_enabled = false;
    int m_band = 13;
    double m_frequency = 0.0;
    double m_offset = 0.0;
};
