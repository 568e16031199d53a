// MKD and XMKD.

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/commands/CommandArgs.h"

namespace orvex {

int FtpSession::Mkd(const Args& args) {
    if (args.size() < 2) {
        Respond(args, SetMessage("'%s': Invalid number of parameters.", args[0].c_str()), "500");
        return 0;
    }
    const std::string typed = Join(args);
    const std::string shown = commands::Shown(typed);
    std::string request = typed;
    FileUtil::StripTrailingSep(request);
    if (!CheckAccess(args[0].c_str(), &request, "wm", true)) return 0;

    std::string path = FileUtil::Resolve(root_, cwd_, request);
    if (path.empty()) {
        Respond(args, "ERROR: unable to set directory path.", "550");
        return 0;
    }
    if (commands::LeafIsForbidden(root_, path)) {
        Respond(args, SetMessage("%s: Unable to create directory.", shown.c_str()), "550");
        return 0;
    }
    switch (FileUtil::Kind(path)) {
        case 1:
            Respond(args, SetMessage("%s: Directory exits.", shown.c_str()), "521");
            return 0;
        case 2:
            Respond(args, SetMessage("%s: Is a file.", shown.c_str()), "521");
            return 0;
        default:
            break;
    }
    if (!FileUtil::MakeDir(path)) {
        Respond(args, SetMessage("%s: Unable to create directory.", shown.c_str()), "550");
        return 0;
    }
    OnCreatedDirectory(path);
    Respond(args, SetMessage("\"%s\" new directory created.", shown.c_str()), "257");
    return 1;
}

}  // namespace orvex
