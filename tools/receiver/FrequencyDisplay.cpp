#include "FrequencyDisplay.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QWheelEvent>

#include <cmath>

FrequencyDisplay::FrequencyDisplay(QWidget* parent) : QLineEdit(parent)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(30);
    font.setBold(true);
    setFont(font);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setToolTip(tr("Wheel over a digit to change it; or type 7.1 (MHz), 7100 (kHz) or 7100000 (Hz) and press Enter"));
    setStyleSheet(QStringLiteral("QLineEdit { background: #0c0c18; color: #7fe0ff; border: 1px solid #334; }"));
    setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("000.000.000  ")));
    connect(this, &QLineEdit::returnPressed, this, [this] {
        double hz = 0.0;
        if (parse(text(), &hz))
            emit frequencyRequested(hz);
        showFrequency();
    });
    showFrequency();
}

QString FrequencyDisplay::format(double hz)
{
    const qint64 value = qint64(std::llround(std::max(0.0, hz)));
    QString digits = QString::number(value);
    for (int i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char('.'));
    return digits;
}

bool FrequencyDisplay::parse(const QString& text, double* hz)
{
    QString t = text.trimmed().toLower().remove(QLatin1Char(' '));
    if (QRegularExpression(QStringLiteral("^\\d{1,3}(\\.\\d{3}){2,}$")).match(t).hasMatch()) {
        *hz = t.remove(QLatin1Char('.')).toDouble();
        return true;
    }
    double scale = 0.0;
    if (t.endsWith(QLatin1Char('m')))
        scale = 1e6;
    else if (t.endsWith(QLatin1Char('k')))
        scale = 1e3;
    else if (t.endsWith(QStringLiteral("hz")))
        scale = 1.0;
    t.remove(QRegularExpression(QStringLiteral("(hz|k|m)$")));
    bool ok = false;
    const double value = t.toDouble(&ok);
    if (!ok || !(value >= 0.0) || !std::isfinite(value))
        return false;
    if (scale == 0.0)
        scale = t.contains(QLatin1Char('.')) ? 1e6 : (value < 100000.0 ? 1e3 : 1.0);
    *hz = value * scale;
    return true;
}

void FrequencyDisplay::setFrequency(double hz)
{
    m_hz = hz;
    if (!hasFocus() || !isModified())
        showFrequency();
}

void FrequencyDisplay::showFrequency()
{
    const int cursor = cursorPosition();
    const int fromEnd = text().size() - cursor;
    setText(format(m_hz));
    setModified(false);
    setCursorPosition(std::max(0, int(text().size()) - fromEnd));
}

double FrequencyDisplay::placeAt(int position) const
{
    const QString t = text();
    if (position >= t.size())
        position = t.size() - 1;
    if (position < 0 || !t.at(position).isDigit())
        return 0.0;
    int digitsAfter = 0;
    for (int i = position + 1; i < t.size(); ++i)
        digitsAfter += t.at(i).isDigit() ? 1 : 0;
    return std::pow(10.0, digitsAfter);
}

void FrequencyDisplay::wheelEvent(QWheelEvent* event)
{
    event->accept();
    m_wheel += event->angleDelta().y();
    const int steps = m_wheel / 120;
    m_wheel -= steps * 120;
    // The digit under the pointer: left or right of the nearest caret position.
    const QPoint at = event->position().toPoint();
    const int caret = cursorPositionAt(at);
    setCursorPosition(caret);
    const double place = placeAt(at.x() < cursorRect().center().x() ? caret - 1 : caret);
    if (steps != 0 && place > 0.0)
        emit frequencyRequested(std::max(0.0, m_hz + steps * place));
}

void FrequencyDisplay::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) && !isModified()) {
        // The digit left of the cursor, as the caret stands after it.
        const double place = placeAt(cursorPosition() - 1);
        if (place > 0.0)
            emit frequencyRequested(std::max(0.0, m_hz + (event->key() == Qt::Key_Up ? place : -place)));
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        showFrequency();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void FrequencyDisplay::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    showFrequency();
}
