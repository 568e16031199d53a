// DELE.

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/commands/CommandArgs.h"

namespace orvex {

int FtpSession::Dele(const Args& args) {
    if (args.size() < 2) {
        Respond(args, SetMessage("'%s': Invalid number of parameters.", args[0].c_str()), "500");
        return 0;
    }
    const std::string typed = Join(args);
    if (!CheckAccess(args[0].c_str(), &typed, "wo", false)) return 0;

    const std::string path = FileUtil::Resolve(root_, cwd_, typed);
    if (path.empty()) {
        Respond(args, "ERROR: unable to set file path.", "550");
        return 0;
    }
    // A directory is not a file to delete, whatever the platform call would do with it.
    if (FileUtil::Kind(path) != 2 || !FileUtil::RemoveFile(path)) {
        const std::string shown = commands::Shown(typed);
        Respond(args, SetMessage("%s: The system cannot find the file specified.", shown.c_str()),
                "550");
        return 0;
    }
    Respond(args, "DELE command successful.", "250");
    return 1;
}

}  // namespace orvex
