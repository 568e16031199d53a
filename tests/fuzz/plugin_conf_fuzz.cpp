// Rewriting of installer templates for the site configuration and passwd files.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "plugin/SiteFiles.h"
#include "plugin/TemplateText.h"

using namespace orvex::plugin;

namespace {

// Pieces of at most 264 characters, each ending at a line feed.
int CountPieces(std::string_view text) {
    int count = 0;
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        ++run;
        if (text[i] == '\n' || run == kPieceSize) {
            ++count;
            run = 0;
        }
    }
    return count + (run > 0 ? 1 : 0);
}

}  // namespace

// Input: root, NUL, home, NUL, template.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    size_t a = in.find('\0');
    if (a == std::string_view::npos) return 0;
    size_t b = in.find('\0', a + 1);
    if (b == std::string_view::npos) return 0;
    const std::string root(in.substr(0, a > 300 ? 300 : a));
    const std::string home(in.substr(a + 1, b - a - 1 > 300 ? 300 : b - a - 1));
    std::string_view templ = in.substr(b + 1);

    const int pieces = CountPieces(templ);
    std::string conf;
    if (RewriteSiteConf(templ, root, home, conf) != pieces) std::abort();
    std::string passwd;
    if (RewriteSitePasswd(templ, root, home, "01-02-03", passwd) != pieces) std::abort();

    // Lines that name no key and no account come through unchanged.
    if (templ.find("orvex") == std::string_view::npos && passwd != templ) std::abort();
    std::string again;
    RewriteSiteConf(conf, root, home, again);
    if (again != conf) std::abort();  // rewriting is idempotent
    return 0;
}
