#include "engine/FileUtil.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace fu = orvex::FileUtil;

namespace {

// A scratch tree in internal form: backslashes, trailing separator.
class FileUtilTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/orvex_fu_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        os_ = tmpl;
        root_ = os_ + "/";
        fu::ToBackslashes(root_);
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + os_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    std::string P(const std::string& rel) const { return root_ + rel; }
    std::string Os(const std::string& rel) const { return fu::OsPath(P(rel)); }
    void Write(const std::string& rel, const std::string& text) const {
        std::ofstream(Os(rel), std::ios::binary) << text;
    }
    std::string Read(const std::string& rel) const {
        std::ifstream f(Os(rel), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    bool Exists(const std::string& rel) const {
        struct stat st {};
        return lstat(Os(rel).c_str(), &st) == 0;
    }
    std::vector<std::string> Scan(const std::string& what) const {
        std::vector<std::string> names;
        fu::DirectoryScan scan(what);
        std::string n;
        while (scan.Next(n)) names.push_back(n);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string os_, root_;
};

TEST_F(FileUtilTest, StatKindAndSymlinks) {
    Write("f.txt", "hello");
    ASSERT_TRUE(fu::CreateDir(P("d")));
    ASSERT_EQ(symlink(Os("d").c_str(), Os("ld").c_str()), 0);

    orvex::FileInfo info;
    ASSERT_TRUE(fu::Stat(P("f.txt"), info));
    EXPECT_EQ(info.size, 5u);
    EXPECT_EQ(info.mode & orvex::kModeDirectory, 0u);
    ASSERT_TRUE(fu::Stat(P("d\\"), info)) << "a trailing separator is ignored";
    EXPECT_NE(info.mode & orvex::kModeDirectory, 0u);

    // A link to a directory is not a directory, even written with a trailing separator.
    ASSERT_TRUE(fu::Stat(P("ld\\"), info));
    EXPECT_EQ(info.mode & orvex::kModeDirectory, 0u);
    EXPECT_EQ(fu::Kind(P("ld")), 2);
    EXPECT_EQ(fu::Kind(P("ld\\")), 2);
    EXPECT_TRUE(fu::IsSymlink(P("ld")));
    EXPECT_FALSE(fu::IsDirectory(P("ld")));
    EXPECT_EQ(fu::Kind(P("d")), 1);
    EXPECT_EQ(fu::Kind(P("missing")), 0);
    EXPECT_FALSE(fu::Stat(P("missing"), info));
    EXPECT_EQ(fu::Kind("\\"), 1);
}

TEST_F(FileUtilTest, LargeFileSizeIsSixtyFourBit) {
    int fd = fu::OpenFd(P("big"), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const off_t fiveGiB = 5LL << 30;
    ASSERT_EQ(ftruncate(fd, fiveGiB), 0);  // sparse: takes no space
    close(fd);
    orvex::FileInfo info;
    ASSERT_TRUE(fu::Stat(P("big"), info));
    EXPECT_EQ(info.size, static_cast<uint64_t>(fiveGiB));
}

TEST_F(FileUtilTest, RemoveRenameAndMakeDir) {
    std::string d = P("sub/");
    ASSERT_TRUE(fu::MakeDir(d));
    EXPECT_EQ(d, P("sub\\"));
    EXPECT_TRUE(fu::MakeDir(d)) << "an existing directory is fine";
    EXPECT_FALSE(fu::RemoveFile(P("sub"))) << "never removes a directory";
    EXPECT_FALSE(fu::RemoveFile(P("sub\\")));
    EXPECT_TRUE(fu::IsDirectory(P("sub")));

    Write("a", "A");
    Write("b", "B");
    EXPECT_FALSE(fu::Rename(P("a"), P("b"))) << "an existing target is never replaced";
    EXPECT_EQ(Read("b"), "B");
    EXPECT_EQ(Read("a"), "A");
    EXPECT_TRUE(fu::Rename(P("a"), P("c")));
    EXPECT_EQ(Read("c"), "A");
    EXPECT_FALSE(Exists("a"));
    EXPECT_FALSE(fu::Rename(P("sub\\"), P("c"))) << "nor by a directory";
    EXPECT_TRUE(fu::Rename(P("sub\\"), P("sub2\\")));
    EXPECT_TRUE(fu::IsDirectory(P("sub2")));
    EXPECT_TRUE(fu::RemoveDir(P("sub2\\")));
    EXPECT_TRUE(fu::RemoveFile(P("c")));
    EXPECT_FALSE(fu::RemoveFile(P("c")));
    std::string f = P("b");
    EXPECT_FALSE(fu::MakeDir(f)) << "a file where the directory should be";
    EXPECT_EQ(f, P("b"));
}

TEST_F(FileUtilTest, DirectoryScanAndPatterns) {
    Write("a.txt", "");
    Write("b.txt", "");
    Write("c.nfo", "");
    fu::CreateDir(P("d"));
    using V = std::vector<std::string>;
    EXPECT_EQ(Scan(root_), (V{".", "..", "a.txt", "b.txt", "c.nfo", "d"}));
    EXPECT_EQ(Scan(os_), (V{".", "..", "a.txt", "b.txt", "c.nfo", "d"})) << "slashes work too";
    EXPECT_EQ(Scan(P("*.txt")), (V{"a.txt", "b.txt"}));
    EXPECT_EQ(Scan(P("*")).size(), 6u);
    EXPECT_EQ(Scan(P("d\\")), (V{".", ".."}));
    EXPECT_TRUE(Scan(P("*.zip")).empty());
    ASSERT_EQ(symlink(Os("d").c_str(), Os("ld").c_str()), 0);
    EXPECT_TRUE(Scan(P("ld\\")).empty()) << "a link to a directory is not enumerated";
    EXPECT_TRUE(Scan(P("ld\\*")).empty());
    fu::DirectoryScan missing(P("nope"));
    EXPECT_FALSE(missing.Ok());
    std::string n;
    EXPECT_FALSE(missing.Next(n));

    EXPECT_TRUE(fu::DirNotEmpty(root_));
    EXPECT_FALSE(fu::DirNotEmpty(P("d")));
    EXPECT_FALSE(fu::DirNotEmpty(P("a.txt")));
}

TEST_F(FileUtilTest, DeleteTreeStaysInsideTheTree) {
    // Outside the tree, reachable through links inside it.
    fu::CreateDir(P("outside"));
    Write("outside\\keep.txt", "keep");
    fu::CreateDir(P("tree"));
    fu::CreateDir(P("tree\\sub"));
    Write("tree\\a", "1");
    Write("tree\\sub\\b", "2");
    ASSERT_EQ(symlink(Os("outside").c_str(), Os("tree\\sub\\out").c_str()), 0);
    ASSERT_EQ(symlink(Os("outside\\keep.txt").c_str(), Os("tree\\lf").c_str()), 0);

    EXPECT_FALSE(fu::DirNotEmpty(P("tree\\sub\\out"))) << "does not look through the link";
    // a, sub\b, sub\out, lf, sub, tree
    EXPECT_EQ(fu::DeleteTree(P("tree"), false), 6);
    EXPECT_FALSE(Exists("tree"));
    EXPECT_EQ(Read("outside\\keep.txt"), "keep");

    // A link given as the tree itself is removed as an entry, not followed.
    ASSERT_EQ(symlink(Os("outside").c_str(), Os("lo").c_str()), 0);
    EXPECT_EQ(fu::DeleteTree(P("lo\\"), false), 1);
    EXPECT_EQ(Read("outside\\keep.txt"), "keep");
    EXPECT_EQ(fu::DeleteTree(P("missing"), false), 0);
}

TEST_F(FileUtilTest, WideTreesGoSideBySideWithTheSameCount) {
    // Narrow top levels are opened before the subtrees are shared out: 2 x 40 directories, each
    // with a file, a link out of the tree and a subdirectory holding one more file.
    fu::CreateDir(P("outside"));
    Write("outside\\keep.txt", "keep");
    const size_t descriptors = Scan("/proc/self/fd").size();
    ASSERT_GT(descriptors, 2u);
    for (bool keep : {true, false}) {
        fu::CreateDir(P("w"));
        Write("w\\top", "");
        for (int g = 0; g < 2; ++g) {
            const std::string group = "w\\g" + std::to_string(g);
            fu::CreateDir(P(group));
            ASSERT_EQ(symlink(Os("outside").c_str(), Os(group + "\\out").c_str()), 0);
            for (int d = 0; d < 40; ++d) {
                const std::string dir = group + "\\d" + std::to_string(d);
                fu::CreateDir(P(dir));
                fu::CreateDir(P(dir + "\\s"));
                Write(dir + "\\f", "");
                Write(dir + "\\s\\f", "");
                ASSERT_EQ(symlink(Os("outside").c_str(), Os(dir + "\\s\\out").c_str()), 0);
            }
        }
        // Files and links: 1 + 2 x (1 + 40 x 3); directories: 2 x (1 + 40 x 2) + the top.
        EXPECT_EQ(fu::DeleteEntry(P("w"), keep), keep ? 243 : 243 + 163) << keep;
        EXPECT_EQ(Exists("w\\g1\\d39\\s"), keep);
        EXPECT_FALSE(Exists("w\\g1\\d39\\s\\f"));
        EXPECT_EQ(Read("outside\\keep.txt"), "keep");
        EXPECT_EQ(keep ? fu::DeleteEntry(P("w"), false) : 0, keep ? 163 : 0);
        EXPECT_FALSE(Exists("w"));
    }
    EXPECT_EQ(Scan("/proc/self/fd").size(), descriptors) << "every handle closed";
}

TEST_F(FileUtilTest, DeleteTreeKeepDirectoriesAndPattern) {
    fu::CreateDir(P("t"));
    fu::CreateDir(P("t\\s"));
    Write("t\\x.txt", "");
    Write("t\\y.nfo", "");
    Write("t\\s\\z.txt", "");
    EXPECT_EQ(fu::DeleteTree(P("t\\*.txt"), false), 1) << "patterns remove files only";
    EXPECT_TRUE(Exists("t\\y.nfo"));
    EXPECT_EQ(fu::DeleteTree(P("t\\*"), false), 1) << "the subdirectory stays";
    EXPECT_TRUE(Exists("t\\s\\z.txt"));
    EXPECT_EQ(fu::DeleteTree(P("t"), true), 1);
    EXPECT_TRUE(fu::IsDirectory(P("t\\s")));
    EXPECT_FALSE(Exists("t\\s\\z.txt"));
    Write("single", "");
    EXPECT_EQ(fu::DeleteTree(P("single"), false), 1);
}

TEST_F(FileUtilTest, PatternsOnlyInTheLastComponent) {
    // A directory whose name holds "*": what lies in it is addressed literally.
    fu::CreateDir(P("a*"));
    fu::CreateDir(P("a*\\sub"));
    Write("a*\\sub\\f", "1");
    Write("a*\\sub\\g", "2");
    Write("a*\\x.txt", "3");
    Write("ab", "4");
    EXPECT_EQ(fu::CopyTree(P("a*\\sub"), P("copy")), 2);
    EXPECT_EQ(Read("copy\\g"), "2");
    EXPECT_EQ(fu::DeleteTree(P("a*\\sub"), false), 3) << "the directory itself, not a pattern";
    EXPECT_FALSE(Exists("a*\\sub"));
    EXPECT_EQ(fu::DeleteTree(P("a*\\*.txt"), false), 1);
    EXPECT_TRUE(Exists("ab"));
    // DeleteEntry never reads a pattern, not even in the last component.
    Write("lit*", "5");
    Write("litx", "6");
    EXPECT_EQ(fu::DeleteEntry(P("lit*"), false), 1);
    EXPECT_TRUE(Exists("litx"));
    EXPECT_EQ(fu::DeleteEntry(P("a*\\"), false), 1);
    EXPECT_FALSE(Exists("a*"));
}

TEST_F(FileUtilTest, WalksNeverPassALink) {
    fu::CreateDir(P("outside"));
    Write("outside\\secret", "s");
    fu::CreateDir(P("t"));
    fu::CreateDir(P("t\\b"));
    fu::CreateDir(P("t\\b\\c"));
    Write("t\\z", "12345");
    Write("t\\b\\y", "1");
    ASSERT_EQ(symlink(Os("outside").c_str(), Os("t\\out").c_str()), 0);
    ASSERT_EQ(symlink("..", Os("t\\b\\up").c_str()), 0);

    std::vector<fu::DirEntry> entries;
    ASSERT_TRUE(fu::ListDirectory(P("t"), entries));
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"b", "out", "z"})) << "sorted";
    EXPECT_EQ(entries[0].type, fu::EntryType::Directory);
    EXPECT_EQ(entries[1].type, fu::EntryType::Link);
    EXPECT_EQ(entries[2].size, 5u);
    EXPECT_FALSE(fu::ListDirectory(P("t\\out"), entries)) << "a link is never opened";
    EXPECT_FALSE(fu::ListDirectory(P("missing"), entries));

    std::vector<std::string> seen;
    auto record = [&seen](const std::string& dir, int depth, std::vector<fu::DirEntry>& es) {
        for (const auto& e : es) seen.push_back(std::to_string(depth) + " " + dir + e.name);
        return true;
    };
    ASSERT_TRUE(fu::WalkTree(P("t"), record, 100));
    EXPECT_EQ(seen, (std::vector<std::string>{"0 " + P("t\\b"), "0 " + P("t\\out"),
                                              "0 " + P("t\\z"), "1 " + P("t\\b\\c"),
                                              "1 " + P("t\\b\\up"), "1 " + P("t\\b\\y")}));
    seen.clear();
    ASSERT_TRUE(fu::WalkTree(P("t\\"), record, 0));
    EXPECT_EQ(seen.size(), 3u) << "depth 0: the directory's own entries";
    // A visitor leaves directories out, or ends the whole walk.
    seen.clear();
    ASSERT_TRUE(fu::WalkTree(
        P("t"),
        [&](const std::string& dir, int depth, std::vector<fu::DirEntry>& es) {
            for (auto& e : es) e.walk = false;
            return record(dir, depth, es);
        },
        100));
    EXPECT_EQ(seen.size(), 3u);
    int visits = 0;
    ASSERT_TRUE(fu::WalkTree(
        P("t"), [&](const std::string&, int, std::vector<fu::DirEntry>&) { return ++visits < 1; },
        100));
    EXPECT_EQ(visits, 1);
    EXPECT_FALSE(fu::WalkTree(P("t\\out"), record, 100));
}

TEST_F(FileUtilTest, CopyFileAndTree) {
    std::string data(70000, 'z');  // more than one chunk
    Write("src.bin", data);
    EXPECT_TRUE(fu::CopyFile(P("src.bin"), P("dst.bin")));
    EXPECT_EQ(Read("dst.bin"), data);
    EXPECT_FALSE(fu::CopyFile(P("src.bin"), P("src.bin"))) << "copy onto itself";
    EXPECT_EQ(Read("src.bin"), data);
    EXPECT_FALSE(fu::CopyFile(P("missing"), P("x")));
    fu::CreateDir(P("dir"));
    EXPECT_FALSE(fu::CopyFile(P("dir"), P("x")));

    fu::CreateDir(P("outside"));
    Write("outside\\secret", "s");
    fu::CreateDir(P("dir\\sub"));
    Write("dir\\one", "1");
    Write("dir\\sub\\two", "2");
    ASSERT_EQ(symlink(Os("outside\\secret").c_str(), Os("dir\\ls").c_str()), 0);
    ASSERT_EQ(symlink(Os("outside").c_str(), Os("dir\\lo").c_str()), 0);
    EXPECT_EQ(fu::CopyTree(P("dir"), P("copy")), 2);
    EXPECT_EQ(Read("copy\\sub\\two"), "2");
    EXPECT_FALSE(Exists("copy\\ls")) << "links are not copied";
    EXPECT_FALSE(Exists("copy\\lo"));

    EXPECT_EQ(fu::CopyTree(P("dir\\o*"), P("pat")), 1);
    EXPECT_EQ(Read("pat\\one"), "1");
    EXPECT_EQ(fu::CopyTree(P("src.bin"), P("pat")), 1) << "into an existing directory";
    EXPECT_EQ(Read("pat\\src.bin"), data);
    // Copying a tree into itself ends.
    EXPECT_EQ(fu::CopyTree(P("dir"), P("dir\\inner")), 2);
}

TEST_F(FileUtilTest, TimesCurrentDirAndOpen) {
    Write("t", "x");
    ASSERT_TRUE(fu::SetTimes(P("t"), 1000000000));
    orvex::FileInfo info;
    ASSERT_TRUE(fu::Stat(P("t"), info));
    EXPECT_EQ(info.modifyTime, 1000000000);
    EXPECT_EQ(info.accessTime, 1000000000);
    ASSERT_TRUE(fu::SetTimes(P("t"), 1000000000, 5000000000LL));
    ASSERT_TRUE(fu::Stat(P("t"), info));
    EXPECT_EQ(info.accessTime, 5000000000LL) << "past 2038";

    std::string before = fu::CurrentDir();
    ASSERT_TRUE(fu::ChangeDir(root_));
    EXPECT_EQ(fu::CurrentDir(), root_);
    ASSERT_TRUE(fu::ChangeDir(before));
    ASSERT_TRUE(fu::ChangeDir("\\"));
    EXPECT_EQ(fu::CurrentDir(), "\\");
    ASSERT_TRUE(fu::ChangeDir(before));

    auto f = fu::OpenFile(P("t"), "rb");
    ASSERT_TRUE(f);
    EXPECT_NE(fcntl(fileno(f.get()), F_GETFD) & FD_CLOEXEC, 0);
    int fd = fu::OpenFd(P("t"), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    close(fd);

    double total = 0, freeB = 0;
    EXPECT_TRUE(fu::DiskSpace(P("not\\yet\\there"), total, freeB));
    EXPECT_GT(total, 0);
    EXPECT_LE(freeB, total);
}

}  // namespace
