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
    if (ip.empty()) {
        ++total_;
        return kAdmitted;
    }
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
    if (!ip.empty()) {
        if (it == byAddress_.end()) return;
        if (--it->second <= 0) byAddress_.erase(it);
    }
    if (total_ > 0) --total_;
}

PendingLogins::Verdict PendingLogins::Move(const std::string& from, const std::string& to) {
    std::lock_guard<std::mutex> g(lock_);
    if (from == to) return kAdmitted;
    if (!to.empty()) {
        int& mine = byAddress_[to];
        if (mine >= limits_.perAddress) {
            if (mine == 0) byAddress_.erase(to);
            return kAddressFull;
        }
        ++mine;
    }
    auto it = byAddress_.find(from);
    if (!from.empty() && it != byAddress_.end() && --it->second <= 0) byAddress_.erase(it);
    return kAdmitted;
}

int PendingLogins::Count() {
    std::lock_guard<std::mutex> g(lock_);
    return total_;
}

}  // namespace orvex
