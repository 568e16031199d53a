#include "server/remote/AliasStore.h"

#include "engine/FileUtil.h"
#include "server/app/DataFile.h"
#include "server/app/ServerSite.h"

namespace orvex {

AliasStore::AliasStore(ServerSite& site) : site_(site) {}

int AliasStore::Load() {
    const std::string path = site_.MakeRootPath("etc/", "remote.aliases");
    if (path.empty()) return 0;
    LockGuard g(lock_);
    FileStamp stamp;
    std::string text;
    switch (ReadIfChanged(path, stamp_, stamp, text)) {
        case DataFileRead::Missing:
            site_.LogProgram("MAIN", "WARNING: unable to access alias file '%s'.",
                             FileUtil::OsPath(path).c_str());
            return 0;
        case DataFileRead::Unchanged:
            return 1;
        case DataFileRead::Unreadable:
            site_.LogProgram("MAIN", "WARNING: unable to open alias file '%s' for reading.",
                             FileUtil::OsPath(path).c_str());
            return 0;
        case DataFileRead::Read:
            break;
    }
    // The lines are not taken into the table yet.
    stamp_ = stamp;
    return 1;
}

int AliasStore::ExpireIdleConnections() {
    return 0;
}

}  // namespace orvex
