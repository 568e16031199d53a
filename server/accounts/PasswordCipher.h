#pragma once
// Text-level routines over BlowfishCipher: stored passwords of local accounts and user files, and
// the passwords kept for remote aliases. The key is keyPart1 followed directly by keyPart2.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// Only this many typed characters count in a password.
inline constexpr size_t kPasswordSignificant = 16;

// Upper-case hex ("%02X" per byte) of the CBC encryption of `plain`, zero-padded to the larger of
// its length and `minLength`, rounded up to whole blocks. At least one block is always produced so
// that an empty text still has a stored form that can be checked.
std::string EncryptToHex(std::string_view plain, std::string_view keyPart1,
                         std::string_view keyPart2, size_t minLength);

// The inverse, read up to the first zero byte (the padding). None when `hex` is not whole 8-byte
// blocks of hex digits.
std::optional<std::string> DecryptFromHex(std::string_view hex, std::string_view keyPart1,
                                          std::string_view keyPart2);

// The stored form of `password` for `user`: its first 16 characters, under the key user+password,
// always 32 hex digits.
std::string StoredPassword(std::string_view user, std::string_view password);

// True when `typed` (its first 16 characters) is the password stored as `stored` for `user`.
// Stored text that is empty or not whole blocks of hex digits never verifies.
bool VerifyPassword(std::string_view stored, std::string_view user, std::string_view typed);

}  // namespace orvex
