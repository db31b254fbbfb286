#pragma once

#include <QLineEdit>

// The tuned frequency in large digits, grouped as MHz.kHz.Hz ("7.100.000").
// The wheel over a digit (or Up and Down with the cursor beside it) changes
// that digit; typing a frequency and Enter tunes there (Escape gives up).
class FrequencyDisplay : public QLineEdit {
    Q_OBJECT
public:
    explicit FrequencyDisplay(QWidget* parent = nullptr);

    void setFrequency(double hz);
    double frequency() const { return m_hz; }

    static QString format(double hz);
    // "7.100.000" (grouped hertz), "7.1" or "7.1M" (MHz), "7100" or "7100k" (kHz
    // below 100000 without a unit), "7100000" (Hz); false when it is none of them.
    static bool parse(const QString& text, double* hz);

signals:
    void frequencyRequested(double hz);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // The place value (1, 10, 100, ...) of the digit at text position `position`.
    double placeAt(int position) const;
    void showFrequency();

    double m_hz = 0.0;
    int m_wheel = 0;
};
