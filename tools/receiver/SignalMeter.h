#pragma once

#include <QWidget>

// A horizontal level bar with a scale. S units: S1 .. S9 at 6 dB each with S9
// at -73 dB, then +10 .. +60 dB over S9; or a plain dB scale. The bar holds
// its peak for a moment so that short rises stay visible.
class SignalMeter : public QWidget {
    Q_OBJECT
public:
    enum class Scale { SUnits, Decibels };

    SignalMeter(const QString& caption, Scale scale, double lowDb, double highDb, QWidget* parent = nullptr);

    void setValue(double db);
    double value() const { return m_value; }
    // "S9+10", "S7" or "-23 dB".
    QString reading() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int xOf(double db, const QRect& bar) const;

    QString m_caption;
    Scale m_scale;
    double m_low;
    double m_high;
    double m_value;
    double m_peak;
    int m_peakAge = 0; // updates since the peak was set
};
