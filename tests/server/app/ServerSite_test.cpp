// The server site object over a small site on disk: paths, permission decisions, passive ports,
// listing lines and log levels.

#include "server/app/ServerSite.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/SocketUtil.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/GroupStore.h"
#include "server/accounts/UserStore.h"
#include "server/app/SiteConfig.h"
#include "tests/server/app/ConfigFixture.h"

namespace orvex {
namespace {

using test::SiteFolder;

std::string UserFile(const std::string& perms, const std::string& flags) {
    return "USER test\nGENERAL 0 0 0 0\nPERMISSIONS " + perms + "\nFLAGS " + flags +
           "\nGROUP users\nIP *\n";
}

class ServerSiteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(folder_ / "ftp-data/users");
        std::filesystem::create_directories(folder_ / "site/pub");
        std::filesystem::create_directories(folder_ / "etc");
        folder_.Write("site/pub/file.txt", "hello");
        folder_.Write("etc/orvex.conf", "rootpath " + folder_.path() +
                                            "\ndefault_homedir ./site/\nserver_port 2121\n");
        folder_.Write("ftp-data/users/alice", UserFile("lcdrx", "3"));
        folder_.Write("ftp-data/users/root", UserFile("lcdrwx", "1"));
        folder_.Write("ftp-data/users/nopass", UserFile("lcdrx", ""));
        folder_.Write("etc/passwd",
                      "alice;;101;100;01-01-25;./site/\nroot;;102;101;01-01-25;./site/\n");
        folder_.Write("etc/group", "users;Users;100;0\nops;Ops;101;0\n");
    }

    bool LoadSite() {
        if (!site_.Config().Load(folder_ / "etc/orvex.conf")) return false;
        site_.ConfigureStores();
        return site_.Users().LoadUsers() && site_.Accounts().LoadAccounts() &&
               site_.Groups().LoadGroups();
    }

    std::string Site(const std::string& rel) const { return folder_.Internal() + rel; }

    SiteFolder folder_;
    ServerSite site_;
};

TEST_F(ServerSiteTest, PathsNeedALoadedConfiguration) {
    EXPECT_EQ(site_.MakeRootPath("etc/", "passwd"), "");
    EXPECT_EQ(site_.MakeDataPath("users/"), "");
    EXPECT_EQ(site_.MakeHomePath(""), "");
    ASSERT_TRUE(LoadSite());
    EXPECT_EQ(site_.MakeRootPath("etc/", "passwd"), Site("etc\\passwd"));
    EXPECT_EQ(site_.MakeRootPath("keys"), Site("keys\\"));
    EXPECT_EQ(site_.MakeDataPath("misc/a/", "banner"), Site("ftp-data\\misc\\a\\banner"));
    EXPECT_EQ(site_.MakeHomePath(""), Site("site\\"));
    EXPECT_EQ(site_.MakeHomePath("pub", "x"), Site("site\\pub\\x"));
}

TEST(TriplesGrant, AnyApplicableTripleGrants) {
    const uint32_t me = 101, mine = 100;
    // Others.
    EXPECT_TRUE(TriplesGrant("------r--", "r", 5u, 6u, me, mine));
    EXPECT_FALSE(TriplesGrant("rwxrwxr--", "w", 5u, 6u, me, mine));
    // The group triple lacks the letter but the owner triple has it: granted.
    EXPECT_TRUE(TriplesGrant("rwxr-x---", "w", me, mine, me, mine));
    // Group only, owner only.
    EXPECT_TRUE(TriplesGrant("---rw----", "w", 5u, mine, me, mine));
    EXPECT_FALSE(TriplesGrant("---rw----", "w", me, 6u, me, mine));
    EXPECT_TRUE(TriplesGrant("-w-------", "w", me, 6u, me, mine));
    // Unknown owner and group match nobody; a short mode string grants nothing it lacks.
    EXPECT_FALSE(TriplesGrant("rwxrwx---", "rwx", std::nullopt, std::nullopt, me, mine));
    EXPECT_FALSE(TriplesGrant("rw", "r", me, mine, me, mine));
    // Only r, w and x can match; the command letter does not.
    EXPECT_FALSE(TriplesGrant("rwxrwxrwx", "d", me, mine, me, mine));
    EXPECT_TRUE(TriplesGrant("r-xr-xr-x", "dx", me, mine, me, mine));
}

TEST_F(ServerSiteTest, PermissionCheckFollowsUserLettersFlagsAndModes) {
    ASSERT_TRUE(LoadSite());
    const std::string dir = Site("site\\pub");
    const std::string file = Site("site\\pub\\file.txt");
    // Unknown users and letters the user lacks are refused whatever the path.
    EXPECT_FALSE(site_.CheckPermission("mallory", "", "l"));
    EXPECT_FALSE(site_.CheckPermission("alice", "", "o"));
    EXPECT_TRUE(site_.CheckPermission("alice", "", "lo"));
    // Without records a directory counts as r-xr-xr-x and a file as r--r--r--.
    EXPECT_TRUE(site_.CheckPermission("alice", dir, "cx"));
    EXPECT_FALSE(site_.CheckPermission("alice", dir + "\\", "w"));
    EXPECT_TRUE(site_.CheckPermission("alice", file, "dr"));
    EXPECT_FALSE(site_.CheckPermission("alice", file, "x"));
    EXPECT_FALSE(site_.CheckPermission("alice", Site("site\\missing"), "r"));
    // A siteop passes the modes but not the letters.
    EXPECT_TRUE(site_.CheckPermission("root", dir, "w"));
    EXPECT_TRUE(site_.CheckPermission("ROOT", Site("site\\missing"), "w"));
    EXPECT_FALSE(site_.CheckPermission("root", dir, "o"));
    // A user without a passwd entry gets nothing that needs a path.
    EXPECT_TRUE(site_.CheckPermission("nopass", "", "l"));
    EXPECT_FALSE(site_.CheckPermission("nopass", dir, "x"));
}

TEST_F(ServerSiteTest, AccountsAndUsersComeFromTheStores) {
    ASSERT_TRUE(LoadSite());
    std::string name = "ALICE";
    EXPECT_TRUE(site_.UserExists(name));
    EXPECT_EQ(name, "alice");
    std::string nobody = "../etc/passwd";
    EXPECT_FALSE(site_.UserExists(nobody));
    const auto account = site_.GetAccount("alice");
    ASSERT_TRUE(account);
    EXPECT_EQ(account->uid, "101");
    EXPECT_FALSE(site_.GetAccount("nopass"));
    // FXP: passive to anybody, active to nobody without flag 0 (the defaults).
    EXPECT_EQ(site_.CheckFxp("alice", 0, 1), 1);
    EXPECT_EQ(site_.CheckFxp("alice", 0, 0), 0);
    EXPECT_EQ(site_.CheckFxp("mallory", 0, 1), 0);
    std::string pass;
    EXPECT_TRUE(site_.GetKeyPassPhrase(pass));
    EXPECT_EQ(pass, "quosk");
}

// The first of `count` consecutive loopback ports that nothing uses right now.
int FreePortRun(int count) {
    for (int base = 42000 + (getpid() % 1000) * 10; base < 64000; base += count + 7) {
        bool free = true;
        for (int p = base; p < base + count && free; ++p) {
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(p));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            free = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            close(fd);
        }
        if (free) return base;
    }
    return -1;
}

TEST_F(ServerSiteTest, PassivePortsGoFromTheHighestDown) {
    const int low = FreePortRun(4);
    ASSERT_GT(low, 0);
    EXPECT_EQ(site_.SetPassivePortRange(low + 2, low), 0);
    EXPECT_TRUE(site_.PassivePorts().empty());
    ASSERT_EQ(site_.SetPassivePortRange(low, low + 2), 1);
    EXPECT_EQ(site_.PassivePorts(),
              (std::vector<uint16_t>{static_cast<uint16_t>(low + 2), static_cast<uint16_t>(low + 1),
                                     static_cast<uint16_t>(low)}));
    std::vector<int> fds;
    for (int expect : {low + 2, low + 1, low}) {
        std::string port;
        int fd = -1;
        ASSERT_EQ(site_.OpenPassiveSocket(port, fd, "127.0.0.1"), 1);
        EXPECT_EQ(port, std::to_string(expect));
        fds.push_back(fd);
    }
    std::string port;
    int fd = -1;
    EXPECT_EQ(site_.OpenPassiveSocket(port, fd, "127.0.0.1"), 0);  // exhausted
    EXPECT_EQ(fd, -1);

    // A closed entry is free again.
    EXPECT_EQ(site_.ClosePassiveSocket(fds[1]), 1);
    ASSERT_EQ(site_.OpenPassiveSocket(port, fd, "127.0.0.1"), 1);
    EXPECT_EQ(port, std::to_string(low + 1));
    fds[1] = fd;

    // After a rebuild the old sockets still listen: each try fails, and three failures end it
    // even though a fourth entry would be free.
    ASSERT_EQ(site_.SetPassivePortRange(low - 1, low + 2), 1);
    EXPECT_EQ(site_.OpenPassiveSocket(port, fd, "127.0.0.1"), 0);
    ASSERT_EQ(site_.SetPassivePortRange(low, low + 3), 1);
    ASSERT_EQ(site_.OpenPassiveSocket(port, fd, "127.0.0.1"), 1);
    EXPECT_EQ(port, std::to_string(low + 3));
    fds.push_back(fd);
    for (int f : fds) site_.ClosePassiveSocket(f);

    // No range: any port.
    ASSERT_EQ(site_.SetPassivePortRange(0, 0), 1);
    EXPECT_TRUE(site_.PassivePorts().empty());
    ASSERT_EQ(site_.OpenPassiveSocket(port, fd, "127.0.0.1"), 1);
    EXPECT_NE(port, "0");
    EXPECT_EQ(site_.ClosePassiveSocket(fd), 1);
}

TEST_F(ServerSiteTest, ListingLinesShowModesLinksOwnersAndYears) {
    ASSERT_TRUE(LoadSite());
    const std::string file = folder_ / "site/pub/file.txt";
    // 1 March 2001, noon UTC.
    timespec t[2] = {{983448000, 0}, {983448000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), t, 0), 0);

    const std::string dirLine = site_.FormatListingLine(Site("site\\pub"), "2001");
    EXPECT_EQ(dirLine.rfind("dr-xr-xr-x   2 system   system ", 0), 0u) << dirLine;
    EXPECT_EQ(dirLine.substr(dirLine.size() - 4), " pub");

    const std::string same = site_.FormatListingLine(Site("site\\pub\\file.txt"), "2001");
    EXPECT_EQ(same.rfind("-r--r--r--   1 system   system            5 Mar 0", 0), 0u) << same;
    EXPECT_NE(same.find(':'), std::string::npos) << same;
    EXPECT_EQ(same.substr(same.size() - 9), " file.txt");

    const std::string later = site_.FormatListingLine(Site("site\\pub\\file.txt"), "2024");
    EXPECT_EQ(later.find(':'), std::string::npos) << later;
    EXPECT_NE(later.find("  2001 file.txt"), std::string::npos) << later;

    EXPECT_EQ(site_.FormatListingLine(Site("site\\nothing"), "2024"), "");
}

TEST(LogLevels, SevenLevelsMapOntoFourModes) {
    const int expected[] = {0, 1, 1, 2, 2, 3, 3};
    for (int level = 0; level <= 6; ++level) EXPECT_EQ(LogModeOfLevel(level), expected[level]);
    EXPECT_EQ(LogModeOfLevel(7), -1);
    EXPECT_EQ(LogModeOfLevel(-1), -1);
}

TEST_F(ServerSiteTest, OddAccessLevelsKeepOnlyTheMainCommands) {
    ASSERT_TRUE(LoadSite());
    std::filesystem::create_directories(folder_ / "logs");
    ASSERT_TRUE(site_.SetAccessLogFile("access.log", folder_.Internal() + "logs\\"));
    auto log = [this](const char* verb) {
        site_.LogAccess(AccessLogEntry{"1", "2", "3", "4", "alice", verb, "", "200", "ok"});
    };
    site_.SetAccessLogLevel(5);
    site_.SetAccessLogLevel(9);  // ignored: the raw level stays 5
    EXPECT_EQ(site_.RawAccessLogLevel(), 5);
    log("LIST");
    log("retr");
    log("SITE");
    site_.SetAccessLogLevel(4);
    log("CWD");
    site_.SetAccessLogLevel(3);
    log("NLST");
    log("QUIT");
    site_.FlushLogs();
    std::ifstream in(folder_ / "logs/access.log");
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    EXPECT_EQ(s.find(";LIST;"), std::string::npos) << s;
    EXPECT_NE(s.find(";retr;"), std::string::npos) << s;
    EXPECT_NE(s.find(";SITE;"), std::string::npos) << s;
    EXPECT_NE(s.find(";CWD;"), std::string::npos) << s;
    EXPECT_EQ(s.find(";NLST;"), std::string::npos) << s;
    EXPECT_NE(s.find(";QUIT;"), std::string::npos) << s;
}

}  // namespace
}  // namespace orvex
