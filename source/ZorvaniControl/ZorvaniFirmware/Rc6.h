#pragma once

#include <cstdint>

// RC6 block cipher (32-bit words, 20 rounds, 16-byte blocks read as four
// little-endian words A, B, C, D). The firmware image travels enciphered with
// one fixed expanded key that the plug-in and the receiver's bootloader share.
namespace zorvani::rc6 {

inline constexpr int kRounds = 20;
inline constexpr int kKeyWords = 2 * kRounds + 4; // 44
inline constexpr int kBlockBytes = 16;
inline constexpr int kChunkBytes = 1024;          // one flash write: 64 blocks

// The 16-byte key the shared table was expanded from (standard RC6 key schedule).
inline constexpr std::uint8_t kProjectKey[16] = {'Z', 'o', 'r', 'v', 'a', 'n', 'i', 'D',
                                                 'D', 'C', ' ', 'b', 'o', 'o', 't', '!'};

// The shared expanded key (44 words) of kProjectKey.
extern const std::uint32_t kExpandedKey[kKeyWords];

// One block under an arbitrary expanded key.
void encryptBlock(const std::uint32_t key[kKeyWords], const std::uint8_t in[16], std::uint8_t out[16]);
void decryptBlock(const std::uint32_t key[kKeyWords], const std::uint8_t in[16], std::uint8_t out[16]);

} // namespace zorvani::rc6

// One block under the shared key. in and out may be the same buffer.
void rc6EncryptBlock(const std::uint8_t in[16], std::uint8_t out[16]);
void rc6DecryptBlock(const std::uint8_t in[16], std::uint8_t out[16]);

// A 1024-byte flash chunk as 64 independent blocks (no chaining) under the shared key.
void rc6EncryptChunk(const std::uint8_t* plain1024, std::uint8_t* cipher1024);
void rc6DecryptChunk(const std::uint8_t* cipher1024, std::uint8_t* plain1024);
