// What every family of SITE commands writes through: reply lines, help files and the site's
// event logs.

#include "engine/Clock.h"
#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "engine/TextFileReply.h"
#include "engine/os/AtomicFile.h"
#include "server/app/ServerSite.h"
#include "server/session/SiteSession.h"

namespace orvex {

int SiteSession::SendHelp(const Args& args, std::string_view file) {
    const std::string path = server_.MakeDataPath("help/", file);
    if (path.empty()) {
        Respond(args, "ERROR: out of memory.", "451", true, true, true);
        return 0;
    }
    const bool sent = TextFileReply::Send(Replies(), path, "200", std::nullopt, 0);
    Respond(args, "help", "200", false);
    return sent ? 1 : 0;
}

bool SiteSession::SendHelpLines(std::string_view file) {
    const std::string path = server_.MakeDataPath("help/", file);
    return !path.empty() && TextFileReply::Send(Replies(), path, "200", std::nullopt, 1);
}

void SiteSession::Line(std::string_view text) {
    Replies().Reply(text, "200", 1);
}

int SiteSession::RespondWithSecret(const Args& args, std::string_view text, std::string_view secret,
                                   std::string_view code) {
    std::string logged(text);
    if (!secret.empty())
        for (size_t at = logged.find(secret); at != std::string::npos; at = logged.find(secret, at))
            logged.erase(at, secret.size());
    Respond(args, logged, code, false, true);
    return Respond(args, text, code, true, false);
}

void SiteSession::SysopLog(std::string_view message) {
    WriteEventLog("sysop.log", message, user_);
}

std::string SiteSession::RealDirectory() const {
    return FileUtil::OsPath(root_ + cwd_);
}

int SiteSession::WriteEventLog(std::string_view file, std::string_view message,
                               std::string_view user) {
    const std::string path = server_.MakeDataPath("logs/", file);
    if (path.empty()) return 0;
    const int64_t now = Clock::NowSeconds();
    std::string line = FtpSite::FormatTime("%a %b %d %H:%M:%S %Y", now);
    line += StringUtil::Format(" [%-10lu] ", static_cast<unsigned long>(now));
    line.append(user);
    line.append(message);
    line += '\n';
    // One write per line on an appending descriptor: lines of concurrent sessions stay whole.
    return AppendRecord(path, line) ? 1 : 0;
}

}  // namespace orvex
