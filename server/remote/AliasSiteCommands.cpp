// SITE sub-commands inside an alias: the filesystem commands are forwarded with the remote path
// or refused where the remote server cannot know them, and custom commands of kind D or G are
// passed on; outside an alias the site session's own commands answer.

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/remote/AliasSession.h"
#include "server/remote/AliasSiteLine.h"
#include "server/site/SiteCommandSupport.h"
#include "server/site/SiteCommandTable.h"

namespace orvex {

namespace {

struct AliasRule {
    const char* name;
    // The answer inside an alias that is not another orvex (null: forwarded to any alias).
    const char* refusal;
    const char* code;
    // The refusal holds inside every alias.
    bool everyAlias = false;
};

constexpr AliasRule kRules[] = {
    {"CHMOD", nullptr, nullptr},
    {"CHOWN", "SITE CHOWN is unavailable for this path.", "502"},
    {"DELTREE", "SITE DELTREE is unavailable for this path.", "502"},
    {"DIRINFO", "Directory information is unavailable for this path.", "502"},
    {"DIRMIRROR", "Directory mirrors do not apply to this path.", "501", true},
    {"DISKINFO", "Disk information is unavailable for this path.", "502"},
    {"DUPEENABLE", "SITE DUPEENABLE is unavailable for this path.", "502"},
    {"FRATIO", "File/Directory ratios do not apply to this path.", "501", true},
    {"NEW", "SITE NEW is unavailable for this path.", "502"},
    {"NUKE", "SITE NUKE is unavailable for this path.", "503"},
    {"PURGETREE", "SITE PURGETREE is unavailable for this path.", "502"},
    {"RESTREE", "SITE RESTREE is unavailable for this path.", "502"},
    {"SEARCH", "SITE SEARCH is unavailable for this path.", "504"},
    {"UNNUKE", "SITE UNNUKE is unavailable for this path.", "503"},
    {"WIPE", "SITE WIPE is unavailable for this path.", "502"},
};

int AliasCommand(SiteSession& s, const Args& args) {
    // These rows are only ever found through an alias session.
    return static_cast<AliasSession&>(s).SiteAliasCommand(args);
}

constexpr SiteCommand kRows[] = {
    {"CHMOD", AliasCommand, "CHMOD"},
    {"CHOWN", AliasCommand, "CHOWN"},
    {"DELTREE", AliasCommand, "DELTREE"},
    {"DIRINFO", AliasCommand, "DIRINFO"},
    {"DIRMIRROR", AliasCommand, "DIRMIRROR"},
    {"DISKINFO", AliasCommand, "DISKINFO"},
    {"DUPEENABLE", AliasCommand, "DUPEENABLE"},
    {"FRATIO", AliasCommand, "FRATIO"},
    {"NEW", AliasCommand, "NEW"},
    {"NUKE", AliasCommand, "NUKE"},
    {"PURGETREE", AliasCommand, "PURGETREE"},
    {"RESTREE", AliasCommand, "RESTREE"},
    {"SEARCH", AliasCommand, "SEARCH"},
    {"UNNUKE", AliasCommand, "UNNUKE"},
    {"WIPE", AliasCommand, "WIPE"},
};

const AliasRule* FindRule(std::string_view name) {
    for (const AliasRule& r : kRules)
        if (name == r.name) return &r;
    return nullptr;
}

}  // namespace

const SiteCommand* AliasSession::FindSiteCommand(std::string_view name) const {
    if (const SiteCommand* row = FindSiteCommandIn(kRows, name)) return row;
    return SiteSession::FindSiteCommand(name);
}

int AliasSession::SiteAliasCommand(const Args& args) {
    const std::string name = StringUtil::Uppered(args[1]);
    const AliasRule* rule = FindRule(name);
    auto local = [&]() {
        // The access check of the row already ran, under the same name.
        const SiteCommand* own = SiteSession::FindSiteCommand(name);
        return own ? own->handler(*this, args) : SiteSession::SiteCustomCommand(args);
    };
    const AliasSiteLine plan = PlanAliasSiteLine(name, args);
    if (!rule || plan.local) return local();
    if (!plan.errorCode.empty()) {
        Respond(args, plan.errorText, plan.errorCode);
        return 0;
    }
    const std::optional<AliasTarget> t =
        TargetOf(plan.typed, plan.directory || plan.exactAliasDirectory);
    if (!t) return local();
    if (plan.exactAliasDirectory) {
        const std::string written = FileUtil::Resolve(siteRoot_, siteDir_, plan.typed);
        if (StringUtil::EqualNoCase(ResolveDirectory(plan.typed), t->alias.directory) &&
            written.size() != t->alias.directory.size())
            return local();
    }
    if (rule->refusal && (rule->everyAlias || t->alias.serverType != 'D')) {
        Respond(args, rule->refusal, rule->code);
        return 0;
    }
    if (plan.recursive && name == "CHMOD" && !HasFlag("1", user_)) {
        Respond(args, site::kNoAccess, "550");
        return 0;
    }
    return RelayOr(args, t->alias.directory,
                   ForwardToAlias(t->alias.directory, plan.Line(t->remote)),
                   "ERROR: unable to run SITE " + name + " command.");
}

int AliasSession::SiteCustomCommand(const Args& args) {
    std::optional<CustomCommand> command;
    if (args.size() >= 2) command = server_.Config().FindCustomCommand(args[1]);
    // Kind G goes into any alias, kind D only to other servers of this kind.
    const bool forwarded = command && (command->scope == 'D' || command->scope == 'G');
    const std::optional<AliasRecord> alias = forwarded ? CurrentAlias() : std::nullopt;
    if (!alias) return SiteSession::SiteCustomCommand(args);
    const std::string name = StringUtil::Uppered(args[1]);
    if (!CheckSiteAccess(name)) {
        Respond(args, site::kNoAccess, "550");
        return 0;
    }
    if (command->scope == 'D' && alias->serverType != 'D') {
        Respond(args, SetMessage("SITE %s is unavailable for this path.", name.c_str()), "502");
        return 0;
    }
    std::string line = "SITE " + args[1];
    if (args.size() > 2) line += ' ' + Join(args, 0, 2);
    return RelayOr(args, alias->directory, ForwardToAlias(alias->directory, line),
                   "ERROR: unable to run SITE " + name + " command.");
}

}  // namespace orvex
