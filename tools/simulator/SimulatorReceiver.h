#pragma once

#include "Simulator.h"
#include "discovery/Receiver.h"

namespace zorvani::sim {

// The record discovery would give for this emulator.
inline Receiver receiverRecord(const Simulator& sim)
{
    Receiver r;
    r.name = QStringLiteral("ZorvaniDDC");
    r.serial = sim.serialText();
    r.address = sim.config().address;
    r.port = sim.config().port;
    return r;
}

} // namespace zorvani::sim
