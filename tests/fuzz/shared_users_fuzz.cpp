// What other servers send about shared users, on arbitrary text: the remote.passwd table reads
// back as written, a name accepted as shared never leaves the users folder, and the replies to
// LOGIN and USERDATA are taken apart within their limits.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "server/accounts/AccountStore.h"
#include "server/remote/SharedNames.h"

using namespace orvex;

namespace {

void CheckTable(std::string_view text) {
    KeyedList<RemoteAccount> list(kRemotePasswdListName);
    ParseRemotePasswd(text, list);
    KeyedList<RemoteAccount> back(kRemotePasswdListName);
    ParseRemotePasswd(FormatRemotePasswd(list), back);
    if (back.Count() != list.Count()) abort();
    auto it = back.begin();
    for (const auto& n : list) {
        const Account& a = n.data.account;
        if (n.id < kFirstRemoteUserId || !SplitSharedName(a.user)) abort();
        if (it->id != n.id || it->data.account.user != a.user || it->data.account.uid != a.uid ||
            it->data.account.gid != a.gid || it->data.account.added != a.added)
            abort();
        ++it;
    }
}

void CheckName(std::string_view text) {
    const std::optional<SharedName> parts = SplitSharedName(text);
    if (!parts) return;
    if (text.find('/') != std::string_view::npos || text.find('\\') != std::string_view::npos ||
        text.find("..") != std::string_view::npos || text.size() > 63)
        abort();
    if (MakeSharedName(parts->user, parts->server, parts->port) != text &&
        text.find("$0") == std::string_view::npos)  // a port written with leading zeros
        abort();
}

void CheckReplies(std::string_view text) {
    if (const auto p = ParenthesizedText(text, kTemporaryPasswordLength))
        if (p->size() > kTemporaryPasswordLength) abort();
    std::vector<std::string> lines;
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (const auto data = ReadUserDataReply(lines))
        if (data->hash.size() > 32 || data->file.size() > text.size() + lines.size()) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckTable(text);
    CheckName(text);
    CheckReplies(text);
    return 0;
}
