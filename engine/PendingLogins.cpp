#include "engine/PendingLogins.h"

namespace orvex {

void PendingLogins::SetLimits(const LoginLimits& limits) {
    std::lock_guard<std::mutex> g(lock_);
    limits_ = limits;
}

LoginLimits PendingLogins::Limits() {
    std::lock_guard<std::mutex> g(lock_);
    return limits_;
}

PendingLogins::Verdict PendingLogins::Enter(const std::string& ip) {
    std::lock_guard<std::mutex> g(lock_);
    if (total_ >= limits_.total) return kAllFull;
    auto it = byAddress_.find(ip);
    const int mine = it == byAddress_.end() ? 0 : it->second;
    if (mine >= limits_.perAddress) return kAddressFull;
    byAddress_[ip] = mine + 1;
    ++total_;
    return kAdmitted;
}

void PendingLogins::Leave(const std::string& ip) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = byAddress_.find(ip);
    if (it == byAddress_.end()) return;
    if (--it->second <= 0) byAddress_.erase(it);
    if (total_ > 0) --total_;
}

int PendingLogins::Count() {
    std::lock_guard<std::mutex> g(lock_);
    return total_;
}

}  // namespace orvex
