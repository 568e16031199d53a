#pragma once
// The main server's life: start-up (the site's files loaded in a fixed order, the listeners
// opened), the reload loop that keeps every store in step with its file, and the orderly stop.

#include <cstdint>
#include <string_view>

namespace orvex {

class ServerSite;

// The configuration beside the installation, relative to the program's folder; the program that
// the Debian package puts in /usr/sbin reads the one in /etc/orvex instead.
inline constexpr const char* kConfigFile = "../etc/orvex.conf";
inline constexpr const char* kPackagedConfigFile = "/etc/orvex/orvex.conf";
inline constexpr const char* kPackagedProgramDir = "/usr/sbin";
inline constexpr uint32_t kReloadIntervalMs = 3000;

enum class ServerOutcome {
    Failed,         // the start-up failed; the site was destroyed
    Stopped,        // served and stopped in order
    ClientsRemain,  // stopped, but client threads outlived the wait: the site is left in place
};

// The configuration file of the program run from `programDir`.
const char* ConfigFileFor(std::string_view programDir);

// The start-up routine of both modes; returns once the stop flag has ended the serving.
ServerOutcome RunServer();

// Loads the configuration and every store in start-up order, logging the first failure. False
// when the server cannot start.
bool LoadSite(ServerSite& site);

// One pass of the reload loop: every store re-reads its file if that changed.
void ReloadSite(ServerSite& site);

}  // namespace orvex
