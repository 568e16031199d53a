// OPTS: UTF8 ON (names already pass through as bytes) and the facts of MLST; nothing else.

#include <string>

#include "engine/FtpSession.h"
#include "engine/MachineListing.h"
#include "engine/StringUtil.h"

namespace orvex {

int FtpSession::Opts(const Args& args) {
    if (args.size() == 3 && StringUtil::EqualNoCase(args[1], "UTF8") &&
        StringUtil::EqualNoCase(args[2], "ON")) {
        Respond(args, "UTF8 set to on", "200");
        return 1;
    }
    if (args.size() >= 2 && args.size() <= 3 && StringUtil::EqualNoCase(args[1], "MLST")) {
        std::string echo;
        machineFacts_ = MachineListing::ParseSelection(args.size() == 3 ? args[2] : "", echo);
        Respond(args, echo.empty() ? std::string("MLST OPTS") : "MLST OPTS " + echo, "200");
        return 1;
    }
    Respond(args, "OPTS command not implemented.", "502");
    return 0;
}

}  // namespace orvex
