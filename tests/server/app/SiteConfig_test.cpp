#include "server/app/SiteConfig.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "engine/Clock.h"
#include "engine/FileStamp.h"
#include "server/app/SiteModeCommands.h"
#include "tests/server/app/ConfigFixture.h"

namespace orvex {
namespace {

using test::RecordingSite;
using test::SiteFolder;

class SiteConfigTest : public ::testing::Test {
  protected:
    SiteFolder folder;
    RecordingSite site;
    SiteConfig config{&site};

    std::string ConfPath() const { return folder / "orvex.conf"; }
    std::string Root() const { return "rootpath " + folder.path() + "\n"; }
    void Write(const std::string& text) { folder.Write("orvex.conf", text); }
    // Pins the file's modification time, so that tests choose what the clock would have shown.
    void SetMtime(int64_t sec, long nsec) {
        timespec t[2] = {{static_cast<time_t>(sec), nsec}, {static_cast<time_t>(sec), nsec}};
        ASSERT_EQ(utimensat(AT_FDCWD, ConfPath().c_str(), t, 0), 0);
    }
    bool Load() { return config.Load(ConfPath()); }
};

TEST_F(SiteConfigTest, NothingBeforeTheFirstLoad) {
    EXPECT_FALSE(config.IsLoaded());
    EXPECT_EQ(config.GetRootPath(), "");
    EXPECT_EQ(config.GetServerPort(), 0u);
    EXPECT_FALSE(config.SetShutdown(1));
    EXPECT_FALSE(config.MatchFxp("bob", "g", "1", true));
    EXPECT_EQ(config.MatchSiteCommand("WHO", "bob", "g", "1"), 0);
    EXPECT_FALSE(config.FindCustomCommand("x"));
    EXPECT_FALSE(config.Snapshot());
}

TEST_F(SiteConfigTest, MissingFileFailsWithBothWarnings) {
    EXPECT_FALSE(Load());
    EXPECT_TRUE(site.Logged("WARNING: unable to get statistics for file '" + ConfPath() + "'."));
    EXPECT_TRUE(site.Logged("WARNING: unable to open file '" + ConfPath() + "' for reading."));
    EXPECT_FALSE(config.IsLoaded());
}

TEST_F(SiteConfigTest, MissingRootFails) {
    Write("server_port 2121\n");
    EXPECT_FALSE(Load());
    EXPECT_TRUE(site.Logged(ConfPath() + "> ERROR: no rootpath specified."));
    EXPECT_TRUE(
        site.Logged(ConfPath() + " line 1> ERROR: unable to validate site configuration file."));
    EXPECT_FALSE(config.IsLoaded());
}

TEST_F(SiteConfigTest, FirstLoadPointsLogsThenAppliesInOrder) {
    Write(Root() +
          "pasv_port_range 40000 40100\nspeed_limit 1000 2000\nlog_prog_name prog.log\n"
          "log_access_name acc.log\nlog_prog_format %M\nlog_access_format %u\n"
          "log_date_format %H\n");
    ASSERT_TRUE(Load());
    const std::string logs = folder.Internal() + "ftp-data\\logs\\";
    std::vector<std::string> expected = {
        "progfile orvex.log ..\\ftp-data\\logs\\",
        "accessfile %d%m%Y_access.log ..\\ftp-data\\logs\\",
        "pasv 40000 40100",
        "progfile prog.log " + logs,
        "accessfile acc.log " + logs,
        "progformat %M",
        "accessformat %u",
        "dateformat %H",
    };
    EXPECT_EQ(site.calls, expected);
    EXPECT_EQ(site.SendWindow().limit, 1000u);
    EXPECT_EQ(site.ReceiveWindow().limit, 2000u);

    // A changed file is applied again, but the start-up log places are not revisited.
    site.calls.clear();
    Write(Root());
    SetMtime(1000, 0);
    ASSERT_TRUE(Load());
    ASSERT_FALSE(site.calls.empty());
    EXPECT_EQ(site.calls.front(), "pasv 0 0");
    EXPECT_EQ(site.SendWindow().limit, 0u);
}

TEST_F(SiteConfigTest, UnchangedFileIsNotReadAgain) {
    Write(Root() + "bogus_key 1\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(site.CountContaining("Error reading 'bogus_key'"), 1u);
    site.calls.clear();
    ASSERT_TRUE(Load());
    ASSERT_TRUE(Load());
    EXPECT_EQ(site.CountContaining("Error reading 'bogus_key'"), 1u);
    EXPECT_TRUE(site.calls.empty());
}

TEST_F(SiteConfigTest, RemovedKeyReturnsToItsDefault) {
    Write(Root() + "server_port 2121\nlogin_prompt hello\nignore_type *.nfo\n");
    SetMtime(1000, 0);
    ASSERT_TRUE(Load());
    EXPECT_EQ(config.GetServerPort(), 2121u);
    EXPECT_EQ(config.GetIgnoreTypes().size(), 1u);
    Write(Root() + "login_prompt hello\n");
    SetMtime(1001, 0);
    ASSERT_TRUE(Load());
    EXPECT_EQ(config.GetServerPort(), 21u);
    EXPECT_EQ(config.GetLoginPrompt(), "hello");
    EXPECT_TRUE(config.GetIgnoreTypes().empty());
}

TEST_F(SiteConfigTest, EditInTheSameSecondIsNoticed) {
    Write(Root() + "server_port 2121\n");
    SetMtime(5000, 100);
    ASSERT_TRUE(Load());
    // Same size, same second, later nanoseconds.
    Write(Root() + "server_port 2122\n");
    SetMtime(5000, 200);
    ASSERT_TRUE(Load());
    EXPECT_EQ(config.GetServerPort(), 2122u);
    // Same time to the nanosecond, different size.
    Write(Root() + "server_port 21\n");
    SetMtime(5000, 200);
    ASSERT_TRUE(Load());
    EXPECT_EQ(config.GetServerPort(), 21u);
}

TEST_F(SiteConfigTest, FailedReloadKeepsTheRecordAndRetries) {
    Write(Root() + "server_port 2121\n");
    SetMtime(1000, 0);
    ASSERT_TRUE(Load());
    Write("server_port 2122\n");  // a half-written edit without the root
    SetMtime(1001, 0);
    EXPECT_FALSE(Load());
    EXPECT_TRUE(config.IsLoaded());
    EXPECT_EQ(config.GetServerPort(), 2121u);
    EXPECT_EQ(config.GetRootPath(), folder.Internal());
    // The failed file's time was not recorded, so it is parsed again on the next pass.
    EXPECT_FALSE(Load());
    EXPECT_EQ(site.CountContaining("no rootpath specified"), 2u);
    Write(Root() + "server_port 2123\n");
    SetMtime(1002, 0);
    EXPECT_TRUE(Load());
    EXPECT_EQ(config.GetServerPort(), 2123u);
    // An unreadable file keeps the record too.
    ASSERT_EQ(chmod(ConfPath().c_str(), 0), 0);
    if (access(ConfPath().c_str(), R_OK) != 0) {  // root reads anything
        SetMtime(1003, 0);
        EXPECT_FALSE(Load());
        EXPECT_EQ(config.GetServerPort(), 2123u);
    }
}

TEST_F(SiteConfigTest, FileStampReadsNanosecondsAndSize) {
    Write("abc");
    SetMtime(1234, 5678);
    FileStamp s;
    ASSERT_TRUE(ReadFileStamp(ConfPath(), s));
    EXPECT_EQ(s, (FileStamp{1234, 5678, 3, s.inode}));
    EXPECT_NE(s.inode, 0u);
    std::string internal = ConfPath();
    std::replace(internal.begin(), internal.end(), '/', '\\');
    FileStamp t;
    ASSERT_TRUE(ReadFileStamp(internal, t));
    EXPECT_EQ(t, s);
    EXPECT_FALSE(ReadFileStamp(folder / "missing", t));
    EXPECT_FALSE(ReadFileStamp("", t));
}

TEST_F(SiteConfigTest, GettersCopyTheLoadedSettings) {
    Write(Root() +
          "default_homedir ./ftp-data\nbind_ip 127.0.0.2\nserver_ip 10.1.1.1\n"
          "site_ip 192.168.100.100.abcdefghijklmnopqrstuvwxyz\nlogin_prompt a[:space:]b\n"
          "sitename_long Long Name\nsitename_short Short\nmax_users 10 2\nshutdown 2\n"
          "auth_mode 1\nserver_sslport 990\nresolve_dns 1\nallow_service_ports 1\n"
          "nukedir_style NUKED- 1 100\nnuke_empty 50\nnuke_mult_max 10\ndupe_check 7\n"
          "ignore_type *.nfo *.sfv\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(config.GetDataPath(), folder.Internal() + "ftp-data\\");
    EXPECT_EQ(config.GetDefaultHomeDir(), folder.Internal() + "ftp-data\\");
    EXPECT_EQ(config.GetBindIp(), "127.0.0.2");
    EXPECT_EQ(config.GetServerIp(), "10.1.1.1");
    EXPECT_EQ(config.GetSiteIp(), "192.168.100.100.abcdefghijklmno");  // 31 characters
    EXPECT_EQ(config.GetLoginPrompt(), "a b");
    EXPECT_EQ(config.GetSiteNameLong(), "Long Name");
    EXPECT_EQ(config.GetSiteNameShort(), "Short");
    EXPECT_EQ(config.GetMaxUsers(), 10u);
    EXPECT_EQ(config.GetMaxExemptUsers(), 2u);
    EXPECT_EQ(config.GetShutdown(), 2u);
    EXPECT_EQ(config.GetAuthMode(), 1u);
    EXPECT_EQ(config.GetSslPort(), 990u);
    EXPECT_EQ(config.GetResolveDns(), 1u);
    EXPECT_EQ(config.GetAllowServicePorts(), 1u);
    EXPECT_EQ(config.GetNukeDirPrefix(), "NUKED-");
    EXPECT_EQ(config.GetNukeRename(), 1u);
    EXPECT_EQ(config.GetNukeEmptyKb(), 100u);
    EXPECT_EQ(config.GetNukeEmptyCharge(), 50u);
    EXPECT_EQ(config.GetNukeMultMax(), 10u);
    EXPECT_EQ(config.GetDupeCheckDays(), 7u);
    EXPECT_TRUE(config.IsIgnoredType("release.nfo"));
    EXPECT_FALSE(config.IsIgnoredType("release.NFO"));  // masks are case-sensitive
    EXPECT_FALSE(config.IsIgnoredType("release.zip"));
}

TEST_F(SiteConfigTest, SettersLastUntilTheFileChanges) {
    Write(Root() + "shutdown 0\n");
    SetMtime(1000, 0);
    ASSERT_TRUE(Load());
    EXPECT_TRUE(config.SetShutdown(1));
    EXPECT_TRUE(config.SetAuthMode(1));
    ASSERT_TRUE(Load());  // unchanged: the set values stay
    EXPECT_EQ(config.GetShutdown(), 1u);
    SetMtime(1001, 0);
    ASSERT_TRUE(Load());
    EXPECT_EQ(config.GetShutdown(), 0u);
    EXPECT_EQ(config.GetAuthMode(), 0u);
}

TEST_F(SiteConfigTest, CommandAndFxpPermissions) {
    Write(Root() +
          "site_flags WHO 1\nsite_flags REMOTE[:space:]HELP -bob\n"
          "site_cmd local MYRULES TEXT rules.txt\ncustom myrules =staff\n"
          "custom WHO *\nallow_fxp_port -bob\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(config.MatchSiteCommand("WHO", "alice", "staff", "3"), 0);
    EXPECT_EQ(config.MatchSiteCommand("who", "alice", "staff", "13"), 1);
    EXPECT_EQ(config.MatchSiteCommand("REMOTE HELP", "BOB", "x", ""), 1);
    EXPECT_EQ(config.MatchSiteCommand("REMOTE HELP", "alice", "x", ""), 0);
    EXPECT_EQ(config.MatchSiteCommand("MYRULES", "alice", "staff", ""), 1);  // the custom line
    EXPECT_EQ(config.MatchSiteCommand("MYRULES", "alice", "other", ""), 0);
    // A built-in command keeps its own expression over a custom line of the same name.
    EXPECT_EQ(config.MatchSiteCommand("WHO", "alice", "other", ""), 0);
    EXPECT_EQ(config.MatchSiteCommand("UNKNOWN", "alice", "staff", "1"), 0);
    EXPECT_EQ(config.MatchSiteCommand("NUKE", "alice", "g", "A"), 1);
    EXPECT_EQ(config.MatchSiteCommand("USER", "alice", "g", "8"), 0);
    EXPECT_TRUE(config.MatchFxp("alice", "g", "", true));
    EXPECT_FALSE(config.MatchFxp("alice", "g", "1", false));
    EXPECT_TRUE(config.MatchFxp("bob", "g", "", false));
}

TEST_F(SiteConfigTest, CustomCommandAndScriptLookups) {
    Write(Root() +
          "site_cmd local rules TEXT one.txt\nsite_cmd local RULES TEXT two.txt\n"
          "cscript SITE[:space:]NUKE post after.sh\ncscript site[:space:]nuke PRE before.sh\n"
          "cscript STOR pre stor.sh\n");
    ASSERT_TRUE(Load());
    auto c = config.FindCustomCommand("Rules");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->target, "one.txt");  // the first definition wins
    EXPECT_FALSE(config.FindCustomCommand("RULE"));

    auto pre = config.FindCustomScript("SITE NUKE", 1);
    ASSERT_TRUE(pre);
    EXPECT_EQ(pre->script, "before.sh");
    auto post = config.FindCustomScript("site nuke", 2);
    ASSERT_TRUE(post);
    EXPECT_EQ(post->script, "after.sh");
    auto any = config.FindCustomScript("SITE NUKE", 0);
    ASSERT_TRUE(any);
    EXPECT_EQ(any->script, "after.sh");
    EXPECT_FALSE(config.FindCustomScript("STOR", 2));
    EXPECT_FALSE(config.FindCustomScript("STOR", 3));
    EXPECT_TRUE(config.FindCustomScript("stor", 1));
}

TEST_F(SiteConfigTest, FilesystemSyncFallsDueEveryInterval) {
    int64_t start = Clock::NowSeconds();
    Write(Root());
    SetMtime(1000, 0);
    ASSERT_TRUE(Load());
    EXPECT_FALSE(config.IsFsSyncDueAt(start + 100000));  // 0: never
    Write(Root() + "fs_sync_freq 2\n");
    SetMtime(1001, 0);
    ASSERT_TRUE(Load());
    EXPECT_FALSE(config.IsFsSyncDueAt(start - 1000));
    EXPECT_TRUE(config.IsFsSyncDueAt(start + 120 + 5));
    EXPECT_FALSE(config.IsFsSyncDueAt(start + 120 + 5 + 119));
    EXPECT_TRUE(config.IsFsSyncDueAt(start + 120 + 5 + 120));
}

TEST_F(SiteConfigTest, AuthModeAndShutdownReplies) {
    Write(Root());
    ASSERT_TRUE(Load());
    SiteReply r = SiteAuthMode(config, std::nullopt);
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(r.text, "Authentication mode set to 0 (clear and SSL).");
    r = SiteAuthMode(config, "1");
    EXPECT_EQ(r.text, "Authentication mode set to 1 (SSL only).");
    EXPECT_EQ(config.GetAuthMode(), 1u);
    for (const char* bad : {"2", "abc", "-1", ""}) {
        r = SiteAuthMode(config, bad);
        EXPECT_EQ(r.code, 501) << bad;
        EXPECT_EQ(r.text, std::string(bad) + ": Invalid authentication mode (must be 0 or 1)");
    }
    EXPECT_EQ(config.GetAuthMode(), 1u);
    r = SiteAuthMode(config, "0x");  // begins with 0: a typed 0
    EXPECT_EQ(r.text, "Authentication mode set to 0 (clear and SSL).");

    r = SiteShutdown(config, "1");
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(r.text, "Shutdown level set to 1 (siteops only).");
    r = SiteShutdown(config, "5");
    EXPECT_EQ(r.code, 501);
    EXPECT_EQ(r.text, "5: Invalid shutdown level (must be 0 or 1)");
    r = SiteShutdown(config, "0");
    EXPECT_EQ(r.text, "Shutdown level set to 0 (open).");
    // A level of 2 from the file shows as closed to all but siteops.
    config.SetShutdown(2);
    EXPECT_EQ(SiteShutdown(config, std::nullopt).text, "Shutdown level set to 2 (siteops only).");
}

TEST_F(SiteConfigTest, ReadersNeverSeeAHalfBuiltRecord) {
    Write(Root() + "server_port 2121\nlogin_prompt first\n");
    SetMtime(1000, 0);
    ASSERT_TRUE(Load());
    std::atomic<bool> stop{false}, torn{false};
    std::thread reader([&] {
        while (!stop) {
            auto snap = config.Snapshot();
            if (!snap || (snap->serverPort == 2121) != (snap->loginPrompt == "first")) torn = true;
        }
    });
    for (int i = 0; i < 50; ++i) {
        bool odd = i % 2;
        Write(Root() + (odd ? "server_port 2121\nlogin_prompt first\n"
                            : "server_port 2122\nlogin_prompt second\n"));
        SetMtime(1001 + i, 0);
        ASSERT_TRUE(Load());
    }
    stop = true;
    reader.join();
    EXPECT_FALSE(torn);
}

}  // namespace
}  // namespace orvex
