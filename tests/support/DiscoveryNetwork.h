#pragma once

// The private network of tests/netns-run: the test process on one end of a
// wire, emulated receivers (10.77.0.2 and 10.77.0.3) on the other. Discovery
// broadcasts go there and nowhere else; outside it those tests skip.
#include "Simulator.h"

#include <QtTest>

#include <memory>

namespace testsupport {

// An unpaced receiver at `address` of that network, listening on `port`.
inline zorvani::sim::Config networkReceiver(const char* address, quint16 port, quint32 serial,
                                            bool bootloader = false)
{
    zorvani::sim::Config c;
    c.address = QHostAddress(QLatin1String(address));
    c.port = port;
    c.receiverNamespace = true;
    c.serialDecimal = serial;
    c.startInBootloader = bootloader;
    c.paced = false;
    return c;
}

// The emulator of `config`, started; null when it could not start.
inline std::unique_ptr<zorvani::sim::Simulator> startedReceiver(const zorvani::sim::Config& config)
{
    auto sim = std::make_unique<zorvani::sim::Simulator>(config);
    return sim->start() ? std::move(sim) : nullptr;
}

} // namespace testsupport

// For initTestCase: skips outside the private network, else gives the
// receivers' end its addresses.
#define REQUIRE_DISCOVERY_NETWORK()                                                                           \
    do {                                                                                                      \
        if (qgetenv("ZORVANI_NETNS") != "1")                                                                  \
            QSKIP("discovery broadcasts only inside the private network namespace of tests/netns-run");       \
        QVERIFY(zorvani::sim::Simulator::prepareNamespace(                                                    \
            {QHostAddress(QStringLiteral("10.77.0.2")), QHostAddress(QStringLiteral("10.77.0.3"))}));         \
    } while (0)
