#include "ZorvaniControl/ZorvaniDriver/Calibration.h"

#include "ZorvaniControl/ZorvaniDriver/Crc32.h"
#include "ZorvaniControl/ZorvaniDriver/Packet.h"

namespace zorvani::calibration {
namespace {
constexpr int kOffCrc = 18;
constexpr int kOffCoefficients = 22;
constexpr int kOffFactor = 86;
constexpr int kCoveredSize = 72; // bytes 22..93
constexpr int kCoefficients = 8;

quint32 blockCrc(const char* datagram)
{
    return ~crc32(datagram + kOffCoefficients, kCoveredSize);
}

double getDouble(const char* p)
{
    return qFromLittleEndian<double>(p);
}
} // namespace

void writeBlock(QByteArray& datagram, const double* coefficients, double percent)
{
    for (int i = 0; i < kCoefficients; ++i)
        packet::put<double>(datagram, kOffCoefficients + 8 * i, coefficients ? coefficients[i] : 0.0);
    packet::put<double>(datagram, kOffFactor, 1.0 + percent / 100.0);
    packet::put<quint32>(datagram, kOffCrc, blockCrc(datagram.constData()));
}

bool readBlock(const QByteArray& datagram, double* coefficients, double* percent)
{
    if (datagram.size() < packet::kHeaderSize + kPayloadSize)
        return false;
    const char* d = datagram.constData();
    if (blockCrc(d) != packet::get<quint32>(d, kOffCrc))
        return false;
    if (coefficients)
        for (int i = 0; i < kCoefficients; ++i)
            coefficients[i] = getDouble(d + kOffCoefficients + 8 * i);
    *percent = (getDouble(d + kOffFactor) - 1.0) * 100.0;
    return true;
}

} // namespace zorvani::calibration
