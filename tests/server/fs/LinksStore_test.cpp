// The links table: reading the file, the longest link for a path, and changes that reach the
// file without making the store read its own write again.

#include "server/fs/LinksStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "tests/server/app/ConfigFixture.h"

namespace orvex {
namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(LinksStore, FindAddRemove) {
    test::SiteFolder folder;
    std::filesystem::create_directories(folder / "etc");
    folder.Write("etc/orvex.conf", "rootpath " + folder.path() + "\n");
    ServerSite site;
    ASSERT_TRUE(site.Config().Load(folder / "etc/orvex.conf"));
    LinksStore& links = site.Links();
    EXPECT_EQ(links.LoadLinks(), 0);  // no file yet

    folder.Write("etc/links",
                 "# target_dir;source_dir\n/s/Music;/data/music\n/s/music/rock/;/data/rock\n"
                 "/S/MUSIC;/elsewhere\nbroken\n");
    ASSERT_EQ(links.LoadLinks(), 1);
    EXPECT_EQ(links.ListLinks().Count(), 2u);
    const struct {
        const char* path;
        const char* real;
    } finds[] = {
        {"\\s\\music\\x\\", "\\data\\music\\"},
        {"\\S\\MUSIC\\ROCK\\a", "\\data\\rock\\"},
        {"\\s\\music\\", "\\data\\music\\"},
        {"\\s\\musicals\\", nullptr},
        {"\\s\\", nullptr},
    };
    for (const auto& f : finds) {
        const auto found = links.FindLink(f.path);
        EXPECT_EQ(found.has_value(), f.real != nullptr) << f.path;
        if (found && f.real) {
            EXPECT_EQ(found->realDir, f.real) << f.path;
        }
    }

    EXPECT_EQ(links.AddLink("\\s\\new\\", "\\data\\new\\"), 1);
    EXPECT_EQ(links.AddLink("\\S\\NEW\\", "\\data\\other\\"), 2);
    EXPECT_EQ(links.AddLink("\\s\\a;b\\", "\\data\\"), 0);
    EXPECT_NE(Slurp(folder / "etc/links").find("\\s\\new\\;\\data\\new\\\n"), std::string::npos);
    EXPECT_EQ(links.RemoveLink("\\S\\music\\"), 1);
    EXPECT_EQ(links.RemoveLink("\\s\\music\\"), 0);
    EXPECT_EQ(Slurp(folder / "etc/links"),
              "# target_dir;source_dir\n#\n\\s\\music\\rock\\;\\data\\rock\\\n"
              "\\s\\new\\;\\data\\new\\\n");
    EXPECT_FALSE(links.FindLink("\\s\\music\\x\\"));
    // A hand edit is read at the next pass.
    folder.Write("etc/links", "/s/hand;/data/hand\n");
    ASSERT_EQ(links.LoadLinks(), 1);
    EXPECT_EQ(links.FindLink("\\s\\hand\\x")->realDir, "\\data\\hand\\");
}

}  // namespace
}  // namespace orvex
