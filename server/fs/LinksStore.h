#pragma once
// Directory links: directories from elsewhere on disk shown at a place in the site tree. The
// table lives in etc/links under the root path and is re-read whenever that file changes; link
// directories compare without regard to case.

#include <optional>
#include <string>
#include <string_view>

#include "engine/FileStamp.h"
#include "engine/KeyedList.h"
#include "engine/ThreadUtil.h"
#include "server/fs/FsRecords.h"

namespace orvex {

class ServerSite;

class LinksStore {
  public:
    explicit LinksStore(ServerSite& site);
    LinksStore(const LinksStore&) = delete;
    LinksStore& operator=(const LinksStore&) = delete;

    // 1 read or unchanged; 0 when the file cannot be examined or read (the table is kept).
    int LoadLinks();
    // The link whose link directory is the longest prefix of `path` (any case).
    std::optional<DirectoryLink> FindLink(std::string_view path) const;
    // 1 added, 2 the link directory has a link already, 0 failure (file not written, or a path
    // the file cannot hold).
    int AddLink(std::string_view linkDir, std::string_view realDir);
    // 1 removed and the file rewritten; 0 not found, or not written (the link is gone from
    // memory all the same).
    int RemoveLink(std::string_view linkDir);
    KeyedList<DirectoryLink> ListLinks();

  private:
    std::string FilePath() const;
    void RestampLocked(const std::string& path);

    ServerSite& site_;
    mutable Lock lock_;
    std::optional<FileStamp> stamp_;
    KeyedList<DirectoryLink> links_{"Directory Links List Header"};
};

}  // namespace orvex
