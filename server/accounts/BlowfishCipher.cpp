#include "server/accounts/BlowfishCipher.h"

#include <algorithm>

#include "server/accounts/BlowfishTables.h"

namespace orvex {

namespace {

constexpr uint32_t kIvLeft = 1;
constexpr uint32_t kIvRight = 1;

uint32_t ReadWord(const uint8_t* b) {
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
}

void WriteWord(uint8_t* b, uint32_t w) {
    b[0] = uint8_t(w >> 24);
    b[1] = uint8_t(w >> 16);
    b[2] = uint8_t(w >> 8);
    b[3] = uint8_t(w);
}

}  // namespace

BlowfishCipher::BlowfishCipher(std::string_view key) {
    std::copy(std::begin(kBlowfishInitP), std::end(kBlowfishInitP), p_.begin());
    for (size_t box = 0; box < s_.size(); ++box)
        std::copy(std::begin(kBlowfishInitS[box]), std::end(kBlowfishInitS[box]), s_[box].begin());
    ScheduleKey(key);
}

BlowfishCipher::~BlowfishCipher() = default;

uint32_t BlowfishCipher::Round(uint32_t x) const {
    const uint32_t x3 = x >> 24, x2 = (x >> 16) & 0xFF, x1 = (x >> 8) & 0xFF, x0 = x & 0xFF;
    return (s_[3][x3] + s_[2][x2]) ^ (s_[1][x1] + s_[0][x0]);
}

void BlowfishCipher::ScheduleKey(std::string_view key) {
    // Each key word shifts after every byte, so its first byte falls out and the low byte is 0;
    // stored passwords depend on exactly this. Long keys repeat whole passes until the key wraps.
    if (!key.empty()) {
        size_t j = 0;
        bool wrapped = false;
        while (!wrapped) {
            for (size_t i = 0; i < p_.size(); ++i) {
                uint32_t word = 0;
                for (int k = 0; k < 4; ++k) {
                    word = (word | uint8_t(key[j])) << 8;
                    if (++j == key.size()) {
                        j = 0;
                        wrapped = true;
                    }
                }
                p_[i] ^= word;
            }
        }
    }
    uint32_t left = 0, right = 0;
    for (size_t i = 0; i < p_.size(); i += 2) {
        EncryptBlock(left, right);
        p_[i] = left;
        p_[i + 1] = right;
    }
    for (auto& box : s_) {
        for (size_t i = 0; i < box.size(); i += 2) {
            EncryptBlock(left, right);
            box[i] = left;
            box[i + 1] = right;
        }
    }
}

void BlowfishCipher::EncryptBlock(uint32_t& left, uint32_t& right) const {
    uint32_t l = left, r = right;
    for (size_t i = 0; i < 16; ++i) {
        l ^= p_[i];
        r ^= Round(l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= p_[16];
    l ^= p_[17];
    left = l;
    right = r;
}

void BlowfishCipher::DecryptBlock(uint32_t& left, uint32_t& right) const {
    uint32_t l = left, r = right;
    for (size_t i = 17; i > 1; --i) {
        l ^= p_[i];
        r ^= Round(l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= p_[1];
    l ^= p_[0];
    left = l;
    right = r;
}

void BlowfishCipher::EncryptCbc(uint8_t* data, size_t len) const {
    uint32_t prevL = kIvLeft, prevR = kIvRight;
    for (size_t off = 0; off + kBlockSize <= len; off += kBlockSize) {
        uint32_t l = ReadWord(data + off) ^ prevL;
        uint32_t r = ReadWord(data + off + 4) ^ prevR;
        EncryptBlock(l, r);
        WriteWord(data + off, l);
        WriteWord(data + off + 4, r);
        prevL = l;
        prevR = r;
    }
}

void BlowfishCipher::DecryptCbc(uint8_t* data, size_t len) const {
    uint32_t prevL = kIvLeft, prevR = kIvRight;
    for (size_t off = 0; off + kBlockSize <= len; off += kBlockSize) {
        const uint32_t cl = ReadWord(data + off), cr = ReadWord(data + off + 4);
        uint32_t l = cl, r = cr;
        DecryptBlock(l, r);
        WriteWord(data + off, l ^ prevL);
        WriteWord(data + off + 4, r ^ prevR);
        prevL = cl;
        prevR = cr;
    }
}

}  // namespace orvex
