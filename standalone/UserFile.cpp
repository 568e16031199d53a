#include "standalone/UserFile.h"

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "engine/Tokenizer.h"
#include "engine/os/AtomicFile.h"

namespace orvex {

namespace {

std::string Bounded(const std::string& s, size_t max) {
    std::string out = s;
    StringUtil::Truncate(out, max);
    return out;
}

}  // namespace

UserLine ParseUserLine(std::string_view line, UserRecord& out) {
    std::string text(line.substr(0, kUserFilePiece));
    StringUtil::StripEol(text);
    const size_t hash = text.find('#');
    if (hash != std::string::npos) text.resize(hash);
    // Spaces before a trailing comment are not part of the last field.
    while (!text.empty() && text.back() == ' ') text.pop_back();
    const Args fields = Tokenizer(kUserFilePiece + 1).Split(text, ';');
    if (fields.size() < 4) return UserLine::Skipped;

    out = UserRecord{};
    out.account.user = Bounded(fields[0], kUserNameMax);
    out.account.password = Bounded(fields[1], kPasswordFieldMax);
    std::string home = Bounded(fields[2], kHomeFieldMax);
    FileUtil::ToBackslashes(home);
    FileUtil::AddTrailingSep(home);
    out.account.home = home;
    out.permissions = Bounded(fields[3], kPermissionsMax);
    return FileUtil::IsDirectory(home) ? UserLine::Loaded : UserLine::BadHome;
}

std::optional<int> LoadUserFile(const std::string& path, UserList& out, FILE* warnings) {
    out.Clear();
    UniqueFile file = FileUtil::OpenFile(path, "r");
    if (!file) return std::nullopt;
    int added = 0;
    char piece[kUserFilePiece + 1];
    while (std::fgets(piece, sizeof piece, file.get())) {
        UserRecord user;
        const UserLine result = ParseUserLine(piece, user);
        if (result == UserLine::BadHome) {
            if (warnings) {
                std::fprintf(warnings, "WARNING: invalid home directory \"%s\" for user %s.\n",
                             user.account.home.c_str(), user.account.user.c_str());
            }
            continue;
        }
        if (result != UserLine::Loaded || out.FindName(user.account.user, true)) continue;
        out.Create(static_cast<int32_t>(out.MaxId() + 1), user.account.user, user);
        ++added;
    }
    return added;
}

std::string FormatUserLine(const UserRecord& user) {
    return user.account.user + ';' + user.account.password + ';' + user.account.home + ';' +
           user.permissions + '\n';
}

bool AppendUserLine(const std::string& path, const UserRecord& user) {
    // Through the project's one durable appender, which also ends a hand-edited last line.
    return AppendLine(path, FormatUserLine(user));
}

}  // namespace orvex
