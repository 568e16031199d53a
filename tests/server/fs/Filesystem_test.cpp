// Background write-backs and checks of the filesystem table: the shutdown waits while one runs,
// so the flag must cover the whole run of the thread.

#include "server/fs/Filesystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/Clock.h"
#include "server/app/ServerSite.h"

namespace orvex {
namespace {

bool WaitIdle(const Filesystem& fs) {
    for (int i = 0; i < 500 && fs.Busy(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !fs.Busy();
}

void WaitForNextSecond(int64_t than) {
    for (int i = 0; i < 300 && Clock::NowSeconds() <= than; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TEST(FilesystemWork, BusyFromTheStartUntilTheWorkIsDone) {
    ServerSite site;
    Filesystem& fs = site.Files();
    const int64_t syncedAt = fs.LastSyncTime();
    const int64_t checkedAt = fs.LastCheckTime();
    WaitForNextSecond(std::max(syncedAt, checkedAt));

    ASSERT_EQ(fs.StartSync(), 1);
    // Either still running or already done: never idle with the work still to come.
    EXPECT_TRUE(fs.Busy() || fs.LastSyncTime() > syncedAt);
    ASSERT_TRUE(WaitIdle(fs));
    EXPECT_GT(fs.LastSyncTime(), syncedAt);

    ASSERT_EQ(fs.StartCheck(), 1);
    EXPECT_TRUE(fs.Busy() || fs.LastCheckTime() > checkedAt);
    ASSERT_TRUE(WaitIdle(fs));
    EXPECT_GT(fs.LastCheckTime(), checkedAt);

    // The flag is released, so the next one starts again.
    EXPECT_EQ(fs.StartSync(), 1);
    EXPECT_TRUE(WaitIdle(fs));
}

}  // namespace
}  // namespace orvex
