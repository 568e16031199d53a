// Listings and file transfers inside an alias: the command goes to the remote server, which
// opens the data connection with the client itself; the session relays the replies and waits
// for the end of the transfer.

#include <algorithm>
#include <cstdlib>

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/remote/AliasSession.h"

namespace orvex {

namespace {

// Counts a forwarded transfer among the session's running ones while it lasts.
class RunningGuard {
  public:
    explicit RunningGuard(std::atomic<int>& n) : n_(n) { ++n_; }
    ~RunningGuard() { --n_; }
    RunningGuard(const RunningGuard&) = delete;
    RunningGuard& operator=(const RunningGuard&) = delete;

  private:
    std::atomic<int>& n_;
};

}  // namespace

int AliasSession::SyncProtection(const AliasRecord& alias) {
    if (alias.encMode == 0) return DataProtection() ? -1 : 1;
    // On the connection the transfer command will use.
    const RemoteReply r =
        ForwardToAlias(alias.directory, DataProtection() ? "PROT P" : "PROT C", Hold::Keep);
    return r.Begins('2') ? 1 : 0;
}

std::optional<AliasSession::AliasTarget> AliasSession::MirrorTargetOf(std::string_view typed,
                                                                      bool directory) {
    std::optional<AliasRecord> alias = server_.Aliases().GetAlias(*chosenMirror_);
    if (!alias) return std::nullopt;
    // The mirror holds the site's tree: the same path below its alias directory.
    AliasTarget t;
    t.full = FileUtil::ResolveText(alias->directory, siteDir_, typed);
    if (t.full.empty()) return std::nullopt;
    if (directory) FileUtil::AddTrailingSep(t.full);
    std::optional<std::string> remote = ToRemotePath(t.full, *alias);
    if (!remote) return std::nullopt;
    t.alias = std::move(*alias);
    t.remote = std::move(*remote);
    return t;
}

int AliasSession::RefuseMirror(const Args& args) {
    ReleaseHeld();
    chosenMirror_.reset();
    Respond(args, "Invalid directory access.", "451");
    return 0;
}

int AliasSession::List(const Args& args) {
    return ForwardListing(args, "LIST", [this](const Args& a) { return SiteSession::List(a); });
}

int AliasSession::Nlst(const Args& args) {
    return ForwardListing(args, "NLST", [this](const Args& a) { return SiteSession::Nlst(a); });
}

int AliasSession::ForwardListing(const Args& args, const char* verb, const Inherited& inherited) {
    // Options such as "-la" are no path; without a path the listing is of the current
    // directory, which on the remote server is only known by its full name.
    Args options, words{args.empty() ? std::string(verb) : args[0]};
    for (size_t i = 1; i < args.size(); ++i)
        (!args[i].empty() && args[i][0] == '-' ? options : words).push_back(args[i]);
    const std::string typed = Join(words);
    const std::optional<AliasTarget> t =
        chosenMirror_ ? MirrorTargetOf(typed, true) : TargetOf(typed, true);
    if (!t) return chosenMirror_ ? RefuseMirror(args) : inherited(args);
    if (!CheckAccess(args[0].c_str(), nullptr, "lvx", false)) return 0;
    std::string line = verb;
    for (const std::string& option : options) line += ' ' + option;
    // A bare listing names its entries relative to the directory: the remote server lists
    // its own current directory, moved to the session's first.
    if (!typed.empty())
        return ForwardTransfer(args, *t, line + ' ' + t->remote, TransferKind::Listing);
    return ForwardTransfer(args, *t, line, TransferKind::Listing, "CWD " + t->remote);
}

int AliasSession::Retr(const Args& args) {
    if (args.size() < 2) return SiteSession::Retr(args);
    const std::optional<AliasTarget> t =
        chosenMirror_ ? MirrorTargetOf(Join(args), false) : TargetOf(Join(args), false);
    if (!t) return chosenMirror_ ? RefuseMirror(args) : SiteSession::Retr(args);
    if (!CheckAccess(args[0].c_str(), nullptr, "dr", false)) return 0;
    return ForwardTransfer(args, *t, "RETR " + t->remote, TransferKind::Download);
}

int AliasSession::Stor(const Args& args, int storeMode) {
    if (args.size() < 2) return SiteSession::Stor(args, storeMode);
    // Mirrors serve downloads only, wherever the path lies.
    if (chosenMirror_) {
        ReleaseHeld();
        chosenMirror_.reset();
        Respond(args, "Unable to upload to the specified directory.", "501");
        return 0;
    }
    const std::optional<AliasTarget> t = TargetOf(Join(args), false);
    if (!t) return SiteSession::Stor(args, storeMode);
    if (!CheckAccess(args[0].c_str(), nullptr, "uw", false)) return 0;
    const char* verb = storeMode == 1 ? "STOU " : storeMode == 2 ? "APPE " : "STOR ";
    return ForwardTransfer(args, *t, verb + t->remote, TransferKind::Upload);
}

int AliasSession::ForwardTransfer(const Args& args, const AliasTarget& target,
                                  const std::string& line, TransferKind kind,
                                  const std::string& prelude) {
    const bool upload = kind == TransferKind::Upload;
    const char* failure = kind == TransferKind::Listing    ? "ERROR: unable to run LIST command."
                          : kind == TransferKind::Download ? "ERROR: unable to run RETR command."
                                                           : "ERROR: unable to run STOR command.";
    const std::string& dir = target.alias.directory;
    // Whatever PASV, PORT or REST set is used up by this command, taken or not.
    struct Done {
        AliasSession& s;
        ~Done() { s.ReleaseHeld(); }
    } done{*this};
    chosenMirror_.reset();
    switch (SyncProtection(target.alias)) {
        case -1:
            Respond(args, "The specified directory does not support encrypted data connections.",
                    upload ? "502" : "501");
            return 0;
        case 0:
            Respond(args, "Unable to access directory.", upload ? "503" : "502");
            return 0;
        default:
            break;
    }
    if (!prelude.empty()) {
        const RemoteReply r = ForwardToAlias(dir, prelude, Hold::Keep);
        if (!r.Begins('2')) {
            RelayOr(args, dir, r, failure);
            return 0;
        }
    }
    RunningGuard running(kind == TransferKind::Listing ? runningListings_ : runningTransfers_);
    abort_ = false;
    const RemoteReply first = ForwardToAlias(dir, line);
    if (!first.Complete()) {
        Respond(args, failure, "530");
        return 0;
    }
    RelayReply(args, first);
    if (!first.Begins('1')) return 0;
    const bool accounted = target.alias.serverType == 'D' && kind != TransferKind::Listing;
    TransferAccount account;
    if (accounted) account = ChargeTransfer(target.full, kind, first);
    RemoteReply final;
    const int result = RelayFinalReply(args, dir, &final);
    if (accounted) SettleTransfer(target.full, kind, account, final);
    return result;
}

namespace {

// The number after a marker of a reply line ("[Bytes: " or the last "("); a leading "0" or a
// positive number counts.
std::optional<double> NumberAfter(std::string_view line, std::string_view marker, bool last) {
    const size_t at = last ? line.rfind(marker) : line.find(marker);
    if (at == std::string_view::npos) return std::nullopt;
    const std::string rest(line.substr(at + marker.size()));
    char* end = nullptr;
    const double v = std::strtod(rest.c_str(), &end);
    if (end == rest.c_str() || !(v > 0 || rest[0] == '0')) return std::nullopt;
    return v;
}

}  // namespace

// Credits and statistics of transfers through an alias to another server of this kind stay
// with the local user: a download is paid for when the remote announces its size, and given
// back when less than that came.
AliasSession::TransferAccount AliasSession::ChargeTransfer(const std::string& path,
                                                           TransferKind kind,
                                                           const RemoteReply& first) {
    TransferAccount a;
    if (kind != TransferKind::Download || first.lines.empty()) return a;
    const std::optional<double> size = NumberAfter(first.lines.front(), "(", true);
    if (!size) return a;
    a.announced = static_cast<uint64_t>(*size);
    // A refusal does not stop a transfer that has begun, but what was not taken is not given
    // back either.
    a.charged = server_.TakeCredits(path, ConnectionNumber(), user_, a.announced, 0) != 0;
    return a;
}

void AliasSession::SettleTransfer(const std::string& path, TransferKind kind,
                                  const TransferAccount& account, const RemoteReply& final) {
    const std::string line = final.lines.empty() ? std::string() : final.lines.front();
    const std::optional<double> bytes = NumberAfter(line, "[Bytes: ", false);
    const double seconds = NumberAfter(line, "[Time: ", false).value_or(0.01);
    const uint64_t moved = bytes ? static_cast<uint64_t>(*bytes) : 0;
    const uint32_t rate =
        static_cast<uint32_t>(static_cast<double>(moved) / (seconds > 0 ? seconds : 0.01));
    if (kind == TransferKind::Download) {
        if (!account.charged) return;
        if (bytes && moved == account.announced)
            server_.RecordDownload(ConnectionNumber(), user_, moved, rate);
        else  // what came is paid for, as for a local download
            server_.AddCredits(path, ConnectionNumber(), user_,
                               account.announced - std::min(moved, account.announced), 0);
        return;
    }
    if (!bytes || !final.Begins('2')) return;
    server_.RecordUpload(ConnectionNumber(), user_, moved, rate);
    server_.AddCredits(path, ConnectionNumber(), user_, moved, 1);
}

}  // namespace orvex
