#include "server/accounts/PasswordCipher.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace orvex {
namespace {

struct Vector {
    const char* plain;
    const char* key1;
    const char* key2;
    size_t minLength;
    const char* hex;
};

// Printed by cipher_model.py --cpp; the e2e test test_cipher_model.py keeps the two in step.
// clang-format off
// model-vectors-begin
const Vector kModelVectors[] = {
    {"", "alice", "", 16,
     "2F5282EBD2E796A3B257AFA29EFB42B6"},
    {"x", "alice", "x", 16,
     "B9E4D571073919E85627466ADF131659"},
    {"secret12", "alice", "secret12", 16,
     "53E0EC11737CAF08A82330DE59A07956"},
    {"0123456789abcdef", "alice", "0123456789abcdef", 16,
     "657CCE369CC3A16DB90293B9D1D2E665"},
    {"secret12", "Alice", "secret12", 16,
     "5738A53CACB638DB1C693E1F474F27A0"},
    {"abc", "anonymous", "abc", 16,
     "5DA0DFE636B09FCF76FEDC68428824BD"},
    {"pppppppppppppppp", "uuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuu", "pppppppppppppppp", 16,
     "6EEFB58D0944A792A325F6A4B7014681"},
    {"pppppppppppppppp", "uuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuu", "pppppppppppppppp", 16,
     "4E52D8585142C2B9411205BF83C6CE4E"},
    {"0123456789abcdef", "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", "0123456789abcdef", 16,
     "4EC49E92D66C67F365074ACA1DD6C410"},
    {"mot\377\200de", "\351l\350ve", "mot\377\200de", 16,
     "C98EEA2515AAC58C9F9514348A53F625"},
    {"abc", "guest", "abc", 0,
     "FA14ED7EC729F5BF"},
    {"", "", "", 0,
     "D95F6976C55921FE"},
    {"", "", "", 16,
     "D95F6976C55921FE64194CB1B66364F0"},
    {"remote-alias-password-24", "host", "key", 16,
     "F7BED5B5EBF558D55DE42A0A3A017DFD2AA30973F0C8D7E8"},
};
// model-vectors-end
// clang-format on

bool IsUpperHex(const std::string& s) {
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)) && !(c >= 'A' && c <= 'F')) return false;
    return true;
}

TEST(PasswordCipher, MatchesIndependentModel) {
    for (const Vector& v : kModelVectors) {
        SCOPED_TRACE(v.hex);
        EXPECT_EQ(EncryptToHex(v.plain, v.key1, v.key2, v.minLength), v.hex);
        const auto plain = DecryptFromHex(v.hex, v.key1, v.key2);
        ASSERT_TRUE(plain.has_value());
        EXPECT_EQ(*plain, v.plain);
    }
}

TEST(PasswordCipher, StoredFormIsAlways32UpperHexDigits) {
    const std::string p20 = "0123456789abcdefGHIJ";
    for (size_t len : {0, 1, 8, 16, 20}) {
        const std::string password = p20.substr(0, len);
        SCOPED_TRACE(password);
        const std::string stored = StoredPassword("alice", password);
        EXPECT_EQ(stored.size(), 32u);
        EXPECT_TRUE(IsUpperHex(stored));
        EXPECT_TRUE(VerifyPassword(stored, "alice", password));
    }
    // Only the first 16 characters are stored and only the first 16 typed ones count.
    const std::string stored20 = StoredPassword("alice", p20);
    EXPECT_EQ(stored20, StoredPassword("alice", p20.substr(0, 16)));
    EXPECT_TRUE(VerifyPassword(stored20, "alice", p20.substr(0, 16)));
    EXPECT_TRUE(VerifyPassword(stored20, "alice", p20 + "anything"));
    EXPECT_FALSE(VerifyPassword(stored20, "alice", p20.substr(0, 15)));
    // The empty password is the encryption of 16 zero bytes.
    EXPECT_EQ(StoredPassword("alice", ""), EncryptToHex(std::string(16, '\0'), "alice", "", 16));
}

TEST(PasswordCipher, WrongPasswordOrUserNeverVerifies) {
    const std::string stored = StoredPassword("alice", "secret12");
    for (const char* typed : {"", "secret1", "secret123", "Secret12", "SECRET12", "secret13",
                              "secret12 ", " secret12"}) {
        SCOPED_TRACE(typed);
        EXPECT_FALSE(VerifyPassword(stored, "alice", typed));
    }
    for (const char* user : {"Alice", "alic", "alice2", "bob", ""}) {
        SCOPED_TRACE(user);
        EXPECT_FALSE(VerifyPassword(stored, user, "secret12"));
    }
    EXPECT_FALSE(VerifyPassword(stored, "alice", std::string("secret12\0", 9)));

    // An empty stored password only accepts the empty password.
    const std::string empty = StoredPassword("alice", "");
    EXPECT_TRUE(VerifyPassword(empty, "alice", ""));
    EXPECT_FALSE(VerifyPassword(empty, "alice", "x"));
    EXPECT_FALSE(VerifyPassword(empty, "bob", ""));
}

TEST(PasswordCipher, CommandLineFormWithoutMinimumStillVerifies) {
    const std::string stored = EncryptToHex("abc", "guest", "abc", 0);
    EXPECT_EQ(stored.size(), 16u);
    EXPECT_TRUE(VerifyPassword(stored, "guest", "abc"));
    EXPECT_FALSE(VerifyPassword(stored, "anonymous", "abc"));
    // An empty text still yields a block, so an empty password can be stored and checked.
    const std::string none = EncryptToHex("", "guest", "", 0);
    EXPECT_EQ(none.size(), 16u);
    EXPECT_TRUE(VerifyPassword(none, "guest", ""));
}

TEST(PasswordCipher, MalformedStoredTextFails) {
    const std::string good = StoredPassword("alice", "secret12");
    std::string lower = good;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(VerifyPassword(lower, "alice", "secret12"));  // hand-edited files may use a-f

    const std::string bad[] = {
        "",
        good.substr(0, 31),
        good.substr(0, 30),
        good.substr(0, 15),
        good + "0",
        good + "00000000",
        "G" + good.substr(1),
        good.substr(0, 31) + " ",
        "0x" + good.substr(2),
        good.substr(0, 16) + std::string("\0", 1) + good.substr(17),
        std::string(32, '-'),
    };
    for (const std::string& s : bad) {
        SCOPED_TRACE(s);
        EXPECT_FALSE(VerifyPassword(s, "alice", "secret12"));
        if (!s.empty()) {
            EXPECT_FALSE(DecryptFromHex(s, "alice", "secret12").has_value());
        }
    }
    EXPECT_EQ(DecryptFromHex("", "alice", "x"), std::optional<std::string>(""));
}

TEST(PasswordCipher, PaddingRoundsUpToWholeBlocks) {
    EXPECT_EQ(EncryptToHex("1234567", "k", "", 0).size(), 16u);
    EXPECT_EQ(EncryptToHex("12345678", "k", "", 0).size(), 16u);
    EXPECT_EQ(EncryptToHex("123456789", "k", "", 0).size(), 32u);
    EXPECT_EQ(EncryptToHex("123456789", "k", "", 17).size(), 48u);
    EXPECT_EQ(EncryptToHex(std::string(40, 'a'), "k", "", 16).size(), 80u);
    // Decryption stops at the first zero byte of the padding (or of the text).
    EXPECT_EQ(DecryptFromHex(EncryptToHex(std::string("ab\0cd", 5), "k", "", 0), "k", ""),
              std::optional<std::string>("ab"));
}

}  // namespace
}  // namespace orvex
