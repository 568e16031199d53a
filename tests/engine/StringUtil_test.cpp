#include "engine/StringUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace su = orvex::StringUtil;

namespace {

TEST(StringUtil, CaseInsensitiveCompare) {
    EXPECT_EQ(su::CompareNoCase("abc", "ABC"), 0);
    EXPECT_LT(su::CompareNoCase("abc", "abd"), 0);
    EXPECT_GT(su::CompareNoCase("abcd", "ABC"), 0);
    EXPECT_LT(su::CompareNoCase("", "a"), 0);
    EXPECT_EQ(su::CompareNoCaseN("RETRfoo", "retr", 4), 0);
    EXPECT_NE(su::CompareNoCaseN("RET", "retr", 4), 0);
    EXPECT_TRUE(su::EqualNoCase("SiTe", "site"));
    EXPECT_FALSE(su::EqualNoCase("site", "sites"));
    std::string s = "MiXed 12";
    EXPECT_EQ(su::ToLower(s), 8u);
    EXPECT_EQ(s, "mixed 12");
    EXPECT_EQ(su::Uppered("a\xe9z"), "A\xe9Z") << "bytes above 127 are left alone";
}

TEST(StringUtil, LineEnds) {
    std::string s = "abc\r\ndef\n";
    EXPECT_EQ(su::StripEol(s), 3u);
    EXPECT_EQ(s, "abc");
    s = "a\nb\rc";
    EXPECT_EQ(su::StripEol(s), 1u);

    s = "200 ok\nrest";
    EXPECT_TRUE(su::MakeCrlf(s));
    EXPECT_EQ(s, "200 ok\r\n");
    s = "abcd";
    EXPECT_TRUE(su::MakeCrlf(s, 7));  // 4 + CR + LF + terminator
    EXPECT_EQ(s, "abcd\r\n");
    s = "abcd";
    EXPECT_FALSE(su::MakeCrlf(s, 6));
    EXPECT_EQ(s.find('\n'), std::string::npos);
}

TEST(StringUtil, AppendBoundedKeepsCapacityMinusOne) {
    std::string s = "ab";
    EXPECT_TRUE(su::AppendBounded(s, "cdef", 5));
    EXPECT_EQ(s, "abcd");
    EXPECT_FALSE(su::AppendBounded(s, "x", 5)) << "already full";
    EXPECT_EQ(s, "abcd");
    std::string e;
    EXPECT_FALSE(su::AppendBounded(e, "x", 0));
    EXPECT_FALSE(su::AppendBounded(e, "x", 1));
    EXPECT_TRUE(su::AppendBounded(e, "xyz", 2));
    EXPECT_EQ(e, "x");
}

TEST(StringUtil, IsInteger) {
    EXPECT_TRUE(su::IsInteger(""));
    EXPECT_TRUE(su::IsInteger("-12"));
    EXPECT_TRUE(su::IsInteger("007"));
    EXPECT_FALSE(su::IsInteger("-"));
    EXPECT_FALSE(su::IsInteger("1-2"));
    EXPECT_FALSE(su::IsInteger("+1"));
    EXPECT_FALSE(su::IsInteger("12 "));
}

TEST(StringUtil, CutAtAndEscape) {
    std::string s = "name.nfo.bak";
    su::CutAt(s, ".nfo");
    EXPECT_EQ(s, "name");
    su::CutAt(s, "zz");
    EXPECT_EQ(s, "name");
    su::CutAt(s, "");
    EXPECT_EQ(s, "name");
    EXPECT_EQ(su::EscapeQuotes(R"(a"b\c)"), R"(a\"b\\c)");
}

TEST(StringUtil, Formatting) {
    EXPECT_EQ(su::Format("%s-%d", "x", 42), "x-42");
    std::string big(1000, 'q');
    EXPECT_EQ(su::Format("%s!", big.c_str()), big + "!") << "longer than any first guess";
    EXPECT_EQ(su::FormatBounded(4, "%d", 123456), "123");
    EXPECT_EQ(su::FormatBounded(0, "%d", 1), "");
}

TEST(StringUtil, WildcardMatch) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    };
    const Case cases[] = {
        {"*.txt", "a.txt", true},
        {"*.txt", "a.txt.bak", false},
        // A tail that occurs earlier in the name still matches where the name ends.
        {"*.txt", "x.txt.txt", true},
        {"*a", "banana", true},
        {"a*b", "abab", true},
        {"*.5", "10.5.0.5", true},
        {"*.5", "10.5.0.6", false},
        {"a*", "a", true},
        {"*", "", true},
        {"a*c*e", "abde", false},
        {"ab*ba", "aba", false},  // the tail may not reuse the prefix
        {"a**b", "axb", true},
        {"A*", "a", false},  // case-sensitive
        {"abc", "abcd", false},
        {"*?", "x", false},  // only '*' is special
    };
    for (const Case& c : cases)
        EXPECT_EQ(su::WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " / " << c.name;
    // Many stars against a long name that almost matches stays quick.
    const std::string name(4000, 'a');
    EXPECT_FALSE(su::WildcardMatch("*a*a*a*a*a*a*a*a*b", name));
}

TEST(StringUtil, ExpandTemplate) {
    EXPECT_EQ(su::ExpandTemplate("%d;%x;%%", "d", {"VAL"}), "VAL;;%");
    EXPECT_EQ(su::ExpandTemplate("a%", "d", {"VAL"}), "a") << "lone escape ends output";
    EXPECT_EQ(su::ExpandTemplate("%u@%h", "uh", {"bob", "1.2.3.4"}), "bob@1.2.3.4");
    EXPECT_EQ(su::ExpandTemplate("%u %h", "uh", {"bob"}), "bob ") << "missing value is empty";
    EXPECT_EQ(su::ExpandTemplate("$a$$", "a", {"1"}, '$'), "1$");
}

}  // namespace
