#include "engine/Metrics.h"

#include <chrono>
#include <cstdio>

#include "engine/StringUtil.h"

namespace orvex {

namespace {

constexpr std::string_view kPreLoginCauses[] = {"too_many_connections", "too_many_from_address",
                                                "login_timeout", "failed_logins", "proxy_header"};
constexpr std::string_view kDataRefusals[] = {"foreign_address", "tls_failed",
                                              "tls_session_not_resumed"};

// One metric family: its HELP and TYPE lines, then its samples.
class Exposition {
  public:
    void Family(std::string_view name, std::string_view type, std::string_view help) {
        out_ += "# HELP orvex_" + std::string(name) + " " + std::string(help) + "\n";
        out_ += "# TYPE orvex_" + std::string(name) + " " + std::string(type) + "\n";
    }
    void Sample(std::string_view name, std::string_view labels, double value) {
        char number[64];
        std::snprintf(number, sizeof number, "%.17g", value);
        out_ += "orvex_" + std::string(name);
        if (!labels.empty()) out_ += "{" + std::string(labels) + "}";
        out_ += " " + std::string(number) + "\n";
    }
    std::string Take() { return std::move(out_); }

  private:
    std::string out_;
};

std::string Label(std::string_view name, std::string_view value) {
    return std::string(name) + "=\"" + std::string(value) + "\"";
}

}  // namespace

Metrics::Metrics() {
    using namespace std::chrono;
    startTime_ = duration<double>(system_clock::now().time_since_epoch()).count();
}

void Metrics::CountTransfer(std::string_view verb, bool ok) {
    size_t index = kVerbs.size() - 1;
    for (size_t i = 0; i + 1 < kVerbs.size(); ++i)
        if (StringUtil::EqualNoCase(verb, kVerbs[i])) index = i;
    transfers_[index * 2 + (ok ? 0 : 1)]++;
}

std::string Metrics::Render(int64_t pendingLogins, std::string_view program,
                            std::string_view version) const {
    Exposition e;
    e.Family("sessions", "gauge", "Control connections now, by state.");
    e.Sample("sessions", Label("state", "pending_login"), static_cast<double>(pendingLogins));
    e.Sample("sessions", Label("state", "logged_in"), static_cast<double>(loggedIn_.load()));
    e.Family("transfers_running", "gauge", "Listing and file transfer jobs running now.");
    e.Sample("transfers_running", "", static_cast<double>(transferring_.load()));
    e.Family("logins_total", "counter", "Login attempts, by result.");
    e.Sample("logins_total", Label("result", "success"), static_cast<double>(loginsOk_.load()));
    e.Sample("logins_total", Label("result", "failure"), static_cast<double>(loginsFailed_.load()));
    e.Family("sent_bytes_total", "counter", "Bytes sent on data connections.");
    e.Sample("sent_bytes_total", "", static_cast<double>(bytesSent_.load()));
    e.Family("received_bytes_total", "counter", "Bytes received on data connections.");
    e.Sample("received_bytes_total", "", static_cast<double>(bytesReceived_.load()));
    e.Family("transfers_total", "counter",
             "Finished listings and file transfers, by command and result.");
    for (size_t i = 0; i < kVerbs.size(); ++i) {
        for (int failed = 0; failed < 2; ++failed) {
            e.Sample(
                "transfers_total",
                Label("command", kVerbs[i]) + "," + Label("result", failed ? "failure" : "success"),
                static_cast<double>(transfers_[i * 2 + failed].load()));
        }
    }
    e.Family("tls_handshakes_total", "counter",
             "TLS handshakes on control and data connections, by result.");
    e.Sample("tls_handshakes_total", Label("result", "success"),
             static_cast<double>(tlsOk_.load()));
    e.Sample("tls_handshakes_total", Label("result", "failure"),
             static_cast<double>(tlsFailed_.load()));
    e.Family("data_connections_refused_total", "counter", "Data connections refused, by reason.");
    for (size_t i = 0; i < dataRefusals_.size(); ++i)
        e.Sample("data_connections_refused_total", Label("reason", kDataRefusals[i]),
                 static_cast<double>(dataRefusals_[i].load()));
    e.Family("prelogin_refusals_total", "counter", "Connections ended before a login, by cause.");
    for (size_t i = 0; i < preLogin_.size(); ++i)
        e.Sample("prelogin_refusals_total", Label("cause", kPreLoginCauses[i]),
                 static_cast<double>(preLogin_[i].load()));
    e.Family("remote_connections_total", "counter", "Connections opened to remote alias servers.");
    e.Sample("remote_connections_total", "", static_cast<double>(remoteConnections_.load()));
    e.Family("remote_connection_errors_total", "counter",
             "Failed connections to remote alias servers.");
    e.Sample("remote_connection_errors_total", "", static_cast<double>(remoteErrors_.load()));
    e.Family("process_start_time_seconds", "gauge", "Start time of the process since the epoch.");
    e.Sample("process_start_time_seconds", "", startTime_);
    e.Family("build_info", "gauge", "The program and its version; always 1.");
    e.Sample("build_info", Label("program", program) + "," + Label("version", version), 1);
    return e.Take();
}

}  // namespace orvex
