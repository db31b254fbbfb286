#include "SpectrumDrawing.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace spectrumdraw {

DbRange rangeOf(const std::vector<float>& values, double marginBelow, double marginAbove, double minimumSpan)
{
    std::vector<float> valid;
    valid.reserve(values.size());
    for (float v : values)
        if (std::isfinite(v) && v > kFloorDb)
            valid.push_back(v);
    DbRange range;
    if (valid.empty())
        return range;
    const auto at = valid.begin() + std::ptrdiff_t(valid.size() / 10);
    std::nth_element(valid.begin(), at, valid.end());
    range.low = double(*at) - marginBelow;
    range.high = double(*std::max_element(valid.begin(), valid.end())) + marginAbove;
    if (range.high - range.low < minimumSpan)
        range.high = range.low + minimumSpan;
    return range;
}

double columnValue(const float* line, std::size_t count, int x, int columns)
{
    const std::size_t first = std::size_t(double(x) * double(count) / double(columns));
    std::size_t last = std::size_t(double(x + 1) * double(count) / double(columns));
    last = std::clamp(last, first + 1, count);
    double value = -1e9;
    for (std::size_t i = std::min(first, count - 1); i < last; ++i)
        value = std::max(value, double(line[i]));
    return value;
}

double niceStep(double span, int wanted)
{
    const double raw = span / std::max(wanted, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw)
            return m * power;
    return 10.0 * power;
}

QColor heat(double t)
{
    t = std::clamp(t, 0.0, 1.0);
    // dark blue -> blue -> cyan -> yellow -> red -> white
    static const QColor stops[] = {QColor(0, 0, 32), QColor(0, 0, 200), QColor(0, 200, 220), QColor(240, 230, 0),
                                   QColor(230, 30, 0), QColor(255, 255, 255)};
    constexpr int n = int(sizeof stops / sizeof stops[0]) - 1;
    const double position = t * n;
    const int i = std::min(int(position), n - 1);
    const double f = position - i;
    const QColor& a = stops[i];
    const QColor& b = stops[i + 1];
    return QColor(int(a.red() + f * (b.red() - a.red())), int(a.green() + f * (b.green() - a.green())),
                  int(a.blue() + f * (b.blue() - a.blue())));
}

void drawFrequencyAxis(QPainter& p, const QRect& plot, double centreHz, double spanHz, bool grid)
{
    if (!(spanHz > 0.0))
        return;
    const double low = centreHz - spanHz / 2.0;
    const double step = niceStep(spanHz, 8);
    const int decimals = std::clamp(int(std::ceil(-std::log10(step / 1e6))), 0, 6);
    for (double f = std::ceil(low / step) * step; f <= low + spanHz; f += step) {
        const int x = plot.left() + int(std::lround((f - low) / spanHz * plot.width()));
        p.setPen(QColor(90, 90, 90));
        if (grid)
            p.drawLine(x, plot.top(), x, plot.bottom());
        p.setPen(Qt::white);
        p.drawLine(x, plot.bottom(), x, plot.bottom() + 5);
        const QString label = QString::number(f / 1e6, 'f', decimals);
        p.drawText(QRect(x - 50, plot.bottom() + 6, 100, 16), Qt::AlignHCenter | Qt::AlignTop, label);
    }
    p.drawText(QRect(plot.right() - 60, plot.bottom() + 22, 60, 16), Qt::AlignRight, QStringLiteral("MHz"));
}

} // namespace spectrumdraw
