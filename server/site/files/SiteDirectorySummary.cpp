#include "server/site/files/SiteDirectorySummary.h"

#include <limits>
#include <string_view>
#include <unordered_map>

#include "engine/FileUtil.h"
#include "server/accounts/AccountStore.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"

namespace orvex {

namespace {

class Summariser {
  public:
    explicit Summariser(ServerSite& site) : site_(site) {}

    void Count(int64_t owner, double bytes, bool directory) {
        if (directory)
            ++out.directories;
        else {
            ++out.files;
            out.bytes += bytes;
        }
        OwnerSummary* entry = EntryOf(owner);
        if (!entry) return;
        if (directory)
            ++entry->directories;
        else {
            ++entry->files;
            entry->bytes += bytes;
        }
    }

    DirectorySummary out;

  private:
    // The owner's entry, made when first met; null for an id without a passwd name.
    OwnerSummary* EntryOf(int64_t owner) {
        auto found = positions_.find(owner);
        if (found == positions_.end()) {
            std::string name = kSystemOwner;
            const bool named =
                owner == kNoOwner || site_.Accounts().UserNameOf(static_cast<int32_t>(owner), name);
            size_t at = kNone;
            if (named) {
                at = out.owners.size();
                out.owners.push_back(OwnerSummary{owner, std::move(name)});
                if (owner != kNoOwner) ++out.ownerCount;
            }
            found = positions_.emplace(owner, at).first;
        }
        return found->second == kNone ? nullptr : &out.owners[found->second];
    }

    static constexpr size_t kNone = std::numeric_limits<size_t>::max();
    ServerSite& site_;
    std::unordered_map<int64_t, size_t> positions_;
};

}  // namespace

std::optional<DirectorySummary> SummariseDirectory(ServerSite& site, const std::string& dir,
                                                   bool recursive) {
    Filesystem& files = site.Files();
    Summariser summary(site);
    const bool read = FileUtil::WalkTree(
        dir,
        [&](const std::string& path, int, std::vector<FileUtil::DirEntry>& entries) {
            const std::optional<DirectoryRecord> record = files.GetDirectory(path, true);
            std::unordered_map<std::string_view, uint32_t> fileOwners;
            if (record && record->files)
                for (const FileRecord& f : *record->files) fileOwners.emplace(f.name, f.owner);
            for (const FileUtil::DirEntry& e : entries) {
                if (e.type == FileUtil::EntryType::Directory) {
                    const std::optional<DirectoryRecord> sub =
                        files.GetDirectory(path + e.name + "\\", false);
                    summary.Count(sub ? int64_t{sub->owner} : kNoOwner, 0, true);
                    continue;
                }
                auto owner = fileOwners.find(e.name);
                summary.Count(owner == fileOwners.end() ? kNoOwner : int64_t{owner->second},
                              static_cast<double>(e.size), false);
            }
            return true;
        },
        recursive ? std::numeric_limits<int>::max() : 0);
    if (!read) return std::nullopt;
    return std::move(summary.out);
}

}  // namespace orvex
