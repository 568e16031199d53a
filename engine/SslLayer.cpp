#include "engine/SslLayer.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <functional>
#include <mutex>

#include "engine/Clock.h"
#include "engine/SocketUtil.h"

namespace orvex::SslLayer {

namespace {

constexpr int kWaitStepMs = 1000;
constexpr long kSessionLifetimeSeconds = 24 * 3600;
constexpr std::chrono::milliseconds kShutdownWait{2000};

std::once_flag g_initOnce;
bool g_initOk = false;

// Settings every context shares: a peer that drops the connection without close_notify ends the
// data normally, and reads never surface a renegotiation as a retry.
void PrepareContext(SSL_CTX* ctx) {
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(ctx, SSL_MODE_AUTO_RETRY);
}

// PEM text into an object; `pass` is handed to the default pass-phrase callback as userdata,
// never null, so the library never falls back to asking on the terminal.
EVP_PKEY* ReadKey(std::string_view pem, const std::string& pass) {
    if (pem.empty() || pem.size() > INT_MAX) return nullptr;
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (!bio) return nullptr;
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>(pass.c_str()));
    BIO_free(bio);
    return key;
}

// Installs the first certificate of the PEM and keeps any that follow as its chain.
int InstallCertificates(SSL_CTX* ctx, std::string_view pem) {
    if (pem.empty() || pem.size() > INT_MAX) return 6;
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (!bio) return 1;
    int reason = 0;
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    if (!cert) {
        reason = 6;
    } else if (SSL_CTX_use_certificate(ctx, cert) != 1) {
        reason = 7;
    } else {
        while (X509* extra = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
            if (SSL_CTX_add0_chain_cert(ctx, extra) != 1) X509_free(extra);
        }
    }
    X509_free(cert);
    BIO_free(bio);
    return reason;
}

// Only 1 is a finished handshake; 0 (the peer went away) fails like -1.
bool HandshakeOk(int result) {
    return result == 1;
}

// True at the end of the peer's data: close_notify, or a close without it.
bool IsEndOfData(SSL* ssl, int ret) {
    return SSL_get_error(ssl, ret) == SSL_ERROR_ZERO_RETURN;
}

// Hands a finished handshake over to `out` with its own context, or frees both on failure.
bool Finish(SSL* ssl, SSL_CTX* ctx, int reason, SslHandle& out) {
    if (reason != 0) {
        SSL_free(ssl);
        SSL_CTX_free(ctx);
        ERR_clear_error();
        return false;
    }
    out.ssl = ssl;
    out.ctx = ctx;
    out.ownsCtx = true;
    return true;
}

}  // namespace

bool InitLibrary() {
    std::call_once(g_initOnce, [] {
        g_initOk =
            OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS,
                             nullptr) == 1;
    });
    return g_initOk;
}

namespace {

// A fresh context with the options every connection uses; reason 2 or 3 when none is made.
SSL_CTX* NewContext(const SSL_METHOD* (*method)(), int& reason) {
    InitLibrary();
    ERR_clear_error();
    const SSL_METHOD* m = method();
    if (!m) {
        reason = 2;
        return nullptr;
    }
    SSL_CTX* ctx = SSL_CTX_new(m);
    if (!ctx) {
        reason = 3;
        ERR_clear_error();
        return nullptr;
    }
    PrepareContext(ctx);
    return ctx;
}

}  // namespace

bool CleanupLibrary() {
    // The library releases its global state at process exit; an explicit cleanup here would make
    // it unusable for threads that are still ending.
    return true;
}

namespace {

// A server context with the key and certificate, and a connection object on `fd`.
int PrepareServer(int fd, std::string_view keyPem, const std::string& passPhrase,
                  std::string_view certPem, SSL_CTX*& ctx, SSL*& ssl) {
    ssl = nullptr;
    int reason = 0;
    ctx = NewContext(TLS_server_method, reason);
    if (!ctx) return reason;
    EVP_PKEY* key = ReadKey(keyPem, passPhrase);
    if (!key) {
        reason = 4;
    } else {
        if (SSL_CTX_use_PrivateKey(ctx, key) != 1) reason = 5;
        EVP_PKEY_free(key);
    }
    if (reason == 0) reason = InstallCertificates(ctx, certPem);
    if (reason == 0 && SSL_CTX_check_private_key(ctx) != 1) reason = 8;
    // Data connections resume this connection's session for as long as it lasts.
    static constexpr unsigned char kSessionContext[] = "orvex-control";
    SSL_CTX_set_session_id_context(ctx, kSessionContext, sizeof kSessionContext - 1);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_SERVER);
    SSL_CTX_set_timeout(ctx, kSessionLifetimeSeconds);
    if (reason == 0) {
        ssl = SSL_new(ctx);
        if (!ssl || SSL_set_fd(ssl, fd) != 1) reason = 9;
    }
    return reason;
}

// The server side of a handshake that must be over by `deadlineMs` (monotonic): the socket is
// non-blocking meanwhile, so a peer that sends its hello one byte at a time cannot stretch it.
// Gives up early once `*stop` is set; the socket is blocking again afterwards.
bool AcceptWithin(SSL* ssl, int fd, int64_t deadlineMs, const std::atomic<int>* stop) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    auto waitFor = [&](short events) {
        for (;;) {
            if (stop && *stop) return false;
            const int64_t left = deadlineMs - Clock::MonotonicMs();
            if (left <= 0) return false;
            pollfd p{fd, events, 0};
            const int r = poll(&p, 1, static_cast<int>(std::min<int64_t>(left, kWaitStepMs)));
            if (r > 0) return true;
            if (r < 0 && errno != EINTR) return false;
        }
    };
    bool ok = false;
    for (;;) {
        ERR_clear_error();
        const int r = SSL_accept(ssl);
        if (HandshakeOk(r)) {
            ok = true;
            break;
        }
        const int err = SSL_get_error(ssl, r);
        if (err == SSL_ERROR_WANT_READ) {
            if (!waitFor(POLLIN)) break;
        } else if (err == SSL_ERROR_WANT_WRITE) {
            if (!waitFor(POLLOUT)) break;
        } else {
            break;
        }
    }
    ERR_clear_error();
    fcntl(fd, F_SETFL, flags);
    return ok;
}

}  // namespace

namespace {

// The checks and set-up both accepts share; `handshake` runs the TLS accept itself.
bool AcceptWith(int fd, std::string_view keyPem, const std::string& passPhrase,
                std::string_view certPem, SslHandle& out, int& reason,
                const std::function<bool(SSL*)>& handshake) {
    out = SslHandle{};
    reason = 0;
    if (fd < 0 || keyPem.empty() || certPem.empty()) {
        reason = fd < 0 ? 9 : (keyPem.empty() ? 4 : 6);
        return false;
    }
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    reason = PrepareServer(fd, keyPem, passPhrase, certPem, ctx, ssl);
    if (!ctx) return false;
    if (reason == 0 && !handshake(ssl)) reason = 10;
    return Finish(ssl, ctx, reason, out);
}

}  // namespace

bool AcceptControl(int fd, std::string_view keyPem, const std::string& passPhrase,
                   std::string_view certPem, SslHandle& out, int& reason) {
    return AcceptWith(fd, keyPem, passPhrase, certPem, out, reason,
                      [](SSL* ssl) { return HandshakeOk(SSL_accept(ssl)); });
}

bool AcceptControlBounded(int fd, std::string_view keyPem, const std::string& passPhrase,
                          std::string_view certPem, SslHandle& out, int& reason, int waitSeconds,
                          const std::atomic<int>* stop) {
    const int64_t deadline = Clock::MonotonicMs() + int64_t{waitSeconds} * 1000;
    return AcceptWith(fd, keyPem, passPhrase, certPem, out, reason,
                      [&](SSL* ssl) { return AcceptWithin(ssl, fd, deadline, stop); });
}

bool AcceptData(int fd, const SslHandle& control, SslHandle& out, int& reason, int timeoutMs,
                bool mustResume) {
    out = SslHandle{};
    reason = 0;
    if (fd < 0 || !control.ssl) {
        reason = 11;
        return false;
    }
    // A data connection shares its control connection's context; each SSL object holds its own
    // reference, so the control side may close first.
    SSL_CTX* ctx = control.ctx ? control.ctx : SSL_get_SSL_CTX(control.ssl);
    if (!ctx) {
        reason = 12;
        return false;
    }
    InitLibrary();
    ERR_clear_error();
    SSL* ssl = SSL_new(ctx);
    if (!ssl) {
        reason = 9;
        ERR_clear_error();
        return false;
    }
    // No session tickets here: clients resume with those of the control connection, and an
    // uploading client never reads them, so its close would turn into a reset that discards the
    // last data still queued at this end.
    SSL_set_num_tickets(ssl, 0);
    const bool shaken =
        SSL_set_fd(ssl, fd) == 1 &&
        (timeoutMs > 0 ? AcceptWithin(ssl, fd, Clock::MonotonicMs() + timeoutMs, nullptr)
                       : HandshakeOk(SSL_accept(ssl)));
    // Every context belongs to one control connection, so any session it resumes is that
    // connection's.
    if (!shaken || (mustResume && SSL_session_reused(ssl) != 1)) {
        reason = shaken ? kNotResumed : 10;
        if (shaken) Shutdown(SslHandle{ssl, nullptr, false});
        SSL_free(ssl);
        ERR_clear_error();
        return false;
    }
    out.ssl = ssl;
    out.ctx = nullptr;
    out.ownsCtx = false;
    return true;
}

namespace {

// A data connection on its control connection's context, offering that connection's session.
bool ConnectResuming(int fd, int& reason, const SslHandle& control, SslHandle& out) {
    SSL* ssl = SSL_new(SSL_get_SSL_CTX(control.ssl));
    if (!ssl || SSL_set_fd(ssl, fd) != 1) {
        reason = 4;
    } else {
        SSL_SESSION* session = SSL_get1_session(control.ssl);
        if (session) SSL_set_session(ssl, session);
        SSL_SESSION_free(session);
        if (!HandshakeOk(SSL_connect(ssl))) reason = 5;
    }
    ERR_clear_error();
    if (reason != 0) {
        SSL_free(ssl);
        return false;
    }
    out.ssl = ssl;
    return true;
}

}  // namespace

bool Connect(int fd, int& reason, unsigned encmode, SslHandle& out, const SslHandle* resume) {
    // The old SSL 2.0 and 3.0 methods are gone; every non-zero mode negotiates TLS.
    (void)encmode;
    out = SslHandle{};
    reason = 0;
    if (fd < 0) {
        reason = 4;
        return false;
    }
    if (resume && resume->ssl) return ConnectResuming(fd, reason, *resume, out);
    SSL_CTX* ctx = NewContext(TLS_client_method, reason);
    if (!ctx) return false;
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    SSL* ssl = SSL_new(ctx);
    if (!ssl || SSL_set_fd(ssl, fd) != 1) {
        reason = 4;
    } else if (!HandshakeOk(SSL_connect(ssl))) {
        reason = 5;
    }
    return Finish(ssl, ctx, reason, out);
}

void Shutdown(const SslHandle& h) {
    if (!h.ssl || (SSL_get_shutdown(h.ssl) & SSL_SENT_SHUTDOWN)) return;
    // One close_notify, without waiting for the peer's. The socket goes non-blocking meanwhile:
    // the alert gets in while there is any room, and a peer that stopped reading holds the
    // closing thread for a bounded time only.
    const int fd = SSL_get_fd(h.ssl);
    const int flags = fd >= 0 ? fcntl(fd, F_GETFL) : -1;
    if (flags < 0) return;
    if (!(flags & O_NONBLOCK)) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + kShutdownWait;
    for (;;) {
        ERR_clear_error();
        const int r = SSL_shutdown(h.ssl);
        if (r >= 0 || SSL_get_error(h.ssl, r) != SSL_ERROR_WANT_WRITE) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    }
    ERR_clear_error();
    if (!(flags & O_NONBLOCK)) fcntl(fd, F_SETFL, flags);
}

void Close(SslHandle& h) {
    Shutdown(h);
    Free(h);
}

void Free(SslHandle& h) {
    if (h.ssl) SSL_free(h.ssl);
    if (h.ownsCtx && h.ctx) SSL_CTX_free(h.ctx);
    h = SslHandle{};
}

long Read(const SslHandle& h, char* buf, size_t len) {
    if (!h.ssl || !buf) return -1;
    size_t got = 0;
    while (got < len) {
        size_t n = 0;
        ERR_clear_error();
        int r = SSL_read_ex(h.ssl, buf + got, len - got, &n);
        if (r == 1) {
            got += n;
            continue;
        }
        bool end = IsEndOfData(h.ssl, r);
        ERR_clear_error();
        if (got > 0 || end) break;
        return -1;
    }
    return static_cast<long>(got);
}

long ReadSome(const SslHandle& h, char* buf, size_t len) {
    if (!h.ssl || !buf) return -1;
    if (len == 0) return 0;
    size_t n = 0;
    ERR_clear_error();
    int r = SSL_read_ex(h.ssl, buf, len, &n);
    if (r == 1) return static_cast<long>(n);
    bool end = IsEndOfData(h.ssl, r);
    ERR_clear_error();
    return end ? 0 : -1;
}

long ReadLine(const SslHandle& h, std::string& line, size_t size) {
    line.clear();
    if (!h.ssl || size < 2) return -1;
    while (line.size() < size - 1) {
        char c = 0;
        size_t n = 0;
        ERR_clear_error();
        int r = SSL_read_ex(h.ssl, &c, 1, &n);
        if (r != 1) {
            bool end = IsEndOfData(h.ssl, r);
            ERR_clear_error();
            // A half line before the end of data still counts; after an error it does not.
            if (!end) return -1;
            break;
        }
        line.push_back(c);
        if (c == '\n') break;
    }
    long stored = static_cast<long>(line.size());
    if (stored > 0 && line.back() == '\n') --stored;
    return stored;
}

long Write(const SslHandle& h, const void* data, size_t len) {
    if (!h.ssl || !data) return -1;
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < len) {
        size_t n = 0;
        ERR_clear_error();
        int r = SSL_write_ex(h.ssl, p + done, len - done, &n);
        if (r != 1 || n == 0) {
            ERR_clear_error();
            return -1;
        }
        done += n;
    }
    return static_cast<long>(done);
}

long WriteLine(const SslHandle& h, std::string_view text) {
    if (!h.ssl) return -1;
    std::string line(text);
    size_t lf = line.find('\n');
    if (lf != std::string::npos) line.resize(lf + 1);
    if (line.empty() || line.back() != '\n') line.push_back('\n');
    return Write(h, line.data(), line.size());
}

int Pending(const SslHandle& h) {
    if (!h.ssl) return 0;
    int n = SSL_pending(h.ssl);
    if (n > 0) return n;
    // Record bytes read from the socket but not yet decrypted are invisible to poll() as well.
    return SSL_has_pending(h.ssl) ? 1 : 0;
}

}  // namespace orvex::SslLayer
