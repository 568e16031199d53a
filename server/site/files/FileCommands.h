#pragma once
// The SITE sub-commands on the site's directories and files, by the file that holds them.

#include "server/site/SiteHandler.h"

namespace orvex::site {

// SiteNuke.cpp
SiteHandlerFunction Nuke, Unnuke;
// SiteDeletedTrees.cpp
SiteHandlerFunction DelTree, ResTree, PurgeTree;
// SiteModes.cpp
SiteHandlerFunction Chmod, Chown;
// SiteDirectorySettings.cpp
SiteHandlerFunction FRatio, DupeEnable, DirMirror;
// SiteDupeCommands.cpp
SiteHandlerFunction Dupe, UnDupe;
// SiteLinkCommands.cpp
SiteHandlerFunction Link, Links, RmLink;
// SiteDirReports.cpp
SiteHandlerFunction DirInfo, New, DiskInfo;
// SiteSearch.cpp
SiteHandlerFunction Search;
// SiteFsMaintenance.cpp
SiteHandlerFunction Fsck, FsSync, FsInfo, Wipe, Copy;

}  // namespace orvex::site
