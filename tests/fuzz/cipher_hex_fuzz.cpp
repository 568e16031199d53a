// Stored password text comes from hand-edited files: "key1\nkey2\nstored text".
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/accounts/PasswordCipher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::string_view key1, key2, hex = in;
    if (size_t a = in.find('\n'); a != std::string_view::npos) {
        key1 = in.substr(0, a);
        hex = in.substr(a + 1);
        if (size_t b = hex.find('\n'); b != std::string_view::npos) {
            key2 = hex.substr(0, b);
            hex = hex.substr(b + 1);
        }
    }

    const auto plain = orvex::DecryptFromHex(hex, key1, key2);
    if (plain) {
        if (hex.size() % 16 != 0 || plain->size() > hex.size() / 2) std::abort();
        // Without a zero byte cut off, encrypting again gives the same blocks back.
        if (plain->size() == hex.size() / 2 && !plain->empty()) {
            const std::string again = orvex::EncryptToHex(*plain, key1, key2, 0);
            if (again.size() != hex.size()) std::abort();
            for (size_t i = 0; i < hex.size(); ++i)
                if (std::toupper(static_cast<unsigned char>(hex[i])) != again[i]) std::abort();
        }
    } else if (hex.size() % 16 == 0) {
        // Only a non-hex character may reject text of whole blocks.
        bool allHex = true;
        for (char c : hex) allHex = allHex && std::isxdigit(static_cast<unsigned char>(c));
        if (allHex) std::abort();
    }
    (void)orvex::VerifyPassword(hex, key1, key2);

    const std::string sealed = orvex::EncryptToHex(hex, key1, key2, 16);
    const auto opened = orvex::DecryptFromHex(sealed, key1, key2);
    if (!opened || *opened != hex.substr(0, hex.find('\0'))) std::abort();
    return 0;
}
