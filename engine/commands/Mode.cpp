// MODE: stream is the only transfer mode.

#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Mode(const Args& args) {
    if (args.size() < 2) {
        Respond(args, SetMessage("'%s': Invalid number of parameters.", args[0].c_str()), "500");
        return 0;
    }
    const std::string& mode = args[1];
    if (mode == "S" || mode == "s") {
        Respond(args, "MODE S ok.", "200");
        return 1;
    }
    if (mode == "B" || mode == "b") {
        Respond(args, "Unimplemented MODE type.", "502");
        return 0;
    }
    Respond(args, SetMessage("'MODE %s': command not understood.", mode.c_str()), "500");
    return 0;
}

}  // namespace orvex
