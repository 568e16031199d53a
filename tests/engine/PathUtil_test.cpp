#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/FileUtil.h"

namespace fu = orvex::FileUtil;

namespace {

const std::string kRoot = "\\srv\\ftp\\";

TEST(Resolve, ClimbingIsClampedAtTheRoot) {
    EXPECT_EQ(fu::Resolve(kRoot, "pub\\", "../../etc"), kRoot + "etc");
    EXPECT_EQ(fu::Resolve(kRoot, "", "..\\..\\x"), kRoot + "x");
    EXPECT_EQ(fu::Resolve(kRoot, "a\\b\\", "../../../.."), kRoot);
    EXPECT_EQ(fu::Resolve(kRoot, "a\\", "b/../c"), kRoot + "a\\c");
    EXPECT_EQ(fu::Resolve(kRoot, "a\\", "/.."), kRoot);
    // A current directory that itself climbs is clamped as well.
    EXPECT_EQ(fu::Resolve(kRoot, "..\\..\\", "x"), kRoot + "x");
}

TEST(Resolve, RootEmptyAndCurrentDirectory) {
    EXPECT_EQ(fu::Resolve(kRoot, "pub\\", "/"), kRoot);
    EXPECT_EQ(fu::Resolve(kRoot, "pub\\", "\\"), kRoot);
    EXPECT_EQ(fu::Resolve(kRoot, "pub\\", ""), kRoot + "pub\\");
    EXPECT_EQ(fu::Resolve(kRoot, "", ""), kRoot);
    EXPECT_EQ(fu::Resolve(kRoot, "pub\\", "file.txt"), kRoot + "pub\\file.txt");
    EXPECT_EQ(fu::Resolve(kRoot, "pub\\", "/file.txt"), kRoot + "file.txt");
    EXPECT_EQ(fu::Resolve(kRoot, "pub", "f"), kRoot + "pub\\f") << "cwd without its separator";
}

TEST(Resolve, RunsOfSeparatorsCollapse) {
    EXPECT_EQ(fu::Resolve(kRoot, "", "//"), kRoot);
    EXPECT_EQ(fu::Resolve(kRoot, "", "\\\\\\"), kRoot);
    EXPECT_EQ(fu::Resolve(kRoot, "", "a//b"), kRoot + "a\\b");
    EXPECT_EQ(fu::Resolve(kRoot, "", "a\\/\\b/"), kRoot + "a\\b\\");
    EXPECT_EQ(fu::Resolve(kRoot, "pub\\", "//x"), kRoot + "x");
}

TEST(Resolve, DotsAndDirectoryForm) {
    EXPECT_EQ(fu::Resolve(kRoot, "pub\\", "."), kRoot + "pub\\");
    EXPECT_EQ(fu::Resolve(kRoot, "pub\\", "./x/."), kRoot + "pub\\x\\");
    EXPECT_EQ(fu::Resolve(kRoot, "pub\\", "x\\.."), kRoot + "pub\\");
    // Names that merely contain dots are ordinary names.
    EXPECT_EQ(fu::Resolve(kRoot, "", "...\\a..b\\.x"), kRoot + "...\\a..b\\.x");
    EXPECT_EQ(fu::Resolve(kRoot, "", "ab..\\c"), kRoot + "ab..\\c");
}

TEST(Resolve, EmbeddedNulEndsTheRequest) {
    // Otherwise "..\0x" would pass as a name and reach the OS as "..".
    EXPECT_EQ(fu::Resolve(kRoot, "", std::string_view("..\0x", 4)), kRoot);
    EXPECT_EQ(fu::Resolve(kRoot, "a\\", std::string_view("b\0/../..", 9)), kRoot + "a\\b");
}

// A tree with links of every kind under a root, and whether each path stays under it.
TEST(Resolve, SymbolicLinksMayNotLeadOutOfTheRoot) {
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/orvex-links-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path base = tmpl;
    const fs::path top = base / "root";
    fs::create_directories(top / "sub" / "deep");
    fs::create_directories(base / "outside");
    std::ofstream(top / "sub" / "f.txt") << "in";
    std::ofstream(base / "outside" / "secret") << "out";
    const std::vector<std::pair<std::string, std::string>> links = {
        {"rootlink", "/"},
        {"sub/up", ".."},
        {"sub/upup", "../.."},
        {"sub/deep/back", "../../sub"},
        {"abs_in", (top / "sub").string()},
        {"abs_out", (base / "outside").string()},
        {"file_out", (base / "outside" / "secret").string()},
        {"rel_out", "../outside/secret"},
        {"chain1", "chain2"},
        {"chain2", "rootlink"},
        {"loop1", "loop2"},
        {"loop2", "loop1"},
        {"dangling", "sub/missing"},
        {"abs_sneak", (top / ".." / "outside").string()},
    };
    for (const auto& [name, target] : links) fs::create_symlink(target, top / name);
    std::string root = top.string();
    fu::ToBackslashes(root);
    root += '\\';
    const std::vector<std::pair<std::string, bool>> cases = {
        {"", true},
        {"sub\\f.txt", true},
        {"missing\\x\\y", true},
        {"sub\\up\\sub\\f.txt", true},
        {"sub\\deep\\back\\f.txt", true},
        {"abs_in\\f.txt", true},
        {"dangling", true},
        {"rootlink", false},
        {"rootlink\\etc\\hostname", false},
        {"sub\\upup", false},
        {"sub\\upup\\root\\sub", false},
        {"abs_out\\secret", false},
        {"file_out", false},
        {"rel_out", false},
        {"chain1\\etc", false},
        {"loop1", false},
        {"abs_sneak", false},
    };
    for (const auto& [rel, stays] : cases) {
        EXPECT_EQ(fu::StaysUnder(root, root + rel), stays) << rel;
        EXPECT_EQ(fu::Resolve(root, "", rel).empty(), !stays) << rel;
    }
    EXPECT_FALSE(fu::StaysUnder(root, "\\elsewhere\\x")) << "not below the root at all";
    EXPECT_TRUE(fu::StaysUnder("", "\\anything")) << "an empty root bounds nothing";
    EXPECT_EQ(fu::Resolve(root, "sub\\", "up\\rootlink"), "");
    EXPECT_EQ(fu::ResolveText(root, "", "rootlink"), root + "rootlink");
    fs::remove_all(base);
}

TEST(NormaliseDots, InPlace) {
    std::string s = "a\\b\\..\\c";
    fu::NormaliseDots(s);
    EXPECT_EQ(s, "a\\c");
    s = "..\\..\\x";
    fu::NormaliseDots(s);
    EXPECT_EQ(s, "x");
    s = ".\\";
    fu::NormaliseDots(s);
    EXPECT_EQ(s, "");
    s = "";
    fu::NormaliseDots(s);
    EXPECT_EQ(s, "");
    s = "a/../../b";  // a stray slash never lets ".." through
    fu::NormaliseDots(s);
    EXPECT_EQ(s, "b");
}

TEST(PathHelpers, OsPathBoundary) {
    EXPECT_EQ(fu::OsPath("\\"), "/");
    EXPECT_EQ(fu::OsPath("C:\\srv\\ftp\\"), "/srv/ftp/");
    EXPECT_EQ(fu::OsPath("c:"), "/");
    EXPECT_EQ(fu::OsPath("rel\\x"), "rel/x");
    EXPECT_EQ(fu::OsPath(""), "");
    EXPECT_EQ(fu::OsPath("\\a:b"), "/a:b") << "a colon later on is part of a name";
}

TEST(PathHelpers, SeparatorsAndPieces) {
    std::string s;
    EXPECT_TRUE(fu::AddTrailingSep(s));
    EXPECT_EQ(s, "\\");
    s = "a/";
    fu::AddTrailingSep(s);
    EXPECT_EQ(s, "a/");
    fu::StripTrailingSep(s);
    EXPECT_EQ(s, "a");
    s = "\\\\a";
    fu::StripLeadingSep(s);
    EXPECT_EQ(s, "\\a");

    std::string b;
    EXPECT_TRUE(fu::BaseName("\\a\\b.txt", b));
    EXPECT_EQ(b, "b.txt");
    EXPECT_FALSE(fu::BaseName("\\a\\", b));
    EXPECT_FALSE(fu::BaseName("\\a\\\\b", b));
    EXPECT_FALSE(fu::BaseName("a//b", b));
    EXPECT_FALSE(fu::BaseName("\\a\\b/c", b));
    EXPECT_EQ(fu::DirName("\\a\\b.txt"), "\\a\\");
    EXPECT_EQ(fu::DirName("b.txt"), "");
    EXPECT_EQ(fu::AfterLastSep("\\a\\b"), "b");
    EXPECT_EQ(fu::AfterLastSep("b").data(), nullptr);

    std::string_view rest;
    EXPECT_TRUE(fu::SkipPrefixNoCase("SITE who", "site ", rest));
    EXPECT_EQ(rest, "who");
    EXPECT_FALSE(fu::SkipPrefixNoCase("SIT", "site", rest));
}

TEST(PathHelpers, ForbiddenNamesAndModeString) {
    for (const char* bad :
         {"a\\b", "a/b", "a*", "a?", "a\"", "<a", "a>", "a|b", "c:", "a\tb", "\x01", "x\x7f"})
        EXPECT_TRUE(fu::IsForbiddenName(bad)) << bad;
    EXPECT_TRUE(fu::IsForbiddenName(std::string_view("a\0b", 3)));
    for (const char* good : {"a.txt", "my file", "caf\xc3\xa9", "..x", "-"})
        EXPECT_FALSE(fu::IsForbiddenName(good)) << good;

    EXPECT_EQ(fu::ModeString(0750), "rwxr-x---");
    EXPECT_EQ(fu::ModeString(0x4000 | 0644), "rw-r--r--");
    EXPECT_EQ(fu::ModeString(0), "---------");
}

}  // namespace
