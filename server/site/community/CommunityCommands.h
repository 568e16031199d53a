#pragma once
// The SITE sub-commands of the community: messages, requests, who is online, the reports, by the
// file that holds them.

#include "server/site/SiteHandler.h"

namespace orvex::site {

// SiteEventLogs.cpp
SiteHandlerFunction Logins, NukeLog, ReqLog, SysLog;
// SiteMessages.cpp
SiteHandlerFunction Msg;
// SiteRequests.cpp
SiteHandlerFunction Request, ReqFilled;
// SiteInfoCommands.cpp
SiteHandlerFunction Rules, Welcome, Seen, Time, Uptime, Vers;
// SiteOnline.cpp
SiteHandlerFunction Who, SWho, State, Kick, Kill;
// SiteTopLists.cpp
SiteHandlerFunction AlDn, AlUp, DayDn, DayUp, WkDn, WkUp, MonthDn, MonthUp, NukeTop, GpAd, GpAl,
    GpMd, GpMn, GpWd, GpWk;
// SiteStatsReports.cpp
SiteHandlerFunction Stats, Traffic, Users;
// SiteUserReport.cpp
SiteHandlerFunction User;

}  // namespace orvex::site
