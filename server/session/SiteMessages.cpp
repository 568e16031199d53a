// Messages between users: the inbox of a user is the file named like the user in msgs/.

#include "engine/Clock.h"
#include "engine/StringUtil.h"
#include "engine/os/AtomicFile.h"
#include "server/accounts/UserName.h"
#include "server/app/ServerSite.h"
#include "server/session/SiteSession.h"

namespace orvex {

bool SiteSession::SendMessage(std::string_view recipient, std::string_view text) {
    if (!IsValidUserName(recipient)) return false;
    const std::string path = server_.MakeDataPath("msgs/", recipient);
    if (path.empty()) return false;
    const std::string when = FtpSite::FormatTime("%a %b %d %H:%M:%S %Y", Clock::NowSeconds());
    std::string message = "\nFrom: " + user_ + " (" + when + ")\n";
    message.append(74, '-');
    message += '\n';
    message.append(text);
    message += '\n';
    // One write, so that two senders never mix their messages.
    return AppendRecord(path, message);
}

}  // namespace orvex
