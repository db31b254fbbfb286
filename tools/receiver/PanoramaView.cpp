#include "PanoramaView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace spectrumdraw;

namespace {

constexpr int kLeft = 44;          // dB labels
constexpr int kRight = 8;
constexpr int kTop = 20;           // title
constexpr int kAxis = 38;          // frequency labels under the panorama
constexpr double kPanoramaShare = 0.45;
constexpr int kEdgeGrip = 4;       // pixels around a passband edge that take it
constexpr double kRangeSmoothing = 0.15;

} // namespace

PanoramaView::PanoramaView(QWidget* parent) : QWidget(parent), m_palette(256)
{
    for (int i = 0; i < m_palette.size(); ++i)
        m_palette[i] = heat(double(i) / double(m_palette.size() - 1)).rgb();
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 240);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PanoramaView::setTitle(const QString& title)
{
    m_title = title;
    update();
}

void PanoramaView::setAxis(double centreHz, double spanHz)
{
    if (centreHz == m_centre && spanHz == m_span)
        return;
    m_centre = centreHz;
    m_span = spanHz;
    clearWaterfall();
    update();
}

void PanoramaView::setChannel(double offsetHz, double lowHz, double highHz)
{
    const bool moved = offsetHz != m_offset;
    m_offset = offsetHz;
    m_low = lowHz;
    m_high = highHz;
    // A zoomed view follows the channel; its history no longer fits.
    if (moved && m_zoom > 1)
        clearWaterfall();
    update();
}

void PanoramaView::setChannelVisible(bool visible)
{
    m_channelVisible = visible;
    update();
}

void PanoramaView::setSubChannel(bool on, double offsetHz)
{
    m_sub = on;
    m_subOffset = offsetHz;
    update();
}

void PanoramaView::setZoom(int factor)
{
    int zoom = 1;
    while (zoom < factor && zoom < kMaxZoom)
        zoom *= 2;
    if (zoom == m_zoom)
        return;
    m_zoom = zoom;
    clearWaterfall();
    update();
    emit zoomChanged(m_zoom);
}

QRect PanoramaView::panoramaRect() const
{
    const int height = int((this->height() - kTop - kAxis) * kPanoramaShare);
    return QRect(kLeft, kTop, std::max(1, width() - kLeft - kRight), std::max(1, height));
}

QRect PanoramaView::waterfallRect() const
{
    const QRect panorama = panoramaRect();
    const int top = panorama.bottom() + 1 + kAxis;
    return QRect(panorama.left(), top, panorama.width(), std::max(1, height() - top - 2));
}

double PanoramaView::visibleCentre() const
{
    if (m_zoom == 1)
        return m_centre;
    const double room = (m_span - visibleSpan()) / 2.0;
    return m_centre + std::clamp(m_offset, -room, room);
}

int PanoramaView::xOf(double hz) const
{
    const QRect plot = panoramaRect();
    if (!(m_span > 0.0))
        return plot.center().x();
    const double low = visibleCentre() - visibleSpan() / 2.0;
    return plot.left() + int(std::floor((hz - low) / visibleSpan() * plot.width()));
}

double PanoramaView::frequencyAt(int x) const
{
    const QRect plot = panoramaRect();
    const double low = visibleCentre() - visibleSpan() / 2.0;
    return low + (double(x - plot.left()) + 0.5) / plot.width() * visibleSpan();
}

void PanoramaView::visibleBins(int count, int* first, int* bins) const
{
    *bins = std::max(1, count / m_zoom);
    const double low = visibleCentre() - visibleSpan() / 2.0 - (m_centre - m_span / 2.0);
    *first = std::clamp(int(std::lround(low / m_span * count)), 0, count - *bins);
}

void PanoramaView::addLine(const float* panorama, const float* waterfall, int count)
{
    if (!panorama || count <= 0)
        return;
    ++m_frames;
    m_panorama.assign(panorama, panorama + count);
    const DbRange range = rangeOf(m_panorama, 10.0, 10.0, 50.0);
    if (!m_rangeSet) {
        m_range = range;
        m_rangeSet = true;
    } else {
        m_range.low += kRangeSmoothing * (range.low - m_range.low);
        m_range.high += kRangeSmoothing * (range.high - m_range.high);
    }
    addWaterfallRow(waterfall ? waterfall : panorama, count);
    update();
}

void PanoramaView::clearWaterfall()
{
    const QRect cells = waterfallRect();
    m_waterfall = QImage(cells.size(), QImage::Format_RGB32);
    m_waterfall.fill(m_palette.front());
}

void PanoramaView::addWaterfallRow(const float* line, int count)
{
    if (m_waterfall.size() != waterfallRect().size())
        clearWaterfall();
    const int width = m_waterfall.width();
    const int rows = m_waterfall.height();
    // Newest at the top: everything moves down one row.
    if (rows > 1)
        std::memmove(m_waterfall.scanLine(1), m_waterfall.scanLine(0), size_t(m_waterfall.bytesPerLine()) * (rows - 1));
    int first = 0;
    int bins = 0;
    visibleBins(count, &first, &bins);
    // From a little above the noise floor to somewhat below the strongest signal.
    const double low = m_range.low + 7.0;
    const double high = std::max(low + 20.0, m_range.high - 10.0);
    auto* row = reinterpret_cast<QRgb*>(m_waterfall.scanLine(0));
    const int last = m_palette.size() - 1;
    for (int x = 0; x < width; ++x) {
        const double db = columnValue(line + first, size_t(bins), x, width);
        row[x] = m_palette[std::clamp(int((db - low) / (high - low) * last), 0, last)];
    }
}

void PanoramaView::resizeEvent(QResizeEvent*)
{
    clearWaterfall();
}

void PanoramaView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(12, 12, 24));
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);

    const QRect plot = panoramaRect();
    const QRect cells = waterfallRect();
    p.setPen(Qt::white);
    p.drawText(QRect(kLeft, 2, plot.width(), kTop - 4), Qt::AlignLeft | Qt::AlignVCenter, m_title);
    if (m_zoom > 1)
        p.drawText(QRect(kLeft, 2, plot.width(), kTop - 4), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("zoom x%1").arg(m_zoom));

    paintPanorama(p, plot);
    if (!m_waterfall.isNull())
        p.drawImage(cells.topLeft(), m_waterfall);
    paintChannel(p, plot, 50);
    paintChannel(p, cells, 25);
    p.setPen(QColor(160, 160, 170));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    p.drawRect(cells.adjusted(0, 0, -1, -1));
}

void PanoramaView::paintPanorama(QPainter& p, const QRect& plot)
{
    const double low = m_range.low;
    const double high = m_range.high;
    const double dbStep = niceStep(high - low, 6);
    for (double db = std::ceil(low / dbStep) * dbStep; db <= high; db += dbStep) {
        const int y = plot.bottom() - int(std::lround((db - low) / (high - low) * plot.height()));
        p.setPen(QColor(60, 60, 70));
        p.drawLine(plot.left(), y, plot.right(), y);
        p.setPen(QColor(200, 200, 200));
        p.drawText(QRect(0, y - 8, kLeft - 4, 16), Qt::AlignRight | Qt::AlignVCenter, QString::number(db, 'f', 0));
    }
    p.save();
    p.setClipRect(plot.adjusted(0, 0, 0, kAxis));
    drawFrequencyAxis(p, plot, visibleCentre(), visibleSpan(), true);
    p.restore();

    if (m_panorama.empty())
        return;
    int first = 0;
    int bins = 0;
    visibleBins(int(m_panorama.size()), &first, &bins);
    QPolygon trace(plot.width());
    for (int x = 0; x < plot.width(); ++x) {
        const double db = std::clamp(columnValue(m_panorama.data() + first, size_t(bins), x, plot.width()), low, high);
        trace[x] = QPoint(plot.left() + x, plot.bottom() - int(std::lround((db - low) / (high - low) * plot.height())));
    }
    QPolygon area = trace;
    area << QPoint(plot.right(), plot.bottom()) << QPoint(plot.left(), plot.bottom());
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 220, 60, 40));
    p.drawPolygon(area);
    p.setPen(QColor::fromRgb(kTraceColour));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(trace);
}

void PanoramaView::paintChannel(QPainter& p, const QRect& plot, int alpha)
{
    if (!m_channelVisible || !(m_span > 0.0))
        return;
    p.save();
    p.setClipRect(plot);
    const int x0 = xOf(channelHz() + m_low);
    const int x1 = xOf(channelHz() + m_high);
    p.fillRect(QRect(QPoint(std::min(x0, x1), plot.top()), QPoint(std::max(x0, x1), plot.bottom())),
               QColor(255, 255, 255, alpha));
    p.setPen(QColor(255, 60, 60));
    const int x = xOf(channelHz());
    p.drawLine(x, plot.top(), x, plot.bottom());
    if (m_sub) {
        p.setPen(QPen(QColor(60, 220, 120), 1, Qt::DashLine));
        const int xs = xOf(channelHz() + m_subOffset);
        p.drawLine(xs, plot.top(), xs, plot.bottom());
    }
    p.restore();
}

PanoramaView::Drag PanoramaView::dragAt(int x) const
{
    if (!m_channelVisible)
        return Drag::Click;
    const int low = xOf(channelHz() + m_low);
    const int high = xOf(channelHz() + m_high);
    if (std::abs(x - high) <= kEdgeGrip && high != low)
        return Drag::HighEdge;
    if (std::abs(x - low) <= kEdgeGrip)
        return Drag::LowEdge;
    if (x > std::min(low, high) && x < std::max(low, high))
        return Drag::Channel;
    return Drag::Click;
}

void PanoramaView::mousePressEvent(QMouseEvent* event)
{
    const QRect plot = panoramaRect();
    if (event->button() != Qt::LeftButton || !(m_span > 0.0) || event->pos().x() < plot.left() ||
        event->pos().x() > plot.right())
        return;
    m_drag = dragAt(event->pos().x());
    m_pressX = event->pos().x();
    m_grabHz = frequencyAt(event->pos().x()) - channelHz();
}

void PanoramaView::mouseMoveEvent(QMouseEvent* event)
{
    const int x = event->pos().x();
    switch (m_drag) {
    case Drag::None: {
        const Drag over = dragAt(x);
        setCursor(over == Drag::LowEdge || over == Drag::HighEdge ? Qt::SizeHorCursor
                  : over == Drag::Channel                         ? Qt::OpenHandCursor
                                                                  : Qt::CrossCursor);
        break;
    }
    case Drag::LowEdge:
    case Drag::HighEdge:
        emit filterEdgeDragged(m_drag == Drag::HighEdge, frequencyAt(x) - channelHz());
        break;
    case Drag::Channel:
        if (std::abs(x - m_pressX) > 2)
            emit tuneRequested(frequencyAt(x) - m_grabHz);
        break;
    case Drag::Click:
        break;
    }
}

void PanoramaView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_drag == Drag::None)
        return;
    const bool click = m_drag == Drag::Click || (m_drag == Drag::Channel && std::abs(event->pos().x() - m_pressX) <= 2);
    m_drag = Drag::None;
    if (click)
        emit tuneRequested(frequencyAt(event->pos().x()));
}

void PanoramaView::wheelEvent(QWheelEvent* event)
{
    m_wheel += event->angleDelta().y();
    const int steps = m_wheel / 120;
    m_wheel -= steps * 120;
    event->accept();
    if (steps == 0)
        return;
    if (event->modifiers() & Qt::ControlModifier)
        setZoom(steps > 0 ? m_zoom * 2 : std::max(1, m_zoom / 2));
    else
        emit stepRequested(steps);
}

void PanoramaView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Up:
        emit stepRequested(1);
        break;
    case Qt::Key_Left:
    case Qt::Key_Down:
        emit stepRequested(-1);
        break;
    case Qt::Key_PageUp:
        emit stepRequested(10);
        break;
    case Qt::Key_PageDown:
        emit stepRequested(-10);
        break;
    case Qt::Key_Plus:
        setZoom(m_zoom * 2);
        break;
    case Qt::Key_Minus:
        setZoom(std::max(1, m_zoom / 2));
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}
