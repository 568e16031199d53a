// The texts the alias session reads or builds: passive replies of remote servers, remote paths,
// the SITE lines forwarded into aliases, and what the logs keep of SITE REMOTE lines.

#include <gtest/gtest.h>

#include <string>

#include "engine/StringUtil.h"
#include "server/remote/AliasSession.h"
#include "server/remote/AliasSiteLine.h"
#include "server/remote/RemoteCommands.h"
#include "server/remote/RemoteConnection.h"

namespace orvex {
namespace {

Args Words(const std::string& line) {
    return Tokenizer().Split(line);
}

TEST(RemoteText, PassiveReplies) {
    const struct {
        const char* text;
        const char* ip;
        unsigned port;
    } cases[] = {
        {"Entering Passive Mode (127,0,0,1,4,1).", "127.0.0.1", 1025},
        {"Entering Passive Mode 10,1,2,3,255,255", "10.1.2.3", 65535},
        {"=(1,2,3,4,0,21) and (5,6,7,8,0,22)", "5.6.7.8", 22},
        {"Entering Passive Mode (127,0,0,1,300,1).", nullptr, 0},
        {"Entering Passive Mode (127,0,0,1,4).", nullptr, 0},
        {"Entering Passive Mode (127,0,0,1,4,1", nullptr, 0},
        {"Entering Passive Mode (1111,0,0,1,4,1)", nullptr, 0},
        {"no address here", nullptr, 0},
    };
    for (const auto& c : cases) {
        const std::optional<PassiveAddress> a = ParsePassiveReply(c.text);
        ASSERT_EQ(a.has_value(), c.ip != nullptr) << c.text;
        if (!a) continue;
        EXPECT_EQ(a->ip, c.ip) << c.text;
        EXPECT_EQ(a->port, c.port) << c.text;
    }
}

TEST(RemoteText, RemotePaths) {
    AliasRecord alias;
    alias.directory = "\\site\\Remote\\";
    alias.remotePath = "/pub/";
    const struct {
        const char* local;
        const char* remote;
    } cases[] = {
        {"\\site\\Remote\\", "/pub/"},
        {"\\site\\remote", "/pub/"},
        {"\\site\\REMOTE\\a\\b.txt", "/pub/a/b.txt"},
        {"\\site\\Remote\\sub\\", "/pub/sub/"},
        {"\\site\\Remotely\\x", nullptr},
        {"\\site\\", nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> got = AliasSession::ToRemotePath(c.local, alias);
        ASSERT_EQ(got.has_value(), c.remote != nullptr) << c.local;
        if (got) {
            EXPECT_EQ(*got, c.remote) << c.local;
        }
    }
}

TEST(RemoteText, ForwardedSiteLines) {
    const struct {
        const char* line;
        const char* typed;  // null: the local command answers
        const char* forwarded;
        const char* error = "";
    } cases[] = {
        {"SITE CHMOD 755 a b", "a b", "SITE CHMOD 755 /r/"},
        {"SITE CHMOD -R 755 d", "d", "SITE CHMOD -R 755 /r/"},
        {"SITE CHMOD -x 755 d", "", "", "501 -x: Invalid option."},
        {"SITE CHMOD 755", nullptr, ""},
        {"SITE CHOWN bob:users f", "f", "SITE CHOWN bob:users /r/"},
        {"SITE NUKE {my dir} 3 bad stuff", "my dir\\", "SITE NUKE {/r/} 3 bad stuff"},
        {"SITE UNNUKE {d} fine", "d\\", "SITE UNNUKE {/r/} fine"},
        {"SITE NUKE {d 3 x", "", "", "502 } not found in directory name."},
        {"SITE NUKE {} 3 x", "", "", "501 No directory was specified"},
        {"SITE NUKE {d} 3", "d\\", "SITE NUKE {/r/} 3"},
        {"SITE NUKE d", nullptr, ""},
        {"SITE SEARCH -f -l -5 {d} x y", "d\\", "SITE SEARCH -f -l -5 {/r/} x y"},
        {"SITE SEARCH x", "./", "SITE SEARCH   {/r/} x"},
        {"SITE SEARCH {d x", "", "", "502 } not found in directory name."},
        {"SITE SEARCH {} x", "", "", "501 No directory was specified."},
        {"SITE NEW", "./", "SITE NEW /r/"},
        {"SITE NEW 150 d", "d", "SITE NEW 99 /r/"},
        {"SITE DIRINFO -R d", "d", "SITE DIRINFO -R /r/"},
        // Refused inside every alias: only the path counts.
        {"SITE DIRMIRROR 2 d", "d", ""},
        {"SITE FRATIO f", "f", ""},
        {"SITE WIPE f", "f", "SITE WIPE /r/"},
        {"SITE PURGETREE d", "d", "SITE PURGETREE /r/"},
        {"SITE PURGETREE", nullptr, ""},
        {"SITE DISKINFO", nullptr, ""},
    };
    for (const auto& c : cases) {
        const Args args = Words(c.line);
        const AliasSiteLine p = PlanAliasSiteLine(StringUtil::Uppered(args[1]), args);
        if (*c.error) {
            EXPECT_EQ(p.errorCode + " " + p.errorText, c.error) << c.line;
            continue;
        }
        EXPECT_EQ(p.local, c.typed == nullptr) << c.line;
        if (!c.typed) continue;
        EXPECT_EQ(p.typed, c.typed) << c.line;
        if (*c.forwarded) {
            EXPECT_EQ(p.Line("/r/"), c.forwarded) << c.line;
        }
    }
    const AliasSiteLine restree = PlanAliasSiteLine("RESTREE", Words("SITE RESTREE d"));
    EXPECT_EQ(restree.Line("/"), "SITE RESTREE");
    EXPECT_TRUE(PlanAliasSiteLine("CHMOD", Words("SITE CHMOD -R 7 d")).recursive);
    EXPECT_TRUE(PlanAliasSiteLine("CHMOD", Words("SITE CHMOD 7 d")).exactAliasDirectory);
}

TEST(RemoteText, PasswordsStayOutOfLogs) {
    const struct {
        const char* line;
        const char* logged;
    } cases[] = {
        {"SITE REMOTE ADDALIAS {a b} h 21 u secret /pub", "SITE REMOTE ADDALIAS {a b} h 21 u"},
        {"SITE REMOTE ADDALIAS {a h 21 u secret", "SITE REMOTE ADDALIAS"},
        {"site remote change {a} PASSWORD secret", "site remote change {a} PASSWORD"},
        {"SITE REMOTE CHANGE {a} port 21", "SITE REMOTE CHANGE {a} port 21"},
        {"SITE REMOTE TUNNEL {a} PASS secret", "SITE REMOTE TUNNEL {a} PASS"},
        {"SITE REMOTE TUNNEL {a} NOOP", "SITE REMOTE TUNNEL {a} NOOP"},
        {"SITE REMOTE ALIASES", "SITE REMOTE ALIASES"},
        {"SITE CHPASS u secret", "SITE CHPASS u secret"},
    };
    for (const auto& c : cases) {
        const Args logged = LoggableRemoteArgs(Words(c.line));
        std::string joined = logged.empty() ? "" : logged[0];
        if (logged.size() > 1) joined += " " + Join(logged);
        EXPECT_EQ(joined, c.logged) << c.line;
    }
}

}  // namespace
}  // namespace orvex
