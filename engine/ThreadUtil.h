#pragma once

#include <functional>
#include <mutex>

namespace orvex {

// Critical sections: re-entrant for the owning thread.
using Lock = std::recursive_mutex;
using LockGuard = std::lock_guard<std::recursive_mutex>;

namespace ThreadUtil {
// Starts a detached thread; owners count their threads instead of joining them.
bool StartThread(std::function<void()> entry);
}  // namespace ThreadUtil

}  // namespace orvex
