// The alias file: what each line becomes, that what is written reads back the same, and the
// values a line cannot hold.

#include "server/remote/AliasFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvex {
namespace {

struct LineCase {
    const char* text;
    bool kept;
    const char* directory = "";
    char type = 'G';
    const char* remote = "/";
    uint32_t port = 0, maxLogins = 0, encMode = 0, timeout = 0;
};

TEST(AliasFile, ReadingRules) {
    const LineCase cases[] = {
        {"\\s\\a\\;h;21;u;AB;/pub/;G;2;0;\\s\\;3;600", true, "\\s\\a\\", 'G', "/pub/", 21, 2, 3,
         600},
        // Lower-case type, remote path without its slashes, forward slashes and a leading dot.
        {"./s/b;h;21;u;AB;pub;g;0;0;./s;0;0", true, "\\s\\b\\", 'G', "/pub/", 21},
        {"/s/c/\th\t2121\tu\tAB\t\\pub\\x\tD\t1\t1\t/s/\t2\t30", true, "\\s\\c\\", 'D', "/pub/x/",
         2121, 1, 2, 30},
        // Unreadable numbers count as 0; an empty remote path is the root.
        {"\\s\\d\\;h;x;u;;;G;y;0;;z;-", true, "\\s\\d\\", 'G', "/"},
        {"C:/s/e;h;21;u;AB;/;G;0;0;C:/s;0;600", true, "C:\\s\\e\\", 'G', "/", 21, 0, 0, 600},
        // Eleven fields, a comment, and a "#" inside a field that cuts the line short.
        {"\\s\\f\\;h;21;u;AB;/;G;0;0;\\s\\;0", false},
        {"# \\s\\g\\;h;21;u;AB;/;G;0;0;\\s\\;0;600", false},
        {"\\s\\h\\;h;21;u;AB#CD;/;G;0;0;\\s\\;0;600", false},
        {"", false},
    };
    for (const LineCase& c : cases) {
        const std::vector<AliasRecord> got = AliasFile::Parse(c.text);
        ASSERT_EQ(got.size(), c.kept ? 1u : 0u) << c.text;
        if (!c.kept) continue;
        const AliasRecord& r = got[0];
        EXPECT_EQ(r.directory, c.directory) << c.text;
        EXPECT_EQ(r.serverType, c.type) << c.text;
        EXPECT_EQ(r.remotePath, c.remote) << c.text;
        EXPECT_EQ(r.port, c.port) << c.text;
        EXPECT_EQ(r.maxLogins, c.maxLogins) << c.text;
        EXPECT_EQ(r.encMode, c.encMode) << c.text;
        EXPECT_EQ(r.timeout, c.timeout) << c.text;
    }
}

TEST(AliasFile, FirstLineOfADirectoryWinsAndLongFieldsAreCut) {
    const std::string longUser(100, 'u'), longPath(300, 'p');
    const std::string text =
        "\\S\\A\\;first;1;u;AB;/;G;0;0;\\s\\;0;600\n"
        "\\s\\a\\;second;2;u;AB;/;G;0;0;\\s\\;0;600\r\n"
        "\\s\\long\\" +
        longPath + ";h;3;" + longUser + ";AB;/" + longPath + ";G;0;0;\\s\\;0;600\n";
    const std::vector<AliasRecord> got = AliasFile::Parse(text);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].address, "first");
    EXPECT_EQ(got[1].user.size(), kAliasTextMax);
    EXPECT_LE(got[1].directory.size(), kAliasPathMax);
    EXPECT_LE(got[1].remotePath.size(), kAliasPathMax);
}

TEST(AliasFile, WrittenRecordsReadBackTheSame) {
    AliasRecord a;
    a.directory = "\\site\\remote\\";
    a.address = "ftp.example.org";
    a.port = 2121;
    a.user = "anonymous";
    a.password = AliasFile::EncryptPassword("anonymous", "secret");
    a.remotePath = "/pub/in coming/";
    a.localPath = "\\site\\";
    AliasRecord d = a;
    d.directory = "\\site\\other\\";
    d.serverType = 'D';
    d.shareUsers = 1;
    d.maxLogins = 3;
    d.encMode = 2;
    d.timeout = 0;
    const std::string text = AliasFile::Format({a, d});
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "# Alias;Address;Port;Username;EncryptedPassword;RemotePath;ServerType;MaxLogins;"
              "ShareUsers;LocalPath;EncryptionMode;Timeout");
    EXPECT_EQ(AliasFile::FormatLine(d), "\\site\\other\\;ftp.example.org;2121;anonymous;" +
                                            a.password + ";/pub/in coming/;D;3;1;\\site\\;2;0\n");
    EXPECT_EQ(AliasFile::Parse(text), (std::vector<AliasRecord>{a, d}));

    // Paths of the full width read back whole, not cut to the width of a field as typed.
    AliasRecord wide = a;
    wide.directory = "\\" + std::string(kAliasPathMax - 2, 'w') + "\\";
    wide.remotePath = "/" + std::string(kAliasPathMax - 2, 'r') + "/";
    wide.localPath = "\\" + std::string(kAliasPathMax - 2, 'l') + "\\";
    EXPECT_EQ(AliasFile::Parse(AliasFile::Format({wide})), (std::vector<AliasRecord>{wide}));
}

TEST(AliasFile, ValuesALineCannotHold) {
    for (const char* bad : {"a;b", "a#b", "a\tb", "a\rb", "a\nb"})
        EXPECT_FALSE(AliasFile::IsStorable(std::string_view(bad))) << bad;
    EXPECT_TRUE(AliasFile::IsStorable(std::string_view("pass word!")));
    AliasRecord r;
    r.directory = "\\s\\";
    EXPECT_TRUE(AliasFile::IsStorable(r));
    r.remotePath = "/p#/";
    EXPECT_FALSE(AliasFile::IsStorable(r));
    r.remotePath = "/";
    r.password = std::string(kAliasTextMax + 1, 'A');
    EXPECT_FALSE(AliasFile::IsStorable(r));
    r.password.clear();
    r.serverType = 'X';
    EXPECT_FALSE(AliasFile::IsStorable(r));
}

}  // namespace
}  // namespace orvex
