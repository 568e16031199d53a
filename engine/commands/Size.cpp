// SIZE.

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/commands/CommandArgs.h"

namespace orvex {

int FtpSession::Size(const Args& args) {
    if (args.size() < 2) {
        Respond(args, SetMessage("'%s': Invalid number of parameters.", args[0].c_str()), "500");
        return 0;
    }
    const std::string typed = Join(args);
    const std::string path = FileUtil::Resolve(root_, cwd_, typed);
    if (path.empty()) {
        Respond(args, "ERROR: unable to set file path.", "550");
        return 0;
    }
    const std::string shown = commands::Shown(typed);
    FileInfo info;
    if (!FileUtil::Stat(path, info)) {
        Respond(args, SetMessage("%s: No such file or directory.", shown.c_str()), "550");
        return 0;
    }
    if (info.mode & kModeDirectory) {
        Respond(args, SetMessage("%s: not a plain file.", shown.c_str()), "550");
        return 0;
    }
    Respond(args, SetMessage("%llu", static_cast<unsigned long long>(info.size)), "213");
    return 1;
}

}  // namespace orvex
