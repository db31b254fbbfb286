#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

// The receivers' side of a private test network (Linux only). Inside the
// namespace of tests/netns-run (veth zs0 10.77.0.1/24 <-> zs1 10.77.0.2/24)
// create() moves zs1 into a network namespace of its own and gives it the
// receiver addresses; emulator threads enter() it before they make sockets.
// The host side (zs0, the test process) and the receivers then sit on two
// ends of a wire, as on a real network: broadcasts cross it, nobody hears
// its own replies, and the host binds its ports without meeting the
// emulators' sockets.
namespace zorvani::sim::receiverNamespace {

// Made once per process; later calls add missing addresses. False when the
// namespace or its addresses cannot be set up.
bool create(const QList<QHostAddress>& addresses, int prefixLength, const QString& device);

// Moves the calling thread into the namespace; false when create() did not succeed.
bool enter();

} // namespace zorvani::sim::receiverNamespace
