// The argument forms of the tree commands, by table: octal modes, owner arguments, and the options
// of DUPE and SEARCH.

#include "server/site/files/SiteFsArguments.h"

#include <gtest/gtest.h>

#include "engine/Tokenizer.h"

namespace orvex::site {
namespace {

Args Words(const char* line) {
    return Tokenizer().Split(line);
}

TEST(SiteFsArguments, ModesAndOwners) {
    const struct {
        const char* mask;
        std::optional<std::string> mode;
    } modes[] = {
        {"755", "rwxr-xr-x"},  {"000", "---------"}, {"777", "rwxrwxrwx"},
        {"640", "rw-r-----"},  {"75", std::nullopt}, {"7555", std::nullopt},
        {"758", std::nullopt}, {"", std::nullopt},   {"-55", std::nullopt},
    };
    for (const auto& m : modes) EXPECT_EQ(ModeFromOctal(m.mask), m.mode) << m.mask;

    const struct {
        const char* text;
        const char* user;
        const char* group;
    } owners[] = {
        {"bob", "bob", ""},  {":staff", "", "staff"}, {"bob:staff", "bob", "staff"},
        {"bob:", "bob", ""}, {":", "", ""},           {"a:b:c", "a", "b:c"},
    };
    for (const auto& o : owners) {
        const OwnerArgument owner = SplitOwnerArgument(o.text);
        EXPECT_EQ(owner.user, o.user) << o.text;
        EXPECT_EQ(owner.group, o.group) << o.text;
    }
}

TEST(SiteFsArguments, DupeOptionsComeBeforeTheMasks) {
    const struct {
        const char* line;
        size_t maximum;
        const char* from;
        const char* to;
        std::vector<std::string> masks;
        const char* error;
    } cases[] = {
        {"SITE DUPE *.rar", 20, "", "", {"*.rar"}, ""},
        {"SITE DUPE -max 5 a b", 5, "", "", {"a", "b"}, ""},
        {"SITE DUPE -MAX 0 -From 020903 -TO 021003 x", 0, "020903", "021003", {"x"}, ""},
        // Masks are what follows the last valid option's value.
        {"SITE DUPE a -max 5 b", 5, "", "", {"b"}, ""},
        {"SITE DUPE a -max 5", 5, "", "", {}, ""},
        {"SITE DUPE -max", 20, "", "", {"-max"}, "501"},
        {"SITE DUPE -max -1 x", 20, "", "", {"-max", "-1", "x"}, "501"},
        {"SITE DUPE -max 1x x", 20, "", "", {"-max", "1x", "x"}, "501"},
        {"SITE DUPE -from 2003 x", 20, "", "", {"-from", "2003", "x"}, "502"},
        {"SITE DUPE -to abcdef x", 20, "", "", {"-to", "abcdef", "x"}, "503"},
        // With several errors the last one counts.
        {"SITE DUPE -to 1 -from 2 x", 20, "", "", {"-to", "1", "-from", "2", "x"}, "502"},
        {"SITE DUPE -max 99999999999999999999999 x", SIZE_MAX, "", "", {"x"}, ""},
    };
    for (const auto& c : cases) {
        const DupeQuery q = ParseDupeQuery(Words(c.line));
        EXPECT_EQ(q.maximum, c.maximum) << c.line;
        EXPECT_EQ(q.from, c.from) << c.line;
        EXPECT_EQ(q.to, c.to) << c.line;
        EXPECT_EQ(q.masks, c.masks) << c.line;
        EXPECT_EQ(q.errorCode, c.error) << c.line;
    }
}

TEST(SiteFsArguments, SearchOptions) {
    const struct {
        const char* line;
        bool files, links;
        uint32_t maximum;
        size_t next;
    } cases[] = {
        {"SITE SEARCH x", false, false, 20, 2},
        {"SITE SEARCH -f -l -5 {dir} x", true, true, 5, 5},
        {"SITE SEARCH -F -0 x", true, false, 0, 4},
        {"SITE SEARCH -x - -l", false, true, 20, 5},
        {"SITE SEARCH -99999999999 x", false, false, UINT32_MAX, 3},
        {"SITE SEARCH x -f", false, false, 20, 2},
    };
    for (const auto& c : cases) {
        const SearchOptions o = ParseSearchOptions(Words(c.line));
        EXPECT_EQ(o.files, c.files) << c.line;
        EXPECT_EQ(o.links, c.links) << c.line;
        EXPECT_EQ(o.maximum, c.maximum) << c.line;
        EXPECT_EQ(o.next, c.next) << c.line;
    }
}

}  // namespace
}  // namespace orvex::site
