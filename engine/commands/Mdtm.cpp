// MDTM.

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/MachineListing.h"
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
    const std::string stamp =
        FileUtil::Stat(path, info) ? MachineListing::UtcStamp(info.modifyTime) : std::string();
    if (stamp.empty()) {
        const std::string shown = commands::Shown(typed);
        Respond(args, SetMessage("%s: No such file or directory.", shown.c_str()), "550");
        return 0;
    }
    Respond(args, stamp, "213");
    return 1;
}

}  // namespace orvex
