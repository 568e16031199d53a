#include "engine/ReplyBuilder.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace orvex {
namespace {

// A connected pair: `near` is the channel under test, `far` the peer.
class Pair : public ::testing::Test {
  protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        near_ = fds[0];
        far_ = fds[1];
    }
    void TearDown() override {
        if (near_ >= 0) close(near_);
        if (far_ >= 0) close(far_);
    }
    void CloseNear() {
        close(near_);
        near_ = -1;
    }
    void CloseFar() {
        close(far_);
        far_ = -1;
    }
    void Send(const std::string& s) {
        ASSERT_EQ(write(far_, s.data(), s.size()), static_cast<ssize_t>(s.size()));
    }
    // Everything the peer has received so far, without blocking.
    std::string Received() {
        std::string out;
        char buf[4096];
        for (;;) {
            pollfd p{far_, POLLIN, 0};
            if (poll(&p, 1, 200) <= 0) break;
            ssize_t n = read(far_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }
    int near_ = -1, far_ = -1;
};

using ReplyTest = Pair;

TEST_F(ReplyTest, LineModesAndByteCounts) {
    ControlChannel ch(near_);
    ReplyBuilder rb(ch);
    ASSERT_TRUE(rb.Reply("Transfer complete.", "226", 0));
    std::string got = Received();
    EXPECT_EQ(got.size(), 24u);
    EXPECT_EQ(got, "226 Transfer complete.\r\n");

    EXPECT_TRUE(rb.Reply("Extensions supported", "211", 1));
    EXPECT_TRUE(rb.Reply("AUTH SSL", "211", 2));
    EXPECT_TRUE(rb.Reply("End.", "211", 7));  // any other mode is a final line
    EXPECT_TRUE(rb.Reply("", "200", 0));
    EXPECT_EQ(Received(), "211-Extensions supported\r\n    AUTH SSL\r\n211 End.\r\n200 \r\n");
}

TEST_F(ReplyTest, CodeMustBeThreeCharactersExceptIndented) {
    ControlChannel ch(near_);
    ReplyBuilder rb(ch);
    EXPECT_FALSE(rb.Reply("x", "22", 0));
    EXPECT_FALSE(rb.Reply("x", "2266", 1));
    EXPECT_FALSE(rb.Reply("x", "", 0));
    EXPECT_EQ(Received(), "");
    EXPECT_TRUE(rb.Reply("indented", "22", 2));
    EXPECT_TRUE(rb.Reply("indented", "", 2));
    EXPECT_EQ(Received(), "    indented\r\n    indented\r\n");
}

TEST_F(ReplyTest, LineBreakInTextCutsTheLine) {
    ControlChannel ch(near_);
    ReplyBuilder rb(ch);
    EXPECT_TRUE(rb.Reply("first\nsecond", "250", 0));
    EXPECT_TRUE(rb.Reply("one\rtwo\r\n", "250", 1));
    EXPECT_TRUE(rb.Reply("\nhidden", "250", 0));
    EXPECT_EQ(Received(), "250 first\r\n250-one\r\n250 \r\n");
}

TEST_F(ReplyTest, UnusableChannelSendsNothing) {
    ControlChannel none(-1);
    ReplyBuilder a(none);
    EXPECT_FALSE(a.Reply("x", "200", 0));
    std::string line;
    EXPECT_FALSE(a.ReadLine(line));

    // Encrypted without a TLS object: nothing goes out in clear either.
    ControlChannel ch(near_);
    ch.UseTls(true);
    EXPECT_FALSE(ch.Usable());
    ReplyBuilder b(ch);
    EXPECT_FALSE(b.Reply("x", "200", 0));
    EXPECT_EQ(Received(), "");
}

TEST_F(ReplyTest, WriteToClosedPeerFails) {
    ControlChannel ch(near_);
    ReplyBuilder rb(ch);
    CloseFar();
    EXPECT_FALSE(rb.Reply("gone", "200", 0));
}

using ReadLineTest = Pair;

TEST_F(ReadLineTest, CommandLinesAreCutAtLineEnds) {
    ControlChannel ch(near_);
    ReplyBuilder rb(ch);
    Send("USER bob\r\nPASS x\rjunk\nNOOP\n");
    std::string line;
    ASSERT_TRUE(rb.ReadLine(line));
    EXPECT_EQ(line, "USER bob");
    ASSERT_TRUE(rb.ReadLine(line));
    EXPECT_EQ(line, "PASS x");
    ASSERT_TRUE(rb.ReadLine(line));
    EXPECT_EQ(line, "NOOP");
}

// Each step sends some bytes (closing the far end when `close` is set) and then expects the
// readings listed, each a ReadLineWithin result with its line.
TEST_F(ReadLineTest, LongLinesAreCutOnceAndEmptyLinesAreLines) {
    struct Reading {
        int result;
        const char* line;
    };
    struct Step {
        std::string send;
        bool close;
        std::vector<Reading> expect;
    };
    const std::vector<Step> steps = {
        // Seven characters fill a size of eight; the CR LF does not count.
        {"1234567\r\n1234567\n", false, {{1, "1234567"}, {1, "1234567"}}},
        // One more and the line is too long: what follows it up to its LF is never a command.
        {"12345678\r\nNOOP\r\n", false, {{2, "1234567"}, {1, "NOOP"}}},
        {"SIZE xxxxxxxxMKD smuggled\r\nPWD\r\n", false, {{2, "SIZE xx"}, {1, "PWD"}}},
        // The rest of a long line may come later; it is still dropped.
        {std::string(10, 'B'), false, {{2, "BBBBBBB"}, {0, ""}}},
        {"BBBBBBBBBBBBBBBBBBBBBBBB", false, {{0, ""}}},
        {"BBB\r\nX\r\n", false, {{1, "X"}}},
        // Empty lines are lines; the last bytes before the end of the stream still form one.
        {"\r\n\nabc", true, {{1, ""}, {1, ""}, {1, "abc"}, {-1, ""}}},
    };
    ControlChannel ch(near_);
    ReplyBuilder rb(ch);
    for (const Step& step : steps) {
        if (!step.send.empty()) Send(step.send);
        if (step.close) CloseFar();
        for (const Reading& r : step.expect) {
            std::string line;
            ASSERT_EQ(rb.ReadLineWithin(line, 8, 300), r.result) << step.send;
            if (r.result > 0) {
                EXPECT_EQ(line, r.line) << step.send;
            }
        }
    }
}

TEST_F(ReadLineTest, WaitInputTimesOutAndSeesData) {
    ControlChannel ch(near_);
    EXPECT_EQ(ch.WaitInput(50), 0);
    Send("X\r\n");
    EXPECT_GT(ch.WaitInput(1000), 0);
    ControlChannel none(-1);
    EXPECT_LT(none.WaitInput(10), 0);
}

TEST_F(ReadLineTest, HalfALineTimesOutAndIsKeptForTheNextCall) {
    ControlChannel ch(near_);
    ReplyBuilder rb(ch);
    Send("NO");
    std::string line = "old";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(rb.ReadLineWithin(line, 1024, 200), 0);  // the reader is free again
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(rb.ReadLineWithin(line, 1024, 0), 0);
    Send("OP\r\nPWD\r\nAUTH");
    ASSERT_EQ(rb.ReadLineWithin(line, 1024, 1000), 1);
    EXPECT_EQ(line, "NOOP");
    ASSERT_EQ(rb.ReadLineWithin(line, 1024, 1000), 1);
    EXPECT_EQ(line, "PWD");
    EXPECT_EQ(rb.ReadLineWithin(line, 1024, 50), 0);
    // Only the line is taken from the socket: what follows stays there for its next reader.
    Send(" SSL\r\nhandshake");
    ASSERT_EQ(rb.ReadLineWithin(line, 1024, 1000), 1);
    EXPECT_EQ(line, "AUTH SSL");
    char rest[16] = {};
    EXPECT_EQ(recv(near_, rest, sizeof rest, MSG_DONTWAIT), 9);
    EXPECT_EQ(std::string(rest), "handshake");
}

using ResponseTest = Pair;

TEST_F(ResponseTest, MultiLineResponse) {
    ControlChannel ch(near_);
    ResponseReader rr(ch);
    Send("220-Hello\r\n    again\r\n220 Ready\r\n");
    std::string code = "junk";
    auto lines = rr.ReadResponse(code);
    EXPECT_EQ(code, "220");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Hello");
    EXPECT_EQ(lines[1], "again");
    EXPECT_EQ(lines[2], "Ready");
}

TEST_F(ResponseTest, OnlyAFourthSpaceWithoutLeadingSpaceEndsTheResponse) {
    ControlChannel ch(near_);
    ResponseReader rr(ch);
    // " 22 x" starts with a space, "ab" is short, "xyz-" has no space: none of them ends it.
    // Lines without a code are text as they stand.
    Send(" 22 x\r\nab\r\nxyz-1\r\nabc text\r\n250 next\r\n");
    std::string code;
    auto lines = rr.ReadResponse(code);
    EXPECT_EQ(code, "abc");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], " 22 x");
    EXPECT_EQ(lines[1], "ab");
    EXPECT_EQ(lines[2], "1");
    EXPECT_EQ(lines[3], "text");
    // The next response stays for the next call.
    lines = rr.ReadResponse(code);
    EXPECT_EQ(code, "250");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "next");
}

TEST_F(ResponseTest, MultiLineResponseEndsOnlyAtItsOwnCode) {
    ControlChannel ch(near_);
    ResponseReader rr(ch);
    // Listing lines of STAT: numbers and blanks in front are text, not the end of the reply.
    Send(
        "213-Status follows:\r\n 12 files\r\n123 files\r\ndrwxr-xr-x 2 a\r\n"
        "213-more\r\n    indented\r\n213 End of status\r\n200 next\r\n");
    std::string code;
    auto lines = rr.ReadResponse(code);
    EXPECT_EQ(code, "213");
    const std::vector<std::string> want{"Status follows:", " 12 files", "123 files",
                                        "drwxr-xr-x 2 a",  "more",      "indented",
                                        "End of status"};
    EXPECT_EQ(lines, want);
    lines = rr.ReadResponse(code);
    EXPECT_EQ(code, "200");
    EXPECT_EQ(lines, std::vector<std::string>{"next"});
}

TEST_F(ResponseTest, SilentPeerTimesOut) {
    ControlChannel ch(near_);
    ResponseReader rr(ch);
    rr.SetTimeout(1);
    std::string code = "x";
    auto start = std::chrono::steady_clock::now();
    auto lines = rr.ReadResponse(code);
    auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(code, "");
    EXPECT_GE(spent, std::chrono::milliseconds(900));
    EXPECT_LT(spent, std::chrono::seconds(8));
}

TEST_F(ResponseTest, PeerStoppingMidResponseGivesLinesWithoutCode) {
    ControlChannel ch(near_);
    ResponseReader rr(ch);
    rr.SetTimeout(1);
    Send("220-Hello\r\n220-more\r\n");
    std::string code;
    auto lines = rr.ReadResponse(code);  // stalls: must not wait for ever
    EXPECT_EQ(code, "");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "more");

    Send("220-last\r\n");
    CloseFar();
    lines = rr.ReadResponse(code);
    EXPECT_EQ(code, "");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "last");
}

TEST_F(ResponseTest, LongLinesAreReadWholeUpToTheBound) {
    ControlChannel ch(near_);
    ResponseReader rr(ch);
    Send("200-" + std::string(600, 'x') + "\r\n200 ok\r\n");
    std::string code;
    auto lines = rr.ReadResponse(code);
    EXPECT_EQ(code, "200");
    EXPECT_FALSE(rr.Overrun());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string(600, 'x'));
    EXPECT_EQ(lines[1], "ok");
}

TEST_F(ResponseTest, SendCommandEndsEveryLineWithCrlf) {
    ControlChannel ch(near_);
    ResponseReader rr(ch);
    EXPECT_TRUE(rr.SendCommand("USER bob"));
    EXPECT_TRUE(rr.SendCommand("PASS x\r\nDELE y"));
    EXPECT_TRUE(rr.SendCommand("NOOP\n"));
    EXPECT_EQ(Received(), "USER bob\r\nPASS x\r\nNOOP\r\n");
    ControlChannel none(-1);
    ResponseReader dead(none);
    EXPECT_FALSE(dead.SendCommand("QUIT"));
    std::string code;
    EXPECT_TRUE(dead.ReadResponse(code).empty());
}

}  // namespace
}  // namespace orvex
