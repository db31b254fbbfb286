#pragma once

#include <QColor>
#include <QRect>

#include <cstddef>
#include <vector>

class QPainter;

// Drawing helpers shared by the minimal host's pictures and the receiver
// window: dB scaling of spectrum lines, columns of bins, the heat palette and
// the frequency axis.
namespace spectrumdraw {

// Values at or below the spectrum workers' floor carry no signal and stay out of the scales.
constexpr float kFloorDb = -185.0f;

struct DbRange {
    double low = -140.0;
    double high = -20.0;
};

// From a low percentile (the noise floor) minus marginBelow to the strongest
// value plus marginAbove, at least minimumSpan dB wide.
DbRange rangeOf(const std::vector<float>& values, double marginBelow, double marginAbove, double minimumSpan);

// Largest value of the bins that fall into column x of `columns` (peaks stay visible).
double columnValue(const float* line, std::size_t count, int x, int columns);

// A step of 1, 2 or 5 times a power of ten giving about `wanted` ticks over `span`.
double niceStep(double span, int wanted);

// t in 0..1: dark blue, blue, cyan, yellow, red, white.
QColor heat(double t);

// Frequency ticks and labels (MHz) along the bottom edge of `plot`, which
// shows centreHz +- spanHz / 2 from left to right; grid lines across it when asked.
void drawFrequencyAxis(QPainter& p, const QRect& plot, double centreHz, double spanHz, bool grid);

} // namespace spectrumdraw
