#include "engine/ReplyBuilder.h"

#include "engine/Clock.h"
#include "engine/StringUtil.h"

namespace orvex {

namespace {

// A response's final line: four characters or more, no leading space, a space fourth.
bool IsFinalLine(const std::string& line) {
    return line.size() >= 4 && line[0] != ' ' && line[3] == ' ';
}

// "xyz-text" opens a multi-line response, which only "xyz text" closes.
bool OpensMultiLine(const std::string& line) {
    return line.size() >= 4 && line[0] != ' ' && line[3] == '-';
}

// The text of a response line: without its code and separator (the opening code inside a
// multi-line response), or without the four blanks of an indented line. Any other line is text
// as it stands: "123 files" inside a "213-" response keeps its number.
std::string TextOf(const std::string& line, const std::string& opener) {
    if (line.size() < 4) return line;
    const bool separated = line[3] == ' ' || line[3] == '-';
    const bool coded = opener.empty()
                           ? line[0] != ' ' && line[1] != ' ' && line[2] != ' ' && separated
                           : line.compare(0, 3, opener) == 0 && separated;
    return coded || line.compare(0, 4, "    ") == 0 ? line.substr(4) : line;
}

}  // namespace

bool ReplyBuilder::Reply(std::string_view text, std::string_view code, int mode) {
    if (!ch_.Usable()) return false;
    if (mode < 2 && code.size() != 3) return false;
    std::string line;
    line.reserve(text.size() + 7);
    if (mode == 2) {
        line.append("    ");
    } else if (mode == 3) {
        line.push_back(' ');
    } else {
        line.append(code);
        line.push_back(mode == 1 ? '-' : ' ');
    }
    line.append(text);
    StringUtil::MakeCrlf(line);
    if (mode < 2) {
        // One write with the held lines, so that no other line can come between them.
        std::lock_guard<std::mutex> g(heldLock_);
        if (!held_.empty()) {
            std::string lines;
            for (const std::string& held : held_) {
                std::string one = std::string(code) + '-' + held;
                StringUtil::MakeCrlf(one);
                lines += one;
            }
            held_.clear();
            line.insert(0, lines);
        }
    }
    return ch_.WriteAll(line.data(), line.size());
}

void ReplyBuilder::HoldContinuation(std::vector<std::string> lines) {
    std::lock_guard<std::mutex> g(heldLock_);
    held_.insert(held_.end(), std::make_move_iterator(lines.begin()),
                 std::make_move_iterator(lines.end()));
}

bool ReplyBuilder::ReadLine(std::string& out, size_t size) {
    return ReadLineWithin(out, size, -1) > 0;
}

int ReplyBuilder::ReadLineWithin(std::string& out, size_t size, int ms) {
    if (size == 0) return -1;
    std::string line;
    bool cut = false;
    const long n = ch_.ReadLineWithin(line, size, ms, &cut);
    if (n == ControlChannel::kNoLineYet) return 0;
    if (n < 0) return -1;
    StringUtil::StripEol(line);
    if (line.size() > size - 1) line.resize(size - 1);
    out = std::move(line);
    return cut ? kLineTooLong : 1;
}

bool ResponseReader::SendCommand(std::string_view line, bool urgent) {
    std::string text(line);
    StringUtil::MakeCrlf(text);
    return ch_.WriteAll(text.data(), text.size(), urgent && !ch_.IsTls());
}

std::vector<std::string> ResponseReader::ReadResponse(std::string& code) {
    code.clear();
    overrun_ = false;
    std::vector<std::string> out;
    if (!ch_.Usable()) return out;
    // One deadline for the whole response: a peer sending a line now and then, or one endless
    // line, cannot hold the caller beyond it. A time-out of 0 waits without limit.
    const uint32_t start = Clock::NowMs();
    const int64_t limitMs = timeout_ > 0 ? int64_t{timeout_} * 1000 : -1;
    std::vector<std::string> lines;
    std::string opener;
    size_t bytes = 0;
    for (;;) {
        int leftMs = -1;
        if (limitMs >= 0) {
            const int64_t spent = Clock::ElapsedMs(start, Clock::NowMs());
            if (spent >= limitMs) {
                overrun_ = true;
                break;
            }
            leftMs = static_cast<int>(limitMs - spent);
        }
        std::string line;
        bool cut = false;
        const long n = ch_.ReadLineWithin(line, kLineMax + 1, leftMs, &cut);
        if (n == ControlChannel::kClosed) break;
        bytes += line.size();
        if (n == ControlChannel::kNoLineYet || cut || bytes > kBytesMax ||
            lines.size() >= kLinesMax) {
            overrun_ = true;
            break;
        }
        StringUtil::StripEol(line);
        lines.push_back(std::move(line));
        const std::string& l = lines.back();
        if (lines.size() == 1 && OpensMultiLine(l)) {
            opener = l.substr(0, 3);
            continue;
        }
        // Inside a multi-line response a line such as "123 files" is text, not its end.
        const bool last = opener.empty()
                              ? IsFinalLine(l)
                              : l.size() >= 4 && l.compare(0, 3, opener) == 0 && l[3] == ' ';
        if (last) {
            code = l.substr(0, 3);
            break;
        }
    }
    out.reserve(lines.size());
    for (auto& l : lines) out.push_back(TextOf(l, opener));
    return out;
}

}  // namespace orvex
