#include "engine/Listing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "engine/FileUtil.h"
#include "engine/FtpSite.h"

using namespace orvex;

namespace {

struct TempDir {
    std::string os;  // Linux form
    TempDir() {
        char tmpl[] = "/tmp/orvex-listing-XXXXXX";
        os = mkdtemp(tmpl);
    }
    ~TempDir() {
        std::string cmd = "rm -rf '" + os + "'";
        (void)!std::system(cmd.c_str());
    }
    std::string File(const std::string& name, const std::string& body, mode_t mode) const {
        const std::string p = os + "/" + name;
        std::ofstream(p, std::ios::binary) << body;
        chmod(p.c_str(), mode);
        std::string internal = p;
        FileUtil::ToBackslashes(internal);
        return internal;
    }
};

TEST(ListingOutput, SendsWholeBlocksAndCountsWhatWasWritten) {
    std::vector<size_t> writes;
    ListingOutput out([&](const char*, size_t n) {
        writes.push_back(n);
        return true;
    });
    const std::string line(1000, 'a');
    for (int i = 0; i < 9; ++i) ASSERT_TRUE(out.Append(line));
    EXPECT_EQ(writes, (std::vector<size_t>{4096, 4096}));
    EXPECT_EQ(out.Total(), 8192u);
    ASSERT_TRUE(out.Flush());
    EXPECT_EQ(writes.back(), 9000u - 8192u);
    EXPECT_EQ(out.Total(), 9000u);
    ASSERT_TRUE(out.Flush());  // nothing buffered: no empty write
    EXPECT_EQ(writes.size(), 3u);

    // A line larger than the buffer is split over whole blocks too.
    writes.clear();
    ASSERT_TRUE(out.Append(std::string(10000, 'b')));
    EXPECT_EQ(writes, (std::vector<size_t>{4096, 4096}));
    out.Drop();
    ASSERT_TRUE(out.Flush());
    EXPECT_EQ(writes.size(), 2u);  // dropped bytes are never sent
}

TEST(ListingOutput, WriterFailureStopsEverything) {
    int calls = 0;
    ListingOutput out([&](const char*, size_t) {
        ++calls;
        return false;
    });
    EXPECT_TRUE(out.Append("short\r\n"));
    EXPECT_FALSE(out.Flush());
    EXPECT_TRUE(out.Failed());
    EXPECT_FALSE(out.Append(std::string(5000, 'x')));
    EXPECT_FALSE(out.Flush());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(out.Total(), 0u);
}

TEST(BaseListingLine, FieldsOfAFile) {
    TempDir dir;
    const std::string path = dir.File("notes.txt", "hello", 0644);
    const std::string year = FtpSite::FormatTime("%Y");
    const std::string line = BaseListingLine(path, year, "owner", "group");
    EXPECT_EQ(line.rfind("-rw-r--r--   1 owner    group             5 ", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 10), " notes.txt");
    // This year's file shows the time of day.
    const std::string date = line.substr(44, 12);
    EXPECT_EQ(date[6], ' ');
    EXPECT_EQ(date[9], ':') << date;

    // Owner and group are cut to eight characters.
    const std::string cut = BaseListingLine(path, year, "averylongowner", "group123456");
    EXPECT_NE(cut.find(" averylon group123 "), std::string::npos) << cut;

    EXPECT_EQ(BaseListingLine(path + "missing", year, "o", "g"), "");
}

TEST(BaseListingLine, OldFilesShowTheYearAndDirectoriesAreMarked) {
    TempDir dir;
    const std::string path = dir.File("old", "x", 0600);
    struct tm t {};
    t.tm_year = 2003 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 5;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    utimbuf times{mktime(&t), mktime(&t)};
    ASSERT_EQ(utime(FileUtil::OsPath(path).c_str(), &times), 0);
    const std::string line = BaseListingLine(path, FtpSite::FormatTime("%Y"), "owner", "group");
    EXPECT_NE(line.find(" Jan 05  2003 old"), std::string::npos) << line;
    // Without a current year the time of day stays.
    EXPECT_NE(BaseListingLine(path, "", "owner", "group").find(" Jan 05 12:00 old"),
              std::string::npos);

    std::string d = dir.os;
    FileUtil::ToBackslashes(d);
    FileUtil::AddTrailingSep(d);
    const std::string dirLine = BaseListingLine(d, "", "owner", "group");
    EXPECT_EQ(dirLine[0], 'd') << dirLine;
    EXPECT_EQ(dirLine.back(), ' ');  // a path ending in a separator has an empty name
}

TEST(BaseListingLine, StaysWithinTheLineBuffer) {
    TempDir dir;
    const std::string path = dir.File(std::string(250, 'n'), "", 0644);
    EXPECT_EQ(BaseListingLine(path, "", "owner", "group").size(), 255u);
}

}  // namespace
