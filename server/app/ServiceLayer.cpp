#include "server/app/ServiceLayer.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "engine/StringUtil.h"

namespace orvex {

namespace {

bool IsFinal(ServiceState s) {
    return s == ServiceState::Stopped || s == ServiceState::Running;
}

const char* StateText(ServiceState s) {
    switch (s) {
        case ServiceState::Stopped:
            return "Stopped";
        case ServiceState::StartPending:
            return "Starting";
        case ServiceState::StopPending:
            return "Stopping";
        case ServiceState::Running:
            return "Running";
        case ServiceState::ContinuePending:
            return "Continuing";
        case ServiceState::PausePending:
            return "Pausing";
        case ServiceState::Paused:
            return "Paused";
    }
    return "Unknown";
}

class DroppingSink : public StatusSink {
  public:
    void Report(const ServiceStatus&) override {}
};

}  // namespace

void RecordingSink::Report(const ServiceStatus& status) {
    LockGuard g(lock_);
    reports_.push_back(status);
}

std::vector<ServiceStatus> RecordingSink::Reports() const {
    LockGuard g(lock_);
    return reports_;
}

std::string NotifyMessage(const ServiceStatus& status) {
    std::string text;
    if (status.state == ServiceState::Running) text += "READY=1\n";
    if (status.state == ServiceState::StopPending) text += "STOPPING=1\n";
    text += "STATUS=";
    text += StateText(status.state);
    if (status.state == ServiceState::Stopped && status.serviceExitCode != 0) {
        text += StringUtil::Format(" (error %u)\nEXIT_STATUS=%u", status.serviceExitCode,
                                   status.serviceExitCode);
    }
    return text;
}

NotifySink::NotifySink(std::string socketPath) : path_(std::move(socketPath)) {
    // The first byte of an abstract name is '@' in the variable and NUL on the wire.
    if (path_.empty() || path_.size() >= sizeof(sockaddr_un::sun_path)) return;
    if (path_[0] != '/' && path_[0] != '@') return;
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

NotifySink::~NotifySink() {
    if (fd_ >= 0) close(fd_);
}

bool NotifySink::Send(const std::string& text) {
    if (fd_ < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path_.data(), path_.size());
    if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';
    const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path_.size());
    return sendto(fd_, text.data(), text.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&addr),
                  len) == static_cast<ssize_t>(text.size());
}

void NotifySink::Report(const ServiceStatus& status) {
    Send(NotifyMessage(status));
}

std::unique_ptr<StatusSink> MakeEnvironmentSink() {
    const char* path = std::getenv("NOTIFY_SOCKET");
    if (path && *path) {
        auto sink = std::make_unique<NotifySink>(path);
        if (sink->Usable()) return sink;
    }
    return std::make_unique<DroppingSink>();
}

ServiceLayer::ServiceLayer(StatusSink& sink, std::atomic<int>& stopFlag)
    : sink_(sink), stop_(stopFlag) {}

ServiceStatus ServiceLayer::Report(ServiceState state, uint32_t win32ExitCode,
                                   uint32_t serviceExitCode, uint32_t waitHint) {
    ServiceStatus copy;
    {
        LockGuard g(lock_);
        status_.state = state;
        status_.controlsAccepted = state == ServiceState::StartPending ? 0 : kAcceptStop;
        status_.win32ExitCode = serviceExitCode != 0 ? kServiceSpecificError : win32ExitCode;
        status_.serviceExitCode = serviceExitCode;
        status_.waitHint = waitHint;
        status_.checkPoint = IsFinal(state) ? 0 : ++checkPoint_;
        copy = status_;
    }
    sink_.Report(copy);
    return copy;
}

void ServiceLayer::Control(ServiceControl control) {
    switch (control) {
        case ServiceControl::Stop:
        case ServiceControl::Shutdown:
            Report(ServiceState::StopPending, 0, 0, kServiceWaitHintMs);
            stop_ = 1;
            break;
        case ServiceControl::Pause: {
            LockGuard g(lock_);
            status_.state = ServiceState::PausePending;
            break;
        }
        case ServiceControl::Continue: {
            LockGuard g(lock_);
            status_.state = ServiceState::ContinuePending;
            break;
        }
        case ServiceControl::Interrogate: {
            const ServiceStatus now = Current();
            Report(now.state, now.win32ExitCode, now.serviceExitCode, kServiceWaitHintMs);
            break;
        }
    }
}

ServiceStatus ServiceLayer::Current() const {
    LockGuard g(lock_);
    return status_;
}

int ServiceLayer::RunService(const std::function<bool()>& startup) {
    Report(ServiceState::Running, 0, 0, kServiceWaitHintMs);
    const bool ok = startup();
    // A failed start-up is reported as a service error instead of a clean stop.
    Report(ServiceState::Stopped, 0, ok ? 0 : 1, kServiceWaitHintMs);
    return ok ? 0 : 1;
}

}  // namespace orvex
