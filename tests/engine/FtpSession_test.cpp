// The session's answering helpers and the dispatcher, driven over a socket pair.

#include "engine/FtpSession.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/FileUtil.h"
#include "engine/FtpSite.h"
#include "engine/SocketUtil.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

class RecordingSite : public FtpSite {
  public:
    explicit RecordingSite(std::string root) : root_(std::move(root)) {}

    std::string MakeHomePath(std::string_view, std::string_view) override { return root_; }
    bool CheckPermission(const std::string& user, const std::string& path,
                         std::string_view letters) override {
        asked.push_back(path + "|" + std::string(letters) + "|" + user);
        return allow;
    }
    bool LogAccess(const AccessLogEntry& e) override {
        access.push_back(std::string(e.verb) + "|" + std::string(e.args) + "|" +
                         std::string(e.code) + "|" + std::string(e.text));
        return true;
    }
    bool LogProgramLine(std::string_view subsystem, std::string_view message) override {
        program.push_back(std::string(subsystem) + "|" + std::string(message));
        return true;
    }

    bool allow = true;
    std::vector<std::string> asked, access, program;

  private:
    std::string root_;
};

// Records which handler slot the dispatcher chose instead of running it.
class RoutingSession : public FtpSession {
  public:
    using FtpSession::FtpSession;
    std::vector<std::string> calls;

    int Abor(const Args&) override { return Called("ABOR"); }
    int Cdup(const Args&) override { return Called("CDUP"); }
    int Cwd(const Args& a) override { return Called("CWD " + Join(a)); }
    int Mkd(const Args&) override { return Called("MKD"); }
    int Pwd(const Args&) override { return Called("PWD"); }
    int Rmd(const Args&) override { return Called("RMD"); }
    int Stor(const Args&, int mode) override { return Called("STOR " + std::to_string(mode)); }
    int Stou(const Args&) override { return Called("STOU"); }
    int Appe(const Args&) override { return Called("APPE"); }
    int Quit(const Args&) override { return Called("QUIT"); }
    int Noop(const Args&) override { return Called("NOOP"); }

  private:
    int Called(std::string name) {
        calls.push_back(std::move(name));
        return 1;
    }
};

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/orvex-session-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        fs::create_directory(dir_ / "sub");
        std::ofstream(dir_ / "sub" / "a.txt") << "x";
        root_ = dir_.string();
        FileUtil::ToBackslashes(root_);
        root_ += '\\';
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_), 0);
        site_ = std::make_unique<RecordingSite>(root_);
        session_ = std::make_unique<RoutingSession>(fds_[0], *site_, nullptr, false);
    }
    void TearDown() override {
        session_.reset();
        close(fds_[0]);
        close(fds_[1]);
        fs::remove_all(dir_);
    }

    // Everything the session has written so far.
    std::string Sent() {
        std::string out;
        char buf[4096];
        pollfd p{fds_[1], POLLIN, 0};
        while (poll(&p, 1, 100) > 0) {
            ssize_t n = recv(fds_[1], buf, sizeof buf, 0);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }

    fs::path dir_;
    std::string root_;
    int fds_[2] = {-1, -1};
    std::unique_ptr<RecordingSite> site_;
    std::unique_ptr<RoutingSession> session_;
};

TEST_F(SessionTest, RootComesFromTheSiteHomePath) {
    EXPECT_EQ(session_->Root(), root_);
    EXPECT_EQ(session_->CurrentDirectory(), "");
    EXPECT_EQ(session_->TransferType(), 'A');
}

TEST_F(SessionTest, CheckAccessShowsTheSiteTheResolvedPath) {
    const std::string file = "sub\\a.txt", dir = "/sub", missing = "sub/new.txt";
    const std::string deep = "nothere/new.txt", escape = "../../../etc/passwd";
    EXPECT_EQ(session_->CheckAccess("X", nullptr, "px", false), 1);
    EXPECT_EQ(session_->CheckAccess("X", &file, "dr", false), 1);
    EXPECT_EQ(session_->CheckAccess("X", &dir, "cx", false), 1);
    // A name that does not exist yet is judged by its directory, when asked to.
    EXPECT_EQ(session_->CheckAccess("X", &missing, "uw", true), 1);
    EXPECT_EQ(session_->CheckAccess("X", &missing, "wo", false), 1);
    EXPECT_EQ(session_->CheckAccess("X", &deep, "uw", true), 1);
    EXPECT_EQ(session_->CheckAccess("X", &escape, "dr", false), 1);
    EXPECT_EQ(site_->asked, (std::vector<std::string>{"|px|", root_ + "sub\\a.txt|dr|",
                                                      root_ + "sub\\|cx|", root_ + "sub\\|uw|"}));
    EXPECT_EQ(Sent(), "");
}

TEST_F(SessionTest, CheckAccessRefusalShowsThePathAsTyped) {
    site_->allow = false;
    const std::string typed = "sub\\a.txt";
    EXPECT_EQ(session_->CheckAccess("RETR", &typed, "dr", false), 0);
    EXPECT_EQ(session_->CheckAccess("PWD", nullptr, "px", false), 0);
    EXPECT_EQ(Sent(), "550 sub/a.txt: Permission denied.\r\n550 : Permission denied.\r\n");
    EXPECT_EQ(site_->access[0], "RETR||550|sub/a.txt: Permission denied.");
}

TEST_F(SessionTest, CheckAccessWithoutVerbOrLettersIsAnInternalError) {
    EXPECT_EQ(session_->CheckAccess(nullptr, nullptr, "px", false), 0);
    EXPECT_EQ(session_->CheckAccess("PWD", nullptr, "", false), 0);
    EXPECT_TRUE(site_->asked.empty());
    const std::string line = "451 ERROR: Invalid parameters while checking permissions.\r\n";
    EXPECT_EQ(Sent(), line + line);
    ASSERT_EQ(site_->program.size(), 2u);
    EXPECT_EQ(site_->program[0],
              "FTPD|\"ERROR: Invalid parameters while checking permissions.\" occured in ' '");
}

TEST_F(SessionTest, RespondLogsJoinedArgumentsAndHonoursItsFlags) {
    session_->Respond({"DELE", "a", "b"}, "gone", "250");
    session_->Respond({"DELE", "a"}, "quiet", "250", false);
    session_->Respond({"LIST"}, "unlogged", "150", true, false);
    session_->Respond({"STOR", "f"}, "boom", "451", true, true, true);
    session_->Respond({}, "cont", "211", true, true, false, 1);
    EXPECT_EQ(Sent(), "250 gone\r\n150 unlogged\r\n451 boom\r\n211-cont\r\n");
    EXPECT_EQ(site_->access, (std::vector<std::string>{"DELE|a b|250|gone", "DELE|a|250|quiet",
                                                       "STOR|f|451|boom", "||211|cont"}));
    EXPECT_EQ(site_->program, (std::vector<std::string>{"FTPD|\"boom\" occured in 'STOR f'"}));
}

TEST_F(SessionTest, PasswordsNeverReachALog) {
    for (const char* verb : {"PASS", "pass", "Pass"}) {
        session_->Respond({verb, "LeakMe", "too"}, "Please login with USER and PASS.", "530");
        session_->Respond({verb, "LeakMe"}, "failed", "451", true, true, true);
    }
    for (const std::string& line : site_->access) EXPECT_EQ(line.find("LeakMe"), std::string::npos);
    for (const std::string& line : site_->program)
        EXPECT_EQ(line.find("LeakMe"), std::string::npos);
    EXPECT_EQ(site_->access[0], "PASS||530|Please login with USER and PASS.");
}

TEST_F(SessionTest, HostNamesAreLookedUpOnlyWhenAsked) {
    // A real TCP connection on loopback, so that there is an address to look up.
    const int listener = SocketUtil::OpenListener("0", "127.0.0.1");
    ASSERT_GE(listener, 0);
    std::string ip, port;
    SocketUtil::LocalAddress(listener, ip, port);
    int client = SocketUtil::ConnectHost("127.0.0.1", port, 5);
    int server = SocketUtil::Accept(listener);
    ASSERT_GE(server, 0);
    {
        FtpSession s(server, *site_, nullptr, true);
        // The listener builds the session: a slow name server must not hold it there.
        EXPECT_EQ(s.PeerHost(), "");
        s.LookUpNames();
        EXPECT_EQ(s.PeerHost(), SocketUtil::ReverseLookup("127.0.0.1"));
    }
    SocketUtil::Close(client);
    SocketUtil::Close(server);
    int l = listener;
    SocketUtil::Close(l);
}

TEST_F(SessionTest, ClientTextIsNeverAFormat) {
    session_->NotUnderstood({"%s%n", "%x"});
    session_->Respond({"X", "%n"}, "100% %s", "200", true, true, true);
    EXPECT_EQ(Sent(), "500 '%s%n %x': command not understood\r\n200 100% %s\r\n");
}

TEST_F(SessionTest, NotUnderstoodTexts) {
    session_->NotUnderstood({"FOO", "bar", "baz"});
    session_->NotUnderstood({"FOO"});
    session_->NotUnderstood({});
    EXPECT_EQ(Sent(),
              "500 'FOO bar baz': command not understood\r\n"
              "500 'FOO ': command not understood\r\n"
              "500 command not understood\r\n");
}

TEST_F(SessionTest, DispatchRoutesEveryAliasToItsSlot) {
    const std::vector<Args> lines = {{"xcwd", "d"}, {"XCUP"}, {"cdup"},      {"xmkd", "n"},
                                     {"XPWD"},      {"xrmd"}, {"stor", "f"}, {"StOu"},
                                     {"appe", "f"}, {"noop"}};
    for (const Args& a : lines) EXPECT_EQ(session_->Dispatch(a), 1) << a[0];
    EXPECT_EQ(session_->calls, (std::vector<std::string>{"CWD d", "CDUP", "CDUP", "MKD", "PWD",
                                                         "RMD", "STOR 0", "STOU", "APPE", "NOOP"}));
    EXPECT_EQ(Sent(), "");
}

TEST_F(SessionTest, DispatchFindsAborBehindTelnetBytesOnly) {
    EXPECT_EQ(session_->Dispatch({"\xff\xf4\xff\xf2"
                                  "ABOR"}),
              1);
    EXPECT_EQ(session_->Dispatch({"1abor"}), 1);
    // A verb whose first letter has a group is compared whole.
    EXPECT_EQ(session_->Dispatch({"XABOR"}), 0);
    EXPECT_EQ(session_->Dispatch({"AABOR"}), 0);
    EXPECT_EQ(session_->Dispatch({"\xff\xf4"
                                  "ABR"}),
              0);
    EXPECT_EQ(session_->calls, (std::vector<std::string>{"ABOR", "ABOR"}));
    EXPECT_EQ(Sent(),
              "500 'XABOR ': command not understood\r\n"
              "500 'AABOR ': command not understood\r\n"
              "500 '\xff\xf4"
              "ABR ': command not understood\r\n");
}

TEST_F(SessionTest, DispatchResultsForQuitAndNothing) {
    EXPECT_EQ(session_->Dispatch({"quit"}), 0);
    EXPECT_EQ(session_->calls, (std::vector<std::string>{"QUIT"}));
    EXPECT_EQ(session_->Dispatch({}), 0);
    EXPECT_EQ(Sent(), "");
}

TEST_F(SessionTest, SimpleVerbsLeaveStateAsDescribed) {
    FtpSession& base = *session_;
    base.FtpSession::Type({"TYPE", "L", "8"});
    EXPECT_EQ(base.TransferType(), 'I');
    base.FtpSession::Type({"TYPE", "E"});
    EXPECT_EQ(base.TransferType(), 'I');
    base.FtpSession::Abor({"ABOR"});
    EXPECT_TRUE(base.Aborted());
    base.FtpSession::Quit({"QUIT"});
    EXPECT_TRUE(base.Ended());
    EXPECT_EQ(Sent(),
              "200 Type is set to I.\r\n504 Type E not implemented.\r\n"
              "225 ABOR command successful.\r\n221 Exit.\r\n");
    EXPECT_EQ(site_->access[0], "TYPE|I|200|Type is set to I.");
}

}  // namespace
}  // namespace orvex
