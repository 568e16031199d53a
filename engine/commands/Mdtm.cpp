// MDTM.

#include <ctime>

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/commands/CommandArgs.h"

namespace orvex {

int FtpSession::Mdtm(const Args& args) {
    if (args.size() < 2) {
        Respond(args, SetMessage("'%s': Invalid number of parameters.", args[0].c_str()), "500");
        return 0;
    }
    const std::string typed = Join(args);
    if (!CheckAccess(args[0].c_str(), &typed, "drlvx", false)) return 0;

    const std::string path = FileUtil::Resolve(root_, cwd_, typed);
    if (path.empty()) {
        Respond(args, "ERROR: unable to set file path.", "550");
        return 0;
    }
    FileInfo info;
    struct tm parts {};
    char stamp[32] = "";
    // Broken down directly: a time stamp of 0 is 1970, not "now".
    if (!FileUtil::Stat(path, info) || !FtpSite::BreakDownTime(info.modifyTime, parts, true) ||
        strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &parts) == 0) {
        const std::string shown = commands::Shown(typed);
        Respond(args, SetMessage("%s: No such file or directory.", shown.c_str()), "550");
        return 0;
    }
    Respond(args, stamp, "213");
    return 1;
}

}  // namespace orvex
