// SITE commands that show accounts: FLAGS, PERMISSIONS, SHOW, USERDATA and USERSYNC.

#include "engine/StringUtil.h"
#include "engine/TextFileReply.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/session/SiteSession.h"
#include "server/site/accounts/AccountCommands.h"
#include "server/site/accounts/SiteAccounts.h"

namespace orvex::site {

namespace {

struct Letter {
    char letter;
    const char* line;  // with "%c" for the mark
};

constexpr Letter kFlagLines[] = {
    {'1', "    [%c]SITEOP     -1-"}, {'2', "    [%c]GADMIN     -2-"},
    {'3', "    [%c]GLOCK      -3-"}, {'4', "    [%c]EXEMPT     -4-"},
    {'6', "    [%c]DELETED    -6-"}, {'7', "    [%c]USEREDIT   -7-"},
    {'8', "    [%c]ANONYMOUS  -8-"}, {'A', "    [%c]NUKE       -A-"},
    {'B', "    [%c]UNNUKE     -B-"}, {'C', "    [%c]UNDUPE     -C-"},
    {'D', "    [%c]KICK       -D-"}, {'E', "    [%c]KILL       -E-"},
    {'F', "    [%c]TAKE       -F-"}, {'G', "    [%c]GIVE       -G-"},
    {'H', "    [%c]USERS      -H-"}, {'I', "    [%c]IDLER      -I-"},
    {'J', "    [%c]DISKINFO   -J-"}, {'R', "    [%c]REMOTE     -R-"},
};

constexpr Letter kPermissionLines[] = {
    {'l', "    [%c]LIST       -l-"},        {'v', "    [%c]RECURSIVE  -v-"},
    {'c', "    [%c]CWD        -c-"},        {'p', "    [%c]PWD        -p-"},
    {'s', "    [%c]SYST/STAT  -s-"},        {'t', "    [%c]SITE       -t-"},
    {'d', "    [%c]DOWNLOAD   -d-"},        {'u', "    [%c]UPLOAD     -u-"},
    {'o', "    [%c]DELE       -o-"},        {'a', "    [%c]RENAME     -a-"},
    {'m', "    [%c]MKD        -m-"},        {'n', "    [%c]RMD        -n-"},
    {'r', "    [%c]READ (d)          -r-"}, {'w', "    [%c]WRITE (uoamn)     -w-"},
    {'x', "    [%c]EXECUTE (lvcpst)  -x-"},
};

// FLAGS and PERMISSIONS: the user (default the issuer) and a marked line per letter.
template <size_t N>
int ListLetters(SiteSession& s, const Args& args, const char* title, const Letter (&lines)[N],
                bool flags, const char* footer, const char* usage) {
    std::string name = args.size() > 2 ? args[2] : s.UserName();
    const std::optional<UserRecord> record = s.Server().Users().FindUser(name, &name);
    if (!record) {
        s.Respond(args, "Invalid user.", "501");
        return 0;
    }
    const std::string& held = flags ? record->flags : record->permissions;
    s.Line(StringUtil::Format(title, name.c_str()));
    s.Line(" ");
    for (const Letter& l : lines) {
        const char mark = held.find(l.letter) != std::string::npos ? '*' : ' ';
        s.Line(StringUtil::Format(l.line, mark));
    }
    s.Line(" ");
    s.Line(footer);
    s.Line(usage);
    s.Respond(args, "Command successful.", "200");
    return 1;
}

// The user file's lines as help files are sent; false (after replying) for an unknown user.
bool SendUserFile(SiteSession& s, const Args& args, std::string& name) {
    if (!s.Server().Users().FindUser(args[2], &name)) {
        s.Respond(args, StringUtil::Format("User '%s' does not exist.", args[2].c_str()), "501");
        return false;
    }
    TextFileReply::Send(s.Replies(), s.Server().MakeDataPath("users/", name), "200", std::nullopt,
                        1);
    return true;
}

}  // namespace

int Flags(SiteSession& s, const Args& args) {
    return ListLetters(s, args, " FLAGS for user %s ...", kFlagLines, true,
                       " A '*' denotes an enabled flag.  Only sysop users may change flags.",
                       " Use SITE CHANGE <USER> FLAGS +/-VALUE to change.");
}

int Permissions(SiteSession& s, const Args& args) {
    return ListLetters(
        s, args, " PERMISSIONS for user %s ...", kPermissionLines, false,
        " A '*' denotes an enabled permission.  Only sysop users may change permissions.",
        " Use SITE CHANGE <USER> PERMISSIONS +/-VALUE to change.");
}

int Show(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.show");
    std::string name;
    if (!SendUserFile(s, args, name)) return 0;
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

int UserData(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.userdata");
    std::string name;
    if (!SendUserFile(s, args, name)) return 0;
    // The operator's stored password is for operators only: with it another server would let
    // in anyone who knows it as that account.
    const std::optional<UserRecord> issuer = IssuerRecord(s);
    const std::optional<UserRecord> target = s.Server().Users().FindUser(name);
    const bool withheld =
        target && target->HasFlag(kFlagSiteop) && !(issuer && issuer->HasFlag(kFlagSiteop));
    const std::optional<Account> account = s.Server().Accounts().FindAccount(name);
    const std::string password = account && !withheld ? account->password : std::string();
    s.RespondWithSecret(args, StringUtil::Format("Command successful (%s).", password.c_str()),
                        password, "200");
    return 1;
}

int UserSync(SiteSession& s, const Args& args) {
    UserStore& users = s.Server().Users();
    unsigned total = 0;
    for (const auto& n : users.ListUsers(UserStore::kAllUsers)) {
        users.FindUser(n.name.value_or(""));
        ++total;
    }
    s.Respond(args, StringUtil::Format("User information synchronized (%u total users).", total),
              "200");
    return 1;
}

}  // namespace orvex::site
