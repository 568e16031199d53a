#pragma once
// Process-wide run state polled by listeners, client threads and the main thread.

#include <atomic>

namespace orvex {

struct RunState {
    std::atomic<int> stopRequested{0};
    std::atomic<int> listenerRunning{0};
    std::atomic<int> sslListenerRunning{0};
    std::atomic<int> liveClients{0};
    std::atomic<int> metricsRunning{0};
};

RunState& Run();

// "Decrement when above 0", safe against concurrent decrements.
inline void DecrementIfPositive(std::atomic<int>& n) {
    int v = n.load();
    while (v > 0 && !n.compare_exchange_weak(v, v - 1)) {
    }
}

}  // namespace orvex
