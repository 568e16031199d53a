// Restart offsets and the forbidden-name check on client paths.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/FileUtil.h"
#include "engine/commands/CommandArgs.h"

using namespace orvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string line = text.substr(0, text.find('\0'));

    int64_t offset = 0;
    if (commands::ParseOffset(line, offset)) {
        // Accepted text is an integer whose value reads back the same.
        if (!StringUtil::IsInteger(line)) abort();
        int64_t again = 0;
        if (!commands::ParseOffset(std::to_string(offset), again) || again != offset) abort();
    }

    const std::string root = "\\srv\\root\\";
    const std::string path = FileUtil::Resolve(root, "", line);
    if (path.compare(0, root.size(), root) != 0) abort();
    const bool forbidden = commands::LeafIsForbidden(root, path);
    // The root itself always exists and is never refused.
    if (path.size() <= root.size() && forbidden) abort();
    return 0;
}
