// RMD and XRMD.

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/commands/CommandArgs.h"

namespace orvex {

int FtpSession::Rmd(const Args& args) {
    if (args.size() < 2) {
        Respond(args, SetMessage("'%s': Invalid number of parameters.", args[0].c_str()), "500");
        return 0;
    }
    const std::string typed = Join(args);
    const std::string shown = commands::Shown(typed);
    if (!CheckAccess(args[0].c_str(), &typed, "wn", false)) return 0;

    std::string path = FileUtil::Resolve(root_, cwd_, typed);
    if (path.empty()) {
        Respond(args, "ERROR: unable to set directory path.", "550");
        return 0;
    }
    std::string bare = path, bareRoot = root_;
    FileUtil::StripTrailingSep(bare);
    FileUtil::StripTrailingSep(bareRoot);
    if (bare == bareRoot) {
        Respond(args, "Cannot delete the root directory.", "500");
        return 0;
    }
    const char* fault = commands::RemoveDirectoryFault(path);
    if (fault) {
        Respond(args, SetMessage(fault, shown.c_str()), "550");
        return 0;
    }
    Respond(args, "RMD command successful.", "250");
    return 1;
}

}  // namespace orvex
