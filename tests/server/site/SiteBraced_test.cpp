#include "server/site/SiteBraced.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

TEST(ParseBraced, NamesInBracesAndWithout) {
    struct Case {
        Args args;
        std::string name;
        size_t used;
        int error;
    };
    const Case cases[] = {
        {{}, "", 0, 1},
        {{"dir"}, "dir\\", 1, 0},
        {{"dir", "more"}, "dir\\", 1, 0},
        {{"{my", "old", "dir}"}, "my old dir\\", 3, 0},
        {{"{my", "old", "dir}", "next"}, "my old dir\\", 3, 0},
        {{"{one}"}, "one\\", 1, 0},
        {{"{a}b", "c"}, "a\\", 1, 0},
        {{"{a", "}"}, "a\\", 2, 0},
        {{"{", "a", "b}"}, "a b\\", 3, 0},
        {{"{}"}, "", 1, 1},
        {{"{", "}"}, "", 2, 1},
        {{"{a", "b"}, "", 2, 2},
        {{"{"}, "", 1, 2},
    };
    for (const Case& c : cases) {
        const BracedName b = ParseBraced(c.args, 0);
        EXPECT_EQ(b.error, c.error) << ::testing::PrintToString(c.args);
        if (c.error == 0) {
            EXPECT_EQ(b.name, c.name);
            EXPECT_EQ(b.used, c.used);
        }
    }
    const BracedName b = ParseBraced({"SITE", "COPY", "{a", "b}", "dest"}, 2);
    EXPECT_EQ(b.name, "a b\\");
    EXPECT_EQ(b.used, 2u);
}

}  // namespace
}  // namespace orvex
