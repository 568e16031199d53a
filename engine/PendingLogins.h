#pragma once
// Connections that have not logged in yet. Each holds a thread and a descriptor, so their number
// is capped per client address and in all, and each gets a deadline to log in.

#include <mutex>
#include <string>
#include <unordered_map>

namespace orvex {

struct LoginLimits {
    int perAddress = 32;    // connections waiting to log in from one address
    int total = 512;        // ... from all addresses together
    int loginSeconds = 60;  // from the connection (or a logout) to a successful login
    int failedLogins = 3;   // failed PASS commands that end a connection
};

class PendingLogins {
  public:
    enum Verdict { kAdmitted, kAddressFull, kAllFull };

    void SetLimits(const LoginLimits& limits);
    LoginLimits Limits();
    // Takes a place for a new connection from `ip`; only kAdmitted takes one. An empty `ip` is a
    // connection whose client is not known yet (behind a load balancer): it counts in all only.
    Verdict Enter(const std::string& ip);
    void Leave(const std::string& ip);
    // Moves a place to another address once the client is known; the place stays where it was
    // unless kAdmitted.
    Verdict Move(const std::string& from, const std::string& to);
    int Count();

  private:
    std::mutex lock_;
    LoginLimits limits_;
    std::unordered_map<std::string, int> byAddress_;
    int total_ = 0;
};

}  // namespace orvex
