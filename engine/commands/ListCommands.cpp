// LIST and NLST: option letters and path, then a listing job.

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/commands/CommandArgs.h"

namespace orvex {

namespace {
constexpr size_t kOptionsSize = 16;
}

int FtpSession::List(const Args& args) {
    std::string options;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.empty() || a[0] != '-') continue;
        // The first option that would overflow the letters ends option collection.
        if (options.size() + a.size() - 1 >= kOptionsSize) break;
        options.append(a, 1, std::string::npos);
    }
    const std::string path = Join(args, '-');
    const bool recursive = options.find('R') != std::string::npos;
    if (!CheckAccess(args[0].c_str(), &path, recursive ? "vx" : "lvx", true)) return 0;

    const std::string full = FileUtil::Resolve(root_, cwd_, path);
    if (full.empty()) {
        Respond(args, "ERROR: unable to set directory path.", "550");
        return 0;
    }
    if (FileUtil::Kind(full) == 0 && full.find('*') == std::string::npos) {
        const std::string shown = commands::Shown(path);
        Respond(args, SetMessage("%s: No such file or directory.", shown.c_str()), "550");
        return 0;
    }
    return StartJob('L', 0, options, path) ? 1 : 0;
}

int FtpSession::Nlst(const Args& args) {
    Args list{"LIST", "-N"};
    list.insert(list.end(), args.begin() + (args.empty() ? 0 : 1), args.end());
    return List(list);
}

}  // namespace orvex
