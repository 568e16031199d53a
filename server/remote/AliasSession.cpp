// The alias session's own machinery: which alias a path is in, forwarding and relaying, the
// connection a session keeps between commands, and the end of the session.

#include "server/remote/AliasSession.h"

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/app/ServerSite.h"
#include "server/remote/RemoteCommands.h"

namespace orvex {

namespace {

constexpr size_t kMaxChainLength = 32;  // servers; a longer chain is treated as a loop

bool IsViaLine(const Args& args) {
    return args.size() >= 3 && StringUtil::EqualNoCase(args[0], "SITE") &&
           StringUtil::EqualNoCase(args[1], "REMOTE") && StringUtil::EqualNoCase(args[2], "VIA");
}

// The commands that use a data connection, or set up the next one.
bool UsesDataPort(const std::string& verb) {
    for (std::string_view v :
         {"PASV", "PORT", "EPSV", "EPRT", "RETR", "STOR", "STOU", "APPE", "LIST", "NLST", "MLSD"})
        if (StringUtil::EqualNoCase(verb, v)) return true;
    return false;
}

// Telnet interrupt bytes may come glued to the front of the verb.
bool IsAborLine(std::string_view line) {
    const std::string verb = StringUtil::Uppered(line.substr(0, line.find(' ')));
    return verb.size() >= 4 && verb.compare(verb.size() - 4, 4, "ABOR") == 0;
}

}  // namespace

AliasSession::AliasSession(int controlFd, ServerSite& site, const char* localIpOverride,
                           bool resolveNames)
    : SiteSession(controlFd, site, localIpOverride, resolveNames) {}

AliasSession::~AliasSession() {
    if (Registered()) server_.Aliases().EndSession(ConnectionNumber(), user_);
}

void AliasSession::OnLogout() {
    // Before the registry lets the connection number go to someone else.
    if (Registered()) server_.Aliases().EndSession(ConnectionNumber(), user_);
    heldAlias_.clear();
    dataPortHeld_ = false;
    SiteSession::OnLogout();
}

int AliasSession::Dispatch(const Args& args) {
    if (IsViaLine(args)) return AcceptVia(args) ? 1 : 0;
    touchedHeld_ = false;
    if (!args.empty() && UsesDataPort(args[0])) dataPortHeld_ = false;
    const int result = SiteSession::Dispatch(args);
    // A connection kept for the command that uses it goes back once a command went elsewhere;
    // clients send TYPE, SIZE or MDTM between PASV and RETR, which must not lose the data port.
    if (!heldAlias_.empty() && !touchedHeld_ && !dataPortHeld_) ReleaseHeld();
    return result;
}

void AliasSession::ReleaseHeld() {
    server_.Aliases().ReleaseHeld(ConnectionNumber());
    heldAlias_.clear();
    dataPortHeld_ = false;
}

bool AliasSession::AcceptVia(const Args& args) {
    // Only ever restricts this session, so anybody may send it.
    // Each announcement replaces the last: the connection may now serve another chain.
    upstream_ = args.size() > 3 ? args[3] : std::string();
    looped_ = false;
    size_t servers = 0;
    for (std::string_view rest = upstream_; !rest.empty();) {
        const size_t comma = rest.find(',');
        if (rest.substr(0, comma) == server_.Aliases().InstanceToken()) looped_ = true;
        ++servers;
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    if (servers >= kMaxChainLength) looped_ = true;
    Respond(args, "Command successful.", "200");
    return true;
}

std::string AliasSession::ViaChain() const {
    const std::string& own = server_.Aliases().InstanceToken();
    return upstream_.empty() ? own : upstream_ + "," + own;
}

std::string AliasSession::ResolveDirectory(std::string_view typed) const {
    std::string full = FileUtil::Resolve(siteRoot_, siteDir_, typed);
    if (!full.empty()) FileUtil::AddTrailingSep(full);
    return full;
}

bool AliasSession::SiteRelative(const std::string& directory, std::string& out) const {
    std::string_view rest;
    if (!FileUtil::SkipPrefixNoCase(directory, siteRoot_, rest)) return false;
    out = FileUtil::Slashed(rest);
    if (!out.empty() && out.front() == '/') out.erase(0, 1);
    return true;
}

std::optional<AliasSession::AliasTarget> AliasSession::TargetOf(std::string_view typed,
                                                                bool directory) {
    AliasTarget t;
    t.full = FileUtil::Resolve(siteRoot_, siteDir_, typed);
    if (t.full.empty()) return std::nullopt;
    std::string match = t.full;
    if (directory) FileUtil::AddTrailingSep(match);
    std::optional<AliasRecord> alias = server_.Aliases().FindAliasForPath(match);
    if (!alias) return std::nullopt;
    std::optional<std::string> remote = ToRemotePath(t.full, *alias);
    if (!remote) return std::nullopt;
    t.alias = std::move(*alias);
    t.remote = std::move(*remote);
    return t;
}

std::optional<AliasRecord> AliasSession::CurrentAlias() {
    return server_.Aliases().FindAliasForPath(ResolveDirectory(""));
}

std::optional<std::string> AliasSession::ToRemotePath(std::string_view local,
                                                      const AliasRecord& alias) {
    std::string_view dir = alias.directory;
    if (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.remove_suffix(1);
    std::string_view rest;
    if (!FileUtil::SkipPrefixNoCase(local, dir, rest)) return std::nullopt;
    if (!rest.empty() && rest.front() != '\\' && rest.front() != '/') return std::nullopt;
    if (!rest.empty()) rest.remove_prefix(1);
    std::string remote = alias.remotePath + std::string(rest);
    FileUtil::ToSlashes(remote);
    return remote;
}

RemoteReply AliasSession::ForwardToAlias(const std::string& directory, std::string_view line,
                                         Hold hold) {
    // This session came from a chain that began here: forwarding again would never end.
    if (looped_) return RemoteReply::One("451", "Unable to access directory");
    // Held connections of other aliases go back first: one alias at a time keeps one. A data
    // port stays for its transfer while a command elsewhere only borrows a connection.
    if (!heldAlias_.empty() && !StringUtil::EqualNoCase(heldAlias_, directory) &&
        !(dataPortHeld_ && hold == Hold::None))
        ReleaseHeld();
    const RemoteState want{type_, remoteMode_};
    ForwardOptions options;
    options.hold = hold == Hold::Keep;
    options.consume = hold == Hold::Consume;
    options.want = &want;
    options.via = ViaChain();
    RemoteReply r = server_.Aliases().ForwardCommand(ConnectionNumber(), directory, line, options);
    if (hold == Hold::Keep && r.Taken()) heldAlias_ = directory;
    if (hold == Hold::Consume) heldAlias_.clear();
    if (!heldAlias_.empty()) touchedHeld_ = true;
    if (!r.Complete()) return {};
    return r;
}

void AliasSession::RelayReply(const Args& args, const RemoteReply& reply) {
    if (reply.lines.empty()) return;
    for (size_t i = 0; i + 1 < reply.lines.size(); ++i)
        Replies().Reply(reply.lines[i], reply.code, 1);
    // An empty final text still has to reach the client, which waits for it.
    const std::string& last = reply.lines.back();
    if (last.empty()) Replies().Reply(last, reply.code);
    Respond(args, last, reply.code, !last.empty());
}

int AliasSession::RelayOr(const Args& args, const std::string& directory, const RemoteReply& reply,
                          std::string_view failure) {
    if (!reply.Complete()) {
        Respond(args, failure, "530");
        return 0;
    }
    RelayReply(args, reply);
    if (reply.Begins('1')) return RelayFinalReply(args, directory);
    return reply.Taken() ? 1 : 0;
}

ClientInput AliasSession::ReadClientInput() {
    std::string line;
    const int got = Replies().ReadLineWithin(line, 1024, 1000);
    if (got < 0) return ClientInput::HangUp;
    if (got == 0) return ClientInput::Nothing;
    const bool cut = got == ReplyBuilder::kLineTooLong;
    if (!cut && IsAborLine(line)) return ClientInput::Abort;
    // Anything else waits for the end of the transfer, as it would on a local one.
    Replies().PushBack(line, cut);
    return ClientInput::Other;
}

int AliasSession::RelayFinalReply(const Args& args, const std::string& directory,
                                  RemoteReply* final) {
    FinalReplyWatch watch;
    watch.abort = &abort_;
    watch.clientFd = controlFd_;
    watch.clientInput = [this] { return ReadClientInput(); };
    const FinalReply f = server_.Aliases().AwaitFinalReply(ConnectionNumber(), directory, watch);
    if (!f.reply.Complete()) {
        Respond(args, "ERROR: unable to receive the data connection response.", "530");
        return 0;
    }
    RelayReply(args, f.reply);
    if (final) *final = f.reply;
    if (f.aborReply) RelayReply(Args{"ABOR"}, *f.aborReply);
    return f.reply.Begins('2') ? 1 : 0;
}

Args AliasSession::LoggableArgs(const Args& args) const {
    return LoggableRemoteArgs(SiteSession::LoggableArgs(args));
}

}  // namespace orvex
