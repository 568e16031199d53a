#include "engine/FtpSite.h"

#include <gtest/gtest.h>

#include "engine/FileUtil.h"

namespace orvex {
namespace {

TEST(FtpSite, IdentityTextsAndTheirLimits) {
    FtpSite plain;
    EXPECT_EQ(plain.GetSiteName(), "DEFSRV");
    EXPECT_EQ(plain.GetSiteVersion(), "1.0.0");
    EXPECT_EQ(plain.GetEngineVersion(), "1.0.0");
    EXPECT_EQ(plain.BaseDirectory(), FileUtil::CurrentDir());

    std::string longName(100, 'n');
    FtpSite named(longName.c_str(), std::string(40, 'v').c_str(), "2.0", "/srv/ftp");
    EXPECT_EQ(named.GetSiteName(), std::string(63, 'n'));
    EXPECT_EQ(named.GetSiteVersion(), std::string(31, 'v'));
    EXPECT_EQ(named.GetEngineVersion(), "2.0");
    EXPECT_EQ(named.BaseDirectory(), "\\srv\\ftp\\");
    EXPECT_EQ(FtpSite(nullptr, nullptr, nullptr, "").BaseDirectory(), "");
}

TEST(FtpSite, PermissionLettersIncludeReadWriteExecute) {
    FtpSite site;
    EXPECT_TRUE(site.CheckPermission("anyone", "", "lvcpstduoamn"));
    EXPECT_TRUE(site.CheckPermission("anyone", "\\x", "zx"));
    EXPECT_TRUE(site.CheckPermission("anyone", "", "r"));
    EXPECT_TRUE(site.CheckPermission("anyone", "", "w"));
    EXPECT_FALSE(site.CheckPermission("anyone", "", "zz"));
    EXPECT_FALSE(site.CheckPermission("anyone", "", ""));
    EXPECT_FALSE(site.CheckPermission("anyone", "", "LD"));  // letters are case-sensitive
}

TEST(FtpSite, EveryoneLogsInWithAnyPassword) {
    FtpSite site;
    std::string user = "whoever";
    EXPECT_TRUE(site.UserExists(user));
    EXPECT_EQ(user, "whoever");
    auto account = site.GetAccount(user);
    ASSERT_TRUE(account.has_value());
    EXPECT_EQ(account->gid, "99");
    EXPECT_EQ(account->home, "");
    EXPECT_EQ(account->password, "");
}

TEST(FtpSite, PathsUnderTheBaseDirectory) {
    FtpSite site(nullptr, nullptr, nullptr, "/srv/ftp/");
    EXPECT_EQ(site.MakeRootPath("etc", "orvex.conf"), "\\srv\\ftp\\etc\\orvex.conf");
    EXPECT_EQ(site.MakeRootPath("users/", "bob"), "\\srv\\ftp\\users\\bob");
    EXPECT_EQ(site.MakeRootPath(""), "\\srv\\ftp\\");
    EXPECT_EQ(site.MakeHomePath("home/bob"), "\\srv\\ftp\\home\\bob\\");
    FtpSite bare(nullptr, nullptr, nullptr, "");
    EXPECT_EQ(bare.MakeHomePath(""), "\\");  // the single-backslash root
}

}  // namespace
}  // namespace orvex
