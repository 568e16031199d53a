// The creation time is the birth time, else the modification time: never the status-change
// time, which every chmod or rename moves.

#include "engine/FileTimes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

namespace orvex {
namespace {

TEST(FileTimes, CreationIsBirthElseModificationNeverChange) {
    char dir[] = "/tmp/orvex-times-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/f";
    const int64_t made = time(nullptr);
    std::ofstream(path) << "12345";
    timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);

    const int64_t created = FileUtil::CreationTime(path);
    EXPECT_NE(created, st.st_ctime);
    EXPECT_TRUE(created == 1000000000 || (created >= made - 1 && created <= made + 1)) << created;
    FileUtil::EntryTimes t;
    ASSERT_TRUE(FileUtil::ReadEntryTimes(path, t, true));
    EXPECT_EQ(t.modifySeconds, 1000000000);
    EXPECT_EQ(t.size, 5u);
    EXPECT_EQ(FileUtil::CreationTime(std::string(dir) + "/missing"), 0);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace orvex
