// The service layer: the status rules of every report, the controls, and the notifications it
// sends to a service manager's datagram socket.

#include "server/app/ServiceLayer.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

namespace orvex {
namespace {

class ServiceTest : public ::testing::Test {
  protected:
    RecordingSink sink_;
    std::atomic<int> stop_{0};
    ServiceLayer layer_{sink_, stop_};
};

TEST_F(ServiceTest, ServiceMainReportsRunningThenStopped) {
    bool ran = false;
    EXPECT_EQ(layer_.RunService([&]() {
        ran = true;
        // Running is reported before the start-up routine does anything.
        EXPECT_EQ(sink_.Reports().size(), 1u);
        return true;
    }),
              0);
    EXPECT_TRUE(ran);
    const auto r = sink_.Reports();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].state, ServiceState::Running);
    EXPECT_EQ(r[0].serviceType, kServiceTypeOwnProcess);
    EXPECT_EQ(r[0].controlsAccepted, kAcceptStop);
    EXPECT_EQ(r[0].checkPoint, 0u);
    EXPECT_EQ(r[0].waitHint, 3000u);
    EXPECT_EQ(r[1].state, ServiceState::Stopped);
    EXPECT_EQ(r[1].checkPoint, 0u);
    EXPECT_EQ(r[1].win32ExitCode, 0u);
    EXPECT_EQ(r[1].serviceExitCode, 0u);
}

TEST_F(ServiceTest, FailedStartUpIsAServiceErrorAndANonZeroExit) {
    EXPECT_EQ(layer_.RunService([]() { return false; }), 1);
    const auto r = sink_.Reports();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].state, ServiceState::Stopped);
    EXPECT_NE(r[1].serviceExitCode, 0u);
    EXPECT_EQ(r[1].win32ExitCode, kServiceSpecificError);
}

TEST_F(ServiceTest, StatusRules) {
    // Start pending accepts no control; every state but the two final ones counts on.
    auto s = layer_.Report(ServiceState::StartPending, 0, 0, 3000);
    EXPECT_EQ(s.controlsAccepted, 0u);
    EXPECT_EQ(s.checkPoint, 1u);
    s = layer_.Report(ServiceState::StartPending, 0, 0, 3000);
    EXPECT_EQ(s.checkPoint, 2u);
    s = layer_.Report(ServiceState::Running, 0, 0, 0);
    EXPECT_EQ(s.controlsAccepted, kAcceptStop);
    EXPECT_EQ(s.checkPoint, 0u);
    s = layer_.Report(ServiceState::StopPending, 0, 0, 3000);
    EXPECT_EQ(s.controlsAccepted, kAcceptStop);
    EXPECT_EQ(s.checkPoint, 3u);
    s = layer_.Report(ServiceState::Stopped, 5, 0, 0);
    EXPECT_EQ(s.checkPoint, 0u);
    EXPECT_EQ(s.win32ExitCode, 5u);
    s = layer_.Report(ServiceState::Stopped, 5, 7, 0);
    EXPECT_EQ(s.win32ExitCode, kServiceSpecificError);
    EXPECT_EQ(s.serviceExitCode, 7u);
    EXPECT_EQ(sink_.Reports().size(), 6u);
}

TEST_F(ServiceTest, StopAndShutdownReportStopPendingThenSetTheFlag) {
    for (ServiceControl c : {ServiceControl::Stop, ServiceControl::Shutdown}) {
        stop_ = 0;
        const size_t before = sink_.Reports().size();
        layer_.Control(c);
        EXPECT_EQ(stop_.load(), 1);
        const auto r = sink_.Reports();
        ASSERT_EQ(r.size(), before + 1);
        EXPECT_EQ(r.back().state, ServiceState::StopPending);
        EXPECT_EQ(r.back().waitHint, 3000u);
        EXPECT_GT(r.back().checkPoint, 0u);
    }
}

TEST_F(ServiceTest, PauseAndContinueAreRecordedAndOnlyInterrogateReportsThem) {
    layer_.Report(ServiceState::Running, 0, 0, 3000);
    layer_.Control(ServiceControl::Pause);
    EXPECT_EQ(layer_.Current().state, ServiceState::PausePending);
    layer_.Control(ServiceControl::Continue);
    EXPECT_EQ(layer_.Current().state, ServiceState::ContinuePending);
    EXPECT_EQ(sink_.Reports().size(), 1u);
    EXPECT_EQ(stop_.load(), 0);

    layer_.Control(ServiceControl::Interrogate);
    const auto r = sink_.Reports();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].state, ServiceState::ContinuePending);
    EXPECT_EQ(r[1].waitHint, 3000u);
    EXPECT_EQ(r[1].checkPoint, 1u);
}

TEST(NotifyMessage, NamesReadinessAndStopping) {
    ServiceStatus s;
    s.state = ServiceState::Running;
    EXPECT_EQ(NotifyMessage(s), "READY=1\nSTATUS=Running");
    s.state = ServiceState::StopPending;
    EXPECT_EQ(NotifyMessage(s), "STOPPING=1\nSTATUS=Stopping");
    s.state = ServiceState::Stopped;
    EXPECT_EQ(NotifyMessage(s), "STATUS=Stopped");
    s.serviceExitCode = 1;
    EXPECT_EQ(NotifyMessage(s), "STATUS=Stopped (error 1)\nEXIT_STATUS=1");
}

// A service manager's notification socket: bound, read with a time limit.
class NotifyListener {
  public:
    explicit NotifyListener(bool abstract) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        socklen_t len;
        if (abstract) {
            name_ = "@orvex-notify-test-" + std::to_string(getpid());
            std::memcpy(addr.sun_path + 1, name_.data() + 1, name_.size() - 1);
            len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name_.size());
        } else {
            char dir[] = "/tmp/orvex-notify-XXXXXX";
            dir_ = mkdtemp(dir) ? dir : "";
            name_ = dir_ + "/notify";
            std::memcpy(addr.sun_path, name_.c_str(), name_.size() + 1);
            len = sizeof addr;
        }
        bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) == 0;
    }
    ~NotifyListener() {
        close(fd_);
        if (!dir_.empty()) {
            unlink(name_.c_str());
            rmdir(dir_.c_str());
        }
    }
    std::string Next() {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) return "(nothing)";
        char buf[512];
        const ssize_t n = recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "(error)";
    }
    const std::string& Name() const { return name_; }
    bool Bound() const { return bound_; }

  private:
    int fd_ = -1;
    bool bound_ = false;
    std::string name_, dir_;
};

TEST(NotifySink, SendsEachReportAsOneDatagram) {
    for (bool abstract : {false, true}) {
        NotifyListener listener(abstract);
        ASSERT_TRUE(listener.Bound());
        NotifySink sink(listener.Name());
        ASSERT_TRUE(sink.Usable());
        std::atomic<int> stop{0};
        ServiceLayer layer(sink, stop);
        layer.RunService([&]() {
            layer.Control(ServiceControl::Stop);
            return true;
        });
        EXPECT_EQ(listener.Next(), "READY=1\nSTATUS=Running");
        EXPECT_EQ(listener.Next(), "STOPPING=1\nSTATUS=Stopping");
        EXPECT_EQ(listener.Next(), "STATUS=Stopped");
    }
}

TEST(NotifySink, UnusableAddressesDropReports) {
    EXPECT_FALSE(NotifySink("").Usable());
    EXPECT_FALSE(NotifySink("relative/socket").Usable());
    EXPECT_FALSE(NotifySink("/" + std::string(200, 'x')).Usable());
    // A socket nobody listens on: the report is lost, the server goes on.
    NotifySink gone("/tmp/orvex-no-such-notify-socket");
    ASSERT_TRUE(gone.Usable());
    gone.Report(ServiceStatus{});

    unsetenv("NOTIFY_SOCKET");
    std::unique_ptr<StatusSink> sink = MakeEnvironmentSink();
    ASSERT_TRUE(sink);
    sink->Report(ServiceStatus{});
}

}  // namespace
}  // namespace orvex
