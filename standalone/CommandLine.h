#pragma once
// The command-line options, applied in order at start-up and again on every reload.

#include <cstdio>
#include <string>
#include <vector>

#include "engine/EdgeSettings.h"
#include "standalone/StandaloneSite.h"

namespace orvex {

struct ServerSettings {
    std::string port = "21";         // at most 15 characters
    std::string implicitPort = "0";  // "0": no implicit-TLS port
    std::string bindIp;              // empty: every address; at most 31 characters
    int level = 2;
    EdgeSettings edge;         // -x, -A and -t: behind a load balancer
    unsigned metricsPort = 0;  // -m: 0 none
    std::string metricsBind = "127.0.0.1";
    bool resolveNames = true;  // -n turns it off
    // -w<per-address>[:<total>]: connections that may wait to log in.
    int pendingPerAddress = LoginLimits{}.perAddress;
    int pendingTotal = LoginLimits{}.total;
};

class CommandLine {
  public:
    // `args` without the program name. Answers of -a are read from `in`; prompts and warnings
    // that are not log lines go to `out`.
    CommandLine(StandaloneSite& site, std::vector<std::string> args, FILE* in = stdin,
                FILE* out = stdout);

    // One pass over the options. -1 when the server is to go on, otherwise the exit code. The
    // first pass also decides about -a and puts the command-line user into the list.
    int Apply(bool firstPass);

    const ServerSettings& Settings() const { return settings_; }
    const UserRecord& CommandLineUser() const { return user_; }
    bool UserFileGiven() const { return userFileGiven_; }

  private:
    void PendingLimits(const std::string& value);
    // -1 to go on, otherwise the exit code.
    int ApplyOne(const std::string& arg, bool firstPass);
    void PortRange(const std::string& value);
    void Logging(const std::string& value);
    void Format(const std::string& value);
    void Proxy(const std::string& value);
    void MetricsEndpoint(const std::string& value);
    void LoadUsers(const std::string& value);
    int AddUserInteractively(const std::string& value);
    void SetPassword(const std::string& value);
    void SetHome(const std::string& value);
    void Reset();

    StandaloneSite& site_;
    std::vector<std::string> args_;
    FILE* in_;
    FILE* out_;
    ServerSettings settings_;
    UserRecord user_;
    bool userFileGiven_ = false;
    bool userAdded_ = false;
};

}  // namespace orvex
