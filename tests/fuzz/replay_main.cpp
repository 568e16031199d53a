// Replays every file of the given folders (or the given files) through the fuzz target, so that
// inputs that once crashed stay fixed in ordinary builds.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void RunOne(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

int main(int argc, char** argv) {
    size_t count = 0;
    // The empty input and a few simple ones always run.
    const char* seeds[] = {"", "\n", "a", "\\", "/", "..", "%", "\r\n\r\n", "USER x\r\n"};
    for (const char* s : seeds) {
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s),
                               std::char_traits<char>::length(s));
        ++count;
    }
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (const auto& e : std::filesystem::directory_iterator(p))
                if (e.is_regular_file()) RunOne(e.path()), ++count;
        } else if (std::filesystem::exists(p)) {
            RunOne(p), ++count;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return 0;
}
