#pragma once
// Every TLS call of the engine goes through SslLayer; the rest of the code sees SslHandle only.

#include <atomic>
#include <string>
#include <string_view>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace orvex {

// A connection's TLS state. Control connections own their context; a data connection accepted on
// the server side borrows its control connection's context (ownsCtx false).
struct SslHandle {
    SSL* ssl = nullptr;
    SSL_CTX* ctx = nullptr;
    bool ownsCtx = false;
    bool Open() const { return ssl != nullptr; }
};

namespace SslLayer {

bool InitLibrary();
bool CleanupLibrary();

// Server handshake on a control connection. Failure reasons: 1 memory, 2 method, 3 context,
// 4 key unreadable, 5 key rejected, 6 certificate unreadable, 7 certificate rejected, 8 mismatch,
// 9 no connection object, 10 handshake failed.
bool AcceptControl(int fd, std::string_view keyPem, const std::string& passPhrase,
                   std::string_view certPem, SslHandle& out, int& reason);
// AcceptControl for a peer that may stall: the whole handshake must be over within `waitSeconds`
// (giving up early once `*stop` is set). Reason 10 when it is not.
bool AcceptControlBounded(int fd, std::string_view keyPem, const std::string& passPhrase,
                          std::string_view certPem, SslHandle& out, int& reason, int waitSeconds,
                          const std::atomic<int>* stop);
// Server handshake on a data connection with the control connection's context, over within
// `timeoutMs` when that is positive. With `mustResume` the client has to resume a session of the
// control connection. Reasons: 11 bad arguments, 12 control has no context, kNotResumed, 1, 9,
// 10.
constexpr int kNotResumed = 13;
bool AcceptData(int fd, const SslHandle& control, SslHandle& out, int& reason, int timeoutMs = 0,
                bool mustResume = false);
// Client handshake; encmode 2 and 3 both mean TLS after "AUTH SSL". A data connection passes its
// control connection as `resume`: it then shares that context and resumes its session, as
// servers that guard their passive ports require.
// Reasons: 1 memory, 2 method, 3 context, 4 no connection object, 5 handshake failed.
bool Connect(int fd, int& reason, unsigned encmode, SslHandle& out,
             const SslHandle* resume = nullptr);
// Sends one close_notify without waiting for the peer's (skipped when the socket cannot take it
// at once); the handle stays allocated.
void Shutdown(const SslHandle& h);
// Shutdown, then Free; the handle is left closed.
void Close(SslHandle& h);
// Frees without a close_notify (used after the socket is already shut down).
void Free(SslHandle& h);

// Fills the buffer until full or end of data; negative library result on error.
long Read(const SslHandle& h, char* buf, size_t len);
// At most one record's worth: returns as soon as some bytes are there (for file receives).
long ReadSome(const SslHandle& h, char* buf, size_t len);
long ReadLine(const SslHandle& h, std::string& line, size_t size);
long Write(const SslHandle& h, const void* data, size_t len);
long WriteLine(const SslHandle& h, std::string_view text);
// Bytes already decrypted and waiting inside the TLS object.
int Pending(const SslHandle& h);

}  // namespace SslLayer
}  // namespace orvex
