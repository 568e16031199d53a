// Messages between users: the inbox of a user is the file named like the user in msgs/, the
// trash the same name with ".purge"; SITE MSG reads, keeps and sends them.

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "engine/TextFileReply.h"
#include "engine/os/AtomicFile.h"
#include "server/accounts/UserName.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/session/SiteSession.h"
#include "server/site/SiteCommandSupport.h"
#include "server/site/community/CommunityCommands.h"
#include "server/site/community/MessageFiles.h"

namespace orvex {

namespace {

constexpr const char* kTrashSuffix = ".purge";
constexpr const char* kNoMessages = "You do not have any messages waiting to be read.";

// READ, TREAD, SAVE and PURGE of the issuer's own files.
int MessageBox(SiteSession& s, const Args& args, const std::string& inbox,
               const std::string& trash) {
    const std::string& what = args[2];
    auto done = [&](const char* text) {
        s.Respond(args, text, "200");
        return 1;
    };
    if (StringUtil::EqualNoCase(what, "READ")) {
        // Taken first, so what is shown is exactly what moves to the trash.
        const std::optional<std::string> taken = TakeMessages(inbox);
        if (!taken) return done(kNoMessages);
        TextFileReply::Send(s.Replies(), *taken, "200", std::nullopt, 1);
        PutMessages(*taken, trash, inbox);
        s.Line(" ");
        return done("Messages moved to TRASH.  Type SITE MSG SAVE to keep them.");
    }
    if (StringUtil::EqualNoCase(what, "TREAD")) {
        if (FileUtil::Kind(trash) != 2) return done(kNoMessages);
        TextFileReply::Send(s.Replies(), trash, "200", std::nullopt, 1);
        s.Line(" ");
        return done("Type SITE MSG PURGE to delete these messages now.");
    }
    if (StringUtil::EqualNoCase(what, "SAVE")) {
        if (!MoveMessages(trash, inbox)) return done("Your TRASH is empty.");
        return done("Your messages have been moved to the INBOX.");
    }
    if (StringUtil::EqualNoCase(what, "PURGE")) {
        FileUtil::RemoveFile(trash);
        return done("Your TRASH has been emptied.");
    }
    s.Respond(args, "Error: no message specified.", "501");
    return 0;
}

enum class Recipients { kSingle, kList, kMass };

}  // namespace

std::string SiteSession::InboxOf(std::string_view user) {
    // Only names of existing users name message files, under their stored spelling.
    std::string stored;
    if (!IsValidUserName(user) || !server_.Users().HasUser(user, &stored)) return {};
    return server_.MakeDataPath("msgs/", stored.empty() ? user : std::string_view(stored));
}

bool SiteSession::SendMessage(std::string_view recipient, std::string_view text) {
    const std::string path = InboxOf(recipient);
    if (path.empty()) return false;
    const std::string when = FtpSite::FormatTime("%a %b %d %H:%M:%S %Y", Clock::NowSeconds());
    std::string message = "\nFrom: " + user_ + " (" + when + ")\n";
    message.append(74, '-');
    message += '\n';
    message.append(text);
    message += '\n';
    // One write, so that two senders never mix their messages.
    return AppendRecord(path, message);
}

namespace site {

int Msg(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.msg");
    if (args.size() == 3) {
        const std::string inbox = s.Server().MakeDataPath("msgs/", s.UserName());
        if (inbox.empty()) {
            s.Respond(args, "ERROR: out of memory.", "451");
            return 0;
        }
        return MessageBox(s, args, inbox, inbox + kTrashSuffix);
    }

    Recipients kind = Recipients::kSingle;
    std::vector<std::string> names;
    size_t next = 3;
    const std::string& first = args[2];
    if (IsPattern(first) || first[0] == '=') {
        const std::optional<UserRecord> issuer = IssuerRecord(s);
        if (!issuer || !issuer->HasFlag(kFlagSiteop)) {
            s.Respond(args, kNoAccess, "550");
            return 0;
        }
        kind = Recipients::kMass;
        const std::string mask = StringUtil::Lowered(first);
        for (const auto& n : s.Server().Users().ListUsers(UserStore::kAllUsers)) {
            const std::string name = n.name.value_or("");
            const bool chosen = first[0] == '='
                                    ? StringUtil::EqualNoCase(n.data.group, first.substr(1))
                                    : StringUtil::WildcardMatch(mask, StringUtil::Lowered(name));
            if (chosen) names.push_back(name);
        }
    } else if (first == "{") {
        kind = Recipients::kList;
        while (next < args.size() && args[next] != "}") names.push_back(args[next++]);
        if (next == args.size()) {
            s.Respond(args, "} not found in list of usernames.", "503");
            return 0;
        }
        ++next;
    } else {
        names.push_back(first);
    }

    const std::string text = Join(args, 0, next);
    int sent = 0;
    for (const std::string& name : names) {
        const char* shown = name.c_str();
        if (kind == Recipients::kMass) {
            if (!text.empty() && s.SendMessage(name, text)) ++sent;
            continue;
        }
        const bool list = kind == Recipients::kList;
        if (text.empty()) {
            s.Line(StringUtil::Format(" Error sending message to %s.", shown));
        } else if (!s.Server().Users().HasUser(name)) {
            s.Line(list ? StringUtil::Format(" Error sending message to %s.", shown)
                        : StringUtil::Format(" User '%s' does not exist.", shown));
        } else if (s.SendMessage(name, text)) {
            s.Line(list ? StringUtil::Format(" Successfully sent message to %s", shown)
                        : StringUtil::Format(" Message sent successfully to %s.", shown));
        } else {
            s.Line(StringUtil::Format(" Error sending message to %s", shown));
        }
    }
    if (kind == Recipients::kMass) s.Line(StringUtil::Format(" Message sent to %d users.", sent));
    s.Respond(args, "Done", "200");
    return 1;
}

}  // namespace site
}  // namespace orvex
