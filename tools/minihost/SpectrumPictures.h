#pragma once

#include <QImage>
#include <QRect>
#include <QSize>

#include <cstddef>
#include <vector>

// Pictures of a receiver's panorama: the last line as a plot and the lines
// collected over a run as a waterfall. Bin i of an N-bin line lies at
// centre + (i - N/2) * span / N.
struct PanoramaAxis {
    double centreHz = 0.0;
    double spanHz = 0.0;
    double passbandLowHz = 0.0;  // receiver filter, relative to the centre
    double passbandHighHz = 0.0;
};

constexpr QSize kPanoramaPictureSize(1200, 500);
constexpr QSize kWaterfallPictureSize(1200, 400);

// Where the plot (or the waterfall's cells) lies in a picture of `size`;
// the frequency axis runs from left (lowest) to right across its width.
QRect plotArea(QSize size);

// The line in dB as a plot with a frequency axis (MHz), a dB grid, the tuned
// frequency and the filter's passband.
QImage renderPanorama(const std::vector<float>& line, const PanoramaAxis& axis, QSize size = kPanoramaPictureSize);

// Keeps a run's waterfall lines within a bounded count: when full, every
// second line is dropped and later lines are taken at half the rate, so the
// picture always covers the whole run.
class WaterfallHistory {
public:
    explicit WaterfallHistory(std::size_t capacity = std::size_t(kWaterfallPictureSize.height()));
    void add(const float* line, std::size_t count);
    const std::vector<std::vector<float>>& lines() const { return m_lines; }
    std::size_t framesSeen() const { return m_seen; }

private:
    std::size_t m_capacity;
    std::size_t m_stride = 1;
    std::size_t m_seen = 0;
    std::vector<std::vector<float>> m_lines;
};

// Oldest line at the bottom, newest at the top, colours from the noise floor
// (dark blue) to the strongest signal (red, then white).
QImage renderWaterfall(const std::vector<std::vector<float>>& lines, const PanoramaAxis& axis,
                       QSize size = kWaterfallPictureSize);
