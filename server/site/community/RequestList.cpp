#include "server/site/community/RequestList.h"

#include <cstdlib>

#include "engine/StringUtil.h"
#include "engine/Tokenizer.h"
#include "engine/os/AtomicFile.h"
#include "engine/os/FileLock.h"

namespace orvex {

std::vector<RequestEntry> ParseRequests(std::string_view text) {
    std::vector<RequestEntry> out;
    const Tokenizer tokenizer;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const Args fields = tokenizer.Split(line, ';', true);
        if (fields.size() < 3) continue;
        RequestEntry r;
        r.user = fields[0];
        r.time = std::strtoull(fields[1].c_str(), nullptr, 10);
        r.title = fields[2];
        StringUtil::StripEol(r.title);
        StringUtil::Truncate(r.title, kRequestTitleMax);
        out.push_back(std::move(r));
    }
    return out;
}

bool IsStorableTitle(std::string_view title) {
    for (const char c : title) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ';' || byte < 0x20 || byte == 0x7f) return false;
    }
    return true;
}

std::string FormatRequest(const RequestEntry& request) {
    return request.user + ';' + std::to_string(request.time) + ';' + request.title + '\n';
}

std::vector<RequestEntry> RequestFile::List() const {
    LockGuard g(lock_);
    const std::optional<std::string> text = path_.empty() ? std::nullopt : ReadWholeFile(path_);
    return text ? ParseRequests(*text) : std::vector<RequestEntry>{};
}

bool RequestFile::Add(const RequestEntry& request) {
    if (path_.empty()) return false;
    LockGuard g(lock_);
    const FileLock edit(path_);
    return !edit.Blocked() && AppendLine(path_, FormatRequest(request));
}

RequestFile::Fill RequestFile::Take(long number, RequestEntry& filled,
                                    const std::function<bool(const RequestEntry&)>& log) {
    if (path_.empty()) return Fill::kUnreadable;
    LockGuard g(lock_);
    // Another program (an operator's editor under flock) may be changing the file.
    const FileLock edit(path_);
    const std::optional<std::string> text = edit.Blocked() ? std::nullopt : ReadWholeFile(path_);
    if (!text) return Fill::kUnreadable;
    std::vector<RequestEntry> requests = ParseRequests(*text);
    if (number < 1 || static_cast<size_t>(number) > requests.size()) return Fill::kNoSuchRequest;
    filled = requests[static_cast<size_t>(number - 1)];
    requests.erase(requests.begin() + (number - 1));
    std::string rest;
    for (const RequestEntry& r : requests) rest += FormatRequest(r);
    if (!log(filled) || !WriteFileAtomically(path_, rest)) return Fill::kNotMoved;
    return Fill::kFilled;
}

}  // namespace orvex
