#pragma once

#include "SpectrumDrawing.h"

#include <QImage>
#include <QVector>
#include <QWidget>

#include <vector>

// A receiver's panorama (top) and waterfall (below) drawn from the plug-in's
// spectrum lines, with a frequency axis, the channel's passband shaded and its
// frequency marked. Bin i of an N-bin line lies at centre + (i - N/2) * span / N.
// A click asks to tune there, dragging inside the passband moves the channel,
// dragging an edge moves that filter edge, the wheel (or the arrow keys) steps
// the frequency and Ctrl+wheel (or + and -) zooms into the span around the
// channel. Frequencies in Hz.
class PanoramaView : public QWidget {
    Q_OBJECT
public:
    static constexpr QRgb kTraceColour = 0xFFFFDC3C; // the panorama line, drawn without smoothing
    static constexpr int kMaxZoom = 16;

    explicit PanoramaView(QWidget* parent = nullptr);

    void setTitle(const QString& title);
    void setAxis(double centreHz, double spanHz);
    // The channel at centre + offsetHz with its passband lowHz .. highHz around it.
    void setChannel(double offsetHz, double lowHz, double highHz);
    void setChannelVisible(bool visible);
    void setSubChannel(bool on, double offsetHz);
    // 1, 2, 4, ... kMaxZoom: the visible span is span / factor around the channel.
    void setZoom(int factor);
    int zoom() const { return m_zoom; }

    // A new frame: both lines of `count` values in dB.
    void addLine(const float* panorama, const float* waterfall, int count);
    quint64 frames() const { return m_frames; }

    // Where things are drawn, and the frequency under a column.
    QRect panoramaRect() const;
    QRect waterfallRect() const;
    int xOf(double hz) const;
    double frequencyAt(int x) const;

signals:
    void tuneRequested(double hz);
    void stepRequested(int steps);
    // The low or high passband edge dragged to edgeHz (relative to the channel).
    void filterEdgeDragged(bool high, double edgeHz);
    void zoomChanged(int factor);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Drag { None, Click, Channel, LowEdge, HighEdge };

    double visibleCentre() const;
    double visibleSpan() const { return m_span / m_zoom; }
    double channelHz() const { return m_centre + m_offset; }
    // The bins of a line of `count` that the visible span covers.
    void visibleBins(int count, int* first, int* bins) const;
    Drag dragAt(int x) const;
    void addWaterfallRow(const float* line, int count);
    void clearWaterfall();
    void paintPanorama(QPainter& p, const QRect& plot);
    void paintChannel(QPainter& p, const QRect& plot, int alpha);

    QString m_title;
    double m_centre = 0.0;
    double m_span = 0.0;
    double m_offset = 0.0;
    double m_low = 0.0;
    double m_high = 0.0;
    bool m_channelVisible = true;
    bool m_sub = false;
    double m_subOffset = 0.0;
    int m_zoom = 1;

    std::vector<float> m_panorama;
    spectrumdraw::DbRange m_range;
    bool m_rangeSet = false;
    QImage m_waterfall;
    QVector<QRgb> m_palette;
    quint64 m_frames = 0;

    Drag m_drag = Drag::None;
    int m_pressX = 0;
    double m_grabHz = 0.0; // where in the passband the channel was taken
    int m_wheel = 0;       // eighths of a degree not yet turned into steps
};
