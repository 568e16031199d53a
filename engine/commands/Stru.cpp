// STRU: file structure is the only one.

#include "engine/FtpSession.h"
#include "engine/StringUtil.h"

namespace orvex {

int FtpSession::Stru(const Args& args) {
    if (args.size() < 2) {
        Respond(args, SetMessage("'%s': Invalid number of parameters.", args[0].c_str()), "500");
        return 0;
    }
    if (StringUtil::EqualNoCase(args[1], "F")) {
        Respond(args, "STRU F ok.", "200");
        return 1;
    }
    Respond(args, "Unimplemented STRU type.", "504");
    return 0;
}

}  // namespace orvex
