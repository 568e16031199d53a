#include "standalone/UserFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "engine/FileUtil.h"
#include "server/accounts/PasswordCipher.h"

namespace orvex {
namespace {

class UserFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vantor-users-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        home_ = dir_ + "/home";
        ASSERT_EQ(mkdir(home_.c_str(), 0755), 0);
        internalHome_ = "\\" + home_.substr(1) + "\\";
        for (char& c : internalHome_)
            if (c == '/') c = '\\';
    }
    void TearDown() override { FileUtil::DeleteTree(dir_, false); }

    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    std::string dir_, home_, internalHome_;
};

TEST_F(UserFileTest, FieldsSeparatorsAndComments) {
    UserRecord u;
    ASSERT_EQ(ParseUserLine("alice;ABCD;" + home_ + ";lv# the comment;x;y\n", u), UserLine::Loaded);
    EXPECT_EQ(u.account.user, "alice");
    EXPECT_EQ(u.account.password, "ABCD");
    EXPECT_EQ(u.account.home, internalHome_);
    EXPECT_EQ(u.permissions, "lv");
    EXPECT_TRUE(u.account.gid.empty() && u.account.uid.empty() && u.account.added.empty());

    // Runs of ';' and tabs are one separator; spaces before a comment are dropped; CR ends.
    ASSERT_EQ(ParseUserLine(";;bob;;;\tPW\t" + home_ + "/;;;lr   #x\r\nignored", u),
              UserLine::Loaded);
    EXPECT_EQ(u.account.user, "bob");
    EXPECT_EQ(u.account.home, internalHome_);
    EXPECT_EQ(u.permissions, "lr");

    // Extra fields are ignored.
    ASSERT_EQ(ParseUserLine("c;p;" + home_ + ";l;extra;more", u), UserLine::Loaded);
    EXPECT_EQ(u.permissions, "l");

    // A home written with a drive letter and slashes names the same directory.
    ASSERT_EQ(ParseUserLine("d;p;C:" + home_ + ";lv #c", u), UserLine::Loaded);
    EXPECT_EQ(u.account.home, "C:" + internalHome_);
}

TEST_F(UserFileTest, LinesThatAreSkipped) {
    UserRecord u;
    for (const std::string line : {"", "\n", "# all comment", "a;b;c", "a;b;c#;d", "a;;;b;;;;c;;;",
                                   ";;;;;;", "a;b\rc;d;e", "\t\t\t"}) {
        EXPECT_EQ(ParseUserLine(line, u), UserLine::Skipped) << line;
    }
    ASSERT_EQ(ParseUserLine("ghost;p;" + dir_ + "/missing;l", u), UserLine::BadHome);
    EXPECT_EQ(u.account.user, "ghost");
    EXPECT_EQ(u.account.home, internalHome_.substr(0, internalHome_.size() - 5) + "missing\\");
    // A file is not a home.
    Write("plain", "x");
    EXPECT_EQ(ParseUserLine("f;p;" + dir_ + "/plain;l", u), UserLine::BadHome);
}

TEST_F(UserFileTest, FieldsAreCutToTheirSizes) {
    UserRecord u;
    const std::string name(80, 'n'), password(90, 'P'), permissions(30, 'l');
    ASSERT_EQ(ParseUserLine(name + ";" + password + ";" + home_ + ";" + permissions, u),
              UserLine::Loaded);
    EXPECT_EQ(u.account.user, std::string(63, 'n'));
    EXPECT_EQ(u.account.password, std::string(63, 'P'));
    EXPECT_EQ(u.permissions, std::string(15, 'l'));
}

TEST_F(UserFileTest, LoadingKeepsTheFirstOfEachNameAndWarnsAboutHomes) {
    const std::string path = Write("users.cfg",
                                   "# test users\n"
                                   "alice;A1;" +
                                       home_ +
                                       ";l\n"
                                       "ghost;G1;" +
                                       dir_ +
                                       "/none;l\n"
                                       "short;line\n"
                                       "ALICE;A2;" +
                                       home_ +
                                       ";d\n"
                                       "bob;B1;" +
                                       home_ + ";d\n");
    UserList list("User List Header");
    list.Create(7, std::string("stale"), UserRecord{});
    FILE* warnings = tmpfile();
    ASSERT_NE(warnings, nullptr);
    EXPECT_EQ(LoadUserFile(path, list, warnings), 2);
    rewind(warnings);
    char buf[512] = {0};
    ASSERT_NE(fgets(buf, sizeof buf, warnings), nullptr);
    std::string dirInternal = dir_;
    FileUtil::ToBackslashes(dirInternal);
    EXPECT_EQ(std::string(buf),
              "WARNING: invalid home directory \"" + dirInternal + "\\none\\\" for user ghost.\n");
    EXPECT_EQ(fgets(buf, sizeof buf, warnings), nullptr);
    fclose(warnings);

    ASSERT_EQ(list.Count(), 2u);
    EXPECT_FALSE(list.FindName("stale", false));
    const auto* alice = list.FindName("alice", true);
    ASSERT_TRUE(alice);
    EXPECT_EQ(alice->data.account.password, "A1");
    EXPECT_EQ(alice->id, 1);
    EXPECT_EQ(list.FindName("bob", false)->id, 2);

    EXPECT_FALSE(LoadUserFile(dir_ + "/absent.cfg", list, nullptr));
    EXPECT_EQ(list.Count(), 0u);
}

TEST_F(UserFileTest, LongLinesAreReadInPieces) {
    // The first piece ends inside a comment; the rest of the line is read as its own line.
    const std::string filler(kUserFilePiece - 1, 'x');
    const std::string path =
        Write("long.cfg", "#" + filler + "carl;C;" + home_ + ";l\nafter;A;" + home_ + ";l\n");
    UserList list;
    EXPECT_EQ(LoadUserFile(path, list, nullptr), 2);
    EXPECT_TRUE(list.FindName("carl", false));
    EXPECT_TRUE(list.FindName("after", false));
}

TEST_F(UserFileTest, AppendedLinesLoadBack) {
    const std::string path = dir_ + "/new.cfg";
    UserRecord u;
    u.account.user = "carol";
    u.account.password = StoredPassword("carol", "secret");
    u.account.home = home_;
    u.permissions = "lr";
    EXPECT_EQ(FormatUserLine(u), "carol;" + u.account.password + ";" + home_ + ";lr\n");
    ASSERT_TRUE(AppendUserLine(path, u));
    u.account.user = "dan";
    ASSERT_TRUE(AppendUserLine(path, u));
    EXPECT_FALSE(AppendUserLine(dir_ + "/no/such/dir.cfg", u));

    // A file whose last line lacks its line feed keeps that line whole.
    const std::string edited = Write("edited.cfg", "erin;E;" + home_ + ";lv");
    ASSERT_TRUE(AppendUserLine(edited, u));
    UserList both;
    ASSERT_EQ(LoadUserFile(edited, both, nullptr), 2);
    EXPECT_EQ(both.FindName("erin", false)->data.permissions, "lv");
    EXPECT_TRUE(both.FindName("dan", false));

    UserList list;
    ASSERT_EQ(LoadUserFile(path, list, nullptr), 2);
    const auto* carol = list.FindName("carol", false);
    ASSERT_TRUE(carol);
    EXPECT_TRUE(VerifyPassword(carol->data.account.password, "carol", "secret"));
    EXPECT_EQ(carol->data.account.home, internalHome_);
}

}  // namespace
}  // namespace orvex
