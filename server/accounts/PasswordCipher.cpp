#include "server/accounts/PasswordCipher.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "server/accounts/BlowfishCipher.h"

namespace orvex {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string JoinKey(std::string_view a, std::string_view b) {
    std::string key;
    key.reserve(a.size() + b.size());
    key.append(a);
    key.append(b);
    return key;
}

std::unique_ptr<const BlowfishCipher> KeyedCipher(std::string_view a, std::string_view b) {
    return std::make_unique<const BlowfishCipher>(JoinKey(a, b));
}

}  // namespace

std::string EncryptToHex(std::string_view plain, std::string_view keyPart1,
                         std::string_view keyPart2, size_t minLength) {
    constexpr size_t bs = BlowfishCipher::kBlockSize;
    size_t len = std::max(plain.size(), minLength);
    len = std::max<size_t>((len + bs - 1) / bs * bs, bs);
    std::vector<uint8_t> data(len, 0);
    std::copy(plain.begin(), plain.end(), data.begin());

    KeyedCipher(keyPart1, keyPart2)->EncryptCbc(data.data(), data.size());

    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(len * 2);
    for (uint8_t b : data) {
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 0x0F]);
    }
    return hex;
}

std::optional<std::string> DecryptFromHex(std::string_view hex, std::string_view keyPart1,
                                          std::string_view keyPart2) {
    constexpr size_t digitsPerBlock = 2 * BlowfishCipher::kBlockSize;
    if (hex.size() % digitsPerBlock != 0) return std::nullopt;
    std::vector<uint8_t> data(hex.size() / 2);
    for (size_t i = 0; i < data.size(); ++i) {
        const int hi = HexValue(hex[2 * i]), lo = HexValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        data[i] = uint8_t(hi << 4 | lo);
    }

    KeyedCipher(keyPart1, keyPart2)->DecryptCbc(data.data(), data.size());

    std::string plain(data.begin(), data.end());
    const size_t nul = plain.find('\0');
    if (nul != std::string::npos) plain.resize(nul);
    return plain;
}

std::string StoredPassword(std::string_view user, std::string_view password) {
    const std::string_view w = password.substr(0, kPasswordSignificant);
    return EncryptToHex(w, user, w, kPasswordSignificant);
}

bool VerifyPassword(std::string_view stored, std::string_view user, std::string_view typed) {
    if (stored.empty()) return false;
    const std::string_view t = typed.substr(0, kPasswordSignificant);
    const std::optional<std::string> plain = DecryptFromHex(stored, user, t);
    return plain && *plain == t;
}

}  // namespace orvex
