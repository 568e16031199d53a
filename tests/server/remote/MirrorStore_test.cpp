// The mirror file's reading and default-mark rules, the table's edits as they reach the file,
// and the weighted choice with a fixed clock.

#include "server/remote/MirrorStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/os/AtomicFile.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/remote/AliasFile.h"
#include "tests/server/app/ConfigFixture.h"

namespace orvex {
namespace {

// "id:alias:weight:mark" per entry, groups in order, to compare tables at a glance.
std::string Shape(const std::vector<MirrorGroup>& groups) {
    std::string out;
    for (const MirrorGroup& g : groups)
        for (const MirrorEntry& e : g.entries)
            out += std::to_string(g.mirrorId) + ":" + e.alias + ":" + std::to_string(e.weight) +
                   ":" + std::to_string(e.defaultMirror) + " ";
    return out;
}

TEST(MirrorFile, ReadingAndMarkRules) {
    const struct {
        const char* text;
        const char* read;        // as parsed
        const char* normalised;  // after the marks are normalised ("" when unchanged)
    } cases[] = {
        // Three fields mean mark 0; the only entry then gets the mark.
        {"1;/s/a;3", "1:\\s\\a\\:3:0 ", "1:\\s\\a\\:3:1 "},
        // Two marks keep the first; tabs split too; a "#" ends the line.
        {"2;\\s\\a\\;3;1\n2\t/s/b/\t1\t1 # note\n", "2:\\s\\a\\:3:1 2:\\s\\b\\:1:1 ",
         "2:\\s\\a\\:3:1 2:\\s\\b\\:1:0 "},
        // Groups in order of first appearance; a repeated entry is kept twice; _LOCAL_ as is.
        {"5;_LOCAL_;1;0\n4;./s/x;2;1\n5;/s/y;1;1\n5;_LOCAL_;1;0\n",
         "5:_LOCAL_:1:0 5:\\s\\y\\:1:1 5:_LOCAL_:1:0 4:\\s\\x\\:2:1 ", ""},
        // Comments, too few fields, id 0, an id beyond 31 bits, no alias: all skipped.
        {"# 1;/s/a;1;1\n1;/s/a\n0;/s/a;1;1\n2147483648;/s/a;1;1\n1;;1;1\n", "", ""},
        // Unreadable numbers read as 0; a mark above 1 is a mark.
        {"3;/s/a;x;7\n", "3:\\s\\a\\:0:1 ", ""},
    };
    for (const auto& c : cases) {
        std::vector<MirrorGroup> groups = MirrorFile::Parse(c.text);
        EXPECT_EQ(Shape(groups), c.read) << c.text;
        const bool changed = MirrorFile::NormaliseMarks(groups);
        EXPECT_EQ(changed, *c.normalised != '\0') << c.text;
        if (changed) {
            EXPECT_EQ(Shape(groups), c.normalised) << c.text;
        }
        // What is written reads back the same.
        EXPECT_EQ(MirrorFile::Parse(MirrorFile::Format(groups)), groups) << c.text;
    }
    // An alias directory of full width reads back whole; a longer field is cut.
    const std::string full = "\\" + std::string(kAliasPathMax - 2, 'd') + "\\";
    const std::vector<MirrorGroup> wide =
        MirrorFile::Parse("1;" + full + ";1;1\n2;" + full + std::string(50, 'e') + ";1;1\n");
    ASSERT_EQ(wide.size(), 2u);
    EXPECT_EQ(wide[0].entries[0].alias, full);
    EXPECT_EQ(wide[1].entries[0].alias.size(), kAliasFieldCut + 1);
    EXPECT_EQ(MirrorFile::Parse(MirrorFile::Format(wide)), wide);
    EXPECT_EQ(MirrorFile::Format(MirrorFile::Parse("7;/s/a;3;1")),
              "# MirrorID;Alias;Weight;DefMirror\n#\n7;\\s\\a\\;3;1\n");
}

TEST(MirrorFile, WeightedPickAndGenerator) {
    const std::vector<MirrorEntry> entries = {
        {1, "a", 1, 1}, {1, "zero", 0, 0}, {1, "b", 2, 0}, {1, "c", 3, 0}};
    const struct {
        uint32_t r;
        const char* alias;
    } picks[] = {{0, "a"}, {1, "b"}, {2, "b"}, {3, "c"}, {5, "c"}, {6, "a"}, {32767, "b"}};
    for (const auto& p : picks) {
        const MirrorEntry* e = MirrorFile::PickWeighted(entries, p.r);
        ASSERT_NE(e, nullptr) << p.r;
        EXPECT_EQ(e->alias, p.alias) << p.r;
    }
    EXPECT_EQ(MirrorFile::PickWeighted({{1, "zero", 0, 1}}, 5), nullptr);
    EXPECT_EQ(MirrorFile::PickWeighted({}, 5), nullptr);
    // The classic sequence of this generator after seed 1.
    MirrorRandom random;
    random.Seed(1);
    EXPECT_EQ(random.Next(), 41u);
    EXPECT_EQ(random.Next(), 18467u);
    EXPECT_EQ(random.Next(), 6334u);
}

class MirrorStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(folder_ / "etc");
        folder_.Write("etc/orvex.conf", "rootpath " + folder_.path() + "\n");
        ASSERT_TRUE(site_.Config().Load(folder_ / "etc/orvex.conf"));
    }
    std::string File() const {
        std::ifstream in(folder_ / "etc/remote.mirrors");
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    MirrorStore& Mirrors() { return site_.Mirrors(); }

    test::SiteFolder folder_;
    ServerSite site_;
};

TEST_F(MirrorStoreTest, LoadRewritesMarksAndEditsReachTheFile) {
    EXPECT_EQ(Mirrors().Load(), 0);  // no file yet
    folder_.Write("etc/remote.mirrors", "1;/s/a;3;1\n1;/s/b;1;1\n2;_LOCAL_;1\n");
    ASSERT_EQ(Mirrors().Load(), 1);
    const std::string header = MirrorFile::kHeader;
    EXPECT_EQ(File(), header + "1;\\s\\a\\;3;1\n1;\\s\\b\\;1;0\n2;_LOCAL_;1;1\n");

    EXPECT_EQ(Mirrors().AddMirror(0, "/s/c", 2), 1);  // a new group, id 3
    EXPECT_EQ(Mirrors().AddMirror(1, "a;b", 5), 0);
    EXPECT_EQ(Mirrors().SetDefaultMirror(1, "\\S\\B\\"), 1);
    EXPECT_EQ(Mirrors().DeleteMirror(2, "_local_"), 1);  // the last entry takes the id along
    EXPECT_EQ(Mirrors().MirrorExists(2), 0);
    EXPECT_TRUE(Mirrors().HasMirrorId(3));
    EXPECT_FALSE(Mirrors().HasMirrorId(0));
    // Deleting the default entry passes the mark to the first one left.
    EXPECT_EQ(Mirrors().AddMirror(3, "_LOCAL_", 1), 1);
    EXPECT_EQ(Mirrors().DeleteMirror(3, "\\s\\c\\"), 1);
    EXPECT_EQ(File(), header + "1;\\s\\a\\;3;0\n1;\\s\\b\\;1;1\n3;_LOCAL_;1;1\n");
    EXPECT_EQ(Shape(Mirrors().ListMirrors(3)), "3:_LOCAL_:1:1 ");

    // A hand edit is seen at the next operation.
    folder_.Write("etc/remote.mirrors", "9;/s/z;1;0\n");
    EXPECT_EQ(Shape(Mirrors().ListMirrors()), "9:\\s\\z\\:1:1 ");
}

TEST_F(MirrorStoreTest, AnInterruptedRewriteKeepsFileAndTable) {
    folder_.Write("etc/remote.mirrors", "1;/s/a;3;1\n");
    ASSERT_EQ(Mirrors().Load(), 1);
    const std::string before = File();
    InterruptRewritesForTesting(true);
    EXPECT_EQ(Mirrors().AddMirror(1, "/s/b", 1), 0);
    EXPECT_EQ(Mirrors().DeleteMirror(1, "/s/a"), 0);
    InterruptRewritesForTesting(false);
    EXPECT_EQ(File(), before);
    EXPECT_EQ(Shape(Mirrors().ListMirrors()), "1:\\s\\a\\:3:1 ");
}

TEST_F(MirrorStoreTest, ChoiceWithAFixedClock) {
    folder_.Write("etc/remote.mirrors",
                  "1;/s/a;3;0\n1;/s/b;1;1\n2;_LOCAL_;1;1\n2;/s/c;1\n3;/s/d;0;1\n");
    ASSERT_EQ(Mirrors().Load(), 1);
    // Seeds are the clock plus the counter after its rise by 17: 20, 37, 54, 71 draw 103, 159,
    // 214, 270, which are 3, 3, 2, 2 modulo 4.
    Mirrors().SetClockForTesting([] { return int64_t{3}; });
    uint32_t counter = 0;
    for (const char* expected : {"\\s\\b\\", "\\s\\b\\", "\\s\\a\\", "\\s\\a\\"})
        EXPECT_EQ(Mirrors().ChooseInGroup(1, false, counter), expected);
    EXPECT_EQ(counter, 68u);
    EXPECT_EQ(Mirrors().ChooseInGroup(1, true, counter), "\\s\\b\\");
    EXPECT_EQ(Mirrors().ChooseInGroup(2, true, counter), std::nullopt);   // the local tree
    EXPECT_EQ(Mirrors().ChooseInGroup(9, false, counter), std::nullopt);  // no such group
    EXPECT_EQ(counter, 68u);
    // Weights that add up to 0 choose nothing and leave the counter alone.
    EXPECT_EQ(Mirrors().ChooseInGroup(3, false, counter), std::nullopt);
    EXPECT_EQ(counter, 68u);
    EXPECT_EQ(Mirrors().ChooseInGroup(3, true, counter), "\\s\\d\\");

    // Within one second, consecutive counters share weights 3:1 exactly.
    Mirrors().SetClockForTesting([] { return int64_t{1000}; });
    int first = 0;
    counter = 0;
    for (int i = 0; i < 400; ++i)
        if (Mirrors().ChooseInGroup(1, false, counter) == "\\s\\a\\") ++first;
    EXPECT_EQ(first, 300);
}

}  // namespace
}  // namespace orvex
