// Plays the installer: loads the library, pushes parameters, calls an export, pops results.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "plugin/StringStack.h"
#include "tests/plugin/TempDir.h"

using orvex::test::MakeFakeSystemctl;
using orvex::test::ReadText;
using orvex::test::TempDir;
using orvex::test::WriteText;

namespace {

class Installer {
  public:
    explicit Installer(int stringSize) : stringSize_(stringSize) {
        lib_ = dlopen(ORVEX_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (lib_ == nullptr) return;
        alloc_ = reinterpret_cast<decltype(alloc_)>(dlsym(lib_, "OrvexStackAlloc"));
        free_ = reinterpret_cast<decltype(free_)>(dlsym(lib_, "OrvexStackFree"));
    }
    ~Installer() {
        while (Depth() > 0) Pop();
        if (lib_ != nullptr) dlclose(lib_);
    }
    bool Loaded() const { return lib_ != nullptr && alloc_ != nullptr && free_ != nullptr; }

    void Push(const std::string& text) {
        OrvexStackEntry* e = alloc_(stringSize_);
        std::strncpy(reinterpret_cast<char*>(e) + 8, text.c_str(),
                     static_cast<size_t>(stringSize_) - 1);
        e->next = top_;
        top_ = e;
    }
    // Pushes parameters so that the export pops them in the order given.
    void PushParams(const std::vector<std::string>& popOrder) {
        for (auto it = popOrder.rbegin(); it != popOrder.rend(); ++it) Push(*it);
    }
    std::string Pop() {
        OrvexStackEntry* e = top_;
        std::string text(reinterpret_cast<char*>(e) + 8);
        top_ = e->next;
        free_(e);
        return text;
    }
    int Depth() const {
        int n = 0;
        for (OrvexStackEntry* e = top_; e != nullptr; e = e->next) ++n;
        return n;
    }
    // Calls the export and returns its one result, or "<none>".
    std::string Call(const char* name, int expectDepthAfter = 1) {
        auto fn = reinterpret_cast<OrvexPluginExport>(dlsym(lib_, name));
        if (fn == nullptr) return "<missing export>";
        char variables[1024] = "";
        fn(reinterpret_cast<void*>(0x1234), stringSize_, variables, &top_);
        if (Depth() != expectDepthAfter) return "<depth " + std::to_string(Depth()) + ">";
        return Pop();
    }
    int stringSize() const { return stringSize_; }
    std::string Cut(const std::string& s) const {
        return s.substr(0, static_cast<size_t>(stringSize_) - 1);
    }

  private:
    int stringSize_;
    void* lib_ = nullptr;
    OrvexStackEntry* (*alloc_)(int) = nullptr;
    void (*free_)(OrvexStackEntry*) = nullptr;
    OrvexStackEntry* top_ = nullptr;
};

class InstallerHarness : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(installer_.Loaded()) << dlerror();
        std::filesystem::create_directory(dir_ / "units");
        setenv("ORVEX_SYSTEMD_UNIT_DIR", (dir_ / "units").c_str(), 1);
        setenv("ORVEX_SYSTEMCTL", MakeFakeSystemctl(dir_).c_str(), 1);
        // Short relative names so that even a 16-byte string size carries them.
        oldCwd_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
    }
    void TearDown() override {
        std::filesystem::current_path(oldCwd_);
        unsetenv("ORVEX_SYSTEMD_UNIT_DIR");
        unsetenv("ORVEX_SYSTEMCTL");
    }

    TempDir dir_;
    Installer installer_{GetParam()};
    std::filesystem::path oldCwd_;
};

TEST_P(InstallerHarness, InstallOnDemandAndAutomaticThenRemove) {
    installer_.PushParams({"/opt/orvex", "orvex", "Orvex FTP", "0"});
    EXPECT_EQ(installer_.Call("InstallService"), "1");
    std::string unit = ReadText("units/orvex.service");
    EXPECT_NE(unit.find("ExecStart=/opt/orvex\n"), std::string::npos);
    EXPECT_NE(unit.find("Restart=on-failure\nRestartSec=60\n"), std::string::npos);
    EXPECT_NE(unit.find("Description=" + installer_.Cut("Orvex FTP") + "\n"), std::string::npos);
    EXPECT_EQ(ReadText("calls.log").find("enable"), std::string::npos);

    installer_.PushParams({"/opt/orvex", "orvex2", "Orvex 2", "1"});
    EXPECT_EQ(installer_.Call("InstallService"), "1");
    EXPECT_NE(ReadText("units/orvex2.service").find("RestartSec=60\n"), std::string::npos);
    EXPECT_NE(ReadText("calls.log").find("enable orvex2.service\n"), std::string::npos);

    // The name is taken now.
    installer_.PushParams({"/opt/other", "orvex", "x", "1"});
    EXPECT_EQ(installer_.Call("InstallService"), "0");
    EXPECT_NE(ReadText("units/orvex.service").find("ExecStart=/opt/orvex\n"), std::string::npos);

    WriteText("states", "deactivating\ninactive\n");
    installer_.PushParams({"orvex"});
    EXPECT_EQ(installer_.Call("RemoveService"), "0");
    EXPECT_FALSE(std::filesystem::exists("units/orvex.service"));
    std::string calls = ReadText("calls.log");
    EXPECT_NE(calls.find("stop --no-block orvex.service\nis-active orvex.service\n"
                         "is-active orvex.service\ndisable orvex.service\n"),
              std::string::npos)
        << calls;

    installer_.PushParams({"orvex"});
    EXPECT_EQ(installer_.Call("RemoveService"), "0");  // gone already: still "0"
}

TEST_P(InstallerHarness, InstallWithoutWritableUnitFolderGivesZero) {
    setenv("ORVEX_SYSTEMD_UNIT_DIR", (dir_ / "missing").c_str(), 1);
    installer_.PushParams({"/opt/orvex", "orvex", "d", "1"});
    EXPECT_EQ(installer_.Call("InstallService"), "0");
}

TEST_P(InstallerHarness, UpdateSiteConf) {
    WriteText("t", "# conf\nROOTPATH /x\n#rootpath /y\ndefault_homedir /z\nserver_port 2121\n");
    installer_.PushParams({"t", "o", "/app", "/app/site"});
    EXPECT_EQ(installer_.Call("UpdateSiteConf"), "5");
    EXPECT_EQ(ReadText("o"),
              "# conf\n"
              "rootpath                /app/\n"
              "#rootpath /y\n"
              "default_homedir         ./site/\n"
              "server_port 2121\n");

    installer_.PushParams({"t", "o", "/app", "/srv/ftp"});
    EXPECT_EQ(installer_.Call("UpdateSiteConf"), "5");
    EXPECT_NE(ReadText("o").find("default_homedir         /srv/ftp/\n"), std::string::npos);

    installer_.PushParams({"missing", "o2", "/app", "/app/site"});
    EXPECT_EQ(installer_.Call("UpdateSiteConf"), "0");
    EXPECT_FALSE(std::filesystem::exists("o2"));
}

TEST_P(InstallerHarness, UpdateSitePasswd) {
    WriteText("p", "# header\norvex;HASH;100;100;\nguest;X;101;100;01-01-20;/g/\n");
    installer_.PushParams({"p", "q", "/app", "/app/site"});
    EXPECT_EQ(installer_.Call("UpdateSitePasswd"), "3");
    std::string text = ReadText("q");
    EXPECT_TRUE(orvex::test::HasDateBetween(text, "# header\norvex;HASH;100;100;",
                                            ";./site/\nguest;X;101;100;01-01-20;/g/\n"))
        << text;

    installer_.PushParams({"p", "no/dir/q", "/app", "/app/site"});
    EXPECT_EQ(installer_.Call("UpdateSitePasswd"), "0");
}

TEST_P(InstallerHarness, EmptyStackGivesZeroFromEveryExport) {
    for (const char* name :
         {"InstallService", "RemoveService", "UpdateSiteConf", "UpdateSitePasswd"}) {
        EXPECT_EQ(installer_.Call(name), "0") << name;
    }
    EXPECT_TRUE(std::filesystem::is_empty("units"));
}

TEST_P(InstallerHarness, MissingParametersKeepEmptyBuffersAndLowerEntriesStay) {
    // Only the template and the output: root and home stay empty and become "/".
    WriteText("t", "rootpath x\ndefault_homedir y\n");
    installer_.PushParams({"t", "o"});
    EXPECT_EQ(installer_.Call("UpdateSiteConf"), "2");
    EXPECT_EQ(ReadText("o"), "rootpath                /\ndefault_homedir         ./\n");

    // The installer's own entries below the parameters are left alone.
    installer_.Push("mine");
    installer_.PushParams({"t", "o", "/r", "/h"});
    EXPECT_EQ(installer_.Call("UpdateSiteConf", 2), "2");
    EXPECT_EQ(installer_.Pop(), "mine");
}

TEST_P(InstallerHarness, OverLongParametersAreCut) {
    const std::string root = "/" + std::string(400, 'r');
    WriteText("t", "rootpath x\ndefault_homedir y\n");
    installer_.PushParams({"t", "o", root, root + "/home"});
    EXPECT_EQ(installer_.Call("UpdateSiteConf"), "2");
    // The installer cuts at string size - 1, the plug-in at 267; then the separator is added.
    size_t kept = std::min<size_t>(267, static_cast<size_t>(installer_.stringSize()) - 1);
    std::string cutRoot = root.substr(0, kept) + "/";
    EXPECT_EQ(ReadText("o"),
              "rootpath                " + cutRoot + "\ndefault_homedir         ./\n");

    // A name longer than systemd takes is refused rather than shortened.
    const std::string longName(300, 'n');
    installer_.PushParams({"/opt/orvex", longName, "d", "0"});
    EXPECT_EQ(installer_.Call("InstallService"), kept + 8 <= 255 ? "1" : "0");
}

INSTANTIATE_TEST_SUITE_P(StringSizes, InstallerHarness, ::testing::Values(16, 1024, 8192));

}  // namespace
