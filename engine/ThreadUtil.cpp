#include "engine/ThreadUtil.h"

#include <exception>
#include <thread>

namespace orvex::ThreadUtil {

bool StartThread(std::function<void()> entry) {
    if (!entry) return false;
    try {
        std::thread t([fn = std::move(entry)]() mutable {
            // An escaping exception would end the whole process; a thread just ends instead.
            try {
                fn();
            } catch (...) {
            }
        });
        t.detach();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace orvex::ThreadUtil
