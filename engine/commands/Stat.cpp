// STAT: the session's status, or a listing of a path on the control connection.

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/Listing.h"
#include "engine/StringUtil.h"
#include "engine/TransferJob.h"

namespace orvex {

namespace {
constexpr size_t kMaxStatusLine = 255;

std::string Bounded(std::string line) {
    StringUtil::Truncate(line, kMaxStatusLine);
    return line;
}
}  // namespace

int FtpSession::Stat(const Args& args) {
    if (args.size() < 2) {
        if (!CheckAccess(args[0].c_str(), nullptr, "sx", false)) return 0;
        const std::string& host = localHost_.empty() ? localIp_ : localHost_;
        reply_.Reply(Bounded(host + " FTP server status:"), "211", 1);
        reply_.Reply(
            Bounded("Version " + site_.GetSiteName() + "-" + site_.GetSiteVersion() + " (" +
                    site_.GetEngineVersion() + ")" + FtpSite::FormatTime(" %a %b %d %H:%M:%S %Y")),
            "211", 2);
        reply_.Reply(Bounded("Connected to user-" + peerHost_ + " (" + peerIp_ + ")"), "211", 2);
        reply_.Reply(Bounded("Logged in as " + user_), "211", 2);
        reply_.Reply(
            Bounded(std::string("TYPE: ") + (type_ == 'A' ? "ASCII, FORM: Nonprint; " : "Image; ") +
                    "STRUcture: File; transfer MODE: Stream"),
            "211", 2);
        reply_.Reply(RunningJobs() > 0 ? "Data transfer in progress" : "No data connection", "211",
                     2);
        Respond(args, "End of status.", "211");
        return 1;
    }

    std::string path = Join(args);
    FileUtil::StripTrailingSep(path);
    if (!CheckAccess(args[0].c_str(), &path, "sx", true)) return 0;
    if (!CheckAccess(args[0].c_str(), &path, "lx", false)) return 0;

    reply_.Reply(Bounded("status of " + FileUtil::Slashed(path) + ":"), "213", 1);
    SetAbort(false);
    TransferJob job;
    job.jobType = 'L';
    job.argument = path;
    job.root = root_;
    job.cwd = cwd_;
    job.type = type_;
    job.session = this;
    job.site = &site_;
    ControlChannel& control = Control();
    ListingOutput out(
        [&control](const char* data, size_t len) { return control.WriteAll(data, len); });
    GenerateListing(job, out);
    out.Flush();
    Respond(args, "End of status.", "213");
    return 1;
}

}  // namespace orvex
