#pragma once

#include <QString>
#include <QtGlobal>

// The receiver's 36-byte information record, the payload of the information
// reply, little-endian as on the wire.
#pragma pack(push, 1)
struct SDR2_HDR {
    quint16 reserved0;
    quint16 sdrType;       // 2 = ZorvaniDDC
    quint16 versionMajor;  // firmware version, first number
    quint16 versionMinor;  // firmware version, second number
    quint8 reserved8[12];
    quint32 serialDecimal; // decimal part of the serial
    quint8 serialHex[4];   // hexadecimal part: bytes 0 and 1 form the serial's hex digits
    quint32 status;        // status bits
    quint32 pcbRevision;
};
#pragma pack(pop)
static_assert(sizeof(SDR2_HDR) == 36, "the information record is 36 bytes");
using pSDR2_HDR = SDR2_HDR*;

// Status bits of the record.
namespace zorvani::status {
inline constexpr quint32 PllOk = 0x1;
inline constexpr quint32 Pll1Lock = 0x2;
inline constexpr quint32 Pll2Lock = 0x4;
inline constexpr quint32 ExternalReference = 0x8;
inline constexpr quint32 InternalReference = 0x10;
inline constexpr quint32 VcxoStatus = 0x40;
inline constexpr quint32 Pll2FbClock = 0x80;
inline constexpr quint32 Pll2RefClock = 0x100;
inline constexpr quint32 ReferenceInternal = 0x800;
} // namespace zorvani::status

// The serial text the record describes.
QString informationSerial(const SDR2_HDR& record);

// The text of the information box, line by line.
QString informationText(const SDR2_HDR& record);
