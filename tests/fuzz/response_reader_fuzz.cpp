// Server responses as a remote server could send them, read back through ResponseReader.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FedSocket.h"
#include "engine/ReplyBuilder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const FedSocket in(data, size);
    if (!in.ok) return 0;
    orvex::ControlChannel ch(in.Reader());
    orvex::ResponseReader rr(ch);
    rr.SetTimeout(1);
    size_t total = 0;
    for (;;) {
        std::string code;
        auto lines = rr.ReadResponse(code);
        if (lines.empty()) break;
        if (!code.empty() && code.size() != 3) abort();
        for (const auto& l : lines) {
            if (l.size() > orvex::ResponseReader::kLineMax ||
                l.find_first_of("\r\n") != std::string::npos)
                abort();
        }
        total += lines.size();
        if (total > size + 1) abort();  // every line consumes at least one byte
    }
    return 0;
}
