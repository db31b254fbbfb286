#include "SignalMeter.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kS9 = -73.0;
constexpr double kSUnit = 6.0;
constexpr int kPeakHold = 15; // updates
constexpr int kReadingWidth = 150;
constexpr int kLabelSpacing = 34; // pixels a scale label needs

QString sText(double db)
{
    if (db > kS9 + 0.5)
        return QStringLiteral("S9+%1").arg(int(std::lround(db - kS9)));
    return QStringLiteral("S%1").arg(std::clamp(int(std::floor((db - kS9) / kSUnit)) + 9, 0, 9));
}

} // namespace

SignalMeter::SignalMeter(const QString& caption, Scale scale, double lowDb, double highDb, QWidget* parent)
    : QWidget(parent), m_caption(caption), m_scale(scale), m_low(lowDb), m_high(highDb), m_value(lowDb), m_peak(lowDb)
{
    setMinimumSize(380, 36);
}

QSize SignalMeter::sizeHint() const
{
    return QSize(440, 36);
}

void SignalMeter::setValue(double db)
{
    if (!std::isfinite(db))
        return;
    m_value = db;
    if (db >= m_peak || ++m_peakAge > kPeakHold) {
        m_peak = db;
        m_peakAge = 0;
    }
    update();
}

QString SignalMeter::reading() const
{
    if (m_scale == Scale::SUnits)
        return QStringLiteral("%1  %2 dBm").arg(sText(m_value)).arg(m_value, 0, 'f', 1);
    return QStringLiteral("%1 dB").arg(m_value, 0, 'f', 1);
}

int SignalMeter::xOf(double db, const QRect& bar) const
{
    const double t = std::clamp((db - m_low) / (m_high - m_low), 0.0, 1.0);
    return bar.left() + int(std::lround(t * bar.width()));
}

void SignalMeter::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(20, 20, 30));
    QFont font = p.font();
    font.setPixelSize(10);
    p.setFont(font);
    const QRect bar(48, 4, width() - 48 - kReadingWidth, 12);
    p.setPen(QColor(200, 200, 210));
    p.drawText(QRect(2, 0, 46, 20), Qt::AlignLeft | Qt::AlignVCenter, m_caption);

    p.fillRect(bar, QColor(40, 40, 55));
    const int x = xOf(m_value, bar);
    const int split = m_scale == Scale::SUnits ? xOf(kS9, bar) : bar.right() + 1;
    p.fillRect(QRect(QPoint(bar.left(), bar.top()), QPoint(std::min(x, split) - 1, bar.bottom())), QColor(60, 200, 90));
    if (x > split)
        p.fillRect(QRect(QPoint(split, bar.top()), QPoint(x - 1, bar.bottom())), QColor(230, 70, 50));
    p.setPen(QColor(255, 255, 255));
    const int peak = xOf(m_peak, bar);
    p.drawLine(peak, bar.top(), peak, bar.bottom());

    // Scale under the bar.
    p.setPen(QColor(170, 170, 180));
    auto tick = [&](double db, const QString& label) {
        const int tx = xOf(db, bar);
        p.drawLine(tx, bar.bottom() + 1, tx, bar.bottom() + 4);
        p.drawText(QRect(tx - 20, bar.bottom() + 4, 40, 14), Qt::AlignHCenter | Qt::AlignTop, label);
    };
    // As many labels as fit: every second, third ... one when the bar is short.
    const double pixelsPerDb = bar.width() / (m_high - m_low);
    if (m_scale == Scale::SUnits) {
        const int every = std::max(1, int(std::ceil(kLabelSpacing / (kSUnit * pixelsPerDb))));
        for (int s = 1; s <= 9; s += every)
            tick(kS9 - (9 - s) * kSUnit, QString::number(s));
        const int overStep = 20 * std::max(1, int(std::ceil(kLabelSpacing / (20.0 * pixelsPerDb))));
        for (int over = overStep; kS9 + over <= m_high; over += overStep)
            tick(kS9 + over, QStringLiteral("+%1").arg(over));
    } else {
        const double step = 20.0 * std::max(1, int(std::ceil(kLabelSpacing / (20.0 * pixelsPerDb))));
        for (double db = std::ceil(m_low / step) * step; db <= m_high; db += step)
            tick(db, QString::number(db, 'f', 0));
    }
    font.setPixelSize(12);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(127, 224, 255));
    p.drawText(QRect(width() - kReadingWidth, 0, kReadingWidth - 4, height()), Qt::AlignRight | Qt::AlignVCenter,
               reading());
}
