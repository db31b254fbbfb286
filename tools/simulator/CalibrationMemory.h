#pragma once

#include <QByteArray>

#include <array>

// The receiver's calibration memory as tests fill it: blocks built the way
// the receiver stores them, independently of the plug-in's own encoder.
namespace zorvani::sim {

// 76 bytes: the complement of the CRC-32 of the 72 data bytes, then eight
// coefficients and the factor 1 + percent / 100, little-endian doubles.
QByteArray calibrationBlock(const std::array<double, 8>& coefficients, double percent);

} // namespace zorvani::sim
