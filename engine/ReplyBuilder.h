#pragma once
// The two sides of a control connection: ReplyBuilder (server: replies out, command lines in) and
// ResponseReader (client: command lines out, responses in). Both can run over TLS; every TLS call
// on one connection is serialised because the client thread and transfer threads share it.

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/SslLayer.h"

namespace orvex {

// Socket plus optional TLS, with the lock that serialises the TLS object between threads.
class ControlChannel {
  public:
    explicit ControlChannel(int fd = -1) : fd_(fd) {}
    void SetSocket(int fd) { fd_ = fd; }
    int Socket() const { return fd_; }
    void SetTls(const SslHandle& h);
    const SslHandle& Tls() const { return tls_; }
    void UseTls(bool on) { encrypted_ = on; }
    bool IsTls() const { return encrypted_; }
    bool Usable() const;

    // Writes all bytes (TLS or plain); true when everything was written.
    bool WriteAll(const char* data, size_t len, bool urgent = false);
    // Waits up to `ms` for a line's worth of input, seeing bytes TLS has already decrypted.
    // >0 input ready, 0 time-out, <0 error.
    int WaitInput(int ms);
    // One line with its LF, at most size-1 characters before the CR LF. Result: the characters
    // before the LF (0 for an empty line), or kClosed at the end of the stream or on an error.
    // A longer line is cut to size-1 characters, sets `cut`, and its rest up to the LF is
    // dropped as it arrives.
    long ReadLineRaw(std::string& line, size_t size);
    // ReadLineRaw that waits at most `ms` in all (negative: no limit). A time-out returns
    // kNoLineYet and keeps the bytes of an unfinished line for the next call, so a peer that
    // stops in the middle of a line cannot hold the reader.
    static constexpr long kClosed = -1;
    static constexpr long kNoLineYet = -2;
    long ReadLineWithin(std::string& line, size_t size, int ms, bool* cut = nullptr);
    // Whether the last kClosed came from the peer ending the stream rather than from an error.
    bool PeerClosed() const { return peerClosed_; }
    // Puts a line that was read too early back in front of the input, with whether it had been
    // cut; the reading thread only.
    void PushBackLine(std::string_view line, bool cut);
    // Shuts the TLS session down (close_notify) under the lock; the handle stays allocated.
    void ShutdownTls();
    // Frees the TLS object; call only when no other thread can use the channel any more.
    void FreeTls();

  private:
    // Moves waiting bytes of the current line into partial_: >0 bytes moved, 0 none waiting,
    // -1 error, -3 end of stream.
    long TakePlain(size_t room);
    long TakeTls(size_t room);

    std::mutex tlsLock_;
    int fd_;
    SslHandle tls_;
    std::string partial_;      // an unfinished line, only touched by the reading thread
    bool discarding_ = false;  // dropping the rest of a line that was too long
    // A line handed back: read again before anything else, whatever partial_ holds.
    std::string pushedBack_;
    bool hasPushedBack_ = false;
    bool pushedBackCut_ = false;
    bool peerClosed_ = false;  // only touched by the reading thread
    std::atomic<bool> encrypted_{false};
};

class ReplyBuilder {
  public:
    explicit ReplyBuilder(ControlChannel& channel) : ch_(channel) {}
    ControlChannel& Channel() { return ch_; }
    // Mode 0 final line "code text", 1 continuation "code-text", 2 "    text" without code, 3
    // " text" (the fact line of MLST).
    bool Reply(std::string_view text, std::string_view code, int mode = 0);
    // Lines that belong to a reply not yet sent: they go out as its continuation lines, with
    // its code, in front of the next line that carries one (from whichever thread sends it).
    void HoldContinuation(std::vector<std::string> lines);
    // One command line cut at its first CR/LF, at most size-1 characters.
    bool ReadLine(std::string& out, size_t size = 1024);
    // ReadLine waiting at most `ms`: 1 a line, 2 a line that was too long (cut, its rest
    // dropped), 0 none yet (time-out), -1 closed or failed.
    static constexpr int kLineTooLong = 2;
    int ReadLineWithin(std::string& out, size_t size, int ms);
    // The next ReadLine returns `line` again (and kLineTooLong again when `cut`).
    void PushBack(std::string_view line, bool cut = false) { ch_.PushBackLine(line, cut); }

  private:
    ControlChannel& ch_;
    std::mutex heldLock_;
    std::vector<std::string> held_;
};

class ResponseReader {
  public:
    // What one response may take, so that a hostile server can neither fill the memory nor hold
    // the reader: a longer line, more bytes or lines, or a response not over within the time-out
    // ends the reading without a code, and Overrun() tells.
    static constexpr size_t kLineMax = 4096;
    static constexpr size_t kBytesMax = size_t{1} << 20;
    static constexpr size_t kLinesMax = 8192;

    explicit ResponseReader(ControlChannel& channel) : ch_(channel) {}
    ControlChannel& Channel() { return ch_; }
    // Seconds for a whole response; 0 waits without limit.
    void SetTimeout(int seconds) { timeout_ = seconds; }
    bool SendCommand(std::string_view line, bool urgent = false);
    // Lines of the response without their code and separator (or the four blanks of an
    // indented line); `code` gets the final line's code (empty when none came). A response
    // opened by "xyz-" ends only at a line beginning "xyz ". Empty vector: nothing was read.
    std::vector<std::string> ReadResponse(std::string& code);
    // The last response broke a bound above: the rest of it is still coming, so the
    // connection is out of step for good.
    bool Overrun() const { return overrun_; }

  private:
    ControlChannel& ch_;
    int timeout_ = 10;
    bool overrun_ = false;
};

}  // namespace orvex
