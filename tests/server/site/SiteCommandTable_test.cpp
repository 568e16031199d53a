#include "server/site/SiteCommandTable.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/StringUtil.h"
#include "server/app/SiteConfigRecord.h"

namespace orvex {
namespace {

const std::filesystem::path kHelp = std::filesystem::path(ORVEX_SOURCE_DIR) / "dist/ftp-data/help";

TEST(SiteCommandTable, RowsInSlotOrderWithTheirChecks) {
    const auto rows = SiteCommands();
    ASSERT_FALSE(rows.empty());
    EXPECT_STREQ(rows.back().name, "REMOTE");
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string name = rows[i].name;
        EXPECT_EQ(name, StringUtil::Uppered(name));
        if (i + 2 < rows.size()) {
            EXPECT_LT(name, std::string(rows[i + 1].name));
        }
        // Only these decide for themselves who may use them.
        const bool own = name == "CERTINFO" || name == "FSINFO" || name == "IDLE" ||
                         name == "REMOTE" || name == "STATS";
        EXPECT_EQ(rows[i].access == nullptr, own) << name;
        if (rows[i].access) {
            EXPECT_EQ(name, rows[i].access);
        }
        EXPECT_EQ(FindSiteCommandIn(rows, StringUtil::Lowered(name)), &rows[i]);
    }
    EXPECT_EQ(FindSiteCommandIn(rows, "NOSUCH"), nullptr);
    EXPECT_EQ(FindSiteCommandIn(rows, ""), nullptr);
}

TEST(SiteCommandTable, EveryCommandHasItsHelpFile) {
    KeyedList<std::string> flags("flags");
    ASSERT_TRUE(BuildDefaultSiteFlags(flags));
    int commands = 0;
    for (const auto& n : flags) {
        const std::string name = n.name.value_or("");
        if (name.find(' ') != std::string::npos) continue;  // REMOTE sub-commands
        ++commands;
        EXPECT_TRUE(std::filesystem::is_regular_file(kHelp / ("site." + StringUtil::Lowered(name))))
            << name;
    }
    EXPECT_EQ(commands, 94);  // with CERTINFO, FSINFO and REMOTE, which have no entry: 97
    for (const char* extra : {"site.certinfo", "site.fsinfo", "site.remote", "site.readd.top",
                              "site.readd.bottom", "site.restree.top", "site.restree.bottom"})
        EXPECT_TRUE(std::filesystem::is_regular_file(kHelp / extra)) << extra;
}

TEST(SiteCommandTable, PasswordsNeverReachTheLogs) {
    struct Case {
        Args args;
        const char* alias;
        Args logged;
    };
    const Case cases[] = {
        {{"SITE", "PASSWD", "s3cret"}, "", {"SITE", "PASSWD"}},
        {{"site", "chpass", "bob", "s3cret"}, "", {"site", "chpass", "bob"}},
        {{"SITE", "ADDUSER", "bob", "s3cret", "10.*"}, "", {"SITE", "ADDUSER", "bob"}},
        {{"SITE", "GADDUSER", "grp", "bob", "s3cret"}, "", {"SITE", "GADDUSER", "grp", "bob"}},
        {{"SITE", "ADDUSER", "bob"}, "", {"SITE", "ADDUSER", "bob"}},
        {{"SITE", "MYPW", "s3cret"}, "passwd", {"SITE", "MYPW"}},
        {{"SITE", "TAGLINE", "s3cret"}, "", {"SITE", "TAGLINE", "s3cret"}},
        {{"STOR", "PASSWD", "x"}, "", {"STOR", "PASSWD", "x"}},
    };
    for (const Case& c : cases) EXPECT_EQ(LoggableSiteArgs(c.args, c.alias), c.logged);
}

}  // namespace
}  // namespace orvex
