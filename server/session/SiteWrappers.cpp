// The commands that only need their path mapped through the directory links (LIST, MDTM, MFMT,
// MLSD, MLST, SIZE, STAT), and QUIT with its goodbye text.

#include "engine/FileUtil.h"
#include "engine/TextFileReply.h"
#include "server/app/ServerSite.h"
#include "server/session/ScopedMapping.h"
#include "server/session/SiteSession.h"

namespace orvex {

int SiteSession::Mdtm(const Args& args) {
    return RunMapped(
        args, "MDTM", [this](const Args& a) { return FtpSession::Mdtm(a); }, false,
        SetsModifyTime(args) ? 2 : 1);
}

int SiteSession::Mfmt(const Args& args) {
    return RunMapped(
        args, "MFMT", [this](const Args& a) { return FtpSession::Mfmt(a); }, false, 2);
}

int SiteSession::Size(const Args& args) {
    return RunMapped(
        args, "SIZE", [this](const Args& a) { return FtpSession::Size(a); }, false);
}

int SiteSession::Stat(const Args& args) {
    return RunMapped(
        args, "STAT", [this](const Args& a) { return FtpSession::Stat(a); }, true);
}

int SiteSession::List(const Args& args) {
    // Options keep their order; the path is what is left.
    Args options;
    Args words{args.empty() ? std::string("LIST") : args[0]};
    for (size_t i = 1; i < args.size(); ++i)
        (!args[i].empty() && args[i][0] == '-' ? options : words).push_back(args[i]);
    std::string typed = Join(words);
    if (!typed.empty()) FileUtil::AddTrailingSep(typed);
    ScopedMapping mapped(*this, typed);
    if (!mapped.Mapped()) return FtpSession::List(args);
    std::string path = mapped.Path();
    FileUtil::StripTrailingSep(path);
    Args list{"LIST"};
    list.insert(list.end(), options.begin(), options.end());
    if (!path.empty()) list.push_back(path);
    return FtpSession::List(list);
}

int SiteSession::Mlsd(const Args& args) {
    return RunMapped(
        args, "MLSD", [this](const Args& a) { return FtpSession::Mlsd(a); }, true);
}

int SiteSession::Mlst(const Args& args) {
    return RunMapped(
        args, "MLST", [this](const Args& a) { return FtpSession::Mlst(a); }, false);
}

int SiteSession::Quit(const Args& args) {
    const std::string goodbye = server_.MakeDataPath("misc/", "goodbye.msg");
    if (!goodbye.empty() && FileUtil::Kind(goodbye) == 2)
        TextFileReply::Send(Replies(), goodbye, "221", std::nullopt, 1);
    return FtpSession::Quit(args);
}

}  // namespace orvex
