// MDTM, and setting a file's modification time: MFMT and MDTM with a time before the path.

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/MachineListing.h"
#include "engine/commands/CommandArgs.h"

namespace orvex {

namespace {

bool HasArguments(FtpSession& s, const Args& args, size_t count) {
    if (args.size() > count) return true;
    s.Respond(args, "'" + args[0] + "': Invalid number of parameters.", "500");
    return false;
}

}  // namespace

bool FtpSession::SetsModifyTime(const Args& args) {
    int64_t time = 0;
    return args.size() >= 3 && MachineListing::ParseUtcStamp(args[1], time);
}

int FtpSession::Mdtm(const Args& args) {
    if (!HasArguments(*this, args, 1)) return 0;
    if (SetsModifyTime(args)) return SetModifyTime(args);
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

int FtpSession::Mfmt(const Args& args) {
    if (!HasArguments(*this, args, 2)) return 0;
    return SetModifyTime(args);
}

int FtpSession::SetModifyTime(const Args& args) {
    int64_t time = 0;
    if (!MachineListing::ParseUtcStamp(args[1], time)) {
        Respond(args, SetMessage("'%s': Invalid time value.", args[1].c_str()), "501");
        return 0;
    }
    const std::string typed = Join(args, 0, 2);
    // The right to write the file, as for a STOR over it.
    const std::string path = WritablePath(args, typed);
    if (path.empty()) return 0;
    const std::string shown = commands::Shown(typed);
    const int kind = FileUtil::Kind(path);
    if (kind != 2) {
        Respond(args,
                SetMessage(kind == 0 ? "%s: No such file or directory." : "%s: not a plain file.",
                           shown.c_str()),
                "550");
        return 0;
    }
    if (!FileUtil::SetTimes(path, time)) {
        Respond(args, SetMessage("%s: Unable to set the modification time.", shown.c_str()), "550");
        return 0;
    }
    const std::string stamp = MachineListing::UtcStamp(time);
    Respond(args, SetMessage("Modify=%s; %s", stamp.c_str(), shown.c_str()), "213");
    return 1;
}

}  // namespace orvex
