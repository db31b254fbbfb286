#pragma once

#include <QHostAddress>
#include <QStringList>

namespace zorvani {

// Typed IPv4 text, each of the four parts decimal 0..255: "192.168.001.010"
// is 192.168.1.10, not the octal reading a general parser gives leading
// zeros. A null address when the text is anything else.
inline QHostAddress dottedAddress(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return QHostAddress();
    quint32 value = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const uint octet = part.trimmed().toUInt(&ok, 10);
        if (!ok || octet > 255)
            return QHostAddress();
        value = value << 8 | octet;
    }
    return QHostAddress(value);
}

} // namespace zorvani
