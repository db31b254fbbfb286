#include "Forgery.h"

#include <QtEndian>

#include <algorithm>

namespace zorvani::sim {

namespace {
constexpr int kHeader = 18;
constexpr quint16 kMagicApp = 0xFF12;
constexpr quint16 kMagicBoot = 0xFF11;
} // namespace

QByteArray Forger::make(Kind kind, const QByteArray& model)
{
    QByteArray d;
    switch (kind) {
    case Kind::Random:
        d.resize(int(1 + below(1500)));
        for (char& c : d)
            c = char(m_random.next());
        return d;
    case Kind::Truncated:
        return model.left(int(below(quint32(std::max(model.size(), 1)))));
    case Kind::Oversized: {
        const int room = kMaxDatagram - model.size();
        const int extra = 1 + int(below(quint32(below(10) == 0 ? room : std::min(room, 256))));
        d = model;
        d.reserve(model.size() + extra);
        for (int i = 0; i < extra; ++i)
            d.append(char(m_random.next()));
        return d;
    }
    case Kind::BitFlipped: {
        d = model;
        const int flips = 1 + int(below(8));
        for (int i = 0; i < flips && !d.isEmpty(); ++i) {
            const quint32 bit = below(quint32(d.size()) * 8);
            d[int(bit / 8)] = char(d[int(bit / 8)] ^ (1 << (bit % 8)));
        }
        return d;
    }
    case Kind::Reply:
        return malformedReply(model);
    }
    return d;
}

QByteArray Forger::malformedReply(const QByteArray& genuine)
{
    QByteArray d = genuine;
    const int payload = d.size() - kHeader;
    // Four ways to be wrong; a short payload only where the genuine one has bytes.
    switch (below(payload > 0 ? 4 : 3)) {
    case 0: {
        quint16 magic;
        do
            magic = quint16(m_random.next());
        while (magic == kMagicApp || magic == kMagicBoot);
        qToLittleEndian<quint16>(magic, d.data());
        return d;
    }
    case 1: {
        quint16 length;
        do
            length = quint16(m_random.next() % 2048);
        while (length == payload);
        qToLittleEndian<quint16>(length, d.data() + 4);
        return d;
    }
    case 2:
        return d.left(4 + int(below(kHeader - 4)));
    default: {
        // A well-formed header announcing fewer bytes than the command needs.
        const int shorter = int(below(quint32(payload)));
        d.truncate(kHeader + shorter);
        qToLittleEndian<quint16>(quint16(shorter), d.data() + 4);
        return d;
    }
    }
}

} // namespace zorvani::sim
