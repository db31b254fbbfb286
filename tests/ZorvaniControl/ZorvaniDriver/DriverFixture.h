#pragma once

#include "TestPeer.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDevice.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"

#include <memory>

// A driver opened on a loopback stand-in receiver at 127.0.0.2:port.
struct DriverFixture {
    std::unique_ptr<TestPeer> peer;
    std::unique_ptr<ZorvaniDriver> driver;

    quint16 port;

    // `openLink` false: the test sets what the socket thread uses, then opens.
    explicit DriverFixture(quint16 port, bool openLink = true)
        : peer(std::make_unique<TestPeer>(port)), driver(std::make_unique<ZorvaniDriver>(nullptr, nullptr)),
          port(port)
    {
        driver->setBootSettleTime(0);
        if (openLink)
            driver->open(receiver(port));
    }

    static Receiver receiver(quint16 port)
    {
        Receiver r;
        r.name = QStringLiteral("ZorvaniDDC");
        r.serial = QStringLiteral("OXD01000100001");
        r.address = QHostAddress(QStringLiteral("127.0.0.2"));
        r.port = port;
        return r;
    }
};

// Little-endian request bytes as the receiver expects them.
inline QByteArray header(quint16 magic, quint16 command, quint16 length, quint32 param, quint32 status, quint32 crc = 0)
{
    QByteArray h(18, '\0');
    qToLittleEndian<quint16>(magic, h.data());
    qToLittleEndian<quint16>(command, h.data() + 2);
    qToLittleEndian<quint16>(length, h.data() + 4);
    qToLittleEndian<quint32>(param, h.data() + 6);
    qToLittleEndian<quint32>(status, h.data() + 10);
    qToLittleEndian<quint32>(crc, h.data() + 14);
    return h;
}

template <typename T>
QByteArray le(T value)
{
    QByteArray b(int(sizeof(T)), '\0');
    qToLittleEndian<T>(value, b.data());
    return b;
}

inline quint16 commandOf(const QByteArray& d)
{
    return d.size() >= 4 ? qFromLittleEndian<quint16>(d.constData() + 2) : 0xFFFF;
}
