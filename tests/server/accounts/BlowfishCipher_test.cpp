#include "server/accounts/BlowfishCipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace orvex {
namespace {

TEST(BlowfishCipher, BlocksRoundTripForAnyKeyLength) {
    const std::string keys[] = {"",
                                std::string(1, '\0'),
                                "k",
                                "abcd",
                                std::string(72, 'x'),
                                std::string(73, 'y'),
                                std::string(300, '\xff')};
    for (const std::string& key : keys) {
        SCOPED_TRACE(key.size());
        const BlowfishCipher c(key);
        for (uint32_t seed : {0u, 1u, 0xDEADBEEFu, 0xFFFFFFFFu}) {
            uint32_t l = seed, r = ~seed;
            c.EncryptBlock(l, r);
            EXPECT_FALSE(l == seed && r == ~seed);
            c.DecryptBlock(l, r);
            EXPECT_EQ(l, seed);
            EXPECT_EQ(r, ~seed);
        }
    }
}

uint64_t EncryptZero(const BlowfishCipher& c) {
    uint32_t l = 0, r = 0;
    c.EncryptBlock(l, r);
    return (uint64_t(l) << 32) | r;
}

TEST(BlowfishCipher, KeyWordsDropTheFirstByteOfEachGroup) {
    // A key word keeps only bytes 1 to 3 of its group, so with a four-byte key byte 0 never counts.
    EXPECT_EQ(EncryptZero(BlowfishCipher("Xbcd")), EncryptZero(BlowfishCipher("Ybcd")));
    EXPECT_NE(EncryptZero(BlowfishCipher("aXcd")), EncryptZero(BlowfishCipher("aYcd")));
    // An empty key and a key of zero bytes both leave the tables as they were before keying.
    EXPECT_EQ(EncryptZero(BlowfishCipher("")), EncryptZero(BlowfishCipher(std::string(5, '\0'))));
    // Past 72 bytes a second pass folds the rest of the key in.
    EXPECT_NE(EncryptZero(BlowfishCipher(std::string(72, 'a'))),
              EncryptZero(BlowfishCipher(std::string(72, 'a') + "b")));
}

TEST(BlowfishCipher, CbcChainsBlocksAndLeavesPartialTail) {
    const BlowfishCipher c(
        "user"
        "pass");
    std::vector<uint8_t> data(16 + 5, 0x41);
    const std::vector<uint8_t> original = data;
    c.EncryptCbc(data.data(), data.size());
    // Equal plain blocks encrypt differently once chained.
    EXPECT_NE(std::memcmp(data.data(), data.data() + 8, 8), 0);
    EXPECT_TRUE(std::equal(data.begin() + 16, data.end(), original.begin() + 16));
    // The first block is chained with the vector (1, 1): plain ^ IV, then the block function.
    uint32_t l = 0x41414141u ^ 1u, r = 0x41414141u ^ 1u;
    c.EncryptBlock(l, r);
    EXPECT_EQ(data[0], uint8_t(l >> 24));
    EXPECT_EQ(data[3], uint8_t(l));
    EXPECT_EQ(data[4], uint8_t(r >> 24));
    EXPECT_EQ(data[7], uint8_t(r));
    c.DecryptCbc(data.data(), data.size());
    EXPECT_EQ(data, original);
}

}  // namespace
}  // namespace orvex
