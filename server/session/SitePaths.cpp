// The two views of the current directory (the site's and the engine's) and the helpers the
// overridden commands share: path mapping through the links, owners, limits and durations.

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/UserStore.h"
#include "server/app/OnlineRegistry.h"
#include "server/app/ServerSite.h"
#include "server/fs/LinksStore.h"
#include "server/fs/RecordFormat.h"
#include "server/session/ScopedMapping.h"
#include "server/session/SiteSession.h"

namespace orvex {

namespace {

constexpr const char* kUnknownOwner = "system";
constexpr const char* kInboxNotice =
    " You have messages in INBOX. Type SITE MSG READ to read them.";

bool StartsWithSep(std::string_view s) {
    return !s.empty() && (s.front() == '\\' || s.front() == '/');
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

}  // namespace

SiteSession::MappedPath SiteSession::MapPath(std::string_view typed) {
    MappedPath m;
    const std::string full = FileUtil::Resolve(siteRoot_, siteDir_, typed);
    if (full.empty()) return m;
    m.savedRoot = root_;
    m.savedCwd = cwd_;
    std::string newRoot;
    std::string_view rest;
    bool change = false;
    if (const std::optional<DirectoryLink> link = server_.Links().FindLink(full)) {
        rest = std::string_view(full).substr(link->linkDir.size());
        change = root_ != link->realDir || !StartsWith(rest, cwd_) || StartsWithSep(typed);
        newRoot = link->realDir;
    } else if (FileUtil::SkipPrefixNoCase(full, siteRoot_, rest)) {
        change = root_ != siteRoot_ || !StartsWith(rest, cwd_);
        newRoot = siteRoot_;
    }
    if (!change) return m;
    m.path = std::string(rest);
    root_ = std::move(newRoot);
    cwd_.clear();
    return m;
}

void SiteSession::RestorePath(const MappedPath& mapped) {
    if (!mapped.path) return;
    root_ = mapped.savedRoot;
    cwd_ = mapped.savedCwd;
}

std::string SiteSession::FormatDuration(int64_t start, int64_t end) {
    const uint64_t span = end > start ? static_cast<uint64_t>(end - start) : 0;
    auto u = [](uint64_t v) { return static_cast<unsigned long long>(v); };
    if (span >= 86400)
        return StringUtil::Format("%llud %lluh", u(span / 86400), u(span % 86400 / 3600));
    if (span < 3600) return StringUtil::Format("%llum %llus", u(span / 60), u(span % 60));
    return StringUtil::Format("%lluh %llum", u(span / 3600), u(span % 3600 / 60));
}

std::string SiteSession::OwnerName(std::optional<uint32_t> owner) {
    if (!owner) return kUnknownOwner;
    std::string name;
    if (!server_.Accounts().UserNameOf(static_cast<int32_t>(*owner), name)) name.clear();
    return name;
}

bool SiteSession::MayChange(const Args& args, const std::string& shown,
                            std::optional<uint32_t> owner, std::string* ownerName) {
    const std::string name = OwnerName(owner);
    if (ownerName) *ownerName = name;
    if (HasFlag("1", user_) || StringUtil::EqualNoCase(name, user_)) return true;
    Respond(args, SetMessage("%s: Permission denied.", shown.c_str()), "550");
    return false;
}

bool SiteSession::IsStorableLeaf(std::string_view path) {
    std::string p(path);
    FileUtil::StripTrailingSep(p);
    const size_t sep = p.find_last_of("\\/");
    const std::string_view leaf =
        sep == std::string::npos ? std::string_view(p) : std::string_view(p).substr(sep + 1);
    return !FileUtil::IsForbiddenName(leaf) && RecordFormat::IsStorableText(leaf);
}

bool SiteSession::TransferLimitReached(const Args& args, int kind) {
    const std::optional<UserRecord> user = server_.Users().FindUser(user_);
    const int32_t limit = !user ? -1 : kind == kDownload ? user->maxDownloads : user->maxUploads;
    if (limit == -1 || server_.Registry().CountTransfers(user_, kind) < limit) return false;
    Respond(args,
            kind == kDownload ? "You have reached your maximum simultaneous downloads allowed."
                              : "You have reached your maximum simultaneous uploads allowed.",
            "553");
    return true;
}

void SiteSession::NoteInbox(const Args& args, std::string_view code) {
    const std::string inbox = server_.MakeDataPath("msgs/", user_);
    if (!inbox.empty() && FileUtil::Kind(inbox) == 2)
        Respond(args, kInboxNotice, code, true, false, false, 1);
}

bool SiteSession::ResolveChecked(const Args& args, const std::string& typed,
                                 std::string_view letters, std::string& full,
                                 std::string* engineRoot) {
    ScopedMapping mapped(*this, typed);
    const std::string& request = mapped.Or(typed);
    if (!CheckAccess(args[0].c_str(), &request, letters, false)) return false;
    full = FileUtil::Resolve(root_, cwd_, request);
    if (engineRoot) *engineRoot = root_;
    if (!full.empty()) return true;
    Respond(args, "ERROR: unable to set directory path.", "450", true, true, true);
    return false;
}

int SiteSession::RunMapped(const Args& args, const char* verb,
                           const std::function<int(const Args&)>& run, bool directoryForm,
                           size_t first) {
    if (args.size() <= first) return run(args);
    std::string typed = Join(args, 0, first);
    if (directoryForm && !typed.empty()) FileUtil::AddTrailingSep(typed);
    ScopedMapping mapped(*this, typed);
    if (!mapped.Mapped()) return run(args);
    std::string path = mapped.Path();
    if (directoryForm) FileUtil::StripTrailingSep(path);
    Args runArgs(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(first));
    runArgs.front() = verb;
    runArgs.push_back(path);
    return run(runArgs);
}

}  // namespace orvex
