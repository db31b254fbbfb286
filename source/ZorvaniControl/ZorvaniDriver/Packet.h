#pragma once

#include <QByteArray>
#include <QtEndian>

#include <cstring>

// The 18-byte header every control datagram starts with, little-endian:
// magic, command, length, param, status, crc.
namespace zorvani::packet {

inline constexpr int kHeaderSize = 18;
inline constexpr quint16 kMagicApp = 0xFF12;
inline constexpr quint16 kMagicBoot = 0xFF11;
inline constexpr quint16 kIqMarker = 0xFFFE;
inline constexpr quint16 kBandScopeMarker = 0xFFFC;

// Command codes: application commands (magic 0xFF12) and bootloader ones (0xFF11).
enum Command : quint16 {
    CmdStart = 1,
    CmdStop = 2,
    CmdPreamp = 5,
    CmdExtCtrl = 7,
    CmdFreq = 8,
    CmdFpga = 10,
    CmdWriteRoot = 13,
    CmdReadRoot = 14,
    CmdWriteUser = 15,
    CmdReadUser = 16,
    CmdStaticAddress = 18,
    CmdWriteAT45D = 19,
    CmdInformation = 26,
    CmdLpf = 27,
    CmdGoToBoot = 28,
    CmdPll = 29,
    CmdBandScope = 34,
    CmdNetworkMode = 39,
    CmdReset = 40,
    CmdFrontEnd = 41,
    BootErase = 1,
    BootWriteFlash = 2,
    BootWriteAT45D = 3,
    BootReadSN = 5,
    BootQuit = 6,
    BootReadAT45D = 0x1780,
};

inline constexpr int kOffCommand = 2;
inline constexpr int kOffLength = 4;
inline constexpr int kOffParam = 6;
inline constexpr int kOffStatus = 10;
inline constexpr int kOffCrc = 14;

template <typename T>
void put(QByteArray& packet, int offset, T value)
{
    qToLittleEndian<T>(value, packet.data() + offset);
}

template <typename T>
T get(const char* data, int offset)
{
    return qFromLittleEndian<T>(data + offset);
}

template <typename T>
T get(const QByteArray& packet, int offset)
{
    return get<T>(packet.constData(), offset);
}

// A zero-filled datagram of `size` bytes (18 + length unless a command says
// otherwise) with its header filled in.
inline QByteArray makePacket(quint16 magic, quint16 command, quint16 length, quint32 param, quint32 status,
                             quint32 crc = 0, int size = -1)
{
    QByteArray p(size < 0 ? kHeaderSize + length : size, '\0');
    put<quint16>(p, 0, magic);
    put<quint16>(p, kOffCommand, command);
    put<quint16>(p, kOffLength, length);
    put<quint32>(p, kOffParam, param);
    put<quint32>(p, kOffStatus, status);
    put<quint32>(p, kOffCrc, crc);
    return p;
}

// The command code of a datagram, or false when it is too short to carry one.
inline bool commandOf(const QByteArray& datagram, quint16& command)
{
    if (datagram.size() < kOffCommand + 2)
        return false;
    command = get<quint16>(datagram, kOffCommand);
    return true;
}

// The status word of a reply, or false when the reply is too short to carry it.
inline bool statusOf(const QByteArray& reply, quint32& status)
{
    if (reply.size() < kOffStatus + 4)
        return false;
    status = get<quint32>(reply, kOffStatus);
    return true;
}

// A control reply as the format allows it: a whole header with a known magic
// and exactly as many payload bytes as its length word announces.
inline bool wellFormedReply(const char* datagram, qint64 size)
{
    if (size < kHeaderSize)
        return false;
    const quint16 magic = get<quint16>(datagram, 0);
    return (magic == kMagicApp || magic == kMagicBoot) && size == kHeaderSize + get<quint16>(datagram, kOffLength);
}

} // namespace zorvani::packet
