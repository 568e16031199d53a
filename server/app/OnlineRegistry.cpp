#include "server/app/OnlineRegistry.h"

#include <algorithm>
#include <cstdlib>

#include "engine/Clock.h"
#include "engine/FtpSession.h"
#include "engine/StringUtil.h"

namespace orvex {

namespace {

constexpr size_t kStateCwdMax = 264;
constexpr size_t kStateTextMax = 79;

bool IsShared(std::string_view name) {
    return name.find('$') != std::string_view::npos;
}

// The verb alone when the line is a PASS command, else the line.
std::string_view WithoutPassword(std::string_view line) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) return line;
    std::string_view rest = line.substr(start);
    if (rest.size() >= 4 && StringUtil::CompareNoCaseN(rest, "PASS", 4) == 0 &&
        (rest.size() == 4 || rest[4] == ' ' || rest[4] == '\t')) {
        return rest.substr(0, 4);
    }
    return line;
}

// The session's own thread sees both flags at its next poll and closes its sockets itself; no
// descriptor of another thread is ever touched here.
void AskToEnd(FtpSession& session) {
    session.SetAbort(true);
    session.SetEnded(true);
}

}  // namespace

void OnlineRegistry::Store(std::string& field, std::string_view text) {
    field.assign(text.substr(0, kOnlineTextMax));
}

uint32_t OnlineRegistry::Register(const std::string& user, FtpSession* session,
                                  const std::string& clientIp) {
    if (user.empty() || !session || clientIp.empty()) return 0;
    LockGuard g(lock_);
    const uint32_t number = online_.MaxId() + 1;
    OnlineRecord record;
    record.loginTime = record.lastActive = Clock::NowSeconds();
    Store(record.clientIp, clientIp);
    Tally(user, record.clientIp, 1);
    online_.Create(static_cast<int32_t>(number), user, std::move(record));
    sessions_.Create(static_cast<int32_t>(number), user,
                     LiveSession{session, session->CurrentDirectory(), session->Passive()});
    return number;
}

bool OnlineRegistry::Unregister(uint32_t connection) {
    LockGuard g(lock_);
    if (auto* s = sessions_.FindId(static_cast<int32_t>(connection))) sessions_.Release(s);
    auto* node = online_.FindId(static_cast<int32_t>(connection));
    if (!node) return false;
    if (node->name) Tally(*node->name, node->data.clientIp, -1);
    return online_.Release(node);
}

void OnlineRegistry::Tally(const std::string& user, const std::string& clientIp, int change) {
    auto [at, added] = tallies_.try_emplace(StringUtil::Lowered(user));
    UserTally& tally = at->second;
    if (added) tally.name = user;
    tally.logins += change;
    auto from = tally.fromAddress.try_emplace(clientIp, 0).first;
    from->second += change;
    if (from->second <= 0) tally.fromAddress.erase(from);
    if (tally.logins <= 0) tallies_.erase(at);
}

size_t OnlineRegistry::CountOnline() const {
    LockGuard g(lock_);
    return online_.Count();
}

bool OnlineRegistry::Touch(uint32_t connection, std::string_view line) {
    LockGuard g(lock_);
    auto* node = online_.FindId(static_cast<int32_t>(connection));
    if (!node) return false;
    Store(node->data.lastCommand, WithoutPassword(line));
    node->data.lastActive = Clock::NowSeconds();
    return true;
}

int OnlineRegistry::KindOf(std::string_view line) {
    if (line.size() < 4) return kNoTransfer;
    if (StringUtil::CompareNoCaseN(line, "RETR", 4) == 0) return kDownload;
    for (std::string_view verb : {"STOR", "STOU", "APPE"})
        if (StringUtil::CompareNoCaseN(line, verb, 4) == 0) return kUpload;
    return kNoTransfer;
}

int OnlineRegistry::NoteTransfer(uint32_t connection, std::string_view line) {
    const int kind = KindOf(line);
    if (kind == kNoTransfer) return kNoTransfer;
    LockGuard g(lock_);
    auto* node = online_.FindId(static_cast<int32_t>(connection));
    if (!node) return kNoTransfer;
    Store(node->data.lastTransferCommand, line);
    return kind;
}

void OnlineRegistry::SetRate(uint32_t connection, uint32_t bytesPerSecond) {
    LockGuard g(lock_);
    if (auto* node = online_.FindId(static_cast<int32_t>(connection)))
        node->data.currentRate = bytesPerSecond;
}

std::optional<OnlineRecord> OnlineRegistry::CopyRecord(uint32_t connection) const {
    LockGuard g(lock_);
    if (auto* node = online_.FindId(static_cast<int32_t>(connection))) return node->data;
    return std::nullopt;
}

std::optional<std::string> OnlineRegistry::LastTransferCommand(uint32_t connection) const {
    auto record = CopyRecord(connection);
    if (!record) return std::nullopt;
    return record->lastTransferCommand;
}

std::optional<std::string> OnlineRegistry::UserName(uint32_t connection) const {
    LockGuard g(lock_);
    if (auto* node = online_.FindId(static_cast<int32_t>(connection))) return node->name;
    return std::nullopt;
}

KeyedList<OnlineRecord> OnlineRegistry::Snapshot(OnlineKind kind) const {
    KeyedList<OnlineRecord> out("online userlist header");
    LockGuard g(lock_);
    for (const auto& node : online_) {
        const bool shared = node.name && IsShared(*node.name);
        if (kind == OnlineKind::Local && shared) continue;
        if (kind == OnlineKind::Shared && !shared) continue;
        out.Create(node.id, node.name, node.data);
    }
    return out;
}

int OnlineRegistry::CountLogins(std::string_view user, const std::string* clientIp) const {
    LockGuard g(lock_);
    auto at = tallies_.find(StringUtil::Lowered(user));
    if (at == tallies_.end()) return 0;
    if (!clientIp) return at->second.logins;
    auto from = at->second.fromAddress.find(*clientIp);
    return from == at->second.fromAddress.end() ? 0 : from->second;
}

std::vector<std::pair<std::string, int>> OnlineRegistry::OnlineUsers() const {
    std::vector<std::pair<std::string, int>> out;
    LockGuard g(lock_);
    out.reserve(tallies_.size());
    for (const auto& [folded, tally] : tallies_) out.emplace_back(tally.name, tally.logins);
    return out;
}

bool OnlineRegistry::Kill(uint32_t connection) {
    LockGuard g(lock_);
    auto* node = sessions_.FindId(static_cast<int32_t>(connection));
    if (!node || !node->data.session) return false;
    AskToEnd(*node->data.session);
    return true;
}

int OnlineRegistry::KickUser(std::string_view user, uint32_t spare) {
    LockGuard g(lock_);
    int asked = 0;
    sessions_.ForEachNamed(user, true, [&](auto& node) {
        if (!node.data.session) return;
        if (spare != 0 && static_cast<uint32_t>(node.id) == spare) return;
        AskToEnd(*node.data.session);
        ++asked;
    });
    return asked;
}

int OnlineRegistry::CountTransfersWhere(std::string_view user, uint32_t connection,
                                        int kind) const {
    LockGuard g(lock_);
    int n = 0;
    auto count = [&](const KeyedList<LiveSession>::Node& node) {
        if (!node.data.session || node.data.session->RunningTransfers() < 1) return;
        if (kind != kNoTransfer) {
            auto* record = online_.FindId(node.id);
            if (!record || KindOf(record->data.lastTransferCommand) != kind) return;
        }
        ++n;
    };
    if (connection != 0) {
        if (auto* node = sessions_.FindId(static_cast<int32_t>(connection))) count(*node);
    } else {
        sessions_.ForEachNamed(user, true, count);
    }
    return n;
}

int OnlineRegistry::CountTransfers(std::string_view user, int kind) const {
    if (user.empty()) return 0;
    return CountTransfersWhere(user, 0, kind);
}

int OnlineRegistry::CountTransfers(uint32_t connection, int kind) const {
    if (connection == 0) return 0;
    return CountTransfersWhere({}, connection, kind);
}

std::vector<OnlineSessionInfo> OnlineRegistry::SessionsOf(std::string_view user) const {
    std::vector<OnlineSessionInfo> out;
    LockGuard g(lock_);
    sessions_.ForEachNamed(user, true, [&](const auto& node) {
        if (!node.data.session) return;
        FtpSession& s = *node.data.session;
        OnlineSessionInfo info;
        info.user = node.name->substr(0, kStateTextMax);
        info.connection = static_cast<uint32_t>(node.id);
        info.cwd = node.data.cwd.substr(0, kStateCwdMax);
        info.clientIp = s.PeerIp().substr(0, kStateTextMax);
        info.clientHost = s.PeerHost().substr(0, kStateTextMax);
        info.clientPort = std::atoi(s.PeerPort().c_str());
        info.lastActive = s.LastActivity();
        // A file job also holds a listing count for as long as it runs.
        info.transfers = s.RunningTransfers();
        info.listings = std::max(0, s.RunningListings() - info.transfers);
        info.tls = s.IsTls();
        info.dataEncrypted = s.DataProtection();
        info.passive = node.data.passive;
        out.push_back(std::move(info));
    });
    return out;
}

void OnlineRegistry::NoteState(uint32_t connection, std::string_view cwd, bool passive) {
    LockGuard g(lock_);
    auto* node = sessions_.FindId(static_cast<int32_t>(connection));
    if (!node) return;
    node->data.cwd.assign(cwd.substr(0, kStateCwdMax));
    node->data.passive = passive;
}

}  // namespace orvex
