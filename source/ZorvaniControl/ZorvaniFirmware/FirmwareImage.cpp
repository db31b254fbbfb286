#include "ZorvaniControl/ZorvaniFirmware/FirmwareImage.h"

#include "ZorvaniControl/ZorvaniDriver/Crc32.h"
#include "ZorvaniControl/ZorvaniFirmware/Rc6.h"

#include <algorithm>

namespace zorvani::firmware {

std::optional<QByteArray> buildImage(const QByteArray& file)
{
    // A file of the whole area is taken too: its last 4 bytes give way to the CRC.
    if (file.size() > kImageBytes)
        return std::nullopt;
    QByteArray image(kImageBytes, '\0');
    std::copy(file.cbegin(), file.cend(), image.begin());
    const quint32 crc = quint32(~crc32(image.constData(), kCrcOffset));
    for (int i = 0; i < 4; ++i)
        image[kCrcOffset + i] = char(crc >> (8 * i));
    return image;
}

void encipherChunk(const QByteArray& image, int offset, QByteArray& chunk)
{
    Q_ASSERT(offset >= 0 && offset % kChunkBytes == 0 && offset < image.size() && chunk.size() == kChunkBytes);
    rc6EncryptChunk(reinterpret_cast<const std::uint8_t*>(image.constData()) + offset,
                    reinterpret_cast<std::uint8_t*>(chunk.data()));
}

} // namespace zorvani::firmware
