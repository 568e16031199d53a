#include "plugin/ServiceControl.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <vector>

#include "plugin/SystemdServiceControl.h"
#include "tests/plugin/TempDir.h"

using namespace orvex::plugin;
using orvex::test::MakeFakeSystemctl;
using orvex::test::ReadText;
using orvex::test::TempDir;
using orvex::test::WriteText;

namespace {

class FakeControl : public ServiceControl {
  public:
    bool open = true, createOk = true, exists = true, stopOk = true;
    std::deque<ServiceState> states;
    std::vector<std::string> calls;

    bool Open() override {
        calls.push_back("open");
        return open;
    }
    bool Create(const std::string& name, const std::string& display, const std::string& program,
                StartType start) override {
        calls.push_back("create " + name + "|" + display + "|" + program + "|" +
                        (start == StartType::Automatic ? "auto" : "demand"));
        return createOk;
    }
    bool SetRestartActions(const std::string& name, int count, unsigned delayMs) override {
        calls.push_back("restart " + name + " " + std::to_string(count) + "x" +
                        std::to_string(delayMs));
        return false;
    }
    bool Exists(const std::string&) override { return exists; }
    bool Stop(const std::string&) override {
        calls.push_back("stop");
        return stopOk;
    }
    ServiceState Query(const std::string&) override {
        calls.push_back("query");
        if (states.empty()) return ServiceState::Stopping;
        ServiceState s = states.front();
        states.pop_front();
        return s;
    }
    bool Delete(const std::string&) override {
        calls.push_back("delete");
        return true;
    }
};

using Calls = std::vector<std::string>;

TEST(InstallServiceUsing, StartTypesAndThreeRestartActions) {
    FakeControl demand;
    EXPECT_EQ(InstallServiceUsing(demand, "/opt/orvex", "Orvex", "Orvex FTP", false), 1);
    EXPECT_EQ(demand.calls,
              (Calls{"open", "create Orvex|Orvex FTP|/opt/orvex|demand", "restart Orvex 3x60000"}));
    FakeControl automatic;
    EXPECT_EQ(InstallServiceUsing(automatic, "/opt/orvex", "Orvex", "Orvex FTP", true), 1);
    EXPECT_EQ(automatic.calls[1], "create Orvex|Orvex FTP|/opt/orvex|auto");
}

TEST(InstallServiceUsing, NoManagerOrNameTakenGivesZero) {
    FakeControl closed;
    closed.open = false;
    EXPECT_EQ(InstallServiceUsing(closed, "/p", "n", "d", true), 0);
    EXPECT_EQ(closed.calls, (Calls{"open"}));
    FakeControl taken;
    taken.createOk = false;
    EXPECT_EQ(InstallServiceUsing(taken, "/p", "n", "d", true), 0);
    EXPECT_EQ(taken.calls.size(), 2u);
}

TEST(RemoveServiceUsing, WaitsWhileStoppingThenDeletes) {
    FakeControl c;
    c.states = {ServiceState::Stopping, ServiceState::Stopping, ServiceState::Stopped};
    std::vector<unsigned> sleeps;
    RemoveServiceUsing(
        c, "Orvex", [&](unsigned ms) { sleeps.push_back(ms); }, 100);
    EXPECT_EQ(sleeps, (std::vector<unsigned>{1000, 1000}));
    EXPECT_EQ(c.calls, (Calls{"open", "stop", "query", "query", "query", "delete"}));
}

TEST(RemoveServiceUsing, StopRefusedOrQueryFailingStillDeletes) {
    FakeControl refused;
    refused.stopOk = false;
    RemoveServiceUsing(
        refused, "n", [](unsigned) {}, 100);
    EXPECT_EQ(refused.calls, (Calls{"open", "stop", "delete"}));
    FakeControl failing;
    failing.states = {ServiceState::QueryFailed};
    RemoveServiceUsing(
        failing, "n", [](unsigned) {}, 100);
    EXPECT_EQ(failing.calls, (Calls{"open", "stop", "query", "delete"}));
}

TEST(RemoveServiceUsing, StuckInStoppingIsBounded) {
    FakeControl stuck;  // answers Stopping for ever
    int sleeps = 0;
    RemoveServiceUsing(
        stuck, "n", [&](unsigned) { ++sleeps; }, 5);
    EXPECT_EQ(sleeps, 5);
    EXPECT_EQ(stuck.calls.back(), "delete");
}

TEST(RemoveServiceUsing, MissingServiceOrManagerTouchesNothing) {
    FakeControl missing;
    missing.exists = false;
    RemoveServiceUsing(
        missing, "n", [](unsigned) {}, 5);
    EXPECT_EQ(missing.calls, (Calls{"open"}));
    FakeControl closed;
    closed.open = false;
    RemoveServiceUsing(
        closed, "n", [](unsigned) {}, 5);
    EXPECT_EQ(closed.calls, (Calls{"open"}));
}

class Systemd : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(dir_ / "units");
        control_ = std::make_unique<SystemdServiceControl>(dir_ / "units", MakeFakeSystemctl(dir_));
    }
    std::string Calls() { return ReadText(dir_ / "calls.log"); }
    std::string Unit(const std::string& name) {
        return ReadText(dir_ / ("units/" + name + ".service"));
    }
    bool UnitExists(const std::string& name) {
        return std::filesystem::exists(dir_ / ("units/" + name + ".service"));
    }

    TempDir dir_;
    std::unique_ptr<SystemdServiceControl> control_;
};

TEST_F(Systemd, OnDemandServiceWithRestartActions) {
    ASSERT_TRUE(control_->Open());
    ASSERT_TRUE(
        control_->Create("orvex", "Orvex FTP server", "/opt/orvex/bin/orvex", StartType::OnDemand));
    EXPECT_EQ(Calls(), "daemon-reload\n");
    ASSERT_TRUE(control_->SetRestartActions("orvex", 3, 60000));
    ASSERT_TRUE(control_->SetRestartActions("orvex", 3, 60000));
    EXPECT_EQ(Unit("orvex"),
              "[Unit]\n"
              "Description=Orvex FTP server\n"
              "\n"
              "[Service]\n"
              "Type=simple\n"
              "ExecStart=/opt/orvex/bin/orvex\n"
              "Restart=on-failure\n"
              "RestartSec=60\n"
              "\n"
              "[Install]\n"
              "WantedBy=multi-user.target\n");
    EXPECT_EQ(Calls(), "daemon-reload\ndaemon-reload\ndaemon-reload\n");
}

TEST_F(Systemd, AutomaticServiceIsEnabled) {
    ASSERT_TRUE(control_->Create("Orvex", "", "/opt/orvex", StartType::Automatic));
    EXPECT_EQ(Calls(), "daemon-reload\nenable Orvex.service\n");
    EXPECT_NE(Unit("Orvex").find("Description=Orvex\n"), std::string::npos);
}

TEST_F(Systemd, ExistingNameIsRefusedAndKept) {
    WriteText(dir_ / "units/orvex.service", "mine\n");
    EXPECT_FALSE(control_->Create("orvex", "d", "/p", StartType::Automatic));
    EXPECT_EQ(Unit("orvex"), "mine\n");
    EXPECT_EQ(Calls(), "");
}

TEST_F(Systemd, FailedEnableOrReloadUndoesTheUnit) {
    WriteText(dir_ / "fail-enable", "");
    EXPECT_FALSE(control_->Create("orvex", "d", "/p", StartType::Automatic));
    EXPECT_FALSE(UnitExists("orvex"));
    EXPECT_EQ(Calls(), "daemon-reload\nenable orvex.service\ndaemon-reload\n");

    SystemdServiceControl noSystemctl(dir_ / "units", dir_ / "no-such-program");
    EXPECT_FALSE(noSystemctl.Create("orvex", "d", "/p", StartType::OnDemand));
    EXPECT_FALSE(UnitExists("orvex"));
}

TEST_F(Systemd, UnwritableOrMissingUnitFolderGivesFailure) {
    SystemdServiceControl missing(dir_ / "nope", dir_ / "systemctl");
    EXPECT_FALSE(missing.Open());
    EXPECT_FALSE(missing.Create("orvex", "d", "/p", StartType::OnDemand));
    WriteText(dir_ / "file", "");
    SystemdServiceControl notDir(dir_ / "file", dir_ / "systemctl");
    EXPECT_FALSE(notDir.Open());
    EXPECT_FALSE(notDir.Create("orvex", "d", "/p", StartType::OnDemand));
    if (geteuid() != 0) {
        chmod((dir_ / "units").c_str(), 0555);
        EXPECT_FALSE(control_->Open());
        EXPECT_FALSE(control_->Create("orvex", "d", "/p", StartType::OnDemand));
        chmod((dir_ / "units").c_str(), 0755);
    }
}

TEST_F(Systemd, NamesThatCouldLeaveTheFolderAreRefused) {
    WriteText(dir_ / "victim.service", "keep\n");
    for (const std::string name : {"../victim", "a/b", "", ".hidden", "-opt", "sp ace", "x\ny"}) {
        EXPECT_FALSE(control_->Create(name, "d", "/p", StartType::OnDemand)) << name;
        EXPECT_FALSE(control_->Exists(name)) << name;
        EXPECT_FALSE(control_->Delete(name)) << name;
    }
    EXPECT_EQ(ReadText(dir_ / "victim.service"), "keep\n");
    EXPECT_EQ(Calls(), "");
    EXPECT_TRUE(SystemdServiceControl::ValidName("orvex@1.ftp-server_x:y"));
}

TEST_F(Systemd, ValuesCannotInjectDirectives) {
    EXPECT_FALSE(control_->Create("a", "d", "/p\nExecStartPre=/bin/evil", StartType::OnDemand));
    EXPECT_FALSE(control_->Create("b", "d\r[Service]", "/p", StartType::OnDemand));
    EXPECT_FALSE(control_->Create("c", "d", "/p\\", StartType::OnDemand));
    EXPECT_FALSE(control_->Create("e", "d", "", StartType::OnDemand));
    ASSERT_TRUE(control_->Create("f", "100% $HOME", "/opt/o $x %h", StartType::OnDemand));
    std::string unit = Unit("f");
    EXPECT_NE(unit.find("Description=100%% $HOME\n"), std::string::npos);
    EXPECT_NE(unit.find("ExecStart=/opt/o $$x %%h\n"), std::string::npos);
}

TEST_F(Systemd, StopQueryAndDelete) {
    ASSERT_TRUE(control_->Create("orvex", "d", "/p", StartType::Automatic));
    EXPECT_TRUE(control_->Exists("orvex"));
    EXPECT_FALSE(control_->Exists("other"));
    WriteText(dir_ / "states", "deactivating\nactive\nreloading\nactivating\nfailed\nbogus\n");
    EXPECT_TRUE(control_->Stop("orvex"));
    EXPECT_EQ(control_->Query("orvex"), ServiceState::Stopping);
    EXPECT_EQ(control_->Query("orvex"), ServiceState::Running);
    EXPECT_EQ(control_->Query("orvex"), ServiceState::Running);
    EXPECT_EQ(control_->Query("orvex"), ServiceState::Starting);
    EXPECT_EQ(control_->Query("orvex"), ServiceState::Stopped);
    EXPECT_EQ(control_->Query("orvex"), ServiceState::QueryFailed);
    EXPECT_EQ(control_->Query("orvex"), ServiceState::Stopped);  // states used up: inactive
    EXPECT_TRUE(control_->Delete("orvex"));
    EXPECT_FALSE(UnitExists("orvex"));
    std::string calls = Calls();
    EXPECT_NE(calls.find("stop --no-block orvex.service\n"), std::string::npos);
    EXPECT_NE(calls.find("is-active orvex.service\n"), std::string::npos);
    EXPECT_EQ(calls.substr(calls.size() - 36), "disable orvex.service\ndaemon-reload\n");

    SystemdServiceControl noSystemctl(dir_ / "units", dir_ / "no-such-program");
    EXPECT_EQ(noSystemctl.Query("orvex"), ServiceState::QueryFailed);
    EXPECT_FALSE(noSystemctl.Stop("orvex"));
}

TEST_F(Systemd, EnvironmentChoosesFolderAndProgram) {
    setenv("ORVEX_SYSTEMD_UNIT_DIR", (dir_ / "units").c_str(), 1);
    setenv("ORVEX_SYSTEMCTL", (dir_ / "systemctl").c_str(), 1);
    auto control = MakeSystemServiceControl();
    unsetenv("ORVEX_SYSTEMD_UNIT_DIR");
    unsetenv("ORVEX_SYSTEMCTL");
    ASSERT_TRUE(control->Create("viaenv", "d", "/p", StartType::OnDemand));
    EXPECT_TRUE(UnitExists("viaenv"));
    EXPECT_EQ(Calls(), "daemon-reload\n");
}

TEST(SystemdUnitText, RestartSettingsReplaceEarlierOnesAndFindTheServiceSection) {
    EXPECT_EQ(
        SystemdServiceControl::WithRestart("[Service]\nRestart=always\nRestartSec=5\nX=1\n", 1500),
        "[Service]\nX=1\nRestart=on-failure\nRestartSec=1500ms\n");
    EXPECT_EQ(SystemdServiceControl::WithRestart("[Unit]\nA=1\n", 60000),
              "[Unit]\nA=1\n\n[Service]\nRestart=on-failure\nRestartSec=60\n");
}

}  // namespace
