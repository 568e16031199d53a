#pragma once
// The handlers of the SITE sub-commands, by the file that holds them.

#include "server/session/SiteCommandTable.h"

namespace orvex::site {

// SiteEventLogs.cpp
// Help topics name files in help/ and nothing else.
bool IsHelpTopic(std::string_view topic);
int Help(SiteSession& s, const Args& args);
int Logins(SiteSession& s, const Args& args);
int NukeLog(SiteSession& s, const Args& args);
int ReqLog(SiteSession& s, const Args& args);
int SysLog(SiteSession& s, const Args& args);

// SiteServerCommands.cpp
int AuthMode(SiteSession& s, const Args& args);
int Shutdown(SiteSession& s, const Args& args);
int GenKeys(SiteSession& s, const Args& args);
int CertInfo(SiteSession& s, const Args& args);
int Remote(SiteSession& s, const Args& args);

// SiteUserCommands.cpp: accounts as a whole
int AddUser(SiteSession& s, const Args& args);
int GAddUser(SiteSession& s, const Args& args);
int DelUser(SiteSession& s, const Args& args);
int ReAdd(SiteSession& s, const Args& args);
int Purge(SiteSession& s, const Args& args);
int RenUser(SiteSession& s, const Args& args);

// SiteChangeCommand.cpp
int Change(SiteSession& s, const Args& args);

// SiteUserEdits.cpp: single fields of one account
int AddIp(SiteSession& s, const Args& args);
int DelIp(SiteSession& s, const Args& args);
int ChPass(SiteSession& s, const Args& args);
int Passwd(SiteSession& s, const Args& args);
int Give(SiteSession& s, const Args& args);
int Take(SiteSession& s, const Args& args);
int Ratio(SiteSession& s, const Args& args);
int Idle(SiteSession& s, const Args& args);
int Tagline(SiteSession& s, const Args& args);

// SiteUserViews.cpp
int Flags(SiteSession& s, const Args& args);
int Permissions(SiteSession& s, const Args& args);
int Show(SiteSession& s, const Args& args);
int UserData(SiteSession& s, const Args& args);
int UserSync(SiteSession& s, const Args& args);

// SiteGroupCommands.cpp
int ChGrp(SiteSession& s, const Args& args);
int Group(SiteSession& s, const Args& args);
int Groups(SiteSession& s, const Args& args);
int GrpAdd(SiteSession& s, const Args& args);
int GrpDel(SiteSession& s, const Args& args);
int GrpLog(SiteSession& s, const Args& args);
int GrpNfo(SiteSession& s, const Args& args);
int GrpRen(SiteSession& s, const Args& args);

// SiteGroupInfo.cpp
int GInfo(SiteSession& s, const Args& args);

// SiteNuke.cpp
int Nuke(SiteSession& s, const Args& args);
int Unnuke(SiteSession& s, const Args& args);

// SiteDeletedTrees.cpp
int DelTree(SiteSession& s, const Args& args);
int ResTree(SiteSession& s, const Args& args);
int PurgeTree(SiteSession& s, const Args& args);

// SiteModes.cpp
int Chmod(SiteSession& s, const Args& args);
int Chown(SiteSession& s, const Args& args);

// SiteDirectorySettings.cpp
int FRatio(SiteSession& s, const Args& args);
int DupeEnable(SiteSession& s, const Args& args);
int DirMirror(SiteSession& s, const Args& args);

// SiteDupeCommands.cpp
int Dupe(SiteSession& s, const Args& args);
int UnDupe(SiteSession& s, const Args& args);

// SiteLinkCommands.cpp
int Link(SiteSession& s, const Args& args);
int Links(SiteSession& s, const Args& args);
int RmLink(SiteSession& s, const Args& args);

// SiteDirReports.cpp
int DirInfo(SiteSession& s, const Args& args);
int New(SiteSession& s, const Args& args);
int DiskInfo(SiteSession& s, const Args& args);

// SiteSearch.cpp
int Search(SiteSession& s, const Args& args);

// SiteFsMaintenance.cpp
int Fsck(SiteSession& s, const Args& args);
int FsSync(SiteSession& s, const Args& args);
int FsInfo(SiteSession& s, const Args& args);
int Wipe(SiteSession& s, const Args& args);
int Copy(SiteSession& s, const Args& args);

// SiteMessages.cpp
int Msg(SiteSession& s, const Args& args);

// SiteRequests.cpp
int Request(SiteSession& s, const Args& args);
int ReqFilled(SiteSession& s, const Args& args);

// SiteInfoCommands.cpp
int Rules(SiteSession& s, const Args& args);
int Welcome(SiteSession& s, const Args& args);
int Seen(SiteSession& s, const Args& args);
int Time(SiteSession& s, const Args& args);
int Uptime(SiteSession& s, const Args& args);
int Vers(SiteSession& s, const Args& args);

// SiteOnline.cpp
int Who(SiteSession& s, const Args& args);
int SWho(SiteSession& s, const Args& args);
int State(SiteSession& s, const Args& args);
int Kick(SiteSession& s, const Args& args);
int Kill(SiteSession& s, const Args& args);

// SiteTopLists.cpp
int AlDn(SiteSession& s, const Args& args);
int AlUp(SiteSession& s, const Args& args);
int DayDn(SiteSession& s, const Args& args);
int DayUp(SiteSession& s, const Args& args);
int WkDn(SiteSession& s, const Args& args);
int WkUp(SiteSession& s, const Args& args);
int MonthDn(SiteSession& s, const Args& args);
int MonthUp(SiteSession& s, const Args& args);
int NukeTop(SiteSession& s, const Args& args);
int GpAd(SiteSession& s, const Args& args);
int GpAl(SiteSession& s, const Args& args);
int GpMd(SiteSession& s, const Args& args);
int GpMn(SiteSession& s, const Args& args);
int GpWd(SiteSession& s, const Args& args);
int GpWk(SiteSession& s, const Args& args);

// SiteStatsReports.cpp
int Stats(SiteSession& s, const Args& args);
int Traffic(SiteSession& s, const Args& args);
int Users(SiteSession& s, const Args& args);

// SiteUserReport.cpp
int User(SiteSession& s, const Args& args);

}  // namespace orvex::site
