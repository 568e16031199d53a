// The site view and the engine view: which paths the directory links map, and the duration
// texts of the dupe replies.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/fs/LinksStore.h"
#include "server/session/SiteSession.h"
#include "tests/server/app/ConfigFixture.h"

namespace orvex {
namespace {

class ViewSession : public SiteSession {
  public:
    using SiteSession::SiteSession;
    void Views(std::string siteDir, std::string root, std::string cwd) {
        siteRoot_ = "\\s\\";
        siteDir_ = std::move(siteDir);
        root_ = std::move(root);
        cwd_ = std::move(cwd);
    }
};

TEST(SiteSessionViews, MapPathThroughLinks) {
    test::SiteFolder folder;
    std::filesystem::create_directories(folder / "etc");
    folder.Write("etc/orvex.conf", "rootpath " + folder.path() + "\n");
    folder.Write("etc/links", "/s/music;/data/music\n");
    ServerSite site;
    ASSERT_TRUE(site.Config().Load(folder / "etc/orvex.conf"));
    ASSERT_EQ(site.Links().LoadLinks(), 1);
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    {
        ViewSession session(fds[0], site, nullptr, false);
        const char* kMusic = "\\data\\music\\";
        const struct {
            const char *siteDir, *root, *cwd, *typed;
            const char* mapped;  // nullptr: the typed path reaches the same place
            const char* newRoot;
        } cases[] = {
            {"", "\\s\\", "", "pub/x", nullptr, "\\s\\"},
            {"", "\\s\\", "", "music/a.mp3", "a.mp3", kMusic},
            {"pub\\", "\\s\\", "pub\\", "../MUSIC/rock/", "rock\\", kMusic},
            {"music\\", kMusic, "", "a.mp3", nullptr, kMusic},
            {"music\\", kMusic, "", "/music/a.mp3", "a.mp3", kMusic},
            {"music\\", kMusic, "", "../pub/x", "pub\\x", "\\s\\"},
            {"music\\rock\\", kMusic, "rock\\", "../jazz/", "jazz\\", kMusic},
            {"music\\rock\\", kMusic, "rock\\", "../../../../..", "", "\\s\\"},
        };
        for (const auto& c : cases) {
            session.Views(c.siteDir, c.root, c.cwd);
            const SiteSession::MappedPath m = session.MapPath(c.typed);
            EXPECT_EQ(m.path.has_value(), c.mapped != nullptr) << c.typed;
            if (m.path && c.mapped) {
                EXPECT_EQ(*m.path, c.mapped) << c.typed;
            }
            EXPECT_EQ(session.Root(), c.newRoot) << c.typed;
            session.RestorePath(m);
            EXPECT_EQ(session.Root(), c.root) << c.typed;
            EXPECT_EQ(session.CurrentDirectory(), c.cwd) << c.typed;
        }
    }
    close(fds[1]);
}

TEST(SiteSessionViews, FormatDuration) {
    const struct {
        int64_t start, end;
        const char* text;
    } cases[] = {
        {0, 59, "0m 59s"},     {0, 3599, "59m 59s"},          {0, 3600, "1h 0m"},
        {0, 86399, "23h 59m"}, {0, 86400, "1d 0h"},           {1000, 1000 + 90061, "1d 1h"},
        {100, 50, "0m 0s"},    {0, 8640000000, "100000d 0h"},
    };
    for (const auto& c : cases) EXPECT_EQ(SiteSession::FormatDuration(c.start, c.end), c.text);
}

}  // namespace
}  // namespace orvex
