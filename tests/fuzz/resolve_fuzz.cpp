// Client paths against a root: the result stays under the root whatever the request.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/FileUtil.h"

using namespace orvex;

namespace {

bool HasDotComponent(const std::string& rel) {
    size_t i = 0;
    while (i <= rel.size()) {
        size_t j = rel.find_first_of("\\/", i);
        if (j == std::string::npos) j = rel.size();
        const std::string c = rel.substr(i, j - i);
        if (c == ".." || c == ".") return true;
        if (c.empty() && j < rel.size()) return true;  // a run of separators survived
        i = j + 1;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // Text before the first newline is the current directory, the rest the request.
    const size_t nl = text.find('\n');
    const std::string cwd = nl == std::string::npos ? std::string() : text.substr(0, nl);
    const std::string request = nl == std::string::npos ? text : text.substr(nl + 1);

    const std::string root = "\\srv\\root\\";
    const std::string path = FileUtil::Resolve(root, cwd, request);
    if (path.compare(0, root.size(), root) != 0) abort();
    const std::string rel = path.substr(root.size());
    if (!rel.empty() && (rel[0] == '\\' || rel[0] == '/')) abort();
    // The OS sees the path up to a NUL: none may be left for it to cut at.
    if (rel.find('/') != std::string::npos || rel.find('\0') != std::string::npos) abort();
    if (HasDotComponent(rel)) abort();

    // Normalising again changes nothing, and the OS form stays under the root too.
    std::string again = rel;
    FileUtil::NormaliseDots(again);
    if (again != rel) abort();
    if (FileUtil::OsPath(path).compare(0, 10, "/srv/root/") != 0) abort();
    return 0;
}
