#include "server/remote/AliasStore.h"

#include "server/app/DataFile.h"
#include "server/app/ServerSite.h"

namespace orvex {

AliasStore::AliasStore(ServerSite& site) : site_(site) {}

int AliasStore::Load() {
    LockGuard g(lock_);
    // The lines are not taken into the table yet.
    return ReloadTableFile(
        site_, site_.MakeRootPath("etc/", "remote.aliases"), stamp_,
        TableFileMessages{"WARNING: unable to access alias file '%s'.",
                          "WARNING: unable to open alias file '%s' for reading."},
        [](const std::string&) { return true; });
}

int AliasStore::ExpireIdleConnections() {
    return 0;
}

}  // namespace orvex
