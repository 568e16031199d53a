// SITE REQUEST and SITE REQFILLED: the site's list of wanted uploads.

#include <cstdlib>

#include "engine/Clock.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/session/SiteSession.h"
#include "server/site/community/CommunityCommands.h"
#include "server/site/community/RequestList.h"

namespace orvex::site {

namespace {

RequestFile Requests(SiteSession& s) {
    return RequestFile(s.Server().MakeDataPath("misc/", "requests"), s.Server().RequestsLock());
}

}  // namespace

int Request(SiteSession& s, const Args& args) {
    if (args.size() > 2) {
        const RequestEntry request{s.UserName(), static_cast<uint64_t>(Clock::NowSeconds()),
                                   Join(args, 0, 2)};
        if (!IsStorableTitle(request.title) || !Requests(s).Add(request)) {
            s.Respond(args, "Unable to add your request.", "501");
            return 0;
        }
        s.Respond(args, "Your request has been added.", "200");
        return 1;
    }
    s.Line(" .-=--------------------------== REQUESTS ==---------------------------=-.");
    unsigned number = 0;
    for (const RequestEntry& r : Requests(s).List()) {
        s.Line(StringUtil::Format(" <%02u> [%-10s] %s", ++number, r.user.c_str(), r.title.c_str()));
    }
    s.Line(" `-=-------------------------------------------------------------------=-'");
    s.Line("       `-----( Type 'site request title' to make a request )-----'");
    s.Respond(args, "Command Successful.", "200");
    return 1;
}

int ReqFilled(SiteSession& s, const Args& args) {
    if (args.size() < 3) return s.SendHelp(args, "site.reqfilled");
    const long number = std::strtol(args[2].c_str(), nullptr, 10);
    RequestEntry filled;
    const RequestFile::Fill result =
        number == 0 ? RequestFile::Fill::kNoSuchRequest
                    : Requests(s).Take(number, filled, [&](const RequestEntry& r) {
                          const std::string line = StringUtil::Format(
                              " filled: %s, requested by %s", r.title.c_str(), r.user.c_str());
                          return s.WriteEventLog("request.log", line, s.UserName()) != 0;
                      });
    switch (result) {
        case RequestFile::Fill::kUnreadable:
            s.Respond(args, "Unable to access requests.", "503");
            return 0;
        case RequestFile::Fill::kNoSuchRequest:
            s.Respond(args, "Invalid Request.", "501");
            return 0;
        case RequestFile::Fill::kNotMoved:
            s.Respond(args, "Unable to move the request to the request log.", "502");
            return 0;
        case RequestFile::Fill::kFilled:
            break;
    }
    s.SendMessage(filled.user, StringUtil::Format("Your request was filled by %s: %s",
                                                  s.UserName().c_str(), filled.title.c_str()));
    s.Line(StringUtil::Format(" Request Found. Notifying %s", filled.user.c_str()));
    s.Respond(args, "Thank You For Filling The Request.", "200");
    return 1;
}

}  // namespace orvex::site
