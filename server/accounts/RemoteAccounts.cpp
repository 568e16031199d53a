// Loading of the shared-user file: the store follows the file's changes like its other tables.

#include "server/accounts/AccountStore.h"

namespace orvex {

void AccountStore::ConfigureRemote(std::string remotePasswdFile) {
    LockGuard g(remoteLock_);
    remoteFile_.SetPath(std::move(remotePasswdFile));
}

bool AccountStore::LoadRemoteAccounts() {
    LockGuard g(remoteLock_);
    // The entries themselves come with the shared users; until then the table stays empty.
    return remoteFile_.Refresh([](const std::string&) {}, log_);
}

}  // namespace orvex
