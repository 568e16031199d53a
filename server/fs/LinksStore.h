#pragma once
// Directory links: directories from elsewhere on disk shown at a place in the site tree. The
// table lives in etc/links under the root path and is re-read whenever that file changes.

#include <optional>
#include <string>

#include "engine/FileStamp.h"
#include "engine/KeyedList.h"
#include "engine/ThreadUtil.h"

namespace orvex {

class ServerSite;

struct DirectoryLink {
    std::string linkDir;  // where the link appears
    std::string realDir;  // what it shows
};

class LinksStore {
  public:
    explicit LinksStore(ServerSite& site);
    LinksStore(const LinksStore&) = delete;
    LinksStore& operator=(const LinksStore&) = delete;

    // 1 read or unchanged; 0 when the file cannot be examined or read (the table is kept).
    int LoadLinks();

  private:
    ServerSite& site_;
    mutable Lock lock_;
    std::optional<FileStamp> stamp_;
    KeyedList<DirectoryLink> links_{"Directory Links List Header"};
};

}  // namespace orvex
