// A changed user record travels to every server that holds a copy: the servers where the user
// is logged in through our aliases, its home server when it is a user of another server, and the
// servers where our own user is logged in.

#include <algorithm>

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/accounts/UserName.h"
#include "server/accounts/UserStore.h"
#include "server/app/OnlineRegistry.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/remote/AliasStore.h"
#include "server/remote/SharedNames.h"

namespace orvex {

Talk AliasStore::SendUpdate(uint32_t connection, std::string_view directory,
                            const std::string& line, const std::string& path) {
    return WithSiteConnection(connection, directory, [&](RemoteConnection& c) {
        const std::optional<PassiveAddress> pasv = OpenPassive(c);
        if (!pasv) return Talk::Broken;
        const RemoteReply r = c.Exchange(line, kForwardSeconds);
        if (!r.Complete()) return Talk::Broken;
        if (r.Begins('2')) return Talk::Done;
        if (!r.Begins('1')) return Talk::Refused;
        return SendUserFile(c, *pasv, path) > 0 ? Talk::Done : Talk::Broken;
    });
}

void AliasStore::PropagateUser(uint32_t connection, const std::string& name) {
    {
        // Most sites share nobody: nothing to find out then.
        LockGuard g(lock_);
        bool typeD = false;
        for (const auto& alias : aliases_) typeD = typeD || alias.data.record.serverType == 'D';
        if (!typeD) return;
    }
    std::string stored;
    const std::optional<UserRecord> rec = site_.Users().FindUser(name, &stored);
    if (!rec) return;
    const std::string base = BaseUserName(stored);
    const std::string path = site_.MakeDataPath("users/", stored);

    // 1. The servers where the user works through our type D aliases.
    std::vector<std::string> entered;
    std::vector<uint32_t> sessions;
    for (const OnlineSessionInfo& info : site_.Registry().SessionsOf(stored))
        sessions.push_back(info.connection);
    {
        LockGuard g(lock_);
        for (const auto& alias : aliases_)
            for (const auto& node : alias.data.userPool)
                if (node.data && std::find(sessions.begin(), sessions.end(),
                                           static_cast<uint32_t>(node.id)) != sessions.end()) {
                    entered.push_back(alias.data.record.directory);
                    break;
                }
    }
    const std::string update =
        StringUtil::Format("SITE REMOTE UPDATE %s 0 %s %u", base.c_str(), rec->homeServer.c_str(),
                           static_cast<unsigned>(rec->homePort));
    for (const std::string& directory : entered) SendUpdate(connection, directory, update, path);

    // 2. Its home server, when it came in through one of our aliases.
    if (const std::optional<AliasRecord> home = HomeAliasOf(stored)) {
        const std::string local =
            StringUtil::Format("SITE REMOTE UPDATE %s 0 LOCAL %u", base.c_str(),
                               static_cast<unsigned>(site_.Config().GetServerPort()));
        Talk t = SendUpdate(connection, home->directory, local, path);
        // The home may have forgotten the user: introduce it again, then try once more.
        if (t != Talk::Done && SendSharedLogin(connection, home->directory, stored))
            t = SendUpdate(connection, home->directory, local, path);
        if (t != Talk::Done) {
            site_.Registry().KickUser(stored, 0);
            const std::string shown = FileUtil::Slashed(home->directory);
            site_.LogProgram("MAIN",
                             "Unable to update information for shared user '%s' on alias '%s' "
                             "(%s kicked).",
                             stored.c_str(), shown.c_str(), stored.c_str());
        }
    }

    // 3. The servers where our own user is logged in. A user of another server shares only
    // its base name with ours.
    if (IsSharedName(stored)) return;
    for (const SharedConnection& s : ListSharedConnections()) {
        if (!StringUtil::EqualNoCase(BaseUserName(s.user), base)) continue;
        const std::optional<SharedName> parts = SplitSharedName(s.user);
        if (!parts || parts->port == 0) continue;
        const std::string line =
            StringUtil::Format("SITE REMOTE UPDATE %s 0 %s %u", base.c_str(), parts->server.c_str(),
                               static_cast<unsigned>(parts->port));
        SendUpdate(connection, s.alias, line, path);
    }
}

}  // namespace orvex
