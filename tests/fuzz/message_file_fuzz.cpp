// Moving a message file of arbitrary bytes to the trash keeps every byte, after what the trash
// held, and leaves no inbox behind.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "server/site/community/MessageFiles.h"

using namespace orvex;

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
}

// A scratch folder for the whole run, removed at exit.
struct Scratch {
    std::string path;
    Scratch() {
        path = (std::filesystem::temp_directory_path() / "orvex-msg-XXXXXX").string();
        if (!mkdtemp(path.data())) abort();
    }
    ~Scratch() { std::filesystem::remove_all(path); }
};

const std::string& Folder() {
    static const Scratch scratch;
    return scratch.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The first half is what the trash held, the rest the inbox.
    const std::string_view held = bytes.substr(0, size / 2), inbox = bytes.substr(size / 2);
    const std::string inboxPath = Folder() + "/bob", trashPath = Folder() + "/bob.purge";
    Write(inboxPath, inbox);
    Write(trashPath, held);
    if (!MoveMessages(inboxPath, trashPath)) abort();
    if (std::filesystem::exists(inboxPath)) abort();
    if (Read(trashPath) != std::string(held) + std::string(inbox)) abort();
    std::filesystem::remove(trashPath);
    if (std::distance(std::filesystem::directory_iterator(Folder()),
                      std::filesystem::directory_iterator()) != 0)
        abort();
    return 0;
}
