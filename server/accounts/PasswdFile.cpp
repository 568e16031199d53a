#include "server/accounts/PasswdFile.h"

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "engine/Tokenizer.h"
#include "server/accounts/AccountText.h"

namespace orvex {
namespace {

// Room for the absolute form's leading and trailing separators within the home field.
constexpr size_t kHomeInputMax = 262;

std::string Cut(std::string_view s, size_t max) {
    return std::string(s.substr(0, max));
}

}  // namespace

std::string ReadHomeField(std::string_view field, std::string_view rootPath) {
    std::string h(field);
    FileUtil::ToSlashes(h);
    if (h.empty()) return h;
    if (h.rfind("./", 0) == 0) {
        if (rootPath.empty()) return {};
        std::string root(rootPath);
        FileUtil::ToBackslashes(root);
        FileUtil::AddTrailingSep(root);
        return Cut(root + AccountText::RelativePath(h), kAccountHomeMax);
    }
    // A value whose absolute form fits is kept whole, so that written homes read back unchanged.
    std::string abs = AccountText::AbsolutePath(h);
    if (abs.size() > kAccountHomeMax)
        abs = Cut(AccountText::AbsolutePath(Cut(h, kHomeInputMax)), kAccountHomeMax);
    return abs;
}

void ParsePasswdFile(std::string_view text, std::string_view rootPath, KeyedList<Account>& out) {
    const Tokenizer tokenizer(AccountText::kLineBuffer);
    AccountText::ForEachLine(text, [&](std::string_view line, int) {
        const Args f = tokenizer.Split(line, ';', true);
        if (f.size() < 6 || f[0].empty()) return;
        Account a;
        a.user = Cut(f[0], kAccountNameMax);
        if (out.FindName(a.user, true)) return;
        a.password = Cut(f[1], kAccountPasswordMax);
        a.uid = Cut(f[2], kAccountIdMax);
        a.gid = Cut(f[3], kAccountIdMax);
        a.added = Cut(f[4], kAccountDateMax);
        a.home = ReadHomeField(f[5], rootPath);
        const int32_t id = AccountText::NodeId(a.uid);
        std::string name = a.user;
        out.Create(id, std::move(name), std::move(a));
    });
}

std::string FormatPasswdLine(const Account& a, std::string_view rootPath) {
    std::string home = a.home;
    std::string_view rest;
    // Paths are case-sensitive here: only a true prefix is the root.
    if (!rootPath.empty() && home.size() >= rootPath.size() &&
        std::string_view(home).substr(0, rootPath.size()) == rootPath) {
        rest = std::string_view(home).substr(rootPath.size());
        home = "./" + FileUtil::Slashed(rest);
    }
    return a.user + ";" + a.password + ";" + a.uid + ";" + a.gid + ";" + a.added + ";" + home +
           "\n";
}

std::string FormatPasswdFile(const KeyedList<Account>& list, std::string_view rootPath) {
    std::string out =
        "# Username;EncryptedPassword;UserID;GroupID;DateAdded;HomeDir\n"
        "# NOTE: The \"HomeDir\" is the absolute path of the user's root dir.\n"
        "#\n";
    for (const auto& node : list) out += FormatPasswdLine(node.data, rootPath);
    return out;
}

bool IsWritableAccount(const Account& a) {
    using AccountText::IsTableField;
    return !a.user.empty() && IsTableField(a.user) && IsTableField(a.password) &&
           IsTableField(a.uid) && IsTableField(a.gid) && IsTableField(a.added) &&
           IsTableField(a.home);
}

}  // namespace orvex
