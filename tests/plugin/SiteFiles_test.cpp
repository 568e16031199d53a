#include "plugin/SiteFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "plugin/TemplateText.h"
#include "tests/plugin/TempDir.h"

using namespace orvex::plugin;
using orvex::test::ReadText;
using orvex::test::TempDir;
using orvex::test::WriteText;

namespace {

std::string Conf(const std::string& templ, const std::string& root, const std::string& home,
                 int* count = nullptr) {
    std::string out;
    int n = RewriteSiteConf(templ, root, home, out);
    if (count != nullptr) *count = n;
    return out;
}

std::string Passwd(const std::string& templ, const std::string& root, const std::string& home,
                   int* count = nullptr) {
    std::string out;
    int n = RewriteSitePasswd(templ, root, home, "12-09-25", out);
    if (count != nullptr) *count = n;
    return out;
}

TEST(SiteConf, RootAndHomeUnderIt) {
    int count = 0;
    std::string out = Conf("# site\nrootpath /old\n\ndefault_homedir /old/x\nserver_port 21\n",
                           "/app", "/app/site", &count);
    EXPECT_EQ(out,
              "# site\n"
              "rootpath                /app/\n"
              "\n"
              "default_homedir         ./site/\n"
              "server_port 21\n");
    EXPECT_EQ(count, 5);
}

TEST(SiteConf, HomeElsewhereWrittenAsGivenWithSeparator) {
    EXPECT_EQ(Conf("default_homedir x\n", "/app", "/srv/ftp"),
              "default_homedir         /srv/ftp/\n");
    // A sibling whose name only starts like the root is not under it.
    EXPECT_EQ(Conf("default_homedir x\n", "/app", "/application/site"),
              "default_homedir         /application/site/\n");
    // Home equal to the root is the root itself.
    EXPECT_EQ(Conf("default_homedir x\n", "/app/", "/app"), "default_homedir         ./\n");
}

TEST(SiteConf, BackslashPathsKeepTheirSeparatorAndHomeTurnsToSlashes) {
    EXPECT_EQ(Conf("rootpath a\ndefault_homedir b\n", "C:\\app", "C:\\app\\site\\ftp"),
              "rootpath                C:\\app\\\n"
              "default_homedir         ./site/ftp/\n");
    EXPECT_EQ(Conf("default_homedir b\n", "C:\\app", "D:\\site"),
              "default_homedir         D:\\site\\\n");
}

TEST(SiteConf, PathCaseMattersOnThisSystem) {
    EXPECT_EQ(Conf("default_homedir b\n", "/app", "/App/site"),
              "default_homedir         /App/site/\n");
}

TEST(SiteConf, LineBreakInParameterCannotAddDirectives) {
    EXPECT_EQ(
        Conf("rootpath x\ndefault_homedir y\n", "/app\nserver_port 1", "/app/h\r\nshutdown 2"),
        "rootpath                /app/\ndefault_homedir         ./h/\n");
    EXPECT_EQ(Passwd("orvex;P;1;1;\n", "/a", "/a/h\nroot;X;0;0;"), "orvex;P;1;1;12-09-25;./h/\n");
}

TEST(SiteConf, KeysComparedWithoutCaseOnlyAsWholeFirstWord) {
    EXPECT_EQ(Conf("ROOTPATH C:/x\n", "/app", "/h"), "rootpath                /app/\n");
    EXPECT_EQ(Conf("  RootPath\t/x trailing words\n", "/app", "/h"),
              "rootpath                /app/\n");
    const std::string kept = "#rootpath /x\n# rootpath /x\nrootpaths /x\nrootpath#x\n";
    EXPECT_EQ(Conf(kept, "/app", "/h"), kept);
    EXPECT_EQ(Conf("Default_HomeDir\n", "/app", "/app/h"), "default_homedir         ./h/\n");
}

TEST(SiteConf, BlankLinesAndLastLineWithoutNewline) {
    int count = 0;
    EXPECT_EQ(Conf(" \t\n\n\r\nrootpath /x", "/r", "/h", &count),
              " \t\n\n\r\nrootpath                /r/\n");
    EXPECT_EQ(count, 4);
    EXPECT_EQ(Conf("", "/r", "/h", &count), "");
    EXPECT_EQ(count, 0);
}

TEST(SiteConf, LongLinesCountEveryPieceAndAreNotCutApart) {
    const std::string longValue(600, 'v');
    int count = 0;
    // 601 characters and the line feed: pieces of 264, 264 and 74.
    std::string other = "x" + longValue + "\n";
    EXPECT_EQ(Conf(other, "/r", "/h", &count), other);
    EXPECT_EQ(count, 3);
    // A replaced line loses all of its pieces; a continuation is never read as a key.
    std::string replaced = "rootpath " + longValue + "\nnext\n";
    EXPECT_EQ(Conf(replaced, "/r", "/h", &count), "rootpath                /r/\nnext\n");
    EXPECT_EQ(count, 4);
    std::string tricky = std::string(264, 'a') + "rootpath /x\n";
    EXPECT_EQ(Conf(tricky, "/r", "/h"), tricky);
}

TEST(SiteConf, ExactlyOnePieceThenLineFeed) {
    int count = 0;
    std::string line = std::string(264, 'a') + "\n";
    EXPECT_EQ(Conf(line, "/r", "/h", &count), line);
    EXPECT_EQ(count, 2);
}

TEST(SitePasswd, CompletesOnlyTheOrvexLine) {
    int count = 0;
    std::string out = Passwd(
        "# Username;EncryptedPassword;UserID;GroupID;DateAdded;HomeDir\n"
        "orvex;ABCDEF;100;100;\r\n"
        "other;ABC;101;100;01-01-20;/x/\n"
        " orvex;indented;1;1;\n"
        "Orvex;caps;1;1;\n",
        "/app", "/app/site", &count);
    EXPECT_EQ(out,
              "# Username;EncryptedPassword;UserID;GroupID;DateAdded;HomeDir\n"
              "orvex;ABCDEF;100;100;12-09-25;./site/\n"
              "other;ABC;101;100;01-01-20;/x/\n"
              " orvex;indented;1;1;\n"
              "Orvex;caps;1;1;\n");
    EXPECT_EQ(count, 5);
}

TEST(SitePasswd, HomeElsewhereAndLineCutAtFirstReturn) {
    EXPECT_EQ(Passwd("orvex;P;100;100;\rjunk\n", "/app", "/home/ftp"),
              "orvex;P;100;100;12-09-25;/home/ftp/\n");
    // The last line without a line feed still gets one.
    EXPECT_EQ(Passwd("orvex;P;1;1;", "/a", "/a/b"), "orvex;P;1;1;12-09-25;./b/\n");
}

TEST(SitePasswd, LongAccountLineCompletedWhole) {
    std::string line = "orvex;" + std::string(300, 'P') + ";100;100;";
    int count = 0;
    EXPECT_EQ(Passwd(line + "\nnext\n", "/a", "/a/h", &count), line + "12-09-25;./h/\n" + "next\n");
    EXPECT_EQ(count, 3);
}

TEST(SitePasswd, TodayHasTheDateForm) {
    EXPECT_TRUE(orvex::test::IsPasswdDate(TodayForPasswd())) << TodayForPasswd();
}

TEST(TemplatePaths, TrailingSeparator) {
    EXPECT_EQ(WithTrailingSeparator("/app"), "/app/");
    EXPECT_EQ(WithTrailingSeparator("/app/"), "/app/");
    EXPECT_EQ(WithTrailingSeparator("C:\\app\\"), "C:\\app\\");
    EXPECT_EQ(WithTrailingSeparator("C:\\app/"), "C:\\app/");
    EXPECT_EQ(WithTrailingSeparator("C:\\a/b"), "C:\\a/b/");
    EXPECT_EQ(WithTrailingSeparator(""), "/");
    EXPECT_EQ(PartUnderRoot("C:\\app\\", "C:/app/x\\y\\"), "x/y/");
}

class SiteFileUpdate : public ::testing::Test {
  protected:
    TempDir dir_;
};

TEST_F(SiteFileUpdate, WritesOutputAndCountsLines) {
    WriteText(dir_ / "orvex.conf.in", "rootpath x\ndefault_homedir y\nserver_port 21\n");
    EXPECT_EQ(UpdateSiteConfFile(dir_ / "orvex.conf.in", dir_ / "orvex.conf", "/app", "/app/s"), 3);
    EXPECT_EQ(ReadText(dir_ / "orvex.conf"),
              "rootpath                /app/\ndefault_homedir         ./s/\nserver_port 21\n");
    struct stat st {};
    ASSERT_EQ(stat((dir_ / "orvex.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(SiteFileUpdate, MissingTemplateOrUnwritableOutputGivesZeroAndKeepsOutput) {
    WriteText(dir_ / "out", "untouched\n");
    EXPECT_EQ(UpdateSiteConfFile(dir_ / "missing", dir_ / "out", "/a", "/b"), 0);
    EXPECT_EQ(ReadText(dir_ / "out"), "untouched\n");
    EXPECT_EQ(UpdateSiteConfFile(dir_.path(), dir_ / "out", "/a", "/b"), 0);

    WriteText(dir_ / "t", "rootpath x\n");
    EXPECT_EQ(UpdateSitePasswdFile(dir_ / "t", dir_ / "no/such/dir/passwd", "/a", "/b"), 0);
    EXPECT_EQ(UpdateSiteConfFile(dir_ / "t", dir_.path() + "/", "/a", "/b"), 0);
    // No temporary file is left behind (the lock file of "out" stays on purpose).
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir_.path()))
        entries += e.path().filename() != ".out.lock";
    EXPECT_EQ(entries, 2);
}

TEST_F(SiteFileUpdate, InPlaceRewriteKeepsModeOfExistingFile) {
    WriteText(dir_ / "passwd", "orvex;P;100;100;\n");
    chmod((dir_ / "passwd").c_str(), 0640);
    EXPECT_EQ(UpdateSitePasswdFile(dir_ / "passwd", dir_ / "passwd", "/a", "/a/h"), 1);
    std::string text = ReadText(dir_ / "passwd");
    EXPECT_TRUE(orvex::test::HasDateBetween(text, "orvex;P;100;100;", ";./h/\n")) << text;
    struct stat st {};
    ASSERT_EQ(stat((dir_ / "passwd").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(SiteFileUpdate, NewPasswdReadableByOwnerOnly) {
    WriteText(dir_ / "t", "orvex;P;100;100;\n");
    EXPECT_EQ(UpdateSitePasswdFile(dir_ / "t", dir_ / "passwd", "/a", "/a/h"), 1);
    struct stat st {};
    ASSERT_EQ(stat((dir_ / "passwd").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
