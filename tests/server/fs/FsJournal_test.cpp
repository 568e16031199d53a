// The journal of the filesystem records: its line format, and start-up over what a crash leaves:
// a journal cut anywhere in its last line, a second replay, and a write-back cut short.

#include "server/fs/FsJournal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/fs/Filesystem.h"
#include "server/fs/RecordFormat.h"
#include "tests/server/app/ConfigFixture.h"

namespace orvex {
namespace {

namespace fsys = std::filesystem;
using test::SiteFolder;

TEST(JournalFormatTest, LinesReadBackAndDamagedOnesAreRefused) {
    const std::string line = JournalFormat::FormatLine(7, 'M', {"\\a;b%\\", "\\c\r\n\\"});
    EXPECT_EQ(line.substr(0, 25), "7;M;\\a%3Bb%25\\;\\c%0D%0A\\;");
    const auto e = JournalFormat::ParseLine(std::string_view(line).substr(0, line.size() - 1));
    ASSERT_TRUE(e);
    EXPECT_EQ(e->seq, 7u);
    EXPECT_EQ(e->fields, (std::vector<std::string>{"\\a;b%\\", "\\c\r\n\\"}));
    const std::string good = JournalFormat::FormatLine(3, 'f', {"\\x"});
    const struct {
        std::string text;
        bool readable;
    } rows[] = {
        {good.substr(0, good.size() - 1), true},
        {"3;f;\\y" + good.substr(good.size() - 10, 9), false},       // check of another text
        {JournalFormat::FormatLine(3, 'f', {"\\x", "\\y"}), false},  // field count of M, not f
        {JournalFormat::FormatLine(3, 'Q', {"\\x"}), false},         // no such change
        {"x;f;\\x;00000000", false},
        {JournalFormat::FormatLine(3, 'f', {"%"}).replace(4, 3, "%2"), false},
    };
    for (const auto& row : rows) {
        std::string text = row.text;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        EXPECT_EQ(JournalFormat::ParseLine(text).has_value(), row.readable) << text;
    }
}

class JournalStartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"fs", "etc", "ftp-data/logs", "site/up/a", "site/b"})
            fsys::create_directories(folder_ / d);
        folder_.Write("etc/orvex.conf", "rootpath " + folder_.path() + "\ndupe_check 7\n");
        folder_.Write("fs/orvex.fs", "");
        folder_.Write("site/up/a/f1", "12345");
        folder_.Write("site/up/a/f2", "1");
    }
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
    // A server started over the folder as it is.
    std::unique_ptr<ServerSite> Start() {
        auto site = std::make_unique<ServerSite>();
        EXPECT_TRUE(site->Config().Load(folder_ / "etc/orvex.conf"));
        EXPECT_TRUE(site->Files().Load());
        return site;
    }
    // Every record and dupe entry, as a write-back of everything writes them.
    static std::string State(Filesystem& fs) {
        std::string out;
        for (const auto& node : fs.ListDirectories(0, nullptr)) {
            const auto d = fs.GetDirectory(node.data.path, true);
            out += RecordFormat::FormatDirectoryLine(*d);
            for (const FileRecord& f : *d->files) out += " " + RecordFormat::FormatFileLine(f);
        }
        for (const DupeRecord& r : fs.SearchDupes({"*"}, "", "", 0).records)
            out += RecordFormat::FormatDupeLine(r);
        return out;
    }
    // The changes of one busy minute; each call of `step` is one more change made.
    void Work(Filesystem& fs, const std::function<void()>& step) {
        fs.SetDirectory(P("site/up/"), nullptr, 101, 100, -1, 0, 0, true), step();
        fs.SetFile(P("site/up/a/f1"), nullptr, 101, 100, -1, 0), step();
        fs.SetFile(P("site/up/a/f2"), "rw-------", 102, 100, 1, 1), step();
        auto copy = fs.GetDirectory(P("site/up/"), false);
        copy->ratio = 3;
        fs.UpdateDirectory(*copy, P("site/up/")), step();
        fs.MoveDirectories(P("site/up/"), P("site/b/up/")), step();
        fs.SetDirectory(P("site/up/"), nullptr, 103, 100, 0, 1, 2, true), step();
        fs.DeleteFileRecord(P("site/b/up/a/f2")), step();
        fs.RemoveDupes(P("x/f*")), step();
        fs.DeleteDirectories(P("site/up/")), step();
    }
    SiteFolder folder_;
};

TEST_F(JournalStartTest, TornLastEntryLosesOnlyThatEntryAtEveryByte) {
    std::vector<std::string> states;
    std::vector<size_t> ends;  // journal length after each change
    std::string journal;
    {
        auto site = Start();
        Work(site->Files(), [&] {
            states.push_back(State(site->Files()));
            // Each step may add several entries; only whole steps are compared.
            ends.push_back(fsys::file_size(folder_ / "fs/orvex.journal"));
        });
        journal = Read("fs/orvex.journal");
    }
    ASSERT_EQ(ends.back(), journal.size());
    const size_t lastLine = journal.rfind('\n', journal.size() - 2) + 1;
    const size_t beforeLast = [&] {
        // The step whose entries end where the last line begins.
        for (size_t i = 0; i < ends.size(); ++i)
            if (ends[i] == lastLine) return i;
        return ends.size();
    }();
    ASSERT_LT(beforeLast, ends.size());
    for (size_t cut = lastLine; cut <= journal.size(); ++cut) {
        folder_.Write("fs/orvex.journal", journal.substr(0, cut));
        auto site = Start();
        const bool whole = cut == journal.size();
        EXPECT_EQ(State(site->Files()), states[whole ? ends.size() - 1 : beforeLast]) << cut;
        // The journal left behind ends in a whole line, so appends start on a fresh one.
        EXPECT_EQ(Read("fs/orvex.journal").back(), '\n') << cut;
    }
}

TEST_F(JournalStartTest, ReplayTwiceAndCutWriteBacksEndInTheSameRecords) {
    std::string expected, journal, oldTable;
    {
        auto site = Start();
        Work(site->Files(), [] {});
        expected = State(site->Files());
        journal = Read("fs/orvex.journal");
        oldTable = Read("fs/orvex.fs");
    }
    // A crash at start-up, before anything was written back: the same journal again.
    EXPECT_EQ(State(Start()->Files()), expected);
    EXPECT_EQ(State(Start()->Files()), expected);
    {
        auto site = Start();
        site->Files().Sync();
        EXPECT_EQ(State(site->Files()), expected);
    }
    EXPECT_FALSE(fsys::exists(folder_ / "fs/orvex.journal.fold"));
    EXPECT_EQ(Read("fs/orvex.journal"), JournalFormat::kHeader);
    // A write-back cut after the file lists and the dupe log, before orvex.fs: the fold file
    // is replayed over the old orvex.fs.
    folder_.Write("fs/orvex.journal.fold", journal);
    const std::string newTable = Read("fs/orvex.fs");
    folder_.Write("fs/orvex.fs", oldTable);
    EXPECT_EQ(State(Start()->Files()), expected);
    // Cut after orvex.fs, before the fold file went: its seal names the orvex.fs on disk, so
    // the moves in it are not made a second time.
    folder_.Write("fs/orvex.fs", newTable);
    folder_.Write(
        "fs/orvex.journal",
        journal + JournalFormat::FormatLine(
                      999, 'C', {JournalFormat::DigestText(JournalFormat::Digest(newTable))}));
    fsys::rename(folder_ / "fs/orvex.journal", folder_ / "fs/orvex.journal.fold");
    // A change made while that write-back ran went to the fresh journal, numbered before the
    // seal: it is not taken for one already folded.
    folder_.Write(
        "fs/orvex.journal",
        std::string(JournalFormat::kHeader) +
            JournalFormat::FormatLine(
                500, 'D', {P("site/late/"), "77", "rwxr-x---", "201", "100", "-1", "0", "0"}));
    auto site = Start();
    EXPECT_FALSE(fsys::exists(folder_ / "fs/orvex.journal.fold"));
    const auto late = site->Files().GetDirectory(P("site/late/"), false);
    ASSERT_TRUE(late);
    EXPECT_EQ(late->owner, 201u);
}

}  // namespace
}  // namespace orvex
