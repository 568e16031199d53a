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

bool MirrorStore::HasMirrorId(int32_t id) const {
    LockGuard g(lock_);
    if (id <= 0) return false;
    for (const auto& group : mirrors_)
        if (group.id == id) return true;
    return false;
}

}  // namespace orvex
