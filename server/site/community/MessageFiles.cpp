#include "server/site/community/MessageFiles.h"

#include <unistd.h>

#include <atomic>

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "engine/os/AtomicFile.h"

namespace orvex {

namespace {

// Messages on their way from one file to another wait under a private name (a leading dot, which
// no user name has), so that a message arriving meanwhile starts a new file instead of being
// removed with the moved ones.
std::string TakenName(const std::string& file) {
    static std::atomic<unsigned> counter{0};
    const size_t cut = file.find_last_of("\\/") + 1;  // 0 when there is no folder
    return file.substr(0, cut) + StringUtil::Format(".%s.%ld.%u.moving", file.c_str() + cut,
                                                    static_cast<long>(getpid()), ++counter);
}

}  // namespace

std::optional<std::string> TakeMessages(const std::string& from) {
    if (FileUtil::Kind(from) != 2) return std::nullopt;
    std::string taken = TakenName(from);
    if (!FileUtil::Rename(from, taken)) return std::nullopt;
    return taken;
}

bool PutMessages(const std::string& taken, const std::string& to, const std::string& back) {
    const std::optional<std::string> bytes = ReadWholeFile(taken);
    if (bytes && (bytes->empty() || AppendRecord(to, *bytes))) {
        FileUtil::RemoveFile(taken);
        return true;
    }
    if (bytes && AppendRecord(back, *bytes)) FileUtil::RemoveFile(taken);
    return false;
}

bool MoveMessages(const std::string& from, const std::string& to) {
    const std::optional<std::string> taken = TakeMessages(from);
    return taken && PutMessages(*taken, to, from);
}

}  // namespace orvex
