// Program and access logs of the site object, and the Logger under them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/FtpSite.h"
#include "engine/Logger.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kEvening = 1016414373;         // 2002-03-17 20:19:33 at 300 minutes west
constexpr int64_t kBeforeMidnight = 1016409599;  // 2002-03-17 23:59:59 UTC

// A site whose log clock the test sets.
class ClockedSite : public FtpSite {
  public:
    using FtpSite::FtpSite;
    int64_t now = kEvening;

  protected:
    int64_t LogTime() const override { return now; }
};

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/orvex-logs-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        setenv("TZ", "EST5", 1);
        tzset();
    }
    void TearDown() override { fs::remove_all(dir_); }
    AccessLogEntry Entry(std::string_view user, std::string_view verb) {
        return {"10.0.0.1", "21", "10.0.0.9", "40000", user, verb, "a.txt", "226", "Done."};
    }
    fs::path dir_;
};

TEST_F(LogTest, ProgramLineWithOffsetInTheDate) {
    ClockedSite site;
    ASSERT_TRUE(site.SetProgramLogFile("ftpd.log", dir_.string()));
    site.SetProgramLogFormat("%D;%S;%M");
    site.SetLogDateFormat("%d/%m/%Y:%H:%M:%S%O");
    EXPECT_TRUE(site.LogProgram("MAIN", "Server started on port %d", 8000));
    site.FlushLogs();
    EXPECT_EQ(Slurp(dir_ / "ftpd.log"),
              "17/03/2002:20:19:33-0300;MAIN;Server started on port 8000\n");
}

TEST_F(LogTest, DefaultFormats) {
    ClockedSite site;
    ASSERT_TRUE(site.SetProgramLogFile("ftpd.log", dir_.string()));
    ASSERT_TRUE(site.SetAccessLogFile("access.log", dir_.string()));
    EXPECT_TRUE(site.LogProgram("FTPD", "%s", "fine"));
    EXPECT_TRUE(site.LogAccess(Entry("bob", "RETR")));
    site.FlushLogs();
    EXPECT_EQ(Slurp(dir_ / "ftpd.log"), "17/03/2002:20:19:33;fine\n");
    EXPECT_EQ(Slurp(dir_ / "access.log"),
              "17/03/2002:20:19:33;10.0.0.1;21;10.0.0.9;40000;bob;RETR;a.txt;226;Done.\n");
}

TEST_F(LogTest, ClientTextCannotForgeFieldsOrBreakLines) {
    ClockedSite site;
    ASSERT_TRUE(site.SetProgramLogFile("ftpd.log", dir_.string()));
    ASSERT_TRUE(site.SetAccessLogFile("access.log", dir_.string()));
    site.SetProgramLogFormat("%D;%S;%M");
    EXPECT_TRUE(site.LogAccess({"10.0.0.1", "21", "10.0.0.9", "40000", "a;10.9.8.7;2221",
                                "\x16\x03\x01", "x\ny", "500", "t;u"}));
    EXPECT_TRUE(site.LogProgram("MAIN", "Error connecting to client (%s disconnected).",
                                "evil;\r\nFAKE;line"));
    site.FlushLogs();
    EXPECT_EQ(Slurp(dir_ / "access.log"),
              "17/03/2002:20:19:33;10.0.0.1;21;10.0.0.9;40000;a\\x3b10.9.8.7\\x3b2221;"
              "\\x16\\x03\\x01;x\\x0ay;500;t\\x3bu\n");
    EXPECT_EQ(Slurp(dir_ / "ftpd.log"),
              "17/03/2002:20:19:33;MAIN;Error connecting to client "
              "(evil\\x3b\\x0d\\x0aFAKE\\x3bline disconnected).\n");
}

TEST_F(LogTest, UnknownSpecifiersGiveNothing) {
    ClockedSite site;
    ASSERT_TRUE(site.SetAccessLogFile("access.log", dir_.string()));
    site.SetAccessLogFormat("%u %q %%");
    EXPECT_TRUE(site.LogAccess(Entry("bob", "USER")));
    site.SetAccessLogFormat("[%m|%a|%r|%t|%D|%S]");
    EXPECT_TRUE(site.LogAccess({"", "", "", "", "", "CONNECT", "", "", ""}));
    site.FlushLogs();
    EXPECT_EQ(Slurp(dir_ / "access.log"), "bob  %\n[CONNECT|||||]\n");
}

TEST_F(LogTest, MessagesAreFormattedWhole) {
    ClockedSite site;
    ASSERT_TRUE(site.SetProgramLogFile("ftpd.log", dir_.string()));
    site.SetProgramLogFormat("%M");
    // Longer than any first guess at the size; client text with specifiers stays literal.
    std::string longText(5000, 'q');
    EXPECT_TRUE(site.LogProgram("FTPD", "<%s> %d", longText.c_str(), 42));
    EXPECT_TRUE(site.LogProgram("FTPD", "\"%s\" occured in '%s %s'", "x", "RETR", "%s%n%x"));
    EXPECT_FALSE(site.LogProgram("FTPD", nullptr));
    site.FlushLogs();
    EXPECT_EQ(Slurp(dir_ / "ftpd.log"), "<" + longText + "> 42\n\"x\" occured in 'RETR %s%n%x'\n");
}

TEST_F(LogTest, ModeZeroWritesNothingAndSucceeds) {
    ClockedSite site;
    ASSERT_TRUE(site.SetProgramLogFile("ftpd.log", dir_.string()));
    ASSERT_TRUE(site.SetAccessLogFile("access.log", dir_.string()));
    site.SetProgramLogLevel(0);
    site.SetAccessLogLevel(0);
    EXPECT_TRUE(site.LogProgram("MAIN", "quiet"));
    EXPECT_TRUE(site.LogAccess(Entry("bob", "PASS")));
    site.FlushLogs();
    EXPECT_FALSE(fs::exists(dir_ / "ftpd.log"));
    EXPECT_FALSE(fs::exists(dir_ / "access.log"));
}

TEST_F(LogTest, ScreenModes) {
    ClockedSite site;
    ASSERT_TRUE(site.SetProgramLogFile("ftpd.log", dir_.string()));
    site.SetProgramLogFormat("%S:%M");
    site.SetProgramLogLevel(1);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(site.LogProgram("MAIN", "screen"));
    site.SetProgramLogLevel(3);
    EXPECT_TRUE(site.LogProgram("MAIN", "both"));
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "MAIN:screen\nMAIN:both\n");
    site.FlushLogs();
    EXPECT_EQ(Slurp(dir_ / "ftpd.log"), "MAIN:both\n");
}

TEST_F(LogTest, DatedFileNameRollsAtMidnight) {
    setenv("TZ", "UTC0", 1);
    tzset();
    ClockedSite site;
    ASSERT_TRUE(site.SetAccessLogFile("%d%m%Y_access.log", dir_.string()));
    site.SetAccessLogFormat("%u");
    site.now = kBeforeMidnight;
    EXPECT_TRUE(site.LogAccess(Entry("late", "RETR")));
    site.now = kBeforeMidnight + 2;
    EXPECT_TRUE(site.LogAccess(Entry("early", "RETR")));
    EXPECT_TRUE(site.LogAccess(Entry("again", "RETR")));
    site.FlushLogs();
    // The first file was closed (and so flushed) when the name changed.
    EXPECT_EQ(Slurp(dir_ / "17032002_access.log"), "late\n");
    EXPECT_EQ(Slurp(dir_ / "18032002_access.log"), "early\nagain\n");
}

TEST_F(LogTest, MissingDirectoryIsRefusedAndTheOldFileKept) {
    ClockedSite site;
    ASSERT_TRUE(site.SetProgramLogFile("ftpd.log", dir_.string()));
    ASSERT_TRUE(site.SetAccessLogFile("access.log", dir_.string()));
    std::string missing = (dir_ / "no" / "such").string();
    EXPECT_FALSE(site.SetProgramLogFile("other.log", missing));
    EXPECT_FALSE(site.SetAccessLogFile("other.log", missing));
    std::string plainFile = (dir_ / "ftpd.log").string();
    std::ofstream(plainFile) << "";
    EXPECT_FALSE(site.SetAccessLogFile("other.log", plainFile));
    site.SetProgramLogFormat("%M");
    site.SetAccessLogFormat("%u");
    EXPECT_TRUE(site.LogProgram("MAIN", "still here"));
    EXPECT_TRUE(site.LogAccess(Entry("bob", "USER")));
    site.FlushLogs();
    EXPECT_EQ(Slurp(dir_ / "ftpd.log"), "still here\n");
    EXPECT_EQ(Slurp(dir_ / "access.log"), "bob\n");
}

// A packaged site's logs folder leads to /var/log.
TEST_F(LogTest, LinkedFolderIsFollowed) {
    ClockedSite site;
    fs::create_directory(dir_ / "var-log");
    fs::create_directory_symlink(dir_ / "var-log", dir_ / "logs");
    ASSERT_TRUE(site.SetProgramLogFile("orvex.log", (dir_ / "logs").string()));
    site.SetProgramLogFormat("%M");
    EXPECT_TRUE(site.LogProgram("MAIN", "linked"));
    site.FlushLogs();
    EXPECT_EQ(Slurp(dir_ / "var-log" / "orvex.log"), "linked\n");
}

TEST_F(LogTest, FileNameStaysUnderItsDirectory) {
    ClockedSite site;
    fs::create_directory(dir_ / "logs");
    ASSERT_TRUE(site.SetProgramLogFile("../../escape.log", (dir_ / "logs").string()));
    site.SetProgramLogFormat("%M");
    EXPECT_TRUE(site.LogProgram("MAIN", "inside"));
    site.FlushLogs();
    EXPECT_EQ(Slurp(dir_ / "logs" / "escape.log"), "inside\n");
    EXPECT_FALSE(fs::exists(dir_ / "escape.log"));
}

TEST_F(LogTest, LinesFromManyThreadsNeverMix) {
    ClockedSite site;
    ASSERT_TRUE(site.SetProgramLogFile("ftpd.log", dir_.string()));
    ASSERT_TRUE(site.SetAccessLogFile("access.log", dir_.string()));
    site.SetProgramLogFormat("%M");
    site.SetAccessLogFormat("%u");
    constexpr int kThreads = 4, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::string word(50, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                site.LogProgram("MAIN", "%s", word.c_str());
                site.LogAccess(Entry(word, "RETR"));
                if (i == kLines / 2) site.SetLogDateFormat("%H");
            }
        });
    }
    for (auto& th : threads) th.join();
    site.FlushLogs();
    for (const char* name : {"ftpd.log", "access.log"}) {
        std::istringstream in(Slurp(dir_ / name));
        std::string line;
        int count = 0;
        while (std::getline(in, line)) {
            ++count;
            ASSERT_EQ(line.size(), 50u);
            ASSERT_EQ(line.find_first_not_of(line[0]), std::string::npos);
        }
        EXPECT_EQ(count, kThreads * kLines);
    }
}

TEST_F(LogTest, LoggerFlushesOncePerInterval) {
    std::string path = (dir_ / "l.log").string();
    Logger log(path, 1000);
    EXPECT_TRUE(log.Write("one", 1));  // the first write always flushes
    EXPECT_TRUE(log.Write("two", 1));
    EXPECT_EQ(Slurp(path), "one\n");
    log.Flush();
    EXPECT_EQ(Slurp(path), "one\ntwo\n");
    EXPECT_FALSE(log.Write("x", 7));
}

TEST_F(LogTest, LoggerReopensOnlyForANewPath) {
    Logger log;
    EXPECT_EQ(log.Path(), "out.log");
    log.SetPath("a.log", dir_.string() + "/");
    EXPECT_TRUE(log.Write("1", 1));
    fs::remove(dir_ / "a.log");
    log.SetPath("a.log", dir_.string() + "/");  // same path: the open file stays
    EXPECT_TRUE(log.Write("2", 1));
    EXPECT_FALSE(fs::exists(dir_ / "a.log"));
    log.SetPath("b.log", dir_.string() + "/");
    EXPECT_TRUE(log.Write("3", 1));
    log.Flush();
    EXPECT_EQ(Slurp(dir_ / "b.log"), "3\n");
    log.SetPath("", (dir_ / "missing" / "x").string());
    EXPECT_FALSE(log.Write("4", 1));
    log.SetPath("");
    EXPECT_FALSE(log.Write("5", 1));
}

}  // namespace
}  // namespace orvex
