#pragma once
// The SITE sub-commands that manage accounts and groups, by the file that holds them.

#include "server/site/SiteHandler.h"

namespace orvex::site {

// SiteUserCommands.cpp: accounts as a whole
SiteHandlerFunction AddUser, GAddUser, DelUser, ReAdd, Purge, RenUser;
// SiteChangeCommand.cpp
SiteHandlerFunction Change;
// SiteUserEdits.cpp: single fields of one account
SiteHandlerFunction AddIp, DelIp, ChPass, Passwd, Give, Take, Ratio, Idle, Tagline;
// SiteUserViews.cpp
SiteHandlerFunction Flags, Permissions, Show, UserData, UserSync;
// SiteGroupCommands.cpp
SiteHandlerFunction ChGrp, Group, Groups, GrpAdd, GrpDel, GrpLog, GrpNfo, GrpRen;
// SiteGroupInfo.cpp
SiteHandlerFunction GInfo;

}  // namespace orvex::site
