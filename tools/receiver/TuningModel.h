#pragma once

// Where one receiver listens: its centre frequency (what the receiver is
// tuned to, the middle of its spectrum) plus the channel's offset within the
// span. Tuning inside the usable span moves the channel; beyond it the centre
// follows. With the centre locked (a recording, whose band is fixed) the
// channel stays within the span instead. Frequencies in Hz.
class TuningModel {
public:
    struct Change {
        bool centre = false;
        bool offset = false;
        bool any() const { return centre || offset; }
    };

    // Width of the spectrum in Hz (> 0); the channel keeps 5 % of it from each edge.
    void setSpan(double hz);
    double span() const { return m_span; }
    // Lowest and highest frequency the receiver can tune.
    void setRange(double lowHz, double highHz);
    void setCentreLocked(bool locked) { m_locked = locked; }
    bool centreLocked() const { return m_locked; }

    double centre() const { return m_centre; }
    double offset() const { return m_offset; }
    double frequency() const { return m_centre + m_offset; }

    // The channel to hz (held within the range).
    Change tuneTo(double hz);
    // The channel `steps` steps of stepHz up or down, on the step's grid.
    Change step(int steps, double stepHz);
    // The centre to hz with the channel on it (unless locked).
    Change setCentre(double hz);
    // The channel back into the span after the span shrank.
    Change keepInSpan();

private:
    double reach() const { return m_span * 0.45; }
    Change place(double centre, double offset);

    double m_span = 312500.0;
    double m_low = 0.0;
    double m_high = 800000000.0;
    double m_centre = 7100000.0;
    double m_offset = 0.0;
    bool m_locked = false;
};
