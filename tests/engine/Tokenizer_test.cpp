#include "engine/Tokenizer.h"

#include <gtest/gtest.h>

using orvex::Args;
using orvex::Join;
using orvex::Tokenizer;

namespace {

TEST(Tokenizer, CollapsesRunsOfSpacesAndTabs) {
    Tokenizer t;
    Args a = t.Split("STOR  my\tfile");
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0], "STOR");
    EXPECT_EQ(a[1], "my");
    EXPECT_EQ(a[2], "file");
    EXPECT_EQ(Join(a), "my file");
    EXPECT_TRUE(t.Split("").empty());
    EXPECT_TRUE(t.Split("  \t ").empty());
    EXPECT_EQ(t.Split("  NOOP  ").size(), 1u);
}

TEST(Tokenizer, KeepEmptyEndsAFieldAtEverySeparator) {
    Tokenizer t;
    Args a = t.Split(";a;;b;", ';', true);
    ASSERT_EQ(a.size(), 5u);
    EXPECT_EQ(a[0], "");
    EXPECT_EQ(a[1], "a");
    EXPECT_EQ(a[2], "");
    EXPECT_EQ(a[3], "b");
    EXPECT_EQ(a[4], "");
    // TAB separates as well as the chosen character.
    Args b = t.Split("x\ty;z", ';', true);
    ASSERT_EQ(b.size(), 3u);
    Args c = t.Split("x;;y", ';', false);
    ASSERT_EQ(c.size(), 2u);
}

TEST(Tokenizer, LineIsCutAtNulAndAtItsSize) {
    Tokenizer t;
    Args a = t.Split(std::string_view("DELE a\0 ..\\..\\x", 15));
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[1], "a");

    std::string longLine = "RETR " + std::string(2000, 'x');
    Args b = t.Split(longLine);
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(b[1].size(), 1023u - 5u);

    Tokenizer small(5);
    Args c = small.Split("ab cd");
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[1], "c");
    EXPECT_TRUE(Tokenizer(0).Split("abc").empty());
}

TEST(Join, SkipsByFirstCharacterAndStartsAtIndex) {
    Args a{"SITE", "-l", "file", "-x", "name"};
    EXPECT_EQ(Join(a, '-'), "file name");
    EXPECT_EQ(Join(a, 0, 2), "file -x name");
    EXPECT_EQ(Join(a, 0, 5), "");
    EXPECT_EQ(Join(a, 0, 9), "");
    Args e{"CMD", "", "a", ""};
    EXPECT_EQ(Join(e), "a") << "skip 0 leaves out empty arguments";
    EXPECT_EQ(Join(e, '-'), " a ") << "other skips keep them";
}

}  // namespace
