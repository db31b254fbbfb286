#include "Rc6.h"

namespace zorvani::rc6 {

const std::uint32_t kExpandedKey[kKeyWords] = {
    0xa166d87fu, 0x4966b769u, 0x51a480fdu, 0x538a755bu,
    0x8c9fa609u, 0x468ff3d6u, 0x2483e16eu, 0xee14b924u,
    0x5aae2ae6u, 0x4f44fb45u, 0x6caa4485u, 0x369a985du,
    0xa365debbu, 0xb78f360eu, 0x694ee225u, 0x181a783eu,
    0x8db3cfafu, 0x957c96d4u, 0x173e3dd6u, 0xcb5c7de7u,
    0x1d6f26b4u, 0x6a4e31a8u, 0xd1245bc3u, 0xcc018465u,
    0xe30c8de3u, 0xeb948c4eu, 0x46773700u, 0x173fdd83u,
    0x35c0b641u, 0x9afd9f12u, 0xe97eee6fu, 0x860ccb0eu,
    0xa37fc3eau, 0xa801a363u, 0x6285e557u, 0x1dcfa35fu,
    0xc2010975u, 0x8fcb13abu, 0x47591b88u, 0x32855552u,
    0xad753f43u, 0x83af6124u, 0x3e8752e9u, 0xd4cfafa6u,
};

namespace {

std::uint32_t rotl(std::uint32_t x, std::uint32_t n)
{
    n &= 31u;
    return n ? (x << n) | (x >> (32u - n)) : x;
}

std::uint32_t rotr(std::uint32_t x, std::uint32_t n)
{
    n &= 31u;
    return n ? (x >> n) | (x << (32u - n)) : x;
}

std::uint32_t load(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

void store(std::uint32_t v, std::uint8_t* p)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

// f(x) = (x * (2x + 1)) <<< 5, the data-dependent rotation amount of a round.
std::uint32_t mix(std::uint32_t x)
{
    return rotl(x * (2u * x + 1u), 5);
}

} // namespace

void encryptBlock(const std::uint32_t key[kKeyWords], const std::uint8_t in[16], std::uint8_t out[16])
{
    std::uint32_t a = load(in), b = load(in + 4), c = load(in + 8), d = load(in + 12);
    b += key[0];
    d += key[1];
    for (int i = 1; i <= kRounds; ++i) {
        const std::uint32_t t = mix(b);
        const std::uint32_t u = mix(d);
        a = rotl(a ^ t, u) + key[2 * i];
        c = rotl(c ^ u, t) + key[2 * i + 1];
        const std::uint32_t first = a;
        a = b;
        b = c;
        c = d;
        d = first;
    }
    a += key[2 * kRounds + 2];
    c += key[2 * kRounds + 3];
    store(a, out);
    store(b, out + 4);
    store(c, out + 8);
    store(d, out + 12);
}

void decryptBlock(const std::uint32_t key[kKeyWords], const std::uint8_t in[16], std::uint8_t out[16])
{
    std::uint32_t a = load(in), b = load(in + 4), c = load(in + 8), d = load(in + 12);
    c -= key[2 * kRounds + 3];
    a -= key[2 * kRounds + 2];
    for (int i = kRounds; i >= 1; --i) {
        const std::uint32_t last = d;
        d = c;
        c = b;
        b = a;
        a = last;
        const std::uint32_t u = mix(d);
        const std::uint32_t t = mix(b);
        c = rotr(c - key[2 * i + 1], t) ^ u;
        a = rotr(a - key[2 * i], u) ^ t;
    }
    d -= key[1];
    b -= key[0];
    store(a, out);
    store(b, out + 4);
    store(c, out + 8);
    store(d, out + 12);
}

} // namespace zorvani::rc6

void rc6EncryptBlock(const std::uint8_t in[16], std::uint8_t out[16])
{
    zorvani::rc6::encryptBlock(zorvani::rc6::kExpandedKey, in, out);
}

void rc6DecryptBlock(const std::uint8_t in[16], std::uint8_t out[16])
{
    zorvani::rc6::decryptBlock(zorvani::rc6::kExpandedKey, in, out);
}

void rc6EncryptChunk(const std::uint8_t* plain1024, std::uint8_t* cipher1024)
{
    for (int off = 0; off < zorvani::rc6::kChunkBytes; off += zorvani::rc6::kBlockBytes)
        rc6EncryptBlock(plain1024 + off, cipher1024 + off);
}

void rc6DecryptChunk(const std::uint8_t* cipher1024, std::uint8_t* plain1024)
{
    for (int off = 0; off < zorvani::rc6::kChunkBytes; off += zorvani::rc6::kBlockBytes)
        rc6DecryptBlock(cipher1024 + off, plain1024 + off);
}
