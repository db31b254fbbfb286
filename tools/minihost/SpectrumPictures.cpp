#include "SpectrumPictures.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// Values at or below the workers' floor carry no signal and stay out of the scales.
constexpr float kFloorDb = -185.0f;

struct DbRange {
    double low = -140.0;
    double high = -20.0;
};

// From a low percentile (the noise floor) to the strongest value.
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

// Largest value of the bins that fall into column x of `columns` (peaks stay visible).
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

// A step of 1, 2 or 5 times a power of ten giving about `wanted` ticks over `span`.
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

// Frequency ticks and labels along the bottom edge of `plot`.
void drawFrequencyAxis(QPainter& p, const QRect& plot, const PanoramaAxis& axis, bool grid)
{
    if (!(axis.spanHz > 0.0))
        return;
    const double low = axis.centreHz - axis.spanHz / 2.0;
    const double step = niceStep(axis.spanHz, 8);
    const int decimals = std::clamp(int(std::ceil(-std::log10(step / 1e6))), 0, 6);
    for (double f = std::ceil(low / step) * step; f <= low + axis.spanHz; f += step) {
        const int x = plot.left() + int(std::lround((f - low) / axis.spanHz * plot.width()));
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

int xOf(const QRect& plot, const PanoramaAxis& axis, double relativeHz)
{
    return plot.left() + int(std::lround((relativeHz / axis.spanHz + 0.5) * plot.width()));
}

void drawPassband(QPainter& p, const QRect& plot, const PanoramaAxis& axis)
{
    if (!(axis.spanHz > 0.0))
        return;
    const int x0 = xOf(plot, axis, axis.passbandLowHz);
    const int x1 = xOf(plot, axis, axis.passbandHighHz);
    p.fillRect(QRect(QPoint(std::min(x0, x1), plot.top()), QPoint(std::max(std::max(x0, x1), std::min(x0, x1) + 1),
                                                                  plot.bottom())),
               QColor(255, 255, 255, 40));
    p.setPen(QColor(255, 60, 60));
    const int centre = xOf(plot, axis, 0.0);
    p.drawLine(centre, plot.top(), centre, plot.bottom());
}

} // namespace

QRect plotArea(QSize size)
{
    return QRect(60, 28, size.width() - 80, size.height() - 28 - 50);
}

namespace {

QImage blankPicture(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(12, 12, 24));
    return image;
}

// Font and title of a picture; returns the plot area.
QRect beginPicture(QPainter& p, QSize size, const QString& title)
{
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    const QRect plot = plotArea(size);
    p.setPen(Qt::white);
    p.drawText(QRect(60, 4, plot.width(), 20), Qt::AlignLeft | Qt::AlignVCenter, title);
    return plot;
}

} // namespace

QImage renderPanorama(const std::vector<float>& line, const PanoramaAxis& axis, QSize size)
{
    QImage image = blankPicture(size);
    QPainter p(&image);
    const QRect plot = beginPicture(p, size,
                                    QStringLiteral("Panorama, centre %1 MHz, span %2 kHz")
                                        .arg(axis.centreHz / 1e6, 0, 'f', 6)
                                        .arg(axis.spanHz / 1e3, 0, 'f', 1));

    const DbRange range = rangeOf(line, 10.0, 10.0, 40.0);
    const double dbStep = niceStep(range.high - range.low, 8);
    for (double db = std::ceil(range.low / dbStep) * dbStep; db <= range.high; db += dbStep) {
        const int y = plot.bottom() - int(std::lround((db - range.low) / (range.high - range.low) * plot.height()));
        p.setPen(QColor(90, 90, 90));
        p.drawLine(plot.left(), y, plot.right(), y);
        p.setPen(Qt::white);
        p.drawText(QRect(0, y - 8, 54, 16), Qt::AlignRight | Qt::AlignVCenter, QString::number(db, 'f', 0));
    }
    p.drawText(QRect(0, 4, 54, 20), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("dB"));
    drawFrequencyAxis(p, plot, axis, true);
    drawPassband(p, plot, axis);

    if (!line.empty()) {
        QPainterPath path;
        for (int x = 0; x < plot.width(); ++x) {
            const double db = std::clamp(columnValue(line.data(), line.size(), x, plot.width()), range.low, range.high);
            const double y = plot.bottom() - (db - range.low) / (range.high - range.low) * plot.height();
            if (x == 0)
                path.moveTo(plot.left(), y);
            else
                path.lineTo(plot.left() + x, y);
        }
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(255, 220, 60), 1.2));
        p.drawPath(path);
    }
    p.setPen(Qt::white);
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);
    return image;
}

// An even capacity keeps the kept frames evenly spaced across each halving.
WaterfallHistory::WaterfallHistory(std::size_t capacity) : m_capacity(std::max<std::size_t>(capacity & ~std::size_t(1), 2))
{
    m_lines.reserve(m_capacity);
}

void WaterfallHistory::add(const float* line, std::size_t count)
{
    if (!line || count == 0)
        return;
    if (m_seen++ % m_stride != 0)
        return;
    if (m_lines.size() == m_capacity) {
        // Line 0 stays where it is (a vector moved onto itself would be emptied).
        for (std::size_t i = 1; 2 * i < m_lines.size(); ++i)
            m_lines[i] = std::move(m_lines[2 * i]);
        m_lines.resize((m_lines.size() + 1) / 2);
        m_stride *= 2;
    }
    m_lines.emplace_back(line, line + count);
}

QImage renderWaterfall(const std::vector<std::vector<float>>& lines, const PanoramaAxis& axis, QSize size)
{
    QImage image = blankPicture(size);
    QPainter p(&image);
    const QRect plot = beginPicture(p, size, QStringLiteral("Waterfall, %1 lines, newest at the top").arg(lines.size()));

    std::vector<float> all;
    for (const auto& line : lines)
        all.insert(all.end(), line.begin(), line.end());
    const DbRange range = rangeOf(all, 3.0, 0.0, 30.0);

    if (!lines.empty()) {
        QImage cells(plot.size(), QImage::Format_RGB32);
        for (int y = 0; y < plot.height(); ++y) {
            // Row 0 is the newest line.
            const std::size_t fromNewest = std::size_t(double(y) * double(lines.size()) / double(plot.height()));
            const std::vector<float>& line = lines[lines.size() - 1 - std::min(fromNewest, lines.size() - 1)];
            auto* row = reinterpret_cast<QRgb*>(cells.scanLine(y));
            for (int x = 0; x < plot.width(); ++x) {
                const double db = line.empty() ? range.low : columnValue(line.data(), line.size(), x, plot.width());
                row[x] = heat((db - range.low) / (range.high - range.low)).rgb();
            }
        }
        p.drawImage(plot.topLeft(), cells);
    }
    drawFrequencyAxis(p, plot, axis, false);
    p.setPen(Qt::white);
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);
    return image;
}
