// The argument forms of the SITE tree commands: octal modes, owner arguments, and the options of
// DUPE and SEARCH, read from client command lines.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/Tokenizer.h"
#include "server/site/files/SiteFsArguments.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    const Args args = Tokenizer().Split(line);
    for (const std::string& word : args) {
        if (const auto mode = site::ModeFromOctal(word)) {
            if (mode->size() != 9 || mode->find_first_not_of("rwx-") != std::string::npos) abort();
        }
        const site::OwnerArgument owner = site::SplitOwnerArgument(word);
        if (owner.user.find(':') != std::string::npos) abort();
        if (owner.user.size() + owner.group.size() > word.size()) abort();
    }

    const site::DupeQuery q = site::ParseDupeQuery(args);
    // The masks are the last arguments, in order.
    if (q.masks.size() > (args.size() > 2 ? args.size() - 2 : 0)) abort();
    for (size_t i = 0; i < q.masks.size(); ++i)
        if (q.masks[i] != args[args.size() - q.masks.size() + i]) abort();
    if (!q.errorCode.empty() && q.errorCode != "501" && q.errorCode != "502" &&
        q.errorCode != "503")
        abort();
    if ((!q.from.empty() && q.from.size() != 6) || (!q.to.empty() && q.to.size() != 6)) abort();

    const site::SearchOptions o = site::ParseSearchOptions(args);
    if (o.next < 2 || (o.next > args.size() && o.next != 2)) abort();
    for (size_t i = 2; i < o.next && i < args.size(); ++i)
        if (args[i].empty() || args[i][0] != '-') abort();
    return 0;
}
