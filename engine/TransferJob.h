#pragma once
// One listing or file transfer, run in a thread of its own so the control connection stays
// responsive. The job owns copies of everything it needs from the session.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/SslLayer.h"

namespace orvex {

class FtpSession;
class FtpSite;

struct TransferJob {
    char jobType = 'L';    // 'L' listing, 'S' send (RETR), 'R' receive (STOR, STOU, APPE)
    int storeMode = 0;     // 0 STOR, 1 STOU, 2 APPE
    std::string options;   // listing letters, at most 15
    bool machine = false;  // MLSD: one line of facts per entry
    unsigned facts = 0;    // the facts an MLSD line carries (MachineListing::Fact bits)
    std::string argument;
    std::string cwd;
    std::string root;
    bool passive = false;
    int dataListener = -1;  // the job's own duplicate of the session's listener, or -1
    std::string portAddress;
    std::string portNumber;
    char type = 'A';
    int64_t restartOffset = 0;
    bool dataProtection = false;
    int64_t modifyTime = 0;  // when set, a received file gets this time
    FtpSession* session = nullptr;
    FtpSite* site = nullptr;
    // Copies taken by the client thread, so a job never reads the session's strings.
    std::string user;
    std::string peerIp;
    std::string relayIp;   // the balancer in front of the client, whose data connections it carries
    bool tlsReuse = true;  // a TLS data connection must resume the control connection's session
    // A file job hands its transfer slot back just before its final reply (see
    // ReleaseTransferSlot), so a client's next RETR or STOR is never refused because of it.
    bool slotReleased = false;
    bool succeeded = false;  // all the data moved
    // A receive of a file that is no upload of the client's: called with the path written and
    // whether all the data came, once the connection closed. It keeps or removes the file; false
    // when a complete file was refused. No statistics, credits or filesystem entries.
    std::function<bool(const std::string& path, bool complete)> received;

    ~TransferJob();
    const char* Verb() const;  // "LIST", "MLSD", "RETR", "STOR", "STOU" or "APPE"
};

// One job's data connection, with its per-connection speed limits and rate meter.
class DataConnection {
  public:
    DataConnection() = default;
    ~DataConnection();
    DataConnection(const DataConnection&) = delete;
    DataConnection& operator=(const DataConnection&) = delete;

    // Opens (accept or connect), checks the peer, sends the 150 text, starts TLS when asked.
    // Replies itself on failure, after running `undo`.
    bool Open(TransferJob& job, const std::string& text150,
              const std::function<void()>& undo = nullptr);
    void Close();                              // TLS shutdown then the socket
    bool Write(const char* data, size_t len);  // unlimited, for listings
    int Socket() const { return fd_; }
    bool Encrypted() const { return tls_.Open(); }

    // Speed-limited moves with rate reports; see the transfer loops. A receive returns the bytes
    // that came (fewer than asked at the end of data, or when stopped or failed: see the flags).
    long SendLimited(TransferJob& job, const char* buf, size_t len);
    long ReceiveLimited(TransferJob& job, char* buf, size_t len);
    void ResetMeters();
    // Plain connection with no speed limit of its own nor the site's: the kernel may copy.
    bool Unlimited(const TransferJob& job, bool receiving) const;
    // Up to `len` bytes from the file's current offset (sendfile), metered; negative on error.
    long SendFromFile(TransferJob& job, int fileFd, size_t len);
    // Moves everything up to the end of data into the file (splice through a pipe), metered.
    // Bytes received (also when stopped or failed, see below), or -1 when it could not start;
    // `fileFailed` tells a failed file write.
    int64_t ReceiveToFile(TransferJob& job, int fileFd, bool& fileFailed);

    // Set when the connection failed while receiving (not at a clean end of data, not stopped);
    // what had arrived before the failure is still handed to the caller.
    bool ReceiveFailed() const { return recvFailed_; }
    // Every byte handed to the connection so far, also the part of a piece before a failure.
    uint64_t BytesSent() const { return bytesSent_; }
    // Set when a receive ended before the end of data: aborted, server stopping or idle too long.
    bool Stopped() const { return stopped_; }

    uint32_t receiveLimit = 0;
    uint32_t sendLimit = 0;

  private:
    long RawSend(const char* buf, size_t len);
    long RawRecv(char* buf, size_t len);
    long FillRecv(char* buf, size_t len);
    bool Stopping() const;
    void Meter(TransferJob& job, long bytes);
    // The half-second limiter shared by both directions; `io` moves `n` bytes at offset `off`.
    long Limited(TransferJob& job, size_t len, bool receiving,
                 const std::function<long(size_t off, size_t n)>& io);

    FtpSession* session_ = nullptr;  // for the abort flag while a move waits
    int fd_ = -1;
    SslHandle tls_;
    uint32_t windowBytes_ = 0;
    uint64_t bytesSent_ = 0;
    uint32_t windowStart_ = 0;
    uint32_t rateStart_ = 0;
    double rateBytes_ = 0;
    bool recvFailed_ = false;
    bool stopped_ = false;
};

// Gives back a file job's place in the session's running transfers; called right before the
// job's final reply. The job keeps the session alive through a place in running listings.
void ReleaseTransferSlot(TransferJob& job);

// Lone line feeds become CR LF; `prev` carries the last byte of the previous block across calls.
void AppendCrlf(std::string_view in, char& prev, std::string& out);

// Hands the job to a new thread; false when no thread could be started (the job is dropped).
bool StartTransferThread(std::unique_ptr<TransferJob> job);
void RunTransferJob(std::unique_ptr<TransferJob> job);

}  // namespace orvex
