#include "server/fs/LinksStore.h"

#include "engine/StringUtil.h"
#include "engine/os/AtomicFile.h"
#include "server/app/DataFile.h"
#include "server/app/ServerSite.h"
#include "server/fs/RecordFormat.h"

namespace orvex {

LinksStore::LinksStore(ServerSite& site) : site_(site) {}

std::string LinksStore::FilePath() const {
    return site_.MakeRootPath("etc/", "links");
}

void LinksStore::RestampLocked(const std::string& path) {
    FileStamp now;
    if (ReadFileStamp(path, now)) stamp_ = now;
}

int LinksStore::LoadLinks() {
    LockGuard g(lock_);
    return ReloadTableFile(
        site_, FilePath(), stamp_,
        TableFileMessages{"WARNING: unable to access file %s.",
                          "WARNING: unable to open file %s for reading."},
        [this](const std::string& text) {
            KeyedList<DirectoryLink> fresh(links_.ListName());
            RecordFormat::ForEachRecord(text, [&fresh](const RecordFormat::Fields& f) {
                std::optional<DirectoryLink> l = RecordFormat::ParseLinkLine(f);
                if (!l || fresh.FindName(l->linkDir, true)) return;
                const int32_t id = static_cast<int32_t>(fresh.MaxId()) + 1;
                std::string key = l->linkDir;
                fresh.Create(id, std::move(key), std::move(*l));
            });
            links_ = std::move(fresh);
            return true;
        });
}

std::optional<DirectoryLink> LinksStore::FindLink(std::string_view path) const {
    LockGuard g(lock_);
    const DirectoryLink* best = nullptr;
    for (const auto& node : links_) {
        const std::string& dir = node.data.linkDir;
        if (dir.size() > path.size() || (best && dir.size() <= best->linkDir.size())) continue;
        if (StringUtil::EqualNoCase(path.substr(0, dir.size()), dir)) best = &node.data;
    }
    if (!best) return std::nullopt;
    return *best;
}

int LinksStore::AddLink(std::string_view linkDir, std::string_view realDir) {
    LoadLinks();
    DirectoryLink link{std::string(linkDir.substr(0, kLinkPathMax)),
                       std::string(realDir.substr(0, kLinkPathMax))};
    const std::string line = RecordFormat::FormatLinkLine(link);
    LockGuard g(lock_);
    if (links_.FindName(link.linkDir, true)) return 2;
    const std::string path = FilePath();
    if (line.empty() || path.empty() || !AppendLine(path, line)) return 0;
    const int32_t id = static_cast<int32_t>(links_.MaxId()) + 1;
    std::string key = link.linkDir;
    links_.Create(id, std::move(key), std::move(link));
    RestampLocked(path);
    return 1;
}

int LinksStore::RemoveLink(std::string_view linkDir) {
    LoadLinks();
    LockGuard g(lock_);
    auto* node = links_.FindName(linkDir, true);
    if (!node) return 0;
    links_.Release(node);
    std::string text = RecordFormat::kLinksHeader;
    for (const auto& n : links_) text += RecordFormat::FormatLinkLine(n.data);
    const std::string path = FilePath();
    if (path.empty() || !WriteFileAtomically(path, text)) return 0;
    RestampLocked(path);
    return 1;
}

KeyedList<DirectoryLink> LinksStore::ListLinks() {
    LoadLinks();
    LockGuard g(lock_);
    KeyedList<DirectoryLink> copy("links list header");
    for (const auto& n : links_) copy.Create(n.id, n.name, n.data);
    return copy;
}

}  // namespace orvex
