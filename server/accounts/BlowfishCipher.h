#pragma once
// The password cipher: Blowfish's structure with its own key words and round function, so stored
// passwords only match this implementation. Its tables take 4 KiB: keep it on the heap, so that
// the stacks of the threads that check passwords stay small.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvex {

class BlowfishCipher {
  public:
    static constexpr size_t kBlockSize = 8;

    // An empty key leaves the initial tables un-keyed (as if the key were one zero byte).
    explicit BlowfishCipher(std::string_view key);
    virtual ~BlowfishCipher();

    BlowfishCipher(const BlowfishCipher&) = delete;
    BlowfishCipher& operator=(const BlowfishCipher&) = delete;

    void EncryptBlock(uint32_t& left, uint32_t& right) const;
    void DecryptBlock(uint32_t& left, uint32_t& right) const;

    // CBC in place with the initial vector (1, 1); `len` must be a multiple of kBlockSize
    // (a trailing partial block is left untouched).
    void EncryptCbc(uint8_t* data, size_t len) const;
    void DecryptCbc(uint8_t* data, size_t len) const;

  private:
    uint32_t Round(uint32_t x) const;
    void ScheduleKey(std::string_view key);

    std::array<uint32_t, 18> p_;
    std::array<std::array<uint32_t, 256>, 4> s_;
};

}  // namespace orvex
