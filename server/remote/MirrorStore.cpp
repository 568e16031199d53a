#include "server/remote/MirrorStore.h"

#include "server/app/DataFile.h"
#include "server/app/ServerSite.h"

namespace orvex {

MirrorStore::MirrorStore(ServerSite& site) : site_(site) {}

int MirrorStore::Load() {
    LockGuard g(lock_);
    // The lines are not taken into the table yet.
    return ReloadTableFile(site_, site_.MakeRootPath("etc/", "remote.mirrors"), stamp_,
                           TableFileMessages{"WARNING: unable to access file %s.",
                                             "WARNING: unable to open file %s for reading."},
                           [](const std::string&) { return true; });
}

}  // namespace orvex
