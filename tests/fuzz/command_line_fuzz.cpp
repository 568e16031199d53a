// Command lines as a client could send them, read back through the control channel: every line
// comes out once, whole or cut, and no piece of a long line ever comes out as a line of its own.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "FedSocket.h"
#include "engine/ReplyBuilder.h"

namespace {

constexpr size_t kSize = 64;  // small, so that cut lines are common

std::string Stripped(std::string s) {
    const size_t p = s.find_first_of("\r\n");
    if (p != std::string::npos) s.resize(p);
    return s;
}

// What the reader must give for `input`: (result, line) pairs, as ReadLineWithin reports them.
std::vector<std::pair<int, std::string>> Expected(const std::string& input) {
    std::vector<std::pair<int, std::string>> out;
    size_t i = 0;
    while (i < input.size()) {
        const size_t lf = input.find('\n', i);
        if (lf == std::string::npos) {
            // The unfinished tail before the end of the stream.
            const std::string tail = input.substr(i);
            if (tail.size() >= kSize + 1)
                out.emplace_back(2, Stripped(tail.substr(0, kSize - 1)));
            else
                out.emplace_back(1, Stripped(tail).substr(0, kSize - 1));
            break;
        }
        std::string raw = input.substr(i, lf - i);
        const size_t text = raw.size() - (!raw.empty() && raw.back() == '\r' ? 1 : 0);
        if (text > kSize - 1)
            out.emplace_back(2, Stripped(raw.substr(0, kSize - 1)));
        else
            out.emplace_back(1, Stripped(raw));
        i = lf + 1;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const FedSocket in(data, size);
    if (!in.ok) return 0;
    orvex::ControlChannel ch(in.Reader());
    orvex::ReplyBuilder rb(ch);
    std::vector<std::pair<int, std::string>> got;
    for (;;) {
        std::string line;
        const int r = rb.ReadLineWithin(line, kSize, 1000);
        if (r <= 0) break;
        got.emplace_back(r, line);
        if (got.size() > size + 1) abort();  // every line consumes at least one byte
    }
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (got != Expected(input)) abort();
    return 0;
}
