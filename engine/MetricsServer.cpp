#include "engine/MetricsServer.h"

#include <sys/socket.h>

#include <string_view>

#include "engine/Clock.h"
#include "engine/FtpSite.h"
#include "engine/RunState.h"
#include "engine/SocketUtil.h"
#include "engine/ThreadUtil.h"

namespace orvex {

namespace {

constexpr int kAcceptWaitSeconds = 1;
constexpr int kRequestWaitMs = 5000;
constexpr size_t kHeadMax = 8192;

// The request head, up to its blank line; a slow or endless one is cut off.
std::string ReadHead(int fd) {
    std::string head;
    const int64_t deadline = Clock::MonotonicMs() + kRequestWaitMs;
    while (head.size() < kHeadMax && head.find("\r\n\r\n") == std::string::npos &&
           head.find("\n\n") == std::string::npos) {
        const int64_t left = deadline - Clock::MonotonicMs();
        if (left <= 0 || SocketUtil::WaitReadable(fd, 0, static_cast<int>(left)) <= 0) break;
        char buf[1024];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
    }
    return head;
}

void Answer(int fd, std::string_view status, std::string_view type, const std::string& body) {
    std::string reply = "HTTP/1.0 " + std::string(status) +
                        "\r\nContent-Type: " + std::string(type) +
                        "\r\nContent-Length: " + std::to_string(body.size()) +
                        "\r\nConnection: close\r\n\r\n" + body;
    SocketUtil::SendAll(fd, reply.data(), reply.size());
}

void Serve(FtpSite& site, int listenFd, const std::string& program) {
    while (!Run().stopRequested) {
        if (SocketUtil::WaitReadable(listenFd, kAcceptWaitSeconds, 0) <= 0) continue;
        int fd = SocketUtil::Accept(listenFd);
        if (fd < 0) continue;
        if (IsMetricsRequest(ReadHead(fd))) {
            Answer(fd, "200 OK", "text/plain; version=0.0.4; charset=utf-8",
                   site.Stats().Render(site.Logins().Count(), program, site.GetSiteVersion()));
        } else {
            Answer(fd, "404 Not Found", "text/plain", "Only GET /metrics is served here.\n");
        }
        SocketUtil::ShutdownBoth(fd);
        SocketUtil::Close(fd);
    }
    SocketUtil::Close(listenFd);
    Run().metricsRunning = 0;
}

}  // namespace

bool IsMetricsRequest(std::string_view head) {
    if (!head.starts_with("GET /metrics")) return false;
    const std::string_view rest = head.substr(12);
    return rest.starts_with(" ") || rest.starts_with("?");
}

bool StartMetricsServer(FtpSite& site, const std::string& bindIp, unsigned port,
                        const std::string& program) {
    int fd =
        SocketUtil::OpenListener(std::to_string(port), bindIp.empty() ? nullptr : bindIp.c_str());
    if (fd < 0) {
        site.LogProgram("MAIN", "WARNING: unable to open the metrics port %u on %s.", port,
                        bindIp.c_str());
        return false;
    }
    Run().metricsRunning = 1;
    if (!ThreadUtil::StartThread([&site, fd, program]() { Serve(site, fd, program); })) {
        Run().metricsRunning = 0;
        int closing = fd;
        SocketUtil::Close(closing);
        return false;
    }
    site.LogProgram("MAIN", "Metrics served on %s:%u.", bindIp.c_str(), port);
    return true;
}

}  // namespace orvex
