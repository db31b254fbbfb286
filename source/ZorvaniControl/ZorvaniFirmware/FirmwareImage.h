#pragma once

#include <QByteArray>

#include <optional>

// The firmware image as the bootloader takes it: the file's bytes padded with
// zeros to the whole flash area, the complement of the CRC-32 of everything
// before them in the last 4 bytes (little-endian), sent in enciphered chunks.
namespace zorvani::firmware {

inline constexpr int kImageBytes = 458752; // 0x70000, the application's flash area
inline constexpr int kChunkBytes = 1024;   // one flash write
inline constexpr int kChunks = kImageBytes / kChunkBytes; // 448
inline constexpr int kCrcOffset = kImageBytes - 4;

// The padded image with its CRC; nothing when `file` does not fit.
std::optional<QByteArray> buildImage(const QByteArray& file);

// Enciphers the 1024 bytes of `image` at `offset` (a multiple of 1024 below
// kImageBytes) into `chunk`, which must hold 1024 bytes; `image` is untouched.
void encipherChunk(const QByteArray& image, int offset, QByteArray& chunk);

// Percent done once the chunk at `offset` is written: 0, 0, 0, 0, 0, 1, ... 99.
inline int progressAfter(int offset)
{
    return int(qint64(offset) * 100 / kImageBytes);
}

} // namespace zorvani::firmware
