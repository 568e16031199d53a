// tarrow: starts a Java runtime on an application and leaves it running on its own.
#include <cstdio>
#include <string>
#include <vector>

#include "engine/os/ProcessRunner.h"
#include "launcher/CommandWords.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("Usage: tarrow <java.exe path> <java app path>\n", stdout);
        return 0;
    }
    std::vector<std::string> childArgs{argv[1]};
    for (std::string& word : orvex::launcher::SplitCommandWords(argv[2])) {
        childArgs.push_back(std::move(word));
    }
    // The outcome is never reported: the launcher's only job is not to stay around.
    orvex::StartDetached(argv[1], childArgs);
    return 0;
}
