// Arbitrary configuration file text through the parser, and arbitrary permission expressions
// through the evaluator.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/app/PermissionExpression.h"
#include "server/app/SiteConfigRecord.h"

using namespace orvex;

namespace {

void CheckRecord(const SiteConfigRecord& r) {
    if (r.siteFlags.Count() != kDefaultSiteFlagCount) std::abort();  // lines replace, never add
    if (r.siteIp.size() > kSiteIpMax) std::abort();
    if (r.serverPort > 65535 || r.sslPort > 65535 || r.pasvLow > 65535 || r.pasvHigh > 65535)
        std::abort();
    int32_t id = 0;
    for (const auto& n : r.customCommands) {
        if (n.id != ++id) std::abort();
        const CustomCommand& c = n.data;
        if (c.name.size() > kCustomNameMax || c.mode.size() > kCustomModeMax ||
            c.target.size() > kCustomTextMax || c.arguments.size() > kCustomTextMax)
            std::abort();
    }
    for (const auto& n : r.customScripts)
        if (n.data.command.size() > kCustomNameMax || n.data.phase.size() > kCustomModeMax ||
            n.data.script.size() > kCustomTextMax)
            std::abort();
    for (const auto& n : r.ignoreTypes)
        if (!n.name || n.name->empty()) std::abort();
}

void CheckExpression(std::string_view expr, std::string_view user, std::string_view group,
                     std::string_view flags) {
    bool answer = MatchPermission(expr, user, group, flags);
    // Trailing blanks and a catch-all after the decision change nothing.
    std::string padded = std::string(expr) + " \t";
    if (MatchPermission(padded, user, group, flags) != answer) std::abort();
    if (answer && !MatchPermission(std::string(expr) + " -!x", user, group, flags)) std::abort();
    if (!MatchPermission("* " + std::string(expr), user, group, flags)) std::abort();
}

}  // namespace

// Input: the first byte picks the target; for expressions the rest is expression, NUL, user,
// NUL, group, NUL, flags.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1) {
        std::string_view part[4];
        for (int i = 0; i < 3; ++i) {
            size_t cut = in.find('\0');
            part[i] = in.substr(0, cut);
            in = cut == std::string_view::npos ? std::string_view() : in.substr(cut + 1);
        }
        part[3] = in;
        CheckExpression(part[0], part[1], part[2], part[3]);
        return 0;
    }
    SiteConfigRecord rec;
    size_t lines = 0;
    ParseSiteConfig(in, "fuzz.conf", rec, [&](const std::string&) { ++lines; });
    CheckRecord(rec);
    return 0;
}
