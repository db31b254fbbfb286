#pragma once

#include "discovery/Receiver.h"

namespace testsupport {

// The record discovery makes of a receiver.
inline Receiver receiver(const QString& serial, const QString& address, quint16 port)
{
    Receiver r;
    r.name = QStringLiteral("ZorvaniDDC");
    r.serial = serial;
    r.address = QHostAddress(address);
    r.port = port;
    return r;
}

} // namespace testsupport
