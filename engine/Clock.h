#pragma once

#include <cstdint>

namespace orvex::Clock {

uint32_t NowMs();  // wall-clock milliseconds, low 32 bits
inline uint32_t ElapsedMs(uint32_t start, uint32_t end) {
    return end - start;
}
double ElapsedSeconds(uint32_t start, uint32_t end);  // never below 0.01
void SleepMs(uint32_t ms);
int64_t NowSeconds();
// Milliseconds of a clock that never jumps, for deadlines.
int64_t MonotonicMs();

}  // namespace orvex::Clock
