// Every reading rule of the four table formats, by table: what a line becomes, and that what is
// written reads back the same.

#include "server/fs/RecordFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvex {
namespace {

using namespace RecordFormat;

template <typename Parse>
auto ReadAll(const std::string& text, Parse parse) {
    std::vector<typename decltype(parse(Fields{}))::value_type> out;
    ForEachRecord(text, [&](const Fields& f) {
        if (auto r = parse(f)) out.push_back(*r);
    });
    return out;
}

struct DirCase {
    const char* line;
    bool kept;
    const char* path = "";
    int32_t id = 0;
    const char* mode = "";
    uint32_t owner = 0, group = 0;
    int32_t ratio = 0, dupe = 0, mirror = 0;
};

TEST(RecordFormat, DirectoryLines) {
    const DirCase cases[] = {
        {"\\s\\a\\;4;rwxr-x---;101;100;3;1;7", true, "\\s\\a\\", 4, "rwxr-x---", 101, 100, 3, 1, 7},
        {"./site/mp3;1;rwx;5;5;;0", true, "\\site\\mp3\\", 1, "rwx", 5, 5, -1, 0, 0},
        {"C:/site/mp3;2;r;5;5;0;0", true, "C:\\site\\mp3\\", 2, "r", 5, 5, 0, 0, 0},
        {"\\x\\;0;m;0;0;abc;0;0", true, "\\x\\", 0, "m", 100, 100, -1, 0, 0},
        {"\\x\\;-1;m;1;1;-1;0;0", true, "\\x\\", -1, "m", 1, 1, -1, 0, 0},
        {"\\x\\;9;m;1;1;05;0;0", true, "\\x\\", 9, "m", 1, 1, 5, 0, 0},
        {"\\x\\;9;rwxrwxrwxrwxrwxrwx;1;1;2x;0;0", true, "\\x\\", 9, "rwxrwxrwxrwxrwx", 1, 1, 2, 0,
         0},
        {"\\x\\\t9\tm\t1\t1\t1\t0\t3\r", true, "\\x\\", 9, "m", 1, 1, 1, 0, 3},
        {"\\x\\;9;m;1;1;1;0;3;extra", true, "\\x\\", 9, "m", 1, 1, 1, 0, 3},
        {"\\x\\;9;m;1;1;1", false},
        {"\\x\\;9;m;1;1;1#;0;2", false},
        {"# Path;DirID;Permissions;UserID;GroupID;Ratio;DupeDisable;MirrorID", false},
        {"", false},
    };
    for (const DirCase& c : cases) {
        const auto read = ReadAll(c.line, ParseDirectoryLine);
        ASSERT_EQ(read.size(), c.kept ? 1u : 0u) << c.line;
        if (!c.kept) continue;
        const DirectoryRecord& r = read[0];
        EXPECT_EQ(r.path, c.path) << c.line;
        EXPECT_EQ(r.id, c.id) << c.line;
        EXPECT_EQ(r.permissions, c.mode) << c.line;
        EXPECT_EQ(r.owner, c.owner) << c.line;
        EXPECT_EQ(r.group, c.group) << c.line;
        EXPECT_EQ(r.ratio, c.ratio) << c.line;
        EXPECT_EQ(r.dupeDisable, c.dupe) << c.line;
        EXPECT_EQ(r.mirrorId, c.mirror) << c.line;
    }
}

TEST(RecordFormat, FileDupeAndLinkLines) {
    const auto files = ReadAll(
        "a.bin;rw-r--r--;0;7;5368709120;1\n"
        "b.bin;rw-;3;0;12abc;0\n"
        "c.bin;rw-;3;0;99999999999999999999999;0\n"
        ";rw-;3;3;1;0\n"
        "short;rw-;3;3;1\n",
        ParseFileLine);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0], (FileRecord{"a.bin", "rw-r--r--", 100, 7, 5368709120ull, 1}));
    EXPECT_EQ(files[1], (FileRecord{"b.bin", "rw-", 3, 100, 12, 0}));
    EXPECT_EQ(files[2].size, UINT64_MAX);

    const auto dupes = ReadAll("x.rar;0;1000\ny.rar;5\nz.rar;9;77;more\n", ParseDupeLine);
    ASSERT_EQ(dupes.size(), 2u);
    EXPECT_EQ(dupes[0], (DupeRecord{"x.rar", 100, 1000}));
    EXPECT_EQ(dupes[1], (DupeRecord{"z.rar", 9, 77}));

    const std::string longDir(300, 'd');
    const auto links = ReadAll("./site/mp3;/data/music\nonly\n" + longDir + ";/x", ParseLinkLine);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0], (DirectoryLink{"\\site\\mp3\\", "\\data\\music\\"}));
    // Cut to 262 before the separators are added; what was written that long reads back whole.
    EXPECT_EQ(links[1].linkDir, "\\" + std::string(262, 'd') + "\\");
    EXPECT_EQ(ReadAll(FormatLinkLine(links[1]), ParseLinkLine)[0], links[1]);
}

TEST(RecordFormat, LinesLongerThanTheBufferReadAsSeveral) {
    // 1023 characters fill the buffer; the rest of the line is a line of its own.
    const std::string line = std::string(1000, 'n') + ";rw-;1;1;1;0;" + std::string(30, 'x');
    const std::string text = line + "\nnext;rw-;1;1;2;0\n";
    const auto files = ReadAll(text, ParseFileLine);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, std::string(1000, 'n'));
    EXPECT_EQ(files[1].name, "next");
}

TEST(RecordFormat, WrittenLinesReadBack) {
    const DirectoryRecord dir{"\\s\\a b\\", 12, "rwxr-xr-x", 4000000000u, 7, -1, 1, 3};
    const FileRecord file{"five.iso", "rw-r-----", 101, 100, 5368709120ull, 1};
    const DupeRecord dupe{"five.iso", 101, 4000000000u};
    const DirectoryLink link{"\\s\\music\\", "\\data\\music\\"};
    EXPECT_EQ(FormatDirectoryLine(dir), "\\s\\a b\\;12;rwxr-xr-x;4000000000;7;-1;1;3\n");
    EXPECT_EQ(ReadAll(FormatDirectoryLine(dir), ParseDirectoryLine)[0], dir);
    EXPECT_EQ(FormatFileLine(file), "five.iso;rw-r-----;101;100;5368709120;1\n");
    EXPECT_EQ(ReadAll(FormatFileLine(file), ParseFileLine)[0], file);
    // What an upload earned at is a seventh field, there only when known.
    FileRecord earned = file;
    earned.earnedRatio = 0;
    EXPECT_EQ(FormatFileLine(earned), "five.iso;rw-r-----;101;100;5368709120;1;0\n");
    EXPECT_EQ(ReadAll(FormatFileLine(earned), ParseFileLine)[0], earned);
    EXPECT_EQ(ReadAll(FormatDupeLine(dupe), ParseDupeLine)[0], dupe);
    EXPECT_EQ(ReadAll(FormatLinkLine(link), ParseLinkLine)[0], link);
    EXPECT_NE(FileListHeader(12).find("# with ID = 12.\n"), std::string::npos);

    // Texts a line cannot hold are never written.
    for (const char* bad : {"a;b", "a#b", "a*b", "a?b", "a\tb", "a\rb", "a\x7f"}) {
        EXPECT_FALSE(IsStorableText(bad)) << bad;
        EXPECT_EQ(FormatFileLine(FileRecord{bad, "rw-", 1, 1, 1, 0}), "") << bad;
        EXPECT_EQ(FormatDirectoryLine(DirectoryRecord{std::string("\\") + bad + "\\", 1, "rwx"}),
                  "")
            << bad;
        EXPECT_EQ(FormatDupeLine(DupeRecord{bad, 1, 1}), "") << bad;
    }
    EXPECT_TRUE(IsStorableText("Über file [1] (x) & y.r00"));
}

TEST(RecordFormat, StoredPathsAndKeys) {
    const struct {
        const char* in;
        bool strip;
        const char* out;
    } cases[] = {
        {"./site/mp3", false, "\\site\\mp3\\"},
        {"C:/site/mp3", false, "C:\\site\\mp3\\"},
        {"site", false, "\\site\\"},
        {"/site/", false, "\\site\\"},
        {"./site/mp3", true, "site\\mp3\\"},
        {"/", true, ""},
        {"", false, "\\"},
        {"..\\x", false, "\\.\\x\\"},
    };
    for (const auto& c : cases) EXPECT_EQ(NormaliseStoredPath(c.in, c.strip), c.out) << c.in;
    // Keys keep their case: two users' "Foo" and "foo" are two entries.
    EXPECT_FALSE(SameKey("\\s\\Foo\\", "\\s\\foo\\"));
    EXPECT_TRUE(KeyUnder("\\s\\a\\x\\", "\\s\\a\\"));
    EXPECT_FALSE(KeyUnder("\\s\\A\\x\\", "\\s\\a\\"));
    EXPECT_FALSE(KeyUnder("\\s\\", "\\s\\a\\"));
}

}  // namespace
}  // namespace orvex
