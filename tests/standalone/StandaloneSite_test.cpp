#include "standalone/StandaloneSite.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "engine/FileUtil.h"
#include "engine/SocketUtil.h"

namespace orvex {
namespace {

UserRecord User(const std::string& name, const std::string& permissions) {
    UserRecord r;
    r.account.user = name;
    r.account.password = "00";
    r.account.gid = "1";
    r.account.home = "\\tmp\\";
    r.permissions = permissions;
    return r;
}

class ModeSite : public StandaloneSite {
  public:
    using StandaloneSite::AccessLogMode;
    using StandaloneSite::ProgramLogMode;
};

TEST(StandaloneSite, UsersMatchInAnyCaseAndTakeTheStoredSpelling) {
    StandaloneSite site;
    ASSERT_TRUE(site.AddUser(User("Alice", "l")));
    EXPECT_FALSE(site.AddUser(User("ALICE", "d")));  // one entry per name, any case
    ASSERT_TRUE(site.AddUser(User("bob", "d")));
    EXPECT_EQ(site.UserCount(), 2u);

    std::string typed = "aLiCe";
    EXPECT_TRUE(site.UserExists(typed));
    EXPECT_EQ(typed, "Alice");
    std::string unknown = "carol";
    EXPECT_FALSE(site.UserExists(unknown));
    EXPECT_EQ(unknown, "carol");

    std::optional<Account> a = site.GetAccount("ALICE");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->user, "Alice");
    EXPECT_EQ(a->gid, "1");
    EXPECT_FALSE(site.GetAccount("nobody"));

    UserList replacement("User List Header");
    replacement.Create(1, std::string("dave"), User("dave", "l"));
    site.ReplaceUsers(std::move(replacement));
    EXPECT_FALSE(site.GetAccount("alice"));
    EXPECT_TRUE(site.GetAccount("dave"));
}

TEST(StandaloneSite, PermissionNeedsAnyOneAskedLetterOfAKnownUser) {
    StandaloneSite site;
    site.AddUser(User("reader", "lvcpd"));
    site.AddUser(User("none", ""));
    // The engine asks with the letter and its group letter ("dr" for a download).
    EXPECT_TRUE(site.CheckPermission("reader", "\\x\\f", "dr"));
    EXPECT_TRUE(site.CheckPermission("READER", "", "lvx"));
    EXPECT_FALSE(site.CheckPermission("reader", "", "uw"));
    EXPECT_FALSE(site.CheckPermission("reader", "", "wm"));
    EXPECT_FALSE(site.CheckPermission("reader", "", ""));
    EXPECT_FALSE(site.CheckPermission("none", "", "lvcpstduoamnrwx"));
    EXPECT_FALSE(site.CheckPermission("stranger", "", "l"));
}

TEST(StandaloneSite, LevelsMapOntoLogModesAndOthersAreIgnored) {
    ModeSite site;
    EXPECT_EQ(site.ProgramLogMode(), 0);
    EXPECT_EQ(site.AccessLogMode(), 0);
    const int modes[] = {0, 1, 1, 2, 2, 3, 3};
    for (int level = 0; level <= 6; ++level) {
        site.SetProgramLogLevel(level);
        site.SetAccessLogLevel(level);
        EXPECT_EQ(site.ProgramLogMode(), modes[level]) << level;
        EXPECT_EQ(site.AccessLogMode(), modes[level]) << level;
    }
    site.SetProgramLogLevel(2);
    site.SetProgramLogLevel(9);
    site.SetProgramLogLevel(-1);
    EXPECT_EQ(site.ProgramLogMode(), 1);
    site.SetAccessLogLevel(7);
    EXPECT_EQ(site.AccessLogMode(), 3);
}

class AccessLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vantor-site-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { FileUtil::DeleteTree(dir_, false); }

    std::string Logged(int level) {
        {
            StandaloneSite site;
            EXPECT_TRUE(site.SetAccessLogFile("access.log", dir_));
            site.SetAccessLogFormat("%m");
            site.SetAccessLogLevel(level);
            for (const char* verb : {"CONNECT", "user", "PASS", "PWD", "LIST", "retr", "STOR",
                                     "ABOR", "CWD", "QUIT", "DISCONNECT", "CONNECTSSL", "RETRX"}) {
                site.LogAccess(AccessLogEntry{"", "", "", "", "", verb, "", "", ""});
            }
        }
        std::ifstream in(dir_ + "/access.log");
        std::stringstream text;
        text << in.rdbuf();
        std::remove((dir_ + "/access.log").c_str());
        return text.str();
    }

    std::string dir_;
};

TEST_F(AccessLogTest, ReducedLevelsKeepOnlyLoginsTransfersAndSessionEnds) {
    const std::string reduced = "CONNECT\nuser\nPASS\nretr\nSTOR\nABOR\nQUIT\nDISCONNECT\n";
    EXPECT_EQ(Logged(3), reduced);
    EXPECT_EQ(Logged(5), reduced);
    const std::string full =
        "CONNECT\nuser\nPASS\nPWD\nLIST\nretr\nSTOR\nABOR\nCWD\nQUIT\nDISCONNECT\nCONNECTSSL\n"
        "RETRX\n";
    EXPECT_EQ(Logged(4), full);
    EXPECT_EQ(Logged(6), full);
    EXPECT_EQ(Logged(0), "");
}

// Ports the tests pretend are taken; every other port gets a real socket on a port of the
// system's choosing, and the entry's port is reported.
class FakePortSite : public StandaloneSite {
  public:
    std::set<uint16_t> busy;
    std::vector<uint16_t> tried;

  protected:
    int OpenDataSocketOn(std::string& portText, const std::string& ip, uint16_t port) override {
        if (port == 0) return StandaloneSite::OpenDataSocketOn(portText, ip, 0);
        tried.push_back(port);
        if (busy.count(port)) return -1;
        std::string ignored;
        const int fd = SocketUtil::OpenDataSocket(&ignored, ip, 0);
        portText = std::to_string(port);
        return fd;
    }
};

bool IsOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

TEST(StandaloneSite, PassivePortsComeFromTheHighestDown) {
    FakePortSite site;
    EXPECT_EQ(site.SetPassivePortRange(5000, 5002), 1);
    EXPECT_EQ(site.PassivePorts(), (std::vector<uint16_t>{5002, 5001, 5000}));

    std::string port;
    int fds[4] = {-1, -1, -1, -1};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(site.OpenPassiveSocket(port, fds[i], "127.0.0.1"), 1);
        EXPECT_EQ(port, std::to_string(5002 - i));
    }
    EXPECT_EQ(site.OpenPassiveSocket(port, fds[3], "127.0.0.1"), 0);
    EXPECT_EQ(fds[3], -1);

    // A freed entry is handed out again; a socket the table does not hold is not closed.
    EXPECT_EQ(site.ClosePassiveSocket(fds[1]), 1);
    EXPECT_FALSE(IsOpen(fds[1]));
    ASSERT_EQ(site.OpenPassiveSocket(port, fds[1], "127.0.0.1"), 1);
    EXPECT_EQ(port, "5001");
    const int stranger = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(site.ClosePassiveSocket(stranger), 0);
    EXPECT_TRUE(IsOpen(stranger));
    close(stranger);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(site.ClosePassiveSocket(fds[i]), 1);
}

TEST(StandaloneSite, PassiveSearchGivesUpAfterThreeTakenPorts) {
    FakePortSite site;
    site.SetPassivePortRange(100, 104);
    site.busy = {104, 103, 102};
    std::string port;
    int fd = -1;
    EXPECT_EQ(site.OpenPassiveSocket(port, fd, "127.0.0.1"), 0);
    EXPECT_EQ(site.tried, (std::vector<uint16_t>{104, 103, 102}));
    site.busy = {103};
    site.tried.clear();
    ASSERT_EQ(site.OpenPassiveSocket(port, fd, "127.0.0.1"), 1);
    EXPECT_EQ(port, "104");
    int second = -1;
    ASSERT_EQ(site.OpenPassiveSocket(port, second, "127.0.0.1"), 1);
    EXPECT_EQ(port, "102");  // 104 is held, 103 taken
    EXPECT_EQ(site.tried, (std::vector<uint16_t>{104, 103, 102}));
}

TEST(StandaloneSite, PassiveRangesThatCannotBeUsed) {
    FakePortSite site;
    EXPECT_EQ(site.SetPassivePortRange(6000, 5000), 0);
    EXPECT_EQ(site.SetPassivePortRange(0, 10), 0);
    EXPECT_EQ(site.SetPassivePortRange(10, 65535), 0);
    EXPECT_TRUE(site.PassivePorts().empty());
    EXPECT_EQ(site.SetPassivePortRange(65534, 65534), 1);
    EXPECT_EQ(site.PassivePorts(), std::vector<uint16_t>{65534});
}

TEST(StandaloneSite, ChangedRangeKeepsTheSocketsItStillCovers) {
    FakePortSite site;
    site.SetPassivePortRange(10, 12);
    std::string port;
    int fd12 = -1, fd11 = -1;
    site.OpenPassiveSocket(port, fd12, "127.0.0.1");
    site.OpenPassiveSocket(port, fd11, "127.0.0.1");
    site.SetPassivePortRange(11, 13);
    int next = -1;
    ASSERT_EQ(site.OpenPassiveSocket(port, next, "127.0.0.1"), 1);
    EXPECT_EQ(port, "13");
    EXPECT_EQ(site.ClosePassiveSocket(fd12), 1);
    EXPECT_EQ(site.ClosePassiveSocket(fd11), 1);
    EXPECT_EQ(site.ClosePassiveSocket(next), 1);
}

TEST(StandaloneSite, WithoutARangeAnyPortServesAndTheSiteCloses) {
    StandaloneSite site;
    std::string port;
    int fd = -1;
    ASSERT_EQ(site.OpenPassiveSocket(port, fd, "127.0.0.1"), 1);
    EXPECT_NE(std::atoi(port.c_str()), 0);
    EXPECT_EQ(site.ClosePassiveSocket(fd), 1);
    EXPECT_FALSE(IsOpen(fd));
}

std::string NameEntry(X509_NAME* name, int nid) {
    char buf[256] = {0};
    X509_NAME_get_text_by_NID(name, nid, buf, sizeof buf);
    return buf;
}

TEST(StandaloneSite, TlsMaterialIsMadeOnceInMemory) {
    StandaloneSite site;
    EXPECT_FALSE(site.GetPrivateKeyPem());
    EXPECT_FALSE(site.GetCertificatePem());
    std::string pass;
    EXPECT_TRUE(site.GetKeyPassPhrase(pass));
    EXPECT_EQ(pass, "brindle");

    ASSERT_TRUE(site.PrepareTls());
    const std::optional<std::string> key = site.GetPrivateKeyPem();
    const std::optional<std::string> cert = site.GetCertificatePem();
    ASSERT_TRUE(key && cert && site.GetPublicKeyPem());
    EXPECT_TRUE(site.PrepareTls());
    EXPECT_EQ(site.GetCertificatePem(), cert);  // not generated again

    BIO* kb = BIO_new_mem_buf(key->data(), static_cast<int>(key->size()));
    EVP_PKEY* pkey = PEM_read_bio_PrivateKey(kb, nullptr, nullptr, const_cast<char*>("brindle"));
    BIO_free(kb);
    ASSERT_NE(pkey, nullptr) << "key opens with the pass phrase";
    BIO* cb = BIO_new_mem_buf(cert->data(), static_cast<int>(cert->size()));
    X509* x = PEM_read_bio_X509(cb, nullptr, nullptr, nullptr);
    BIO_free(cb);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(X509_check_private_key(x, pkey), 1);
    X509_NAME* subject = X509_get_subject_name(x);
    EXPECT_EQ(NameEntry(subject, NID_countryName), "XX");
    EXPECT_EQ(NameEntry(subject, NID_stateOrProvinceName), "None");
    EXPECT_EQ(NameEntry(subject, NID_localityName), "None");
    EXPECT_EQ(NameEntry(subject, NID_organizationName), "Vantor");
    EXPECT_EQ(NameEntry(subject, NID_organizationalUnitName), "None");
    EXPECT_TRUE(SocketUtil::IsIp(NameEntry(subject, NID_commonName)));
    EXPECT_FALSE(NameEntry(subject, NID_pkcs9_emailAddress).empty());
    X509_free(x);
    EVP_PKEY_free(pkey);
}

}  // namespace
}  // namespace orvex
