// RNFR and RNTO.

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/commands/CommandArgs.h"

namespace orvex {

int FtpSession::Rnfr(const Args& args) {
    if (args.size() < 2) {
        Respond(args, SetMessage("'%s': Invalid number of parameters.", args[0].c_str()), "500");
        return 0;
    }
    const std::string typed = Join(args);
    if (!CheckAccess(args[0].c_str(), &typed, "wa", false)) return 0;

    std::string path = FileUtil::Resolve(root_, cwd_, typed);
    if (path.empty()) {
        Respond(args, "ERROR: unable to set file path.", "550");
        return 0;
    }
    if (FileUtil::Kind(path) == 0) {
        // An earlier source stays valid.
        const std::string shown = commands::Shown(typed);
        Respond(args, SetMessage("%s: No such file or directory.", shown.c_str()), "550");
        return 0;
    }
    if (path.size() > root_.size()) FileUtil::StripTrailingSep(path);
    renameSource_ = path;
    Respond(args, "File exists, ready for destination name.", "350");
    return 1;
}

int FtpSession::Rnto(const Args& args) {
    if (args.size() < 2) {
        Respond(args, SetMessage("'%s': Invalid number of parameters.", args[0].c_str()), "500");
        return 0;
    }
    if (!renameSource_) {
        Respond(args, "Bad sequence of commands.", "503");
        return 0;
    }
    const std::string typed = Join(args);
    std::string request = typed;
    FileUtil::StripTrailingSep(request);
    if (!CheckAccess(args[0].c_str(), &request, "wa", true)) return 0;

    std::string target = FileUtil::Resolve(root_, cwd_, request);
    if (target.empty()) {
        Respond(args, "ERROR: unable to set file path.", "550");
        return 0;
    }
    if (target.size() > root_.size()) FileUtil::StripTrailingSep(target);

    // From here on the source is used up, whatever the outcome.
    const std::string source = *renameSource_;
    renameSource_.reset();
    const std::string shown = commands::Shown(typed);
    if (FileUtil::Kind(target) != 0) {
        Respond(
            args,
            SetMessage("%s: Cannot create a file when that file already exists.", shown.c_str()),
            "550");
        return 0;
    }
    if (commands::LeafIsForbidden(root_, target) || !FileUtil::Rename(source, target)) {
        Respond(args, SetMessage("%s: Unable to rename file.", shown.c_str()), "550");
        return 0;
    }
    OnRenamed(source, target);
    Respond(args, "RNTO command successful.", "250");
    return 1;
}

}  // namespace orvex
