#pragma once
// Listener threads: accept control connections and start one client thread per connection.

#include <functional>
#include <memory>

namespace orvex {

class FtpSession;
class FtpSite;

// Creates the most derived session class for an accepted socket.
using SessionFactory = std::function<std::unique_ptr<FtpSession>(int fd)>;

struct ListenerArgs {
    int listenFd = -1;
    FtpSite* site = nullptr;
    SessionFactory makeSession;
    // The servers differ in how long one wait for a connection lasts and in one warning's text.
    int acceptWaitSeconds = 3;
    const char* threadFailureText = "WARNING: Unable to create a new client thread.";
};

void RunPlainListener(ListenerArgs args);
// Implicit TLS: the handshake runs in the connection's own thread, so a silent client never
// blocks the port for others.
void RunSslListener(ListenerArgs args);
bool StartClientThread(std::unique_ptr<FtpSession> session, const ListenerArgs& args);

// Building blocks shared by the listeners: wait for a connection and make its session (null when
// none came), and hand a session to a thread of its own.
std::unique_ptr<FtpSession> AcceptSession(const ListenerArgs& args);
using SessionBody = std::function<void(std::unique_ptr<FtpSession>)>;
bool StartSessionThread(std::unique_ptr<FtpSession> session, SessionBody body,
                        const ListenerArgs& args);

}  // namespace orvex
