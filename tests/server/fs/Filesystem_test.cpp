// The filesystem records over a site folder: loading and repairing the tables, lookups and
// changes, inherited settings, what a write-back writes, the check against the disk, the dupe
// log, and the background work's busy flag.

#include "server/fs/Filesystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/Clock.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "tests/server/app/ConfigFixture.h"

namespace orvex {
namespace {

namespace fsys = std::filesystem;
using test::SiteFolder;

class FilesystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        for (const char* d : {"fs", "etc", "ftp-data/logs", "site/a/x", "site/ab", "site/b"})
            fsys::create_directories(folder_ / d);
        Configure("");
    }
    void Configure(const std::string& extra) {
        folder_.Write("etc/orvex.conf",
                      "rootpath " + folder_.path() + "\ndupe_check 7\nignore_type *.nfo\n" + extra);
        ASSERT_TRUE(site_.Config().Load(folder_ / "etc/orvex.conf"));
    }
    // Internal form of a directory or file under the folder.
    std::string P(const std::string& rel) const {
        std::string s = folder_.Internal() + rel;
        std::replace(s.begin(), s.end(), '/', '\\');
        return s;
    }
    std::string Read(const std::string& rel) const {
        std::ifstream in(folder_ / rel);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool Exists(const std::string& rel) const { return fsys::exists(folder_ / rel); }
    Filesystem& Fs() { return site_.Files(); }

    SiteFolder folder_;
    ServerSite site_;
};

TEST_F(FilesystemTest, LoadKeepsFirstLinesAndGivesUnusableIdsFreshOnes) {
    const std::string a = P("site/a/"), b = P("site/b/"), ab = P("site/ab/");
    folder_.Write("fs/orvex.fs", a + ";3;rwxr-x---;101;100;;0;0\n" + b +
                                     ";0;rwx------;102;100;;0\n" + ab +
                                     ";3;rwx------;103;100;;0;0\n" + a + ";9;---------;1;1;;0;0\n" +
                                     P("site/A/") + ";2;r--------;104;100;1;0;0\n");
    folder_.Write("fs/3.fs",
                  "f1;rw-r--r--;101;100;10;0\nf2;rw-------;101;100;20;1\nf1;---;1;1;1;0\n");
    folder_.Write("fs/0.fs", "g1;rw-r--r--;102;100;30;0\n");
    ASSERT_TRUE(Fs().Load());

    const auto ra = Fs().GetDirectory(a, true);
    ASSERT_TRUE(ra);
    EXPECT_EQ(ra->id, 3);
    EXPECT_EQ(ra->permissions, "rwxr-x---");
    ASSERT_EQ(ra->files->size(), 2u);
    EXPECT_EQ((*ra->files)[0].size, 10u);
    // Id 0 and the second holder of id 3 get the next free ids; only the first holder of a stored
    // id reads the files stored under it.
    EXPECT_EQ(Fs().GetDirectory(b, false)->id, 4);
    EXPECT_EQ(Fs().GetFile(b + "g1")->size, 30u);
    EXPECT_EQ(Fs().GetDirectory(ab, true)->id, 5);
    EXPECT_TRUE(Fs().GetDirectory(ab, true)->files->empty());
    // Case makes two keys.
    EXPECT_EQ(Fs().GetDirectory(P("site/A/"), false)->owner, 104u);
    EXPECT_FALSE(Fs().GetFile(a + "F1"));

    EXPECT_EQ(Fs().Sync(), 2);  // orvex.fs and the moved file list of b
    EXPECT_NE(Read("fs/orvex.fs").find(b + ";4;rwx------;102;100;-1;0;0\n"), std::string::npos);
    EXPECT_NE(Read("fs/4.fs").find("g1;rw-r--r--;102;100;30;0\n"), std::string::npos);
    EXPECT_EQ(Fs().SetDirectory(P("site/new/"), nullptr, 7, 7, -1, 0, 0, false), 1);
    EXPECT_EQ(Fs().GetDirectory(P("site/new/"), false)->id, 6);
    EXPECT_EQ(Fs().SetDirectory(P("site/new/"), "r", 8, 8, -1, 0, 0, false), 2);
    EXPECT_EQ(Fs().SetDirectory(P("site/new/"), nullptr, 0, 8, -1, 0, 0, true), 0);
}

TEST_F(FilesystemTest, DeletedRecordsAnswerNoLookupAndAreReplaced) {
    const std::string a = P("site/a/"), b = P("site/b/");
    ASSERT_EQ(Fs().SetDirectory(a, nullptr, 1, 1, 3, 0, 0, true), 1);
    ASSERT_EQ(Fs().SetDirectory(a + "x\\", nullptr, 1, 1, -1, 0, 0, true), 1);
    ASSERT_EQ(Fs().SetDirectory(P("site/ab/"), nullptr, 2, 2, -1, 0, 0, true), 1);
    ASSERT_EQ(Fs().SetDirectory(b, nullptr, 9, 9, 0, 0, 0, true), 1);
    ASSERT_EQ(Fs().SetFile(b + "old", nullptr, 9, 9, 5, 0), 1);
    const int32_t idA = Fs().GetDirectory(a, false)->id;
    const int32_t idB = Fs().GetDirectory(b, false)->id;
    ASSERT_EQ(Fs().Sync(), 2);
    ASSERT_TRUE(Exists("fs/" + std::to_string(idB) + ".fs"));

    // RMD b; RNFR a; RNTO b: the old b must not answer for the new one.
    EXPECT_EQ(Fs().DeleteDirectories(b), 1);
    EXPECT_FALSE(Fs().GetDirectory(b, false));
    EXPECT_EQ(Fs().EffectiveRatio(b + "f"), -1);
    EXPECT_EQ(Fs().MoveDirectories(a, b), 2);
    EXPECT_EQ(Fs().GetDirectory(b, false)->id, idA);
    EXPECT_EQ(Fs().GetDirectory(b + "x\\", false)->owner, 1u);
    // A file recorded in an unrecorded directory leaves it as closed as it was.
    ASSERT_EQ(Fs().SetFile(P("site/fresh/f"), nullptr, 7, 7, 1, 0), 1);
    EXPECT_EQ(Fs().GetDirectory(P("site/fresh/"), false)->permissions, "r-xr-xr-x");
    EXPECT_EQ(Fs().EffectiveRatio(b + "x\\f"), 3);
    EXPECT_FALSE(Fs().GetDirectory(a, false));
    EXPECT_EQ(Fs().GetDirectory(P("site/ab/"), false)->owner, 2u);
    EXPECT_EQ(Fs().ListDirectories(0, &b).Count(), 1u);

    Fs().Sync();
    EXPECT_FALSE(Exists("fs/" + std::to_string(idB) + ".fs"));
    const std::string table = Read("fs/orvex.fs");
    EXPECT_NE(table.find(b + ";" + std::to_string(idA) + ";"), std::string::npos);
    EXPECT_EQ(table.find(";" + std::to_string(idB) + ";"), std::string::npos);

    // A deleted file record is no file; setting it again brings it back.
    ASSERT_EQ(Fs().SetFile(b + "f", nullptr, 4, 4, 1, 0), 1);
    EXPECT_EQ(Fs().DeleteFileRecord(b + "f"), 1);
    EXPECT_FALSE(Fs().GetFile(b + "f"));
    EXPECT_EQ(Fs().DeleteFileRecord(b + "f"), 0);
    EXPECT_EQ(Fs().MoveFileRecord(b + "f", b + "g"), 0);
    ASSERT_EQ(Fs().SetFile(b + "f", nullptr, 5, 5, 1, 0), 1);
    EXPECT_EQ(Fs().MoveFileRecord(b + "f", b + "g"), 1);
    EXPECT_EQ(Fs().GetFile(b + "g")->owner, 5u);
    EXPECT_FALSE(Fs().GetFile(b + "f"));
}

TEST_F(FilesystemTest, InheritedSettingsComeFromTheNearestAncestorThatSetsThem) {
    const std::string root = P("site/");
    Fs().SetDirectory(root, nullptr, 1, 1, 3, 0, 0, true);
    Fs().SetDirectory(root + "free\\", nullptr, 1, 1, 0, 1, 0, true);
    Fs().SetDirectory(root + "free\\x\\", nullptr, 1, 1, -1, 0, 4, true);
    Fs().SetDirectory(root + "m\\", nullptr, 1, 1, -1, 0, 2, true);
    Fs().SetFile(root + "m\\gift", nullptr, 1, 1, 1, 1);
    const struct {
        std::string path;
        int32_t ratio, mirror, dupe;
    } cases[] = {
        {root + "free\\x\\file", 0, 4, 1}, {root + "free\\x\\", 0, 4, 1},
        {root + "other\\f", 3, 0, 0},      {root + "m\\f", 3, 2, 0},
        {root + "m\\gift", 0, 2, 0},       {P("elsewhere/f"), -1, 0, 0},
        {P("site/FREE/f"), 3, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Fs().EffectiveRatio(c.path), c.ratio) << c.path;
        EXPECT_EQ(Fs().MirrorIdOf(c.path), c.mirror) << c.path;
        EXPECT_EQ(Fs().DupeDisabledFor(c.path), c.dupe) << c.path;
    }
}

TEST_F(FilesystemTest, WriteBackWritesOnlyWhatChangedAndRetriesWhatFailed) {
    folder_.Write("fs/orvex.fs", P("site/a/") + ";7;rwxrwxrwx;1;1;;0;0\n# kept by hand\n");
    ASSERT_TRUE(Fs().Load());
    ASSERT_EQ(Fs().SetFile(P("site/a/up.bin"), nullptr, 5, 6, 5368709120ll, 0), 1);
    EXPECT_EQ(Fs().Sync(), 1);
    EXPECT_NE(Read("fs/orvex.fs").find("# kept by hand"), std::string::npos);
    EXPECT_NE(Read("fs/7.fs").find("up.bin;rw-r--r--;5;6;5368709120;0\n"), std::string::npos);
    EXPECT_EQ(Fs().Sync(), 0);

    // A file list that cannot be written stays marked until a write-back gets it out.
    fsys::remove(folder_ / "fs/7.fs");
    fsys::create_directories(folder_ / "fs/7.fs/blocker");
    ASSERT_EQ(Fs().DeleteFileRecord(P("site/a/up.bin")), 1);
    EXPECT_EQ(Fs().Sync(), 0);
    fsys::remove_all(folder_ / "fs/7.fs");
    EXPECT_EQ(Fs().Sync(), 1);
    EXPECT_EQ(Read("fs/7.fs").find("up.bin"), std::string::npos);

    // Names the tables cannot hold never become records.
    EXPECT_EQ(Fs().SetFile(P("site/a/x;y"), nullptr, 5, 6, 1, 0), 0);
    EXPECT_EQ(Fs().SetDirectory(P("site/a#b/"), nullptr, 5, 6, -1, 0, 0, true), 0);
}

TEST_F(FilesystemTest, CheckDropsOnlyWhatIsGone) {
    fsys::create_directories(folder_ / "site/real");
    fsys::create_directory_symlink(folder_ / "site/real", folder_ / "site/linked");
    folder_.Write("site/a/kept", "k");
    folder_.Write("fs/orvex.fs", P("site/a/") + ";1;rwx;1;1;;0;0\n" + P("site/gone/") +
                                     ";2;rwx;1;1;;0;0\n" + P("site/gone/sub/") +
                                     ";3;rwx;1;1;;0;0\n" + P("site/linked/") + ";4;rwx;1;1;;0;0\n" +
                                     P("site/" + std::string(300, 'n') + "/") +
                                     ";5;rwx;1;1;;0;0\n");
    folder_.Write("fs/2.fs", "lost;rw-;1;1;1;0\n");
    folder_.Write("fs/1.fs", "kept;rw-;1;1;1;0\nremoved;rw-;1;1;1;0\nx;rw-;1;1;1;0\n");
    folder_.Write("fs/4.fs", "behind-link;rw-;1;1;1;0\n");
    ASSERT_TRUE(Fs().Load());
    EXPECT_EQ(Fs().Check(true), 4);  // a\removed, a\x (a directory now), gone and gone\sub
    EXPECT_TRUE(Fs().GetFile(P("site/a/kept")));
    EXPECT_FALSE(Fs().GetFile(P("site/a/removed")));
    EXPECT_FALSE(Fs().GetDirectory(P("site/gone/sub/"), false));
    // Behind a link, and behind a path the system cannot follow, nothing is judged.
    EXPECT_TRUE(Fs().GetFile(P("site/linked/behind-link")));
    EXPECT_TRUE(Fs().GetDirectory(P("site/" + std::string(300, 'n') + "/"), false));
    EXPECT_FALSE(Exists("fs/2.fs") || Exists("fs/3.fs"));
}

TEST_F(FilesystemTest, CheckTreeJudgesOnlyTheRecordsBelowItsPrefix) {
    fsys::create_directories(folder_ / "site/w/keep");
    folder_.Write("site/w/keep/k", "k");
    folder_.Write("fs/orvex.fs", P("site/w/") + ";1;rwx;1;1;;0;0\n" + P("site/w/keep/") +
                                     ";2;rwx;1;1;;0;0\n" + P("site/w/gone/") + ";3;rwx;1;1;;0;0\n" +
                                     P("site/w/gone/sub/") + ";4;rwx;1;1;;0;0\n" +
                                     P("site/elsewhere/") + ";5;rwx;1;1;;0;0\n" + P("site/wx/") +
                                     ";6;rwx;1;1;;0;0\n");
    folder_.Write("fs/1.fs", "f;rw-;1;1;1;0\n");
    folder_.Write("fs/2.fs", "k;rw-;1;1;1;0\nlost;rw-;1;1;1;0\n");
    ASSERT_TRUE(Fs().Load());
    EXPECT_EQ(Fs().CheckTree(P("site/w")), 4);  // w\f, keep\lost, gone and gone\sub
    EXPECT_TRUE(Fs().GetFile(P("site/w/keep/k")));
    EXPECT_FALSE(Fs().GetFile(P("site/w/keep/lost")));
    EXPECT_FALSE(Fs().GetFile(P("site/w/f")));
    EXPECT_FALSE(Fs().GetDirectory(P("site/w/gone/sub/"), false));
    // Records outside the prefix are not judged, though they are just as gone.
    EXPECT_TRUE(Fs().GetDirectory(P("site/elsewhere/"), false));
    EXPECT_TRUE(Fs().GetDirectory(P("site/wx/"), false));
    EXPECT_EQ(Fs().CheckTree(""), 0);
}

TEST_F(FilesystemTest, DupeLog) {
    folder_.Write("ftp-data/logs/dupelog",
                  "# Filename;UserID;TimeAdded\nold.rar;3;1000000000\n*.rar;3;" +
                      std::to_string(Clock::NowSeconds()) + "\n");
    folder_.Write("fs/orvex.fs",
                  P("site/a/") + ";1;rwx;1;1;;0;0\n" + P("site/b/") + ";2;rwx;1;1;;1;0\n");
    folder_.Write("fs/1.fs", "*.rar;rw-;3;1;1;0\n");
    ASSERT_TRUE(Fs().Load());
    EXPECT_FALSE(Fs().FindDupe(P("site/a/old.rar")));  // older than seven days
    EXPECT_TRUE(Fs().FindDupe(P("site/a/*.rar")));

    ASSERT_EQ(Fs().SetFile(P("site/a/Song.mp3"), nullptr, 5, 1, 1, 0), 1);
    ASSERT_EQ(Fs().SetFile(P("site/a/SONG.MP3"), nullptr, 6, 1, 1, 0), 1);
    ASSERT_EQ(Fs().SetFile(P("site/a/info.nfo"), nullptr, 6, 1, 1, 0), 1);
    ASSERT_EQ(Fs().SetFile(P("site/a/b.rar"), nullptr, 6, 1, 1, 0), 1);
    const auto dupe = Fs().FindDupe(P("site/x/song.mp3"));
    ASSERT_TRUE(dupe);
    EXPECT_EQ(dupe->name, "Song.mp3");
    EXPECT_EQ(dupe->uploader, 6u);
    EXPECT_FALSE(Fs().FindDupe(P("site/a/info.nfo")));  // ignored type
    EXPECT_FALSE(Fs().FindDupe(P("site/b/song.mp3")));  // checking switched off there

    // A file named like a mask takes only its own entry; a mask takes every match, with case.
    EXPECT_EQ(Fs().DeleteFileRecord(P("site/a/*.rar")), 1);
    EXPECT_TRUE(Fs().FindDupe(P("site/a/b.rar")));
    EXPECT_EQ(Fs().RemoveDupes(P("site/a/*.MP3")), 0);
    EXPECT_EQ(Fs().RemoveDupes(P("site/a/*.mp3")), 1);

    const DupeSearch found = Fs().SearchDupes({"*.rar", "*.mp3"}, "", "", 0);
    EXPECT_EQ(found.matching, 2u);  // old.rar and b.rar
    ASSERT_EQ(Fs().SearchDupes({"*"}, "", "", 1).records.size(), 1u);
    EXPECT_EQ(Fs().SearchDupes({"*"}, "", "", 1).records[0].name, "b.rar");
    EXPECT_EQ(Fs().SearchDupes({"*"}, "090801", "090901", 0).matching, 1u);  // 9 Sep 2001
    EXPECT_EQ(DupeLog::ParseDate("020903", false),
              DupeLog::ParseDate("020903", true).value() - 86399);
    EXPECT_FALSE(DupeLog::ParseDate("13aa03", false));

    // Ids that records and the dupe log still name are not free for newcomers.
    std::set<uint32_t> users, groups;
    Fs().CollectOwnerIds(users, groups);
    EXPECT_EQ(users, (std::set<uint32_t>{1, 3, 5, 6}));  // 3 through the dupe log
    EXPECT_EQ(groups, (std::set<uint32_t>{1}));

    // The expired name leaves the file at the next write-back.
    Fs().Sync();
    const std::string log = Read("ftp-data/logs/dupelog");
    EXPECT_EQ(log.find("old.rar"), std::string::npos);
    EXPECT_NE(log.find("b.rar;6;"), std::string::npos);
}

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
