#include "engine/TransferJob.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/FtpSite.h"
#include "engine/SocketUtil.h"

using namespace orvex;
using Clock = std::chrono::steady_clock;

namespace {

std::string Crlf(const std::string& in, size_t split) {
    std::string out;
    char prev = 0;
    AppendCrlf(std::string_view(in).substr(0, split), prev, out);
    AppendCrlf(std::string_view(in).substr(split), prev, out);
    return out;
}

TEST(AppendCrlf, SameResultWhereverTheBlockEnds) {
    const std::string in = "\nab\ncd\r\nef\r\r\n\n\ng\n";
    const std::string whole = "\r\nab\r\ncd\r\nef\r\r\n\r\n\r\ng\r\n";
    for (size_t split = 0; split <= in.size(); ++split) EXPECT_EQ(Crlf(in, split), whole) << split;
    // A CR that ends one block and the LF that starts the next make one line end.
    EXPECT_EQ(Crlf("a\r\nb", 2), "a\r\nb");
    std::string out;
    char prev = '\r';
    AppendCrlf("", prev, out);
    EXPECT_EQ(prev, '\r');  // an empty block keeps the carried byte
    AppendCrlf("\n", prev, out);
    EXPECT_EQ(out, "\n");
}

class RecordingSite : public FtpSite {
  public:
    RecordingSite() {
        SetAccessLogLevel(0);
        SetProgramLogLevel(0);
    }
    void SetTransferRate(uint32_t, uint32_t bps) override {
        if (bps > 0) ++rateReports;
    }
    int CheckFxp(const std::string&, int, int) override { return allowFxp ? 1 : 0; }
    int TakeCredits(const std::string&, uint32_t, const std::string&, uint64_t, int) override {
        return Note("take");
    }
    int AddCredits(const std::string&, uint32_t, const std::string&, uint64_t, int ratio) override {
        return Note(ratio ? "earn" : "refund");
    }
    int RecordDownload(uint32_t, const std::string&, uint64_t, uint32_t) override {
        return Note("download");
    }
    int RecordUpload(uint32_t, const std::string&, uint64_t, uint32_t) override {
        return Note("upload");
    }
    std::string Calls() {
        std::lock_guard<std::mutex> g(lock);
        return calls;
    }
    std::atomic<int> rateReports{0};
    bool allowFxp = true;

  private:
    int Note(const char* what) {
        std::lock_guard<std::mutex> g(lock);
        calls += calls.empty() ? what : std::string(" ") + what;
        return 1;
    }
    std::mutex lock;
    std::string calls;
};

// A session on one end of a socket pair, a passive listener and a client already connected to it.
struct Harness {
    RecordingSite site;
    int control[2] = {-1, -1};
    std::unique_ptr<FtpSession> session;
    int listener = -1;
    int client = -1;
    TransferJob job;

    Harness() {
        SocketUtil::Startup();
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, control);
        session = std::make_unique<FtpSession>(control[0], site, nullptr, false);
        listener = SocketUtil::OpenListener("0", "127.0.0.1");
        std::string ip, port;
        SocketUtil::LocalAddress(listener, ip, port);
        client = SocketUtil::ConnectHost("127.0.0.1", port, 5);
        job.jobType = 'S';
        job.passive = true;
        job.dataListener = dup(listener);
        job.session = session.get();
        job.site = &site;
        job.peerIp = "127.0.0.1";
        job.argument = "f";
    }
    ~Harness() {
        SocketUtil::Close(client);
        SocketUtil::Close(listener);
        session.reset();
        close(control[0]);
        close(control[1]);
    }
    // Whatever the session replied within a short time.
    std::string Replies() {
        std::string text;
        char buf[512];
        pollfd p{control[1], POLLIN, 0};
        while (poll(&p, 1, 300) > 0) {
            const ssize_t n = read(control[1], buf, sizeof buf);
            if (n <= 0) break;
            text.append(buf, static_cast<size_t>(n));
        }
        return text;
    }
};

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

TEST(DataConnection, OpensPassiveAndChecksTheDataPeer) {
    Harness h;
    DataConnection dc;
    ASSERT_TRUE(dc.Open(h.job, "Opening it."));
    EXPECT_EQ(h.Replies(), "150 Opening it.\r\n");
    EXPECT_TRUE(dc.Unlimited(h.job, false));

    Harness foreign;
    foreign.job.peerIp = "10.1.2.3";
    foreign.site.allowFxp = false;
    DataConnection refused;
    EXPECT_FALSE(refused.Open(foreign.job, "Opening it."));
    EXPECT_EQ(foreign.Replies(), "426 Can't open data connection\r\n");
}

TEST(DataConnection, RefusedThirdHostIsNeverContacted) {
    Harness h;
    const int third = SocketUtil::OpenListener("0", "127.0.0.2");
    ASSERT_GE(third, 0);
    std::string ip, port;
    SocketUtil::LocalAddress(third, ip, port);
    h.job.passive = false;
    h.job.portAddress = "127.0.0.2";
    h.job.portNumber = port;
    h.site.allowFxp = false;
    DataConnection dc;
    EXPECT_FALSE(dc.Open(h.job, "x"));
    EXPECT_EQ(h.Replies(), "426 Can't open data connection\r\n");
    EXPECT_EQ(SocketUtil::WaitReadable(third, 0, 300), 0);  // no connection came in
    int fd = third;
    SocketUtil::Close(fd);
}

TEST(DataConnection, SendLimitKeepsToHalfSecondBudgets) {
    Harness h;
    DataConnection dc;
    ASSERT_TRUE(dc.Open(h.job, "go"));
    dc.sendLimit = 2000;  // 1000 bytes per half second
    EXPECT_FALSE(dc.Unlimited(h.job, false));
    dc.ResetMeters();
    const std::string data(5000, 'd');
    std::atomic<long> result{0};
    const auto start = Clock::now();
    std::thread sender([&] { result = dc.SendLimited(h.job, data.data(), data.size()); });
    size_t early = 0, total = 0;
    char buf[8192];
    while (total < data.size()) {
        pollfd p{h.client, POLLIN, 0};
        ASSERT_GT(poll(&p, 1, 5000), 0);
        const ssize_t n = recv(h.client, buf, sizeof buf, 0);
        ASSERT_GT(n, 0);
        total += static_cast<size_t>(n);
        if (Seconds(start) < 0.35) early = total;
    }
    const double took = Seconds(start);
    sender.join();
    EXPECT_EQ(result.load(), 5000);
    EXPECT_LE(early, 1000u);
    EXPECT_GE(took, 1.6);
    EXPECT_GT(h.site.rateReports.load(), 0);
}

TEST(DataConnection, ReceiveFillsTheBufferUntilFullOrEnd) {
    Harness h;
    DataConnection dc;
    ASSERT_TRUE(dc.Open(h.job, "go"));
    std::thread writer([&] {
        for (int i = 0; i < 10; ++i) {
            const std::string piece(100, static_cast<char>('a' + i));
            send(h.client, piece.data(), piece.size(), MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::string full(5000, 'z');
        send(h.client, full.data(), full.size(), MSG_NOSIGNAL);
        shutdown(h.client, SHUT_WR);
    });
    std::string buf(1000, '\0');
    EXPECT_EQ(dc.ReceiveLimited(h.job, buf.data(), buf.size()), 1000);
    EXPECT_EQ(buf.substr(0, 100), std::string(100, 'a'));
    EXPECT_EQ(buf.substr(900), std::string(100, 'j'));
    std::string big(4096, '\0');
    EXPECT_EQ(dc.ReceiveLimited(h.job, big.data(), big.size()), 4096);
    EXPECT_EQ(dc.ReceiveLimited(h.job, big.data(), big.size()), 5000 - 4096);
    EXPECT_EQ(dc.ReceiveLimited(h.job, big.data(), big.size()), 0);
    writer.join();
}

TEST(DataConnection, AbortEndsAWaitingReceive) {
    Harness h;
    DataConnection dc;
    ASSERT_TRUE(dc.Open(h.job, "go"));
    std::thread aborter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        h.session->SetAbort(true);
    });
    char buf[64];
    const auto start = Clock::now();
    EXPECT_EQ(dc.ReceiveLimited(h.job, buf, sizeof buf), 0);
    EXPECT_TRUE(dc.Stopped());
    EXPECT_FALSE(dc.ReceiveFailed());
    EXPECT_LT(Seconds(start), 5.0);
    aborter.join();
}

// The accounting hooks follow the judgement of the final reply: only a complete transfer counts.
TEST(TransferJob, OnlyCompleteTransfersAreAccounted) {
    char tmpl[] = "/tmp/orvex-accounting-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    {
        const std::string block(1 << 20, 'f');
        FILE* f = fopen((dir + "/f").c_str(), "wb");
        for (int i = 0; i < 64; ++i) fwrite(block.data(), 1, block.size(), f);
        fclose(f);
    }
    struct Case {
        char jobType;
        bool cut;
        const char* calls;
        const char* code;
    };
    const Case cases[] = {
        {'S', false, "take download", "226"},
        {'S', true, "take refund", "426"},
        {'R', false, "upload earn", "226"},
        {'R', true, "", "426"},
    };
    for (const Case& c : cases) {
        Harness h;
        h.job.jobType = c.jobType;
        h.job.type = 'I';
        h.job.root = dir + "/";
        FileUtil::ToBackslashes(h.job.root);
        h.job.argument = c.jobType == 'S' ? "f" : "up";
        auto job = std::make_unique<TransferJob>(h.job);
        h.job.dataListener = -1;  // the copy owns it now
        std::thread runner(
            [j = job.release()] { RunTransferJob(std::unique_ptr<TransferJob>(j)); });
        char buf[65536];
        if (c.jobType == 'S') {
            ASSERT_GT(recv(h.client, buf, 1000, MSG_WAITALL), 0);
            if (c.cut) {
                linger off{1, 0};  // a reset: the server's next write fails
                setsockopt(h.client, SOL_SOCKET, SO_LINGER, &off, sizeof off);
                SocketUtil::Close(h.client);
            } else {
                while (recv(h.client, buf, sizeof buf, 0) > 0) {
                }
            }
        } else {
            send(h.client, buf, 1000, MSG_NOSIGNAL);
            if (c.cut) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                h.session->SetAbort(true);
            } else {
                shutdown(h.client, SHUT_WR);
            }
        }
        runner.join();
        const std::string replies = h.Replies();
        EXPECT_NE(replies.find(std::string("\r\n") + c.code + " [Bytes: "), std::string::npos)
            << c.jobType << c.cut << replies;
        EXPECT_EQ(h.site.Calls(), c.calls) << c.jobType << c.cut;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
