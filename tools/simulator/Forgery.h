#pragma once

#include "SceneGenerator.h"

#include <QByteArray>

#include <cstdint>

namespace zorvani::sim {

// Hostile datagrams made from well-formed ones, as a broken network or a
// forger sending from the receiver's own address would deliver them. A forged
// reply is always malformed in one way - magic, length word, size, or a
// payload too short for its command - so that none may answer a request.
class Forger {
public:
    enum class Kind { Random, Truncated, Oversized, BitFlipped, Reply };
    static constexpr int kKinds = 5;
    static constexpr int kMaxDatagram = 65507; // largest UDP payload over IPv4

    explicit Forger(std::uint64_t seed) : m_random(seed) {}

    Kind anyKind() { return Kind(below(kKinds)); }
    // Random: 1 to 1500 random bytes. Truncated, Oversized, BitFlipped: `model`
    // cut short, grown (mostly by a little, sometimes to the largest datagram)
    // or with 1 to 8 bits flipped; flip only models whose every change is
    // harmless to take (IQ packets, band-scope fragments). Reply: `model` is a
    // genuine reply (18-byte header and payload), made malformed.
    QByteArray make(Kind kind, const QByteArray& model);

private:
    QByteArray malformedReply(const QByteArray& genuine);
    quint32 below(quint32 n) { return quint32(m_random.next() % n); }

    Random m_random;
};

} // namespace zorvani::sim
