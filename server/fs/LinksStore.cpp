#include "server/fs/LinksStore.h"

#include "server/app/DataFile.h"
#include "server/app/ServerSite.h"

namespace orvex {

LinksStore::LinksStore(ServerSite& site) : site_(site) {}

int LinksStore::LoadLinks() {
    LockGuard g(lock_);
    // The lines are not taken into the table yet.
    return ReloadTableFile(site_, site_.MakeRootPath("etc/", "links"), stamp_,
                           TableFileMessages{"WARNING: unable to access file %s.",
                                             "WARNING: unable to open file %s for reading."},
                           [](const std::string&) { return true; });
}

}  // namespace orvex
