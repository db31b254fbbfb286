#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <cstdint>

// Wire constants and little-endian helpers of the receiver's UDP protocol.
namespace zorvani::sim::proto {

inline constexpr quint16 kMagicApp = 0xFF12;
inline constexpr quint16 kMagicBoot = 0xFF11;
inline constexpr int kHeaderBytes = 18;

// Byte offsets of the request/reply header; the payload follows it.
inline constexpr int kOffMagic = 0;
inline constexpr int kOffCommand = 2;
inline constexpr int kOffLength = 4;
inline constexpr int kOffParam = 6;
inline constexpr int kOffStatus = 10;
inline constexpr int kOffCrc = 14;
inline constexpr int kOffPayload = kHeaderBytes;

inline constexpr quint16 kDiscoveryRequest = 0x1A00;
inline constexpr quint16 kDiscoveryReply = 0x1A01;
inline constexpr int kDiscoveryRequestBytes = 24;
inline constexpr int kDiscoveryReplyBytes = 22;

// Discovery datagrams: the request's checksum word; the reply's serial
// (decimal, then its two hexadecimal bytes), IPv4 address (big-endian), port
// and mode (1 application, 0 bootloader).
inline constexpr int kOffDiscoveryChecksum = 22;
inline constexpr int kOffDiscoverySerial = 4;
inline constexpr int kOffDiscoverySerialHex = 8;
inline constexpr int kOffDiscoveryAddress = 10;
inline constexpr int kOffDiscoveryPort = 18;
inline constexpr int kOffDiscoveryMode = 20;

// IQ packets, their answers and band-scope fragments: magic, marker, length,
// sequence (the fragment's index for the band scope), then the samples.
inline constexpr quint16 kIqMark = 0xFFFE;
inline constexpr quint16 kBandScopeMark = 0xFFFC;
inline constexpr int kOffSequence = 6;
inline constexpr int kOffChannel = 9; // IQ packets: the receiver's number
inline constexpr int kOffSamples = 10;
inline constexpr int kIqSamples = 200;
inline constexpr int kIqPacketBytes = kOffSamples + kIqSamples * 6;  // 1210
inline constexpr int kIqAckBytes = 10;
inline constexpr int kBandScopeSamples = 256;
inline constexpr int kBandScopeFragments = 16;
inline constexpr int kBandScopeBytes = kOffSamples + kBandScopeSamples * 4; // 1034

// Application command codes.
enum AppCommand : quint16 {
    CmdStart = 1, CmdStop = 2, CmdPreamp = 5, CmdExtCtrl = 7, CmdFreq = 8, CmdFpga = 10,
    CmdWriteRootCal = 13, CmdReadRootCal = 14, CmdWriteUserCal = 15, CmdReadUserCal = 16,
    CmdStaticAddress = 18, CmdWriteDataFlash = 19, CmdInformation = 26, CmdLpf = 27,
    CmdGoToBoot = 28, CmdPll = 29, CmdBandScope = 34, CmdNetworkMode = 39, CmdReset = 40,
    CmdFrontEnd = 41,
};

// Bootloader command codes (magic 0xFF11).
enum BootCommand : quint16 {
    BootErase = 1, BootWriteFlash = 2, BootWriteDataFlash = 3, BootReadSerial = 5, BootQuit = 6,
    BootReadDataFlash = 0x1780,
};

// The start request's payload: eight rate parameters, then the number of
// receivers and the rate index, twice.
inline constexpr int kOffStartRateParams = kOffPayload;
inline constexpr int kOffStartReceivers = kOffPayload + 36;
inline constexpr int kOffStartRate = kOffPayload + 38;
inline constexpr int kOffStartRateAgain = kOffPayload + 40;
// The information record: receiver type, firmware version, serial (decimal,
// then its two hexadecimal bytes), status bits, board revision.
inline constexpr int kOffInfoType = 2;
inline constexpr int kOffInfoVersionMajor = 4;
inline constexpr int kOffInfoVersionMinor = 6;
inline constexpr int kOffInfoSerial = 20;
inline constexpr int kOffInfoSerialHex = 24;
inline constexpr int kOffInfoStatus = 28;
inline constexpr int kOffInfoPcb = 32;

inline constexpr int kStartBytes = 68;
inline constexpr int kCalibrationBytes = 76;     // CRC word + 72 data bytes
inline constexpr int kInformationBytes = 36;
inline constexpr int kFpgaChunkMax = 1024;
inline constexpr int kDataFlashPageBytes = 1056;
inline constexpr int kDataFlashPages = 8192;
inline constexpr int kFlashBytes = 458752;       // 448 chunks of 1024
inline constexpr int kFlashChunkBytes = 1024;
inline constexpr int kBootQuitBytes = 1218;

// The eight rate parameters the start block carries for each rate index.
inline constexpr std::array<std::array<quint32, 8>, 4> kRateParams = {{
    {8, 8, 4, 3, 2, 2, 2, 2},
    {5, 4, 4, 3, 2, 2, 2, 1},
    {5, 4, 4, 3, 2, 1, 1, 1},
    {20, 20, 20, 10, 10, 10, 10, 10},
}};

inline quint16 rd16(const QByteArray& d, int off)
{
    return quint16(quint8(d[off]) | quint8(d[off + 1]) << 8);
}
inline quint32 rd32(const QByteArray& d, int off)
{
    return quint32(rd16(d, off)) | quint32(rd16(d, off + 2)) << 16;
}
inline quint64 rd64(const QByteArray& d, int off)
{
    return quint64(rd32(d, off)) | quint64(rd32(d, off + 4)) << 32;
}
inline void wr16(QByteArray& d, int off, quint16 v)
{
    d[off] = char(v & 0xFF);
    d[off + 1] = char(v >> 8);
}
inline void wr32(QByteArray& d, int off, quint32 v)
{
    wr16(d, off, quint16(v));
    wr16(d, off + 2, quint16(v >> 16));
}
inline void wr64(QByteArray& d, int off, quint64 v)
{
    wr32(d, off, quint32(v));
    wr32(d, off + 4, quint32(v >> 32));
}
// Signed 24-bit little-endian value.
inline qint32 rd24(const char* p)
{
    const qint32 v = qint32(quint8(p[0])) | qint32(quint8(p[1])) << 8 | qint32(quint8(p[2])) << 16;
    return (v ^ 0x800000) - 0x800000;
}
inline void wr24(char* p, qint32 v)
{
    p[0] = char(v & 0xFF);
    p[1] = char((v >> 8) & 0xFF);
    p[2] = char((v >> 16) & 0xFF);
}

// Standard reflected CRC-32 (0xEDB88320, initial all ones, final complement).
quint32 crc32(const char* data, qsizetype size);
inline quint32 crc32(const QByteArray& d)
{
    return crc32(d.constData(), d.size());
}

// One's-complement checksum over little-endian 16-bit words (discovery request).
quint16 discoveryChecksum(const QByteArray& d, int words);

// The 24-byte discovery request as the plug-in sends it.
QByteArray discoveryRequest();

// A request/reply header followed by `payload`.
QByteArray packet(quint16 magic, quint16 command, quint32 param, quint32 status, const QByteArray& payload,
                  quint32 crc = 0);

} // namespace zorvani::sim::proto
