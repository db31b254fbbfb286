#pragma once

#include <QCoreApplication>

namespace testsupport {

// A loopback port of this test process: `base` plus one of 64 slots of 16
// ports chosen by the process id, so that the same test run twice at once
// (two checkouts on one machine) does not answer the other's packets.
inline quint16 processPort(quint16 base, int offset)
{
    return quint16(base + (QCoreApplication::applicationPid() % 64) * 16 + offset);
}

} // namespace testsupport
