// What transfers cost and earn, and the statistics they leave, through the user store's one
// read-modify-write step so that two transfers of one user never lose each other's change.

#include "engine/Clock.h"
#include "server/accounts/Credits.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/fs/Filesystem.h"

namespace orvex {

int ServerSite::TakeCredits(const std::string& path, uint32_t connection, const std::string& user,
                            uint64_t bytes, int applyRatio) {
    if (user.empty()) return 0;
    // Asked before the user store is locked: the two stores' locks are never nested.
    const int32_t ratio = filesystem_->EffectiveRatio(path);
    Credits::Charge charge = Credits::Charge::Insufficient;
    const UserStore::Update result = users_->UpdateUser(
        user,
        [&](UserRecord& r) {
            charge = Credits::Take(r, ratio, bytes, applyRatio != 0);
            return charge == Credits::Charge::Charged;
        },
        connection, UserStore::Change::Counters);
    if (result == UserStore::Update::Unknown) return 0;
    return charge == Credits::Charge::Insufficient ? 0 : 1;
}

int ServerSite::AddCredits(const std::string& path, uint32_t connection, const std::string& user,
                           uint64_t bytes, int applyRatio) {
    if (user.empty()) return 0;
    const int32_t ratio = filesystem_->EffectiveRatio(path);
    int32_t earned = 0;
    const UserStore::Update result = users_->UpdateUser(
        user,
        [&](UserRecord& r) {
            earned = Credits::EarningRatio(r, ratio);
            return Credits::Add(r, ratio, bytes, applyRatio != 0);
        },
        connection, UserStore::Change::Counters);
    const bool done = result == UserStore::Update::Saved || result == UserStore::Update::Unchanged;
    // An upload's file remembers what it earned, for the take-back when it is deleted.
    if (done && applyRatio != 0) filesystem_->SetEarnedRatio(path, earned);
    return done ? 1 : 0;
}

int ServerSite::RecordTransfer(uint32_t connection, const std::string& user, uint64_t bytes,
                               uint32_t rate, bool upload) {
    if (user.empty()) return 0;
    const UserStore::Update result = users_->UpdateUser(
        user,
        [&](UserRecord& r) {
            Credits::RecordTransfer(r, upload, bytes, rate);
            return true;
        },
        connection, UserStore::Change::Counters);
    return result == UserStore::Update::Saved ? 1 : 0;
}

int ServerSite::RecordDownload(uint32_t connection, const std::string& user, uint64_t bytes,
                               uint32_t rate) {
    return RecordTransfer(connection, user, bytes, rate, false);
}

int ServerSite::RecordUpload(uint32_t connection, const std::string& user, uint64_t bytes,
                             uint32_t rate) {
    return RecordTransfer(connection, user, bytes, rate, true);
}

int ServerSite::RunDailyPass(int64_t now) {
    if (now == 0) now = Clock::NowSeconds();
    if (!dailyPass_.Due(now)) return 0;
    int saved = 0;
    for (const auto& node : users_->ListUsers(UserStore::kAllUsers)) {
        if (!node.name) continue;
        // Only users whose period ended are written: rewriting every user file would gain
        // nothing and could overwrite a hand edit made at that instant.
        const UserStore::Update result = users_->UpdateUser(
            *node.name, [now](UserRecord& r) { return Credits::ApplyPeriodResets(r, now); }, 0,
            UserStore::Change::Counters);
        if (result == UserStore::Update::Saved) ++saved;
    }
    return saved;
}

}  // namespace orvex
