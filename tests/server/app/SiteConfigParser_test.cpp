#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/SocketUtil.h"
#include "server/app/SiteConfigRecord.h"
#include "tests/server/app/ConfigFixture.h"

namespace orvex {
namespace {

using test::SiteFolder;

struct Parsed {
    bool ok = false;
    SiteConfigRecord rec;
    std::vector<std::string> log;
    bool Logged(const std::string& l) const {
        return std::find(log.begin(), log.end(), l) != log.end();
    }
    bool ErrorReading(const std::string& key) const {
        for (const auto& l : log)
            if (l.find("> Error reading '" + key + "' in file.") != std::string::npos) return true;
        return false;
    }
};

Parsed Parse(const std::string& text) {
    Parsed p;
    p.ok = ParseSiteConfig(text, "site.conf", p.rec,
                           [&](const std::string& l) { p.log.push_back(l); });
    return p;
}

class ParserTest : public ::testing::Test {
  protected:
    SiteFolder site;
    std::string Root() const { return "rootpath " + site.path() + "\n"; }
    Parsed WithRoot(const std::string& more) { return Parse(Root() + more); }
};

TEST_F(ParserTest, DefaultsOfAMinimalFile) {
    Parsed p = Parse(Root());
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.log.empty());
    const SiteConfigRecord& r = p.rec;
    EXPECT_EQ(r.rootPath, site.Internal());
    EXPECT_EQ(r.dataPath, "ftp-data\\");
    EXPECT_EQ(r.fullDataPath, site.Internal() + "ftp-data\\");
    EXPECT_EQ(r.defaultHomeDir, "");
    EXPECT_EQ(r.bindIp, "");
    EXPECT_EQ(r.serverIp, "");
    EXPECT_EQ(r.siteIp, SocketUtil::FirstNonLoopbackIp());
    EXPECT_LE(r.siteIp.size(), kSiteIpMax);
    EXPECT_EQ(r.loginPrompt, "login");
    EXPECT_EQ(r.siteNameLong, "my site");
    EXPECT_EQ(r.siteNameShort, "my site");
    EXPECT_EQ(r.serverPort, 21u);
    EXPECT_EQ(r.sslPort, 0u);
    EXPECT_EQ(r.maxUsers, 0u);
    EXPECT_EQ(r.maxExemptUsers, 0u);
    EXPECT_EQ(r.fxpPasv, "*");
    EXPECT_EQ(r.fxpPort, "0");
    EXPECT_EQ(r.pasvLow + r.pasvHigh + r.downloadLimit + r.uploadLimit, 0u);
    EXPECT_EQ(r.shutdown + r.authMode + r.allowServicePorts + r.resolveDns, 0u);
    EXPECT_EQ(
        r.fsSyncFreq + r.dupeCheck + r.nukeRename + r.nukeEmptyKb + r.nukeEmpty + r.nukeMultMax,
        0u);
    EXPECT_EQ(r.nukePrefix, "");
    EXPECT_EQ(r.logProgName, "orvex.log");
    EXPECT_EQ(r.logProgFormat, "%D;%M");
    EXPECT_EQ(r.logAccessName, "%d%m%Y_access.log");
    EXPECT_EQ(r.logAccessFormat, "%d;%s;%l;%c;%p;%u;%m;%a;%r;%t");
    EXPECT_EQ(r.logDateFormat, "%d/%m/%Y:%H:%M:%S");
    EXPECT_TRUE(r.ignoreTypes.Empty());
    EXPECT_TRUE(r.customCommands.Empty());
    EXPECT_EQ(r.siteFlags.ListName(), "SITE flags list");
    EXPECT_EQ(r.customScripts.ListName(), "custom scripts list");
}

struct CountCase {
    const char* key;
    size_t n;  // tokens with the key
    bool orMore;
};

// Every key with the token count it takes. Values are "1", which every key can read.
constexpr CountCase kCounts[] = {
    {"rootpath", 2, true},         {"datapath", 2, true},
    {"default_homedir", 2, true},  {"server_port", 2, false},
    {"server_sslport", 2, false},  {"bind_ip", 2, true},
    {"server_ip", 2, false},       {"site_ip", 2, false},
    {"resolve_dns", 2, false},     {"login_prompt", 2, true},
    {"sitename_long", 2, true},    {"sitename_short", 2, true},
    {"max_users", 3, false},       {"shutdown", 2, false},
    {"auth_mode", 2, false},       {"allow_service_ports", 2, false},
    {"allow_fxp_pasv", 2, true},   {"allow_fxp_port", 2, true},
    {"pasv_port_range", 3, false}, {"speed_limit", 3, false},
    {"fs_sync_freq", 2, false},    {"dupe_check", 2, false},
    {"ignore_type", 2, true},      {"nukedir_style", 4, false},
    {"nuke_empty", 2, false},      {"nuke_mult_max", 2, false},
    {"log_prog_name", 2, true},    {"log_prog_format", 2, true},
    {"log_access_name", 2, true},  {"log_access_format", 2, true},
    {"log_date_format", 2, true},  {"site_flags", 2, true},
    {"site_cmd", 5, true},         {"custom", 3, true},
    {"cscript", 4, true},
};

std::string LineOf(const char* key, size_t tokens) {
    std::string s = key;
    for (size_t i = 1; i < tokens; ++i) s += " 1";
    return s + "\n";
}

TEST_F(ParserTest, EveryKeyTakesItsTokenCount) {
    for (const auto& c : kCounts) {
        SCOPED_TRACE(c.key);
        // The key line comes first, so that a path key cannot replace the root used afterwards.
        EXPECT_TRUE(Parse(LineOf(c.key, c.n - 1) + Root()).ErrorReading(c.key));
        EXPECT_FALSE(Parse(LineOf(c.key, c.n) + Root()).ErrorReading(c.key));
        EXPECT_EQ(Parse(LineOf(c.key, c.n + 1) + Root()).ErrorReading(c.key), !c.orMore);
        EXPECT_EQ(Parse(LineOf(c.key, c.n + 4) + Root()).ErrorReading(c.key), !c.orMore);
    }
    EXPECT_TRUE(WithRoot("no_such_key 1\n").ErrorReading("no_such_key"));
}

TEST_F(ParserTest, ErrorLinesNameFileLineAndFirstToken) {
    Parsed p = WithRoot("\n# comment\n   \nserver_port 2121 2122\nSERVER_PORT 99 # note\n");
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.Logged("site.conf line 5> Error reading 'server_port' in file."));
    EXPECT_EQ(p.log.size(), 1u);
    EXPECT_EQ(p.rec.serverPort, 99u);  // keys without regard to case, comment cut off
    Parsed q = WithRoot("Server_Port 1 2\n");
    EXPECT_TRUE(q.Logged("site.conf line 2> Error reading 'Server_Port' in file."));
    EXPECT_EQ(q.rec.serverPort, 21u);
}

TEST_F(ParserTest, NumbersAreLeadingDigits) {
    Parsed p = WithRoot(
        "server_port 2121abc\nshutdown abc\nmax_users -5 3\nspeed_limit 99999999999999999999 +7\n"
        "nuke_mult_max 12.5\nfs_sync_freq 007\n");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.rec.serverPort, 2121u);
    EXPECT_EQ(p.rec.shutdown, 0u);
    EXPECT_EQ(p.rec.maxUsers, 0u);
    EXPECT_EQ(p.rec.maxExemptUsers, 3u);
    EXPECT_EQ(p.rec.downloadLimit, UINT_MAX);  // saturates rather than wrapping
    EXPECT_EQ(p.rec.uploadLimit, 0u);
    EXPECT_EQ(p.rec.nukeMultMax, 12u);
    EXPECT_EQ(p.rec.fsSyncFreq, 7u);
}

TEST_F(ParserTest, PortsAboveTheRangeKeepTheirDefault) {
    Parsed p =
        WithRoot("server_port 65536\nserver_sslport 4294967297\npasv_port_range 1000 70000\n");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.rec.serverPort, 21u);
    EXPECT_EQ(p.rec.sslPort, 0u);
    EXPECT_EQ(p.rec.pasvLow, 0u);
    EXPECT_EQ(p.rec.pasvHigh, 0u);
    EXPECT_TRUE(p.Logged("site.conf line 2> Error reading 'server_port' in file."));
    EXPECT_TRUE(p.Logged("site.conf line 3> Error reading 'server_sslport' in file."));
    EXPECT_TRUE(p.Logged("site.conf line 4> Error reading 'pasv_port_range' in file."));

    Parsed q = WithRoot("server_port 65535\nserver_sslport 990\npasv_port_range 60000 65535\n");
    EXPECT_TRUE(q.log.empty());
    EXPECT_EQ(q.rec.serverPort, 65535u);
    EXPECT_EQ(q.rec.sslPort, 990u);
    EXPECT_EQ(q.rec.pasvLow, 60000u);
    EXPECT_EQ(q.rec.pasvHigh, 65535u);
}

TEST_F(ParserTest, TextIsJoinedAndEscapesApplyWhereAllowed) {
    Parsed p = WithRoot(
        "login_prompt  Welcome\t\tto   the[:space:]site [:hash:]1 # cut\n"
        "sitename_long a[:space:][:space:]b\n"
        "sitename_short [:SPACE:]x\n"
        "allow_fxp_pasv -bob[:space:]x  *\n"
        "log_date_format %H[:hash:]%M\n"
        "nukedir_style [:hash:]NUKED- 1 512\n"
        "bind_ip 10.0.0.1 ignored words\n");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.rec.loginPrompt, "Welcome to the site #1");
    EXPECT_EQ(p.rec.siteNameLong, "a  b");
    EXPECT_EQ(p.rec.siteNameShort, "[:SPACE:]x");
    EXPECT_EQ(p.rec.fxpPasv, "-bob[:space:]x *");  // expressions take no escapes
    EXPECT_EQ(p.rec.logDateFormat, "%H#%M");
    EXPECT_EQ(p.rec.nukePrefix, "[:hash:]NUKED-");
    EXPECT_EQ(p.rec.nukeRename, 1u);
    EXPECT_EQ(p.rec.nukeEmptyKb, 512u);
    EXPECT_EQ(p.rec.bindIp, "10.0.0.1");
}

TEST_F(ParserTest, LinesEndAtCarriageReturnAndLongLinesSplit) {
    Parsed p = WithRoot("login_prompt hi\rthere\r\nresolve_dns 1\r\n");
    EXPECT_EQ(p.rec.loginPrompt, "hi");
    EXPECT_EQ(p.rec.resolveDns, 1u);
    // 1023 characters fit one read; the rest is read as the next line.
    std::string head = "login_prompt ";
    std::string longLine = head + std::string(1023 - head.size(), 'a') + "tail\nshutdown 1 2\n";
    Parsed q = WithRoot(longLine);
    EXPECT_EQ(q.rec.loginPrompt, std::string(1023 - head.size(), 'a'));
    EXPECT_TRUE(q.Logged("site.conf line 3> Error reading 'tail' in file."));
    EXPECT_TRUE(q.Logged("site.conf line 4> Error reading 'shutdown' in file."));
    // A NUL byte ends the line like the end of a C string.
    Parsed z = WithRoot(std::string("login_prompt ab\0cd\n", 19));
    EXPECT_EQ(z.rec.loginPrompt, "ab");
}

TEST_F(ParserTest, DefaultSiteFlags) {
    Parsed p = Parse(Root());
    const auto& flags = p.rec.siteFlags;
    ASSERT_EQ(flags.Count(), 113u);
    std::vector<std::string> names;
    int32_t expectId = 0;
    for (const auto& n : flags) {
        EXPECT_EQ(n.id, ++expectId);
        names.push_back(*n.name);
    }
    EXPECT_EQ(names.front(), "ADDIP");
    EXPECT_EQ(names[94], "REMOTE ADDALIAS");
    EXPECT_EQ(names.back(), "REMOTE UPDATE");
    auto expr = [&](const char* c) {
        auto* n = const_cast<KeyedList<std::string>&>(flags).FindName(c, true);
        return n ? n->data : std::string("<none>");
    };
    EXPECT_EQ(expr("ADDUSER"), "1 2 7");
    EXPECT_EQ(expr("GADDUSER"), "1 7");
    EXPECT_EQ(expr("GINFO"), "1 2 H");
    EXPECT_EQ(expr("GRPNFO"), "1 2");
    EXPECT_EQ(expr("SHUTDOWN"), "1");
    EXPECT_EQ(expr("REMOTE TUNNEL"), "1");
    EXPECT_EQ(expr("NUKELOG"), "1 A B 7");
    EXPECT_EQ(expr("SWHO"), "1 E");
    EXPECT_EQ(expr("DISKINFO"), "1 J");
    EXPECT_EQ(expr("REMOTE SHAREDQUIT"), "R");
    EXPECT_EQ(expr("GROUP"), "!3 *");
    EXPECT_EQ(expr("REMOTE HELP"), "!8 *");
    EXPECT_EQ(expr("WHO"), "!8 *");
    EXPECT_EQ(expr("DIRINFO"), "*");
    size_t everybody = 0, siteops = 0;
    for (const auto& n : flags) {
        everybody += n.data == "!8 *";
        siteops += n.data == "1";
    }
    EXPECT_EQ(everybody, 37u);
    EXPECT_EQ(siteops, 41u);
}

TEST_F(ParserTest, SiteFlagsLinesReplaceOneEntry) {
    Parsed p = WithRoot(
        "site_flags who 1\nsite_flags REMOTE[:space:]LOGIN  1  2\nsite_flags NOSUCH 1\n"
        "site_flags GROUP\n");
    ASSERT_TRUE(p.ok);
    auto& flags = p.rec.siteFlags;
    EXPECT_EQ(flags.Count(), 113u);
    EXPECT_EQ(flags.FindName("WHO", false)->data, "1");
    EXPECT_EQ(flags.FindName("REMOTE LOGIN", false)->data, "1 2");
    EXPECT_EQ(flags.FindName("GROUP", false)->data, "");
    EXPECT_EQ(flags.FindName("NOSUCH", true), nullptr);
    EXPECT_TRUE(
        p.Logged("site.conf line 4> Unable to set flags (site_flags).  'NOSUCH': SITE "
                 "command not recognized."));
    EXPECT_EQ(p.log.size(), 1u);
}

TEST_F(ParserTest, CustomCommandsPermissionsScriptsAndIgnoredTypes) {
    std::string longName(100, 'N');
    Parsed p = WithRoot(
        "site_cmd global RULES TEXT [:space:]/text/rules.txt\n"
        "site_cmd dist UP EXECUTE bin/up.sh %u[:space:]%y [:hash:]x  y\n"
        "site_cmd local " +
        longName +
        " IS WHO\n"
        "custom rules !8 *\n"
        "cscript SITE[:space:]NUKE pre scripts/pre[:space:]nuke.sh\n"
        "cscript STOR postfix scripts/after.sh extra\n"
        "ignore_type *.nfo  *.sfv\nignore_type a[:space:]b\n");
    ASSERT_TRUE(p.ok);
    const auto& cmds = p.rec.customCommands;
    ASSERT_EQ(cmds.Count(), 3u);
    auto it = cmds.begin();
    EXPECT_EQ(it->id, 1);
    EXPECT_EQ(it->data.scope, 'G');
    EXPECT_EQ(it->data.name, "RULES");
    EXPECT_EQ(it->data.mode, "TEXT");
    EXPECT_EQ(it->data.target, " /text/rules.txt");
    EXPECT_EQ(it->data.arguments, "");
    ++it;
    EXPECT_EQ(it->id, 2);
    EXPECT_EQ(it->data.scope, 'D');
    EXPECT_EQ(it->data.mode, "EXEC");  // cut to its field
    EXPECT_EQ(it->data.target, "bin/up.sh");
    EXPECT_EQ(it->data.arguments, "%u %y #x y");
    ++it;
    EXPECT_EQ(it->data.scope, 'L');
    EXPECT_EQ(it->data.name, std::string(79, 'N'));
    EXPECT_EQ(it->data.mode, "IS");
    EXPECT_EQ(it->data.target, "WHO");

    ASSERT_EQ(p.rec.customPermissions.Count(), 1u);
    EXPECT_EQ(p.rec.customPermissions.begin()->data.expression, "!8 *");

    ASSERT_EQ(p.rec.customScripts.Count(), 2u);
    EXPECT_EQ(p.rec.customScripts.begin()->data.command, "SITE NUKE");
    EXPECT_EQ(p.rec.customScripts.begin()->data.script, "scripts/pre nuke.sh");
    EXPECT_EQ(std::next(p.rec.customScripts.begin())->data.phase, "post");
    EXPECT_EQ(std::next(p.rec.customScripts.begin())->data.script, "scripts/after.sh extra");

    std::vector<std::string> masks;
    for (const auto& n : p.rec.ignoreTypes) masks.push_back(*n.name);
    EXPECT_EQ(masks, (std::vector<std::string>{"*.nfo", "*.sfv", "a b"}));
    EXPECT_EQ(std::prev(p.rec.ignoreTypes.end())->id, 3);
}

TEST_F(ParserTest, RequiredRootAndValidation) {
    Parsed none = Parse("server_port 21\n\n");
    EXPECT_FALSE(none.ok);
    EXPECT_TRUE(none.Logged("site.conf> ERROR: no rootpath specified."));
    EXPECT_TRUE(
        none.Logged("site.conf line 2> ERROR: unable to validate site configuration file."));

    std::string missing = site.path() + "/nothere";
    Parsed bad = Parse("rootpath " + missing + "\n");
    EXPECT_FALSE(bad.ok);
    std::string internal = site.Internal() + "nothere\\";
    EXPECT_TRUE(bad.Logged("site.conf line 1> Invalid path '" + internal + "'."));
    EXPECT_TRUE(bad.Logged("site.conf> ERROR: invalid rootpath '" + internal + "'."));

    Parsed data = WithRoot("datapath elsewhere\n");
    EXPECT_FALSE(data.ok);
    EXPECT_TRUE(
        data.Logged("site.conf> ERROR: invalid datapath '" + site.Internal() + "elsewhere\\'."));

    // A bad default home directory is reported but does not stop the load.
    Parsed home = WithRoot("default_homedir /no/such/home\n");
    EXPECT_TRUE(home.ok);
    EXPECT_TRUE(home.Logged("site.conf> ERROR: invalid default homedir '\\no\\such\\home\\'."));
}

TEST_F(ParserTest, PathsAreFormedInInternalForm) {
    std::filesystem::create_directories(site / "data/sub");
    std::filesystem::create_directories(site / "home");
    // The data path may come before the root path.
    Parsed p = Parse("datapath /data\\sub\n" + Root() + "default_homedir .\\home\n");
    ASSERT_TRUE(p.ok) << (p.log.empty() ? "" : p.log[0]);
    EXPECT_EQ(p.rec.dataPath, "data\\sub\\");
    EXPECT_EQ(p.rec.fullDataPath, site.Internal() + "data\\sub\\");
    EXPECT_EQ(p.rec.defaultHomeDir, site.Internal() + "home\\");
    EXPECT_TRUE(p.log.empty());

    // A relative home before any root has nothing to be relative to and is dropped.
    Parsed early = Parse("default_homedir ./home\n" + Root());
    EXPECT_EQ(early.rec.defaultHomeDir, "");

    Parsed abs = WithRoot("default_homedir " + site.path() + "\\home\n");
    EXPECT_EQ(abs.rec.defaultHomeDir, site.Internal() + "home\\");
    Parsed drive = Parse("rootpath C:" + site.path() + "/\n");
    EXPECT_TRUE(drive.ok);
    EXPECT_EQ(drive.rec.rootPath, "C:" + site.Internal());

    // A root reached through a symbolic link is a directory like any other.
    std::filesystem::create_directory_symlink(site.path(), site / "link");
    Parsed linked = Parse("rootpath " + site.path() + "/link\n");
    EXPECT_TRUE(linked.ok);
}

}  // namespace
}  // namespace orvex
