// RETR, STOR, STOU and APPE: validation, then a transfer job; and how jobs are started.

#include <fcntl.h>
#include <unistd.h>

#include "engine/FileUtil.h"
#include "engine/FtpSession.h"
#include "engine/RunState.h"
#include "engine/TransferJob.h"
#include "engine/commands/CommandArgs.h"

namespace orvex {

namespace {

bool NeedsArgument(FtpSession& s, const Args& args) {
    if (args.size() >= 2) return true;
    s.Respond(args, "'" + args[0] + "': Invalid number of parameters.", "500");
    return false;
}

}  // namespace

void FtpSession::ClosePassiveListener() {
    if (dataListener_ < 0) return;
    if (site_.ClosePassiveSocket(dataListener_) != 1) close(dataListener_);
    dataListener_ = -1;
}

bool FtpSession::StartJob(char jobType, int storeMode, const std::string& options,
                          const std::string& argument, int64_t modifyTime, bool machine) {
    auto job = NewJob(jobType, argument, modifyTime);
    job->storeMode = storeMode;
    job->options = options.substr(0, 15);
    job->machine = machine;
    job->facts = machineFacts_;
    const Args replyArgs{job->Verb(), argument};
    if (LaunchJob(std::move(job))) return true;
    Respond(replyArgs, "ERROR: unable to create a new transfer thread.", "530", true, true, true);
    return false;
}

bool FtpSession::StartFileReceive(const std::string& directory, const std::string& fileName,
                                  int64_t modifyTime,
                                  std::function<bool(const std::string&, bool)> received) {
    auto job = NewJob('R', fileName, modifyTime);
    job->root = directory;
    job->cwd.clear();
    job->type = 'A';
    job->restartOffset = 0;
    job->received = std::move(received);
    return LaunchJob(std::move(job));
}

std::unique_ptr<TransferJob> FtpSession::NewJob(char jobType, const std::string& argument,
                                                int64_t modifyTime) {
    auto job = std::make_unique<TransferJob>();
    job->jobType = jobType;
    job->argument = argument;
    job->cwd = cwd_;
    job->root = root_;
    job->passive = passive_;
    // The job's own descriptor: a PASV meanwhile closes the session's, never the one it waits on.
    if (passive_ && dataListener_ >= 0)
        job->dataListener = fcntl(dataListener_, F_DUPFD_CLOEXEC, 0);
    job->portAddress = portAddress_;
    job->portNumber = portNumber_;
    job->type = type_;
    job->restartOffset = restartOffset_;
    job->dataProtection = dataProtection_;
    job->modifyTime = modifyTime;
    job->session = this;
    job->site = &site_;
    job->user = user_;
    job->peerIp = peerIp_;
    job->relayIp = relayIp_;
    job->tlsReuse = site_.Edge().tlsDataReuse;
    return job;
}

bool FtpSession::LaunchJob(std::unique_ptr<TransferJob> job) {
    std::atomic<int>& counter = job->jobType == 'L' ? runningListings_ : runningTransfers_;
    if (job->jobType != 'L') restartOffset_ = 0;
    SetAbort(false);
    ++counter;
    if (StartTransferThread(std::move(job))) return true;
    DecrementIfPositive(counter);
    return false;
}

int FtpSession::Retr(const Args& args) {
    if (!NeedsArgument(*this, args)) return 0;
    const std::string typed = Join(args);
    if (!CheckAccess(args[0].c_str(), &typed, "dr", false)) return 0;
    const std::string path = FileUtil::Resolve(root_, cwd_, typed);
    const int kind = FileUtil::Kind(path);
    const std::string shown = commands::Shown(typed);
    if (kind == 0) {
        Respond(args, SetMessage("%s: No such file or directory.", shown.c_str()), "550");
        return 0;
    }
    if (kind == 1) {
        Respond(args, SetMessage("%s: Not a plain file.", shown.c_str()), "550");
        return 0;
    }
    return StartJob('S', 0, std::string(), typed) ? 1 : 0;
}

int FtpSession::Stor(const Args& args, int storeMode) {
    if (!NeedsArgument(*this, args)) return 0;
    std::string typed = Join(args);
    FileUtil::StripTrailingSep(typed);
    const std::string path = WritablePath(args, typed);
    if (path.empty()) return 0;
    const std::string shown = commands::Shown(typed);
    if (!FileUtil::IsDirectory(FileUtil::DirName(path))) {
        Respond(args, SetMessage("%s: The system cannot find the path specified.", shown.c_str()),
                "550");
        return 0;
    }
    if (commands::LeafIsForbidden(root_, path) || FileUtil::IsDirectory(path)) {
        // No retry can change it: 553, not a 4xx that clients try again for ever.
        Respond(args,
                SetMessage("%s: The system cannot write to the file specified.", shown.c_str()),
                "553");
        return 0;
    }
    return StartJob('R', storeMode, std::string(), typed) ? 1 : 0;
}

std::string FtpSession::WritablePath(const Args& args, const std::string& typed) {
    if (!CheckAccess(args[0].c_str(), &typed, "uw", true)) return {};
    std::string path = FileUtil::Resolve(root_, cwd_, typed);
    if (path.empty()) Respond(args, "ERROR: unable to set file path.", "550");
    return path;
}

int FtpSession::Stou(const Args& args) {
    if (!NeedsArgument(*this, args)) return 0;
    return Stor(args, 1);
}

int FtpSession::Appe(const Args& args) {
    if (!NeedsArgument(*this, args)) return 0;
    return Stor(args, 2);
}

}  // namespace orvex
