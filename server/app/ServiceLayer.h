#pragma once
// Service mode: the program plays its own service control dispatcher. The start-up routine runs
// in the foreground, every status change goes through a sink (systemd notifications when
// NOTIFY_SOCKET is set), and a stop control reports "stop pending" and then sets the stop flag.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/ThreadUtil.h"

namespace orvex {

enum class ServiceState : uint32_t {
    Stopped = 1,
    StartPending = 2,
    StopPending = 3,
    Running = 4,
    ContinuePending = 5,
    PausePending = 6,
    Paused = 7,
};

enum class ServiceControl : uint32_t {
    Stop = 1,
    Pause = 2,
    Continue = 3,
    Interrogate = 4,
    Shutdown = 5,
};

inline constexpr uint32_t kServiceTypeOwnProcess = 16;
inline constexpr uint32_t kAcceptStop = 1;
inline constexpr uint32_t kServiceSpecificError = 1066;
inline constexpr uint32_t kServiceWaitHintMs = 3000;
inline constexpr const char* kServiceName = "Orvex";

struct ServiceStatus {
    uint32_t serviceType = kServiceTypeOwnProcess;
    ServiceState state = ServiceState::StartPending;
    uint32_t controlsAccepted = 0;
    uint32_t win32ExitCode = 0;
    uint32_t serviceExitCode = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
};

class StatusSink {
  public:
    virtual ~StatusSink() = default;
    virtual void Report(const ServiceStatus& status) = 0;
};

// Keeps every report, for tests.
class RecordingSink : public StatusSink {
  public:
    void Report(const ServiceStatus& status) override;
    std::vector<ServiceStatus> Reports() const;

  private:
    mutable Lock lock_;
    std::vector<ServiceStatus> reports_;
};

// The notification text for a status: READY=1 when running, STOPPING=1 when stopping, always a
// STATUS= line, and the exit status once stopped with an error.
std::string NotifyMessage(const ServiceStatus& status);

// Sends NotifyMessage over the AF_UNIX datagram socket named in NOTIFY_SOCKET ("@" for the
// abstract namespace). Without a usable socket every report is dropped.
class NotifySink : public StatusSink {
  public:
    explicit NotifySink(std::string socketPath);
    ~NotifySink() override;
    NotifySink(const NotifySink&) = delete;
    NotifySink& operator=(const NotifySink&) = delete;
    void Report(const ServiceStatus& status) override;
    bool Usable() const { return fd_ >= 0; }

  private:
    bool Send(const std::string& text);

    std::string path_;
    int fd_ = -1;
};

// The sink for this process: NotifySink when NOTIFY_SOCKET is set, else one that drops reports.
std::unique_ptr<StatusSink> MakeEnvironmentSink();

class ServiceLayer {
  public:
    ServiceLayer(StatusSink& sink, std::atomic<int>& stopFlag);

    // Reports `state` under the status rules; returns what was reported.
    ServiceStatus Report(ServiceState state, uint32_t win32ExitCode, uint32_t serviceExitCode,
                         uint32_t waitHint);
    void Control(ServiceControl control);
    ServiceStatus Current() const;

    // The service main: reports running, runs `startup`, reports stopped (with a service error
    // when it failed). The process exit status: 0, or 1 for a failed start-up.
    int RunService(const std::function<bool()>& startup);

  private:
    StatusSink& sink_;
    std::atomic<int>& stop_;
    mutable Lock lock_;
    ServiceStatus status_;
    uint32_t checkPoint_ = 0;
};

}  // namespace orvex
