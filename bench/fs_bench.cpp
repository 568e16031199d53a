// Filesystem records at scale, run by hand (not part of the test suite):
//
//     cmake --build build --target fs_bench && build/bench/fs_bench [directories] [files] [changes]
//
// Lays out orvex.fs with `directories` records (default 100000) holding `files` file records
// each (default 10) and a journal of `changes` entries (default 0; half of them directory
// changes, half file changes), then times Load with the journal's replay and reports the
// process memory, times a permission check,
// an effective ratio, a mirror id and a dupe switch, and counts the files one write-back writes
// after an upload into a known directory.

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "server/accounts/AccountStore.h"
#include "server/accounts/GroupStore.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/fs/Filesystem.h"
#include "server/fs/JournalFormat.h"

using namespace orvex;
namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

long StatusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

std::string Internal(std::string p) {
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

// User plus system time of this process so far: what the work costs, whatever else runs.
double CpuSeconds() {
    struct rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

template <typename Op>
double NanosPerCall(int calls, Op op) {
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) op(i);
    return Seconds(start) * 1e9 / calls;
}

}  // namespace

int main(int argc, char** argv) {
    const int dirs = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int files = argc > 2 ? std::atoi(argv[2]) : 10;
    const int changes = argc > 3 ? std::atoi(argv[3]) : 0;
    char tmpl[] = "/tmp/orvex-fsbench-XXXXXX";
    const std::string root = mkdtemp(tmpl);
    for (const char* d : {"/fs", "/etc", "/ftp-data/users", "/ftp-data/logs", "/site"})
        fsys::create_directories(root + d);
    std::ofstream(root + "/etc/orvex.conf") << "rootpath " << root << "/\ndupe_check 7\n";
    std::ofstream(root + "/etc/passwd") << "bench;;201;100;01-01-25;./site/\n";
    std::ofstream(root + "/etc/group") << "users;Users;100;0\n";
    std::ofstream(root + "/ftp-data/users/bench")
        << "USER b\nGENERAL 0 0 0 0\nPERMISSIONS lvcpstduoamnrwx\nRATIO 3\nGROUP users\nIP *\n";

    // Two levels, as a site's sections and releases are; the first directories exist on disk.
    const std::string site = Internal(root) + "\\site\\";
    auto dirPath = [&](int i) {
        char rel[64];
        std::snprintf(rel, sizeof rel, "section%03d\\release-%06d\\", i % 100, i);
        return site + rel;
    };
    const int onDisk = std::min(dirs, 1000);
    {
        std::ofstream table(root + "/fs/orvex.fs");
        table << "# Path;DirID;Permissions;UserID;GroupID;Ratio;DupeDisable;MirrorID\n#\n";
        for (int i = 0; i < dirs; ++i) {
            table << dirPath(i) << ';' << i + 1 << ";rwxr-xr-x;201;100;" << (i % 7 == 0 ? 2 : -1)
                  << ";0;" << (i % 11 == 0 ? 3 : 0) << '\n';
            std::ofstream list(root + "/fs/" + std::to_string(i + 1) + ".fs");
            list << "# Filename;Permissions;UserID;GroupID;Size;Free\n#\n";
            for (int f = 0; f < files; ++f)
                list << "some.release.name-group.r" << (f < 10 ? "0" : "") << f
                     << ";rw-r--r--;201;100;15000000;0\n";
            if (i < onDisk) {
                std::string os = dirPath(i);
                for (char& c : os)
                    if (c == '\\') c = '/';
                fsys::create_directories(os);
                std::ofstream(os + "some.release.name-group.r00") << "x";
            }
        }
    }

    {
        std::ofstream journal(root + "/fs/orvex.journal");
        journal << JournalFormat::kHeader;
        for (int i = 0; i < changes; ++i) {
            const std::string dir = dirPath(i % dirs);
            const std::string n = std::to_string(i);
            if (i % 2 == 0)
                journal << JournalFormat::FormatLine(
                    i + 1, 'D',
                    {dir, std::to_string(i % dirs + 1), "rwxrwxr-x", "201", "100", "-1", "0", "0"});
            else
                journal << JournalFormat::FormatLine(
                    i + 1, 'F',
                    {dir + "some.release.name-group.r00", "rw-r--r--", "201", "100", n, "0", "-1"});
        }
    }

    ServerSite server;
    if (!server.Config().Load(root + "/etc/orvex.conf")) return 1;
    server.ConfigureStores();
    server.Users().LoadUsers();
    server.Accounts().LoadAccounts();
    server.Groups().LoadGroups();
    const long before = StatusKb("VmRSS:");
    auto start = Clock::now();
    const double cpuBefore = CpuSeconds();
    if (!server.Files().Load()) return 1;
    const double load = Seconds(start);
    const double loadCpu = CpuSeconds() - cpuBefore;
    std::printf("records: %zu directories, %zu files\n", server.Files().DirectoryCount(),
                server.Files().FileCount());
    std::printf(
        "Load: %.2f s (%.2f s of CPU); memory: %.0f MB resident in all (%.0f MB for the "
        "records), peak %.0f MB\n",
        load, loadCpu, StatusKb("VmRSS:") / 1024.0, (StatusKb("VmRSS:") - before) / 1024.0,
        StatusKb("VmHWM:") / 1024.0);

    Filesystem& fs = server.Files();
    auto file = [&](int i) { return dirPath(i % onDisk) + "some.release.name-group.r00"; };
    const int calls = 200000;
    volatile long sink = 0;
    std::printf("permission check: %.2f us\n", NanosPerCall(calls, [&](int i) {
                                                   sink = sink + server.CheckPermission(
                                                                     "bench", file(i), "r");
                                               }) / 1000);
    std::printf("effective ratio: %.2f us\n", NanosPerCall(calls, [&](int i) {
                                                  sink = sink + fs.EffectiveRatio(file(i));
                                              }) / 1000);
    std::printf("mirror id: %.2f us\n",
                NanosPerCall(calls, [&](int i) { sink = sink + fs.MirrorIdOf(file(i)); }) / 1000);
    std::printf("dupe switch: %.2f us\n", NanosPerCall(calls, [&](int i) {
                                              sink = sink + fs.DupeDisabledFor(file(i));
                                          }) / 1000);

    fs.Sync();  // nothing changed since the load
    fs.SetFile(dirPath(dirs / 2) + "new.upload.r00", nullptr, 201, 100, 123, 0);
    start = Clock::now();
    const int written = fs.Sync();
    std::printf("write-back after one upload: %d file(s) written in %.2f ms\n", written,
                Seconds(start) * 1000);
    fsys::remove_all(root);
    return 0;
}
