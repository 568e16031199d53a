#pragma once
// The main server as an FTP client: one logged-in control connection to another server, the
// replies read from it, and the login that makes one.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ReplyBuilder.h"

namespace orvex {

struct RemoteReply {
    std::string code;  // the final line's code; empty when no complete reply came
    std::vector<std::string> lines;

    bool Complete() const { return !code.empty() && !lines.empty(); }
    bool Begins(char digit) const { return !code.empty() && code[0] == digit; }
    // 2xx or 3xx: the command was taken.
    bool Taken() const { return Begins('2') || Begins('3'); }
    static RemoteReply One(std::string code, std::string text) {
        return RemoteReply{std::move(code), {std::move(text)}};
    }
};

// What earlier commands set on a remote connection that later ones depend on.
struct RemoteState {
    char type = 'A';
    char mode = 'S';
};

// Lent to one session at a time through the alias pools. Whoever closes it (reaper, SITE REMOTE,
// an alias change) only marks it dead and cuts the socket; the descriptor and the TLS state go
// with the last owner, so a holder in the middle of an exchange never meets a reused descriptor.
class RemoteConnection {
  public:
    RemoteConnection(int fd, unsigned encMode);
    ~RemoteConnection();
    RemoteConnection(const RemoteConnection&) = delete;
    RemoteConnection& operator=(const RemoteConnection&) = delete;

    int Socket() const { return fd_; }
    unsigned EncMode() const { return encMode_; }
    bool Encrypted() const { return channel_.IsTls(); }
    const SslHandle& Tls() const { return channel_.Tls(); }

    bool Send(std::string_view line, bool urgent = false);
    // The next reply, within `seconds` in all (0: no limit). A reply that breaks the reader's
    // bounds or comes too late kills the connection and reads as none.
    RemoteReply Read(int seconds);
    RemoteReply Exchange(std::string_view line, int seconds, bool urgent = false);
    // Replies or a close the server sent unasked: the connection is out of step with its
    // commands and must not be lent again.
    bool HasUnreadInput();
    // >0 input (or a close) waiting, 0 none within `ms`, <0 the connection is unusable.
    int WaitInput(int ms);
    // After "AUTH SSL" was taken: the client handshake, then every line goes through TLS.
    bool StartTls();

    void Kill();
    bool Dead() const { return dead_; }

    // Guarded by the alias store's lock.
    int64_t loginTime = 0;
    int64_t lastUse = 0;
    int32_t lastHolder = -1;  // the session that held it last, preferred when it asks again
    // Only touched by the holder.
    RemoteState state;
    std::string via;  // the forwarding chain announced on this connection
    // A PASV, PORT, REST or RNFR was taken and no command has used it yet: lent to another
    // session it would act on that session's next transfer or rename.
    bool pending = false;

  private:
    const int fd_;
    const unsigned encMode_;
    ControlChannel channel_;
    ResponseReader reader_{channel_};
    std::atomic<bool> dead_{false};
};

using RemoteConnectionPtr = std::shared_ptr<RemoteConnection>;

// Connects to `address` (an IP or a host name) and logs in as `user`; none on any failure.
// `seconds` bounds the connect and every reply. `sourceIp` as for SocketUtil::ConnectHost.
RemoteConnectionPtr LoginRemote(const std::string& address, uint32_t port, const std::string& user,
                                const std::string& password, unsigned encMode, int seconds,
                                const std::string& sourceIp = {});

struct PassiveAddress {
    std::string ip;
    unsigned port = 0;
};
// The address of a PASV reply text: six comma-separated numbers after the last "(", or after
// the first digit when there is none; none when one is missing or above 255.
std::optional<PassiveAddress> ParsePassiveReply(std::string_view text);

}  // namespace orvex
