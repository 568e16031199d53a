#pragma once
// Remote aliases: directories of the tree that stand for directories on other FTP servers. The
// table lives in etc/remote.aliases under the root path and is re-read whenever that file changes.

#include <optional>
#include <string>

#include "engine/FileStamp.h"
#include "engine/KeyedList.h"
#include "engine/ThreadUtil.h"

namespace orvex {

class ServerSite;

struct AliasRecord {
    std::string directory;
};

class AliasStore {
  public:
    explicit AliasStore(ServerSite& site);
    AliasStore(const AliasStore&) = delete;
    AliasStore& operator=(const AliasStore&) = delete;

    // 1 read or unchanged; 0 when the file cannot be found or read (the table is kept).
    int Load();
    // Closes pooled connections that stayed idle too long; how many were closed.
    int ExpireIdleConnections();

  private:
    ServerSite& site_;
    mutable Lock lock_;
    std::optional<FileStamp> stamp_;
    KeyedList<AliasRecord> aliases_{"Remote Aliases List Header"};
};

}  // namespace orvex
