// PASS for users of other servers: names of the "user$home$port" form, and names this server
// does not know, which the servers behind its sharing aliases are asked for.

#include "engine/Clock.h"
#include "engine/StringUtil.h"
#include "engine/TextFileReply.h"
#include "engine/os/AtomicFile.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/PasswordCipher.h"
#include "server/accounts/UserName.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/remote/AliasSession.h"
#include "server/remote/SharedNames.h"
#include "server/session/LoginPolicy.h"

namespace orvex {

std::optional<AliasRecord> AliasSession::FetchUnknownUser() {
    const std::string name = user_;
    for (const AliasRecord& alias : server_.Aliases().SharingAliases()) {
        const std::string shared = MakeSharedName(name, alias.address, alias.port);
        if (!IsValidSharedName(shared)) continue;
        std::optional<UserData> data;
        const Talk t = server_.Aliases().WithSiteConnection(
            ConnectionNumber(), alias.directory, [&](RemoteConnection& c) {
                const RemoteReply r = c.Exchange("SITE USERDATA " + name, kForwardSeconds);
                if (!r.Complete()) return Talk::Broken;
                if (!r.Begins('2')) return Talk::Refused;
                data = ReadUserDataReply(r.lines);
                return data ? Talk::Done : Talk::Refused;
            });
        if (t != Talk::Done) continue;
        // Written only when it reads as a user file, and then whole or not at all; without the
        // administering flags unless the operator trusts the peers with them.
        UserRecord parsed;
        if (!ParseUserFile(data->file, shared, parsed, {})) continue;
        const bool stripped =
            !server_.Config().GetTrustPeerAdminFlags() && KeepAuthorityHere(parsed, nullptr);
        if (!WriteFileAtomically(server_.MakeDataPath("users/", shared),
                                 stripped ? FormatUserFile(parsed) : data->file))
            continue;
        server_.Accounts().AddRemoteLogin(
            shared, data->hash, Clock::NowSeconds() + kTemporaryPasswordSeconds, alias.localPath);
        user_ = shared;
        return alias;
    }
    return std::nullopt;
}

int AliasSession::Pass(const Args& args) {
    std::optional<AliasRecord> fetched;
    // A local user is never looked for elsewhere.
    if (!IsSharedName(user_) && IsValidLocalName(user_) && !server_.Users().HasUser(user_))
        fetched = FetchUnknownUser();
    if (!IsSharedName(user_)) return SiteSession::Pass(args);
    return SharedPass(args, fetched);
}

int AliasSession::SharedPass(const Args& args, const std::optional<AliasRecord>& fetched) {
    const Args logged{args.empty() ? std::string("PASS") : args[0]};
    std::string typed = args.size() > 1 ? args[1] : std::string();
    StringUtil::Truncate(typed, kPasswordSignificant);
    if (typed.empty()) return RefuseLogin(logged, "No password entered.");
    std::string stored;
    std::optional<UserRecord> user;
    if (IsValidSharedName(user_)) user = server_.Users().FindUser(user_, &stored);
    if (!user) return RefuseLogin(logged, "Unknown user.");
    user_ = stored;

    const bool addressOk = AddressAllowed(*user, peerIp_);
    // Each stored password serves one attempt.
    AccountStore& accounts = server_.Accounts();
    const std::optional<RemoteAccount> entry = accounts.GetRemoteLogin(user_);
    accounts.ExpireRemoteLogin(user_);
    const bool passwordOk =
        entry && entry->expiry > Clock::NowSeconds() &&
        orvex::VerifyPassword(entry->account.password, BaseUserName(user_), typed);
    if (!addressOk) {
        if (!passwordOk) return RefuseLogin(logged, "Login failure.");
        LogLoginEvent("Bad host.");
        Respond(logged,
                SetMessage("\"%s\" is not valid for the account specified.", peerIp_.c_str()),
                "530");
        return 0;
    }
    if (!passwordOk) return RefuseLogin(logged, "Login failure.");
    if (!SetUpHome(HomeDirectory(entry->account.home), *user)) {
        Respond(logged, SetMessage("User %s has an invalid home directory.", user_.c_str()), "530",
                true, false, false, 1);
        return RefuseLogin(logged, "Login failure.");
    }
    if (fetched &&
        !server_.Aliases().SendSharedLogin(ConnectionNumber(), fetched->directory, user_)) {
        const std::string ip = server_.Config().GetSiteIp();
        const unsigned port = server_.Config().GetServerPort();
        Respond(logged,
                ip.empty() ? std::string("Remote site was unable to connect back to this site.")
                           : StringUtil::Format(
                                 "Remote site was unable to connect back to this site (%s:%u).",
                                 ip.c_str(), port),
                "530", false);
        Respond(logged, SetMessage("User %s cannot login.", user_.c_str()), "530");
        return 0;
    }
    if (!AdmitLogin(logged, *user)) return 0;
    if (fetched) {
        // Listed only once logged in: a failed attempt sends no updates home.
        server_.Aliases().AddSharedUser(fetched->directory, user_);
        const std::string welcome = server_.MakeDataPath("misc/", "welcome.msg");
        if (!welcome.empty()) TextFileReply::Send(Replies(), welcome, "230", std::nullopt, 1);
    }
    AdoptSharedGroup(server_, user_);
    Respond(logged, SetMessage("User %s logged in.", BaseUserName(user_).c_str()), "230");
    return 1;
}

}  // namespace orvex
