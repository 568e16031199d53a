#include "server/remote/SharedNames.h"

#include <arpa/inet.h>
#include <openssl/rand.h>

#include "engine/StringUtil.h"
#include "server/accounts/UserName.h"
#include "server/accounts/UserRecord.h"

namespace orvex {

namespace {

constexpr char kFirstLetter = 'A';
constexpr unsigned kLetters = 25;  // 'A' to 'Y'

std::optional<uint64_t> ReadDecimal(std::string_view text, uint64_t max) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > max) return std::nullopt;
    return v;
}

}  // namespace

std::string MakeSharedName(std::string_view user, std::string_view server, uint64_t port) {
    if (IsSharedName(user) || server.empty()) return std::string(user);
    return StringUtil::Format("%.*s$%.*s$%llu", static_cast<int>(user.size()), user.data(),
                              static_cast<int>(server.size()), server.data(),
                              static_cast<unsigned long long>(port));
}

std::optional<SharedName> SplitSharedName(std::string_view name) {
    if (!IsValidSharedName(name)) return std::nullopt;
    const size_t first = name.find('$');
    const size_t second = name.find('$', first + 1);
    const std::optional<uint32_t> port = SharedNamePort(name.substr(second + 1));
    if (!port) return std::nullopt;
    return SharedName{std::string(name.substr(0, first)),
                      std::string(name.substr(first + 1, second - first - 1)), *port};
}

bool IsIpAddress(std::string_view text) {
    if (text.empty() || text.size() > 15) return false;
    const std::string s(text);
    in_addr a{};
    return inet_pton(AF_INET, s.c_str(), &a) == 1;
}

std::optional<uint32_t> ReadPort(std::string_view text) {
    const std::optional<uint64_t> v = ReadDecimal(text, 65535);
    if (!v) return std::nullopt;
    return static_cast<uint32_t>(*v);
}

std::optional<int64_t> ReadTimestamp(std::string_view text) {
    const std::optional<uint64_t> v = ReadDecimal(text, 0xFFFFFFFFull);
    if (!v) return std::nullopt;
    return static_cast<int64_t>(*v);
}

std::optional<std::string> ParenthesizedText(std::string_view line, size_t max) {
    const size_t open = line.find('(');
    if (open == std::string_view::npos) return std::nullopt;
    std::string_view inner = line.substr(open + 1);
    inner = inner.substr(0, inner.find(')'));
    return std::string(inner.substr(0, max));
}

std::optional<UserData> ReadUserDataReply(const std::vector<std::string>& lines) {
    constexpr size_t kPasswordHashMax = 32;
    UserData out;
    for (const std::string& line : lines) {
        const size_t first = line.find_first_not_of(' ');
        const std::string_view plain =
            first == std::string::npos ? std::string_view() : std::string_view(line).substr(first);
        if (plain.find("Command successful") != std::string_view::npos) {
            out.hash = ParenthesizedText(plain, kPasswordHashMax).value_or("");
            return out;
        }
        out.file.append(plain);
        out.file += '\n';
    }
    return std::nullopt;
}

bool KeepAuthorityHere(UserRecord& received, const UserRecord* here) {
    const UserRecord before = received;
    std::erase_if(received.flags,
                  [](char f) { return kAdministeringFlags.find(f) != std::string_view::npos; });
    if (here) {
        for (char f : here->flags)
            if (kAdministeringFlags.find(f) != std::string_view::npos) received.flags += f;
        // Another server must not open an operator's account to more addresses either.
        if (here->HasFlag(kFlagSiteop)) received.ipMasks = here->ipMasks;
    }
    return received != before;
}

std::optional<std::string> MakeTemporaryPassword() {
    std::string out;
    unsigned char bytes[64];
    while (out.size() < kTemporaryPasswordLength) {
        if (RAND_bytes(bytes, sizeof bytes) != 1) return std::nullopt;
        // Only bytes below a multiple of 25 keep every letter equally likely.
        for (unsigned char b : bytes)
            if (b < 250 && out.size() < kTemporaryPasswordLength)
                out += static_cast<char>(kFirstLetter + b % kLetters);
    }
    return out;
}

}  // namespace orvex
