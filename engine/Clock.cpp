#include "engine/Clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace orvex::Clock {

uint32_t NowMs() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return static_cast<uint32_t>(static_cast<uint64_t>(ms.count()));
}

double ElapsedSeconds(uint32_t start, uint32_t end) {
    double s = static_cast<uint32_t>(end - start) * 0.001;
    return s < 0.01 ? 0.01 : s;
}

void SleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int64_t NowSeconds() {
    return static_cast<int64_t>(std::time(nullptr));
}

int64_t MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace orvex::Clock
