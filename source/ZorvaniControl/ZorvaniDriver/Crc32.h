#pragma once

#include <QtGlobal>

// Standard reflected CRC-32 (polynomial 0xEDB88320, initial value all ones,
// final complement), as the receiver checks FPGA chunks, calibration blocks
// and the firmware image.
quint32 crc32(const void* data, qint64 size);
