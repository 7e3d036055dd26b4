#pragma once

// Known answers for the challenge cipher, the same on every platform: the
// load server computes them too. Worked out independently of the cipher's code.
#include <array>
#include <cstdint>

namespace korvane::test {

// A secret of the installation's form: 33 upper-case letters and digits.
inline constexpr char kChallengeSecret[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456";

// MD5 of the 33 bytes, without the terminator: the RC4 key.
inline constexpr std::array<uint8_t, 16> kChallengeSecretMd5 = {0x84, 0xaf, 0xee, 0xad, 0x7a, 0x31, 0x93, 0x8a,
                                                                0xd8, 0xb9, 0x57, 0x78, 0x44, 0xd2, 0x9c, 0x59};

// "12345678" enciphered with that key from the fresh key schedule.
inline constexpr std::array<uint8_t, 8> kChallengePlain = {'1', '2', '3', '4', '5', '6', '7', '8'};
inline constexpr std::array<uint8_t, 8> kChallengeEnciphered = {0xb4, 0x5b, 0x18, 0xc2, 0xee, 0xa2, 0x41, 0x0d};

// RFC 6229, key 0x0102...10, keystream at offsets 0 and 16 (zero plaintext).
inline constexpr std::array<uint8_t, 16> kRfc6229Key = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
inline constexpr std::array<uint8_t, 32> kRfc6229Keystream = {
    0x9a, 0xc7, 0xcc, 0x9a, 0x60, 0x9d, 0x1e, 0xf7, 0xb2, 0x93, 0x28, 0x99, 0xcd, 0xe4, 0x1b, 0x97,
    0x52, 0x48, 0xc4, 0x95, 0x90, 0x14, 0x12, 0x6a, 0x6e, 0x8a, 0x84, 0xf1, 0x1d, 0x1a, 0x9e, 0x1c};

}  // namespace korvane::test
