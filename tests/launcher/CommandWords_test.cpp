#include "launcher/CommandWords.h"

#include <gtest/gtest.h>

using orvex::launcher::SplitCommandWords;
using Words = std::vector<std::string>;

namespace {

TEST(SplitCommandWords, SpacesAndTabsSeparateRunsCountOnce) {
    EXPECT_EQ(SplitCommandWords("-jar /opt/app.jar"), (Words{"-jar", "/opt/app.jar"}));
    EXPECT_EQ(SplitCommandWords("  a \t\t b  "), (Words{"a", "b"}));
    EXPECT_EQ(SplitCommandWords(""), Words{});
    EXPECT_EQ(SplitCommandWords(" \t "), Words{});
}

TEST(SplitCommandWords, QuotesGroupAndVanish) {
    EXPECT_EQ(SplitCommandWords("-jar \"/opt/my app/a.jar\" x"),
              (Words{"-jar", "/opt/my app/a.jar", "x"}));
    EXPECT_EQ(SplitCommandWords("a\"b c\"d"), (Words{"ab cd"}));
    EXPECT_EQ(SplitCommandWords("\"\" x"), (Words{"", "x"}));
    EXPECT_EQ(SplitCommandWords("\"open to the end"), (Words{"open to the end"}));
}

TEST(SplitCommandWords, BackslashesOnlyEscapeBeforeQuotes) {
    EXPECT_EQ(SplitCommandWords("C:\\dir\\app.jar"), (Words{"C:\\dir\\app.jar"}));
    EXPECT_EQ(SplitCommandWords("a\\\"b"), (Words{"a\"b"}));           // \"  -> "
    EXPECT_EQ(SplitCommandWords("\"a\\\\\" b"), (Words{"a\\", "b"}));  // \\" -> \ and closes
    EXPECT_EQ(SplitCommandWords("\"C:\\dir\\\\\""), (Words{"C:\\dir\\"}));
    EXPECT_EQ(SplitCommandWords("x\\\\\\\"y"), (Words{"x\\\"y"}));  // \\\" -> \"
    EXPECT_EQ(SplitCommandWords("end\\"), (Words{"end\\"}));
}

}  // namespace
