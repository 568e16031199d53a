// REST.

#include "engine/FtpSession.h"
#include "engine/commands/CommandArgs.h"

namespace orvex {

int FtpSession::Rest(const Args& args) {
    if (args.size() < 2) {
        Respond(args, SetMessage("'%s': Invalid number of parameters.", args[0].c_str()), "500");
        return 0;
    }
    const std::string& value = args[1];
    int64_t offset = 0;
    if (!commands::ParseOffset(value, offset)) {
        Respond(args, SetMessage("'REST %s': command not understood.", value.c_str()), "500");
        return 0;
    }
    restartOffset_ = offset;
    Respond(args,
            SetMessage("Restarting at %s.  Send STOR or RETR to initiate transfer.", value.c_str()),
            "350");
    return 1;
}

}  // namespace orvex
