// SITE REMOTE ADDMIRROR, DEFMIRROR and DELMIRROR: the entries of the mirror table.

#include <cstdint>
#include <limits>

#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/remote/AliasSession.h"
#include "server/remote/MirrorStore.h"
#include "server/remote/RemoteCommands.h"
#include "server/site/SiteCommandSupport.h"

namespace orvex::remote {

namespace {

constexpr int64_t kMaxId = std::numeric_limits<int32_t>::max();

// The entry text of an alias argument: "LOCAL" (any case) is the local tree, anything else a
// directory of the tree.
std::string MirrorAlias(AliasSession& s, const std::string& typed) {
    if (StringUtil::EqualNoCase(typed, "LOCAL") || StringUtil::EqualNoCase(typed, kMirrorLocal))
        return kMirrorLocal;
    return s.ResolveDirectory(typed);
}

// The id of DEFMIRROR and DELMIRROR; false after answering its refusal.
bool ExistingGroupId(AliasSession& s, const Args& args, int32_t& id) {
    int64_t value = 0;
    if (!site::ReadNumberIn(args[3], 1, kMaxId, value)) {
        s.Respond(
            args,
            StringUtil::Format("%s: Invalid MirrorID (must be a number > 0).", args[3].c_str()),
            "501");
        return false;
    }
    id = static_cast<int32_t>(value);
    return true;
}

}  // namespace

int AddMirror(AliasSession& s, const Args& args) {
    int64_t id = 0, weight = 0;
    if (!site::ReadNumberIn(args[3], 0, kMaxId, id)) {
        s.Respond(
            args,
            StringUtil::Format("%s: Invalid MirrorID (must be a number >= 0).", args[3].c_str()),
            "501");
        return 0;
    }
    if (!site::ReadNumberIn(args[4], 1, std::numeric_limits<uint32_t>::max(), weight)) {
        s.Respond(args,
                  StringUtil::Format("%s: Invalid Weight (must be a number > 0).", args[4].c_str()),
                  "502");
        return 0;
    }
    const std::string typed = Join(args, 0, 5);
    const std::string alias = MirrorAlias(s, typed);
    if (!MirrorFile::IsLocal(alias) && !s.Server().Aliases().GetAlias(alias)) {
        s.Respond(args, StringUtil::Format("%s: Invalid Alias.", typed.c_str()), "503");
        return 0;
    }
    switch (s.Server().Mirrors().AddMirror(static_cast<int32_t>(id), alias,
                                           static_cast<uint32_t>(weight))) {
        case 1:
            s.Respond(args, "Mirror successfully added.", "200");
            return 1;
        case 2:
            s.Respond(args,
                      StringUtil::Format("Alias already exists for mirrorid = %u.",
                                         static_cast<unsigned>(id)),
                      "504");
            return 0;
        default:
            s.Respond(args, "Error adding mirror.", "505");
            return 0;
    }
}

int DefMirror(AliasSession& s, const Args& args) {
    int32_t id = 0;
    if (!ExistingGroupId(s, args, id)) return 0;
    const std::string alias = MirrorAlias(s, Join(args, 0, 4));
    if (s.Server().Mirrors().SetDefaultMirror(id, alias) != 1) {
        s.Respond(args, "Invalid mirror.", "502");
        return 0;
    }
    s.Respond(args, "Default mirror successfully set.", "200");
    return 1;
}

int DelMirror(AliasSession& s, const Args& args) {
    int32_t id = 0;
    if (!ExistingGroupId(s, args, id)) return 0;
    const std::string alias = MirrorAlias(s, Join(args, 0, 4));
    if (s.Server().Mirrors().DeleteMirror(id, alias) != 1) {
        s.Respond(args, "Invalid mirror.", "502");
        return 0;
    }
    s.Respond(args, "Mirror successfully deleted.", "200");
    return 1;
}

}  // namespace orvex::remote
