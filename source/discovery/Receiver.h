#pragma once

#include <QHostAddress>
#include <QMetaType>
#include <QString>

// One discovered receiver. An empty record has empty strings, a null address,
// port 0 and no bootloader flag.
struct Receiver {
    QString name;         // "ZorvaniDDC" for a discovered receiver
    QString serial;       // 14 characters, e.g. "OXD01000000000"
    QHostAddress address; // IPv4
    quint16 port = 0;     // UDP control port
    bool bootloader = false;

    bool operator==(const Receiver& o) const
    {
        return name == o.name && serial == o.serial && address == o.address && port == o.port &&
               bootloader == o.bootloader;
    }
    bool operator!=(const Receiver& o) const { return !(*this == o); }
};

Q_DECLARE_METATYPE(Receiver)

// Serial text of a receiver: "OXD01", four lowercase hex digits of
// (hi * 256 + lo) and the decimal part padded to five digits, e.g.
// hi 0x0A, lo 0x1B, decimal 123 give "OXD010a1b00123". A decimal part above
// 99999 keeps all its digits, so no two receivers share a text.
inline QString receiverSerialText(quint32 decimal, quint8 hi, quint8 lo)
{
    return QStringLiteral("OXD01") + QStringLiteral("%1").arg(hi * 256 + lo, 4, 16, QLatin1Char('0')) +
           QStringLiteral("%1").arg(decimal, 5, 10, QLatin1Char('0'));
}
