// SITE REMOTE CHANGE: shows or sets one field of an alias; a change closes its pooled
// connections.

#include <cctype>
#include <limits>

#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/remote/AliasSession.h"
#include "server/remote/RemoteCommands.h"
#include "server/site/SiteBraced.h"
#include "server/site/SiteCommandSupport.h"

namespace orvex::remote {

namespace {

struct Field {
    const char* name;
    const char* description;  // path fields describe themselves with their value
    const char* done;
    const char* invalid;
    // Sets the field; false when the value does not fit it.
    bool (*apply)(AliasRecord&, const std::string&);
};

bool Number(const std::string& value, uint32_t& out) {
    int64_t v = 0;
    if (!site::ReadNumberIn(value, 0, std::numeric_limits<uint32_t>::max(), v)) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

char First(const std::string& value) {
    return value.empty() ? '\0'
                         : static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
}

const Field kFields[] = {
    {"address", " address  [Str] Address of the aliased server", " Address successfully changed.",
     nullptr,
     [](AliasRecord& r, const std::string& v) {
         r.address = v.substr(0, kAliasTextMax);
         return true;
     }},
    {"encmode", " encmode  [Num] Encryption mode (0 = clear, 2 = SSLv2, 3 = SSLv3)",
     " Encryption mode successfully changed.", " Invalid encryption mode (must be 0, 2, or 3).",
     [](AliasRecord& r, const std::string& v) {
         uint32_t mode = 0;
         if (!Number(v, mode) || (mode != 0 && mode != 2 && mode != 3)) return false;
         r.encMode = mode;
         return true;
     }},
    {"local_path", nullptr, nullptr, nullptr,
     [](AliasRecord& r, const std::string& v) {
         r.localPath = AliasFile::LocalForm(v.substr(0, kAliasFieldCut));
         return true;
     }},
    {"num_logins", " num_logins  [Num] Max number of allowed logins",
     " Number of logins successfully changed.", " Invalid number of logins.",
     [](AliasRecord& r, const std::string& v) { return Number(v, r.maxLogins); }},
    {"password", " password  [Str] Password on the aliased server",
     " Password successfully changed.", "Password length must not exceed 16 characters.",
     [](AliasRecord& r, const std::string& v) {
         if (v.size() > kAliasPasswordMax) return false;
         r.password = AliasFile::EncryptPassword(r.user, v);
         return true;
     }},
    {"port", " port  [Num] Listening port of the aliased server", " Port successfully changed.",
     " Invalid port number.",
     [](AliasRecord& r, const std::string& v) {
         uint32_t port = 0;
         if (!Number(v, port) || port > 65535) return false;
         r.port = port;
         return true;
     }},
    {"remote_path", nullptr, nullptr, nullptr,
     [](AliasRecord& r, const std::string& v) {
         r.remotePath = AliasFile::RemoteForm(v.substr(0, kAliasFieldCut));
         return true;
     }},
    {"server_type", " server_type  [D/G] D = ORVEX server, G = Generic server",
     " Server type successfully changed.", " Invalid server type (must be D or G).",
     [](AliasRecord& r, const std::string& v) {
         const char t = First(v);
         if (t != 'D' && t != 'G') return false;
         r.serverType = t;
         return true;
     }},
    {"share_users", " share_users  [0/1] 0 = don't share users, 1 = share users (N/A for Generic)",
     " Share users status successfully changed.", " Invalid value (must be 0 or 1).",
     [](AliasRecord& r, const std::string& v) {
         const char c = First(v);
         if (c != '0' && c != '1') return false;
         r.shareUsers = c == '1' ? 1 : 0;
         return true;
     }},
    {"timeout", " timeout  [Num] Number of idle seconds before a connection is dropped",
     " Timeout successfully changed.", " Invalid timeout.",
     [](AliasRecord& r, const std::string& v) { return Number(v, r.timeout); }},
    {"username", " username  [Str] Username on the aliased server",
     " Username successfully changed.", nullptr,
     [](AliasRecord& r, const std::string& v) {
         // The password was stored under the old name.
         const std::string user = v.substr(0, kAliasTextMax);
         const std::optional<std::string> plain = AliasFile::DecryptPassword(r.user, r.password);
         r.user = user;
         if (plain) r.password = AliasFile::EncryptPassword(user, *plain);
         return true;
     }},
};

constexpr const char* kFieldList[] = {
    " Valid fields & descriptions:",
    " ",
    " address           [Str] Address of the aliased server",
    " port              [Num] Listening port of the aliased server",
    " username          [Str] Username on the aliased server",
    " password          [Str] Password on the aliased server",
    " remote_path       [Str] Path to go to on the aliased server",
    " server_type       [D/G] D = ORVEX server, G = Generic server",
    " num_logins        [Num] Max number of allowed logins",
    " share_users       [0/1] 0 = don't share users, 1 = share (N/A for Generic)",
    " local_path        [Str] Local path for shared users (N/A for Generic)",
    " encmode           [Num] Encryption mode (0 = clear, 2 = SSLv2, 3 = SSLv3)",
    " timeout           [Num] Num idle seconds before a connection is dropped",
};

// The line that tells a path field's value, set or shown.
std::string PathLine(const Field& f, const std::string& alias, const AliasRecord& r, bool set) {
    const bool local = std::string_view(f.name) == "local_path";
    const std::string& value = local ? r.localPath : r.remotePath;
    return StringUtil::Format(
        local ? (set ? " Local path for %s changed to %s" : " Local path for %s is set to %s")
              : (set ? " Remote path for %s changed to %s" : " Remote path for %s is set to %s"),
        alias.c_str(), value.c_str());
}

int Done(AliasSession& s, const Args& args) {
    s.Respond(args, "Done", "200");
    return 1;
}

}  // namespace

int Change(AliasSession& s, const Args& args) {
    const BracedName b = ParseBraced(args, 3);
    if (b.error == 1) {
        s.Respond(args, "No alias directory was specified", "501");
        return 0;
    }
    if (b.error == 2) {
        s.Respond(args, "} not found in directory name.", "502");
        return 0;
    }
    const size_t i = 3 + b.used;
    if (args.size() <= i) {
        s.Respond(args, "Insufficient parameters.", "503");
        return 0;
    }
    const std::string typed = b.name.substr(0, b.name.size() - 1);
    const std::string dir = s.ResolveDirectory(b.name);
    AliasStore& store = s.Server().Aliases();
    const std::optional<AliasRecord> old = store.GetAlias(dir);
    if (!old) {
        s.Respond(args, StringUtil::Format("Alias '%s' does not exist.", typed.c_str()), "500");
        return 0;
    }
    const Field* field = nullptr;
    for (const Field& f : kFields)
        if (StringUtil::EqualNoCase(f.name, args[i])) field = &f;
    if (!field) {
        for (const char* line : kFieldList) s.Line(line);
        return Done(s, args);
    }
    std::string shown;
    if (!s.SiteRelative(dir, shown)) shown = typed;
    shown = "/" + shown;
    if (args.size() == i + 1) {
        s.Line(field->description ? field->description : PathLine(*field, shown, *old, false));
        return Done(s, args);
    }
    const std::string value = Join(args, 0, i + 1);
    AliasRecord changed = *old;
    if (!field->apply(changed, value)) {
        s.Line(field->invalid);
        return Done(s, args);
    }
    // A separator or comment mark would move every later field of the line.
    if (!AliasFile::IsStorable(value) || !AliasFile::IsStorable(changed)) {
        s.Line(" Alias values cannot hold ';', '#', TAB or line breaks.");
        return Done(s, args);
    }
    if (changed != *old && store.ChangeAlias(dir, changed) != 1) {
        s.Line(" Unable to store the alias.");
        return Done(s, args);
    }
    s.Line(field->done ? field->done : PathLine(*field, shown, changed, true));
    return Done(s, args);
}

}  // namespace orvex::remote
