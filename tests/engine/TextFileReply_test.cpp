#include "engine/TextFileReply.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/ReplyBuilder.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

class TextFileReplyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        ch_.SetSocket(fds[0]);
        far_ = fds[1];
        char tmpl[] = "/tmp/orvex-tfr-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        close(ch_.Socket());
        close(far_);
        fs::remove_all(dir_);
    }
    std::string File(const std::string& content) {
        std::string p = (dir_ / "msg.txt").string();
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    std::string Received() {
        std::string out;
        char buf[4096];
        pollfd p{far_, POLLIN, 0};
        while (poll(&p, 1, 200) > 0) {
            ssize_t n = read(far_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }
    ControlChannel ch_;
    ReplyBuilder out_{ch_};
    int far_ = -1;
    fs::path dir_;
};

TEST_F(TextFileReplyTest, LinesAreIndentedAndCommentsSkipped) {
    std::string p = File("Welcome\n// hidden\n\nlast line\r\n");
    EXPECT_TRUE(TextFileReply::Send(out_, p, "230", std::nullopt, 0));
    EXPECT_EQ(Received(), "230- Welcome\r\n230- \r\n230- last line\r\n230 Command Successful.\r\n");
}

TEST_F(TextFileReplyTest, LongLinesBecomeSeveralPieces) {
    std::string a(254, 'a'), b(46, 'b');
    std::string p = File(a + b + "\n" + a + "\nx" + std::string(253, 'y') + "//tail\n");
    EXPECT_TRUE(TextFileReply::Send(out_, p, "250", "Bye.", 0));
    std::string y(253, 'y');
    // A piece that begins with "//" is dropped even in the middle of a long line.
    EXPECT_EQ(Received(), "250- " + a + "\r\n250- " + b + "\r\n250- " + a + "\r\n250- x" + y +
                              "\r\n250 Bye.\r\n");
}

TEST_F(TextFileReplyTest, CallerModeChoosesTheLineKind) {
    std::string p = File("one\ntwo");
    EXPECT_TRUE(TextFileReply::Send(out_, p, "211", std::nullopt, 1));
    EXPECT_TRUE(TextFileReply::Send(out_, p, "211", std::nullopt, 2));
    EXPECT_TRUE(TextFileReply::Send(out_, p, "211", "ignored", -1));
    EXPECT_EQ(Received(),
              "211- one\r\n211- two\r\n     one\r\n     two\r\n211- one\r\n211- two\r\n");
}

TEST_F(TextFileReplyTest, MissingFile) {
    std::string p = (dir_ / "none.txt").string();
    EXPECT_FALSE(TextFileReply::Send(out_, p, "230", "x", 1));
    EXPECT_EQ(Received(), "");
    EXPECT_FALSE(TextFileReply::Send(out_, p, "230", "x", 0));
    EXPECT_EQ(Received(), "451 Unable to get file information.\r\n");
}

TEST_F(TextFileReplyTest, EmptyFileStillCloses) {
    std::string p = File("");
    EXPECT_TRUE(TextFileReply::Send(out_, p, "220", "Hi.", 0));
    EXPECT_EQ(Received(), "220 Hi.\r\n");
}

}  // namespace
}  // namespace orvex
