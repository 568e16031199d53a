// The control channel over TLS, shared between a reading thread and writing threads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/ReplyBuilder.h"
#include "engine/SslLayer.h"

extern char** environ;

namespace orvex {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct KeyPair {
    std::string key, cert;
};

// One throw-away key and certificate for the whole run, made with the openssl command.
const KeyPair& Keys() {
    static KeyPair kp = [] {
        KeyPair r;
        char tmpl[] = "/tmp/orvex-cc-XXXXXX";
        if (!mkdtemp(tmpl)) return r;
        fs::path dir = tmpl;
        std::vector<std::string> argv = {"openssl",
                                         "req",
                                         "-x509",
                                         "-newkey",
                                         "ec",
                                         "-pkeyopt",
                                         "ec_paramgen_curve:P-256",
                                         "-nodes",
                                         "-keyout",
                                         (dir / "k.pem").string(),
                                         "-out",
                                         (dir / "c.pem").string(),
                                         "-days",
                                         "1",
                                         "-subj",
                                         "/CN=test"};
        std::vector<char*> ptrs;
        for (auto& a : argv) ptrs.push_back(a.data());
        ptrs.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        int status = -1;
        if (posix_spawnp(&pid, "openssl", &fa, nullptr, ptrs.data(), environ) == 0)
            waitpid(pid, &status, 0);
        posix_spawn_file_actions_destroy(&fa);
        auto slurp = [](const fs::path& p) {
            std::ifstream in(p, std::ios::binary);
            std::stringstream ss;
            ss << in.rdbuf();
            return ss.str();
        };
        if (status == 0) {
            r.key = slurp(dir / "k.pem");
            r.cert = slurp(dir / "c.pem");
        }
        fs::remove_all(dir);
        return r;
    }();
    return kp;
}

// A TLS session over a socket pair: `server` and `client` are ready-to-use channels.
class TlsPair : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(Keys().key.empty()) << "openssl could not make a key";
        SslLayer::InitLibrary();
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        sfd_ = fds[0];
        cfd_ = fds[1];
        auto accepted = std::async(std::launch::async, [this] {
            SslHandle h;
            int reason = 0;
            bool ok = SslLayer::AcceptControl(sfd_, Keys().key, "", Keys().cert, h, reason);
            return std::make_pair(ok, h);
        });
        SslHandle c;
        int reason = 0;
        bool connected = SslLayer::Connect(cfd_, reason, 3, c);
        if (!connected) shutdown(cfd_, SHUT_RDWR);
        auto [ok, h] = accepted.get();
        ASSERT_TRUE(connected && ok);
        server_.SetSocket(sfd_);
        server_.SetTls(h);
        server_.UseTls(true);
        client_.SetSocket(cfd_);
        client_.SetTls(c);
        client_.UseTls(true);
    }
    void TearDown() override {
        server_.FreeTls();
        client_.FreeTls();
        close(sfd_);
        close(cfd_);
    }
    // Lets a stuck reader or writer go before a failed test returns.
    void Unblock() {
        shutdown(sfd_, SHUT_RDWR);
        shutdown(cfd_, SHUT_RDWR);
    }

    int sfd_ = -1, cfd_ = -1;
    ControlChannel server_, client_;
};

TEST_F(TlsPair, LinesAlreadyDecryptedCountAsInput) {
    // Both commands travel in one record: after the first line the socket is empty.
    const std::string both = "PBSZ 0\r\nPROT P\r\n";
    ASSERT_TRUE(client_.WriteAll(both.data(), both.size()));
    ReplyBuilder rb(server_);
    std::string line;
    ASSERT_GT(server_.WaitInput(5000), 0);
    ASSERT_TRUE(rb.ReadLine(line));
    EXPECT_EQ(line, "PBSZ 0");
    EXPECT_GT(server_.WaitInput(0), 0);
    ASSERT_TRUE(rb.ReadLine(line));
    EXPECT_EQ(line, "PROT P");
    EXPECT_EQ(server_.WaitInput(100), 0);
}

TEST_F(TlsPair, RepliesGoOutWhileTheReaderWaits) {
    ReplyBuilder rb(server_);
    auto reader = std::async(std::launch::async, [&] {
        std::string line;
        bool ok = server_.WaitInput(20000) > 0 && rb.ReadLine(line);
        return ok ? line : std::string("<failed>");
    });
    ResponseReader rr(client_);
    rr.SetTimeout(5);
    std::string code;

    // Reader idle before any input.
    std::this_thread::sleep_for(100ms);
    auto first = std::async(std::launch::async, [&] { return rb.Reply("Opening.", "150", 0); });
    if (first.wait_for(5s) != std::future_status::ready) {
        Unblock();
        FAIL() << "a reply waited for the idle reader";
    }
    EXPECT_TRUE(first.get());
    EXPECT_EQ(rr.ReadResponse(code), std::vector<std::string>{"Opening."});
    EXPECT_EQ(code, "150");

    // Reader in the middle of a line.
    ASSERT_TRUE(client_.WriteAll("NO", 2));
    std::this_thread::sleep_for(100ms);
    auto second = std::async(std::launch::async, [&] { return rb.Reply("Done.", "226", 0); });
    if (second.wait_for(5s) != std::future_status::ready) {
        Unblock();
        FAIL() << "a reply waited for the half-read line";
    }
    EXPECT_TRUE(second.get());
    EXPECT_EQ(rr.ReadResponse(code), std::vector<std::string>{"Done."});
    EXPECT_EQ(code, "226");

    ASSERT_TRUE(rr.SendCommand("OP"));
    if (reader.wait_for(10s) != std::future_status::ready) Unblock();
    EXPECT_EQ(reader.get(), "NOOP");
}

TEST_F(TlsPair, HalfALineTimesOutWithoutHoldingTheLock) {
    ReplyBuilder rb(server_);
    ASSERT_TRUE(client_.WriteAll("NO", 2));
    std::string line;
    EXPECT_EQ(rb.ReadLineWithin(line, 1024, 300), 0);
    ASSERT_TRUE(rb.Reply("Still here.", "200", 0));
    ResponseReader rr(client_);
    rr.SetTimeout(5);
    std::string code;
    EXPECT_EQ(rr.ReadResponse(code), std::vector<std::string>{"Still here."});
    ASSERT_TRUE(client_.WriteAll("OP\r\nPWD\r\n", 9));
    ASSERT_EQ(rb.ReadLineWithin(line, 1024, 5000), 1);
    EXPECT_EQ(line, "NOOP");
    // The second line is already decrypted: no wait for the socket.
    ASSERT_EQ(rb.ReadLineWithin(line, 1024, 0), 1);
    EXPECT_EQ(line, "PWD");
}

TEST_F(TlsPair, ResponseInOneRecordIsReadWhole) {
    const std::string resp = "220-Hello\r\n    again\r\n220 Ready\r\n";
    ASSERT_TRUE(server_.WriteAll(resp.data(), resp.size()));
    ResponseReader rr(client_);
    rr.SetTimeout(5);
    std::string code;
    auto lines = rr.ReadResponse(code);
    EXPECT_EQ(code, "220");
    EXPECT_EQ(lines, (std::vector<std::string>{"Hello", "again", "Ready"}));
}

TEST_F(TlsPair, ConcurrentWritersKeepLinesWhole) {
    constexpr int kPerThread = 100;
    auto writer = [&](const char* code) {
        ReplyBuilder rb(server_);
        for (int i = 0; i < kPerThread; ++i)
            rb.Reply("line " + std::to_string(i) + " of a reply long enough to matter", code, 0);
    };
    std::thread a(writer, "150"), b(writer, "226");
    std::set<std::string> seen;
    ResponseReader rr(client_);
    rr.SetTimeout(5);
    for (int i = 0; i < 2 * kPerThread; ++i) {
        std::string code;
        auto lines = rr.ReadResponse(code);
        if (lines.size() != 1) break;
        ASSERT_TRUE(code == "150" || code == "226") << code;
        seen.insert(code + lines[0]);
    }
    a.join();
    b.join();
    EXPECT_EQ(seen.size(), 2u * kPerThread);
}

TEST_F(TlsPair, ShutdownThenFree) {
    server_.ShutdownTls();
    server_.ShutdownTls();  // a second close_notify is not sent
    std::string line;
    EXPECT_EQ(client_.ReadLineRaw(line, 100), ControlChannel::kClosed);  // clean end of data
    server_.FreeTls();
    EXPECT_FALSE(server_.Usable());
    ReplyBuilder rb(server_);
    EXPECT_FALSE(rb.Reply("late", "226", 0));
    EXPECT_LT(server_.WaitInput(10), 0);
}

TEST_F(TlsPair, ShutdownDoesNotWaitForAStuckWriter) {
    // The peer never reads, so this write blocks with the lock held.
    std::string big(8 << 20, 'x');
    auto writer =
        std::async(std::launch::async, [&] { return server_.WriteAll(big.data(), big.size()); });
    std::this_thread::sleep_for(200ms);
    auto closer = std::async(std::launch::async, [&] { server_.ShutdownTls(); });
    bool returned = closer.wait_for(10s) == std::future_status::ready;
    Unblock();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(writer.get());
}

}  // namespace
}  // namespace orvex
