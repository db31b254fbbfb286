#include "SpectrumPictures.h"

#include "SpectrumDrawing.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

using namespace spectrumdraw;

namespace {

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
    drawFrequencyAxis(p, plot, axis.centreHz, axis.spanHz, true);
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
    drawFrequencyAxis(p, plot, axis.centreHz, axis.spanHz, false);
    p.setPen(Qt::white);
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);
    return image;
}
