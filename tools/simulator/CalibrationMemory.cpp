#include "CalibrationMemory.h"

#include "Protocol.h"
#include "SimulatorData.h"

#include <cstring>

namespace zorvani::sim {

using namespace proto;

QByteArray calibrationBlock(const std::array<double, 8>& coefficients, double percent)
{
    QByteArray block(kCalibrationBytes, '\0');
    const auto putDouble = [&block](int offset, double v) {
        quint64 bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        wr64(block, offset, bits);
    };
    for (int i = 0; i < 8; ++i)
        putDouble(4 + 8 * i, coefficients[size_t(i)]);
    putDouble(68, 1.0 + percent / 100.0);
    wr32(block, 0, ~crc32(block.constData() + 4, kCalibrationBytes - 4));
    return block;
}

void Simulator::setCalibration(const QByteArray& root, const QByteArray& user)
{
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        if (root.size() == kCalibrationBytes)
            m_data->state.rootCalibration = root;
        if (user.size() == kCalibrationBytes)
            m_data->state.userCalibration = user;
    }
    m_data->notify();
}

} // namespace zorvani::sim
