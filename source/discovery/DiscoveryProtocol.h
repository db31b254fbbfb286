#pragma once

#include "discovery/Receiver.h"

#include <QByteArray>

// The discovery request and reply formats, shared by both search procedures.
namespace zorvani::discovery {

inline constexpr int kRequestSize = 24;
// Bytes of a reply that are read; shorter datagrams carry no complete reply.
inline constexpr int kReplySize = 22;

// One's complement of the one's-complement sum of little-endian 16-bit words.
quint16 checksum(const char* data, int words);

// The 24-byte request with its checksum.
QByteArray requestPacket();

// Fills `receiver` from a reply; false for anything that is not a complete reply.
bool parseReply(const char* data, qint64 size, Receiver& receiver);

} // namespace zorvani::discovery
