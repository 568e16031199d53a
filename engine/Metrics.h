#pragma once
// Counters of what the server does, shown to a Prometheus scraper in its text format. Only fixed
// words become label values, never anything a client typed.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvex {

class Metrics {
  public:
    enum class PreLoginRefusal {
        kTooManyConnections,
        kTooManyFromAddress,
        kLoginTimeout,
        kFailedLogins,
        kProxyHeader,
        kCount
    };
    enum class DataRefusal { kForeignAddress, kTlsFailed, kTlsSessionNotResumed, kCount };

    Metrics();

    void CountLogin(bool ok) { (ok ? loginsOk_ : loginsFailed_)++; }
    void CountBytes(bool sent, uint64_t n) { (sent ? bytesSent_ : bytesReceived_) += n; }
    // `verb` outside the fixed set counts as "other".
    void CountTransfer(std::string_view verb, bool ok);
    void CountTlsHandshake(bool ok) { (ok ? tlsOk_ : tlsFailed_)++; }
    void CountDataRefusal(DataRefusal why) { dataRefusals_[static_cast<size_t>(why)]++; }
    void CountPreLoginRefusal(PreLoginRefusal why) { preLogin_[static_cast<size_t>(why)]++; }
    void CountRemoteConnection(bool failed) { (failed ? remoteErrors_ : remoteConnections_)++; }
    // Sessions past their login, and transfer jobs running.
    std::atomic<int64_t>& LoggedIn() { return loggedIn_; }
    std::atomic<int64_t>& Transferring() { return transferring_; }

    // The whole exposition; `pendingLogins` is the count of sessions not logged in yet.
    std::string Render(int64_t pendingLogins, std::string_view program,
                       std::string_view version) const;

  private:
    static constexpr std::array<std::string_view, 8> kVerbs = {"RETR", "STOR", "STOU", "APPE",
                                                               "LIST", "NLST", "MLSD", "other"};
    std::atomic<uint64_t> loginsOk_{0}, loginsFailed_{0};
    std::atomic<uint64_t> bytesSent_{0}, bytesReceived_{0};
    std::array<std::atomic<uint64_t>, kVerbs.size() * 2> transfers_{};
    std::atomic<uint64_t> tlsOk_{0}, tlsFailed_{0};
    std::array<std::atomic<uint64_t>, static_cast<size_t>(DataRefusal::kCount)> dataRefusals_{};
    std::array<std::atomic<uint64_t>, static_cast<size_t>(PreLoginRefusal::kCount)> preLogin_{};
    std::atomic<uint64_t> remoteConnections_{0}, remoteErrors_{0};
    std::atomic<int64_t> loggedIn_{0}, transferring_{0};
    double startTime_ = 0;
};

}  // namespace orvex
