#include "engine/MachineListing.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/FtpSite.h"

using namespace orvex;
namespace ml = orvex::MachineListing;

namespace {

TEST(MachineListing, OptsMlstSelectionAndFeatText) {
    struct Case {
        const char* argument;
        unsigned facts;
        const char* echo;
    };
    const Case cases[] = {
        {"type;size;", ml::kType | ml::kSize, "type;size;"},
        {"SIZE;Type", ml::kType | ml::kSize, "size;type;"},  // the client's order and case
        {"unix.owner;bogus;;unix.mode;", ml::kUnixOwner | ml::kUnixMode, "unix.owner;unix.mode;"},
        {"type;type;", ml::kType, "type;"},
        {"", 0, ""},
        {";;;", 0, ""},
        {"typ;sizes;unix.", 0, ""},
    };
    for (const Case& c : cases) {
        std::string echo = "stale";
        EXPECT_EQ(ml::ParseSelection(c.argument, echo), c.facts) << c.argument;
        EXPECT_EQ(echo, c.echo) << c.argument;
    }
    EXPECT_EQ(ml::FeatureText(ml::kAllFacts),
              "type*;size*;modify*;perm*;unix.mode*;unix.owner*;unix.group*;");
    EXPECT_EQ(ml::FeatureText(ml::kSize | ml::kUnixGroup),
              "type;size*;modify;perm;unix.mode;unix.owner;unix.group*;");
}

// A site that grants only the command letters it is given.
class LetterSite : public FtpSite {
  public:
    explicit LetterSite(std::string held) : held_(std::move(held)) {}
    bool CheckPermission(const std::string&, const std::string& path,
                         std::string_view letters) override {
        lastPath = path;
        return letters.find_first_of(held_) != std::string_view::npos;
    }
    EntryOwnership DescribeOwnership(const std::string&, const FileInfo&) override {
        return {"alice", "staff", 0750};
    }
    std::string lastPath;

  private:
    std::string held_;
};

TEST(MachineListing, EntryLinesFollowTheSite) {
    FileInfo file;
    file.size = 5000000000ULL;  // past 4 GiB
    file.modifyTime = 86400 * 365;
    FileInfo dir;
    dir.mode = kModeDirectory | 0755;
    struct Case {
        const char* held;
        bool directory;
        unsigned facts;
        const char* line;
    };
    const Case cases[] = {
        {"lvcpstduoamn", false, ml::kAllFacts,
         "type=file;size=5000000000;modify=19710101000000;perm=rawdf;unix.mode=0750;"
         "unix.owner=alice;unix.group=staff; a b.txt"},
        {"lvcpstduoamn", true, ml::kAllFacts,
         "type=dir;modify=19700101000000;perm=elcmdfp;unix.mode=0750;unix.owner=alice;"
         "unix.group=staff; a b.txt"},
        {"r", false, ml::kType | ml::kPerm, "type=file;perm=r; a b.txt"},
        {"x", true, ml::kPerm, "perm=el; a b.txt"},
        {"w", true, ml::kPerm, "perm=cmdfp; a b.txt"},
        {"", false, ml::kPerm | ml::kSize, "size=5000000000;perm=; a b.txt"},
        {"", true, ml::kSize, " a b.txt"},  // no size for a directory, and no facts at all
    };
    for (const Case& c : cases) {
        LetterSite site(c.held);
        const std::string line = ml::EntryLine(site, "bob", "X:\\root\\a b.txt",
                                               c.directory ? dir : file, c.facts, "a b.txt");
        EXPECT_EQ(line, c.line) << c.held << " " << c.directory;
        // The site judges a directory by its path with the separator, a file without.
        if (c.facts & ml::kPerm) {
            EXPECT_EQ(site.lastPath, c.directory ? "X:\\root\\a b.txt\\" : "X:\\root\\a b.txt");
        }
    }
}

}  // namespace
