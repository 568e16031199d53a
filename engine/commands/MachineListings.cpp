// MLSD and MLST: listings with one line of facts per entry, over a data connection or on the
// control connection.

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/MachineListing.h"
#include "engine/commands/CommandArgs.h"

namespace orvex {

int FtpSession::Mlsd(const Args& args) {
    const std::string path = Join(args);
    if (!CheckAccess(args[0].c_str(), &path, "lvx", true)) return 0;
    const std::string full = FileUtil::Resolve(root_, cwd_, path);
    if (full.empty()) {
        Respond(args, "ERROR: unable to set directory path.", "550");
        return 0;
    }
    const std::string shown = commands::Shown(path);
    switch (FileUtil::Kind(full)) {
        case 0:
            Respond(args, SetMessage("%s: No such file or directory.", shown.c_str()), "550");
            return 0;
        case 2:
            Respond(args, SetMessage("%s: Not a directory.", shown.c_str()), "501");
            return 0;
        default:
            return StartJob('L', 0, std::string(), path, 0, true) ? 1 : 0;
    }
}

int FtpSession::Mlst(const Args& args) {
    const std::string path = Join(args);
    // One entry's facts, as MDTM and SIZE give them: a client asks before it downloads.
    if (!CheckAccess(args[0].c_str(), &path, "drlvx", false)) return 0;
    std::string full = FileUtil::Resolve(root_, cwd_, path);
    FileUtil::StripTrailingSep(full);
    FileInfo info;
    const std::string shown = path.empty() ? "/" + FileUtil::Slashed(cwd_) : commands::Shown(path);
    if (full.empty() || !FileUtil::Stat(full, info)) {
        Respond(args, SetMessage("%s: No such file or directory.", shown.c_str()), "550");
        return 0;
    }
    Respond(args, SetMessage("Listing %s", shown.c_str()), "250", true, false, false, 1);
    const std::unique_ptr<EntryFacts> facts = site_.MachineFacts(user_);
    Respond(args, MachineListing::EntryLine(*facts, full, info, machineFacts_, shown), "250", true,
            false, false, 3);
    Respond(args, "End", "250");
    return 1;
}

}  // namespace orvex
