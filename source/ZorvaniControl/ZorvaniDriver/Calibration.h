#pragma once

#include <QByteArray>

// The plug-in's factory calibration record. Only the eight coefficients and
// the percentage travel to the receiver.
struct RootCoefficient {
    double reserved0[8] = {};
    double coefficients[8] = {}; // indices 8..15 of the record
    double reserved16[4] = {};
    double percent = 0.0; // frequency correction, percent
};
static_assert(sizeof(RootCoefficient) == 168, "the root record is 168 bytes");

// The plug-in's user calibration record; only the percentage travels.
struct UserCoefficient {
    double reserved0[6] = {};
    double percent = 0.0; // frequency coefficient, percent
};

namespace zorvani::calibration {

// Payload bytes of a calibration block after the 18-byte header.
inline constexpr int kPayloadSize = 76;

// Fills the 76 payload bytes of `datagram` (offsets 18..93): CRC complement,
// eight coefficients (zero when `coefficients` is null) and 1 + percent / 100.
void writeBlock(QByteArray& datagram, const double* coefficients, double percent);

// Checks a reply's block; on a valid CRC fills `coefficients` (when not null)
// and `percent` and returns true. A reply too short to hold a block is invalid.
bool readBlock(const QByteArray& datagram, double* coefficients, double* percent);

} // namespace zorvani::calibration
