#include "standalone/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "server/accounts/PasswordCipher.h"
#include "standalone/UserCreation.h"
#include "standalone/UserFile.h"

namespace orvex {

namespace {

constexpr size_t kPortMax = 15;
constexpr size_t kBindMax = 45;  // the longest IPv6 text
constexpr const char* kProgramLogName = "ftpd.log";
constexpr const char* kAccessLogName = "%d%m%Y_access.log";

std::string Bounded(std::string s, size_t max) {
    StringUtil::Truncate(s, max);
    return s;
}

bool StartsWithDigit(const std::string& s) {
    return !s.empty() && std::isdigit(static_cast<unsigned char>(s[0]));
}

// A port number of a range: taken when it reads as a non-zero number or is written with a
// leading '0'. Huge numbers are kept huge so that the range check refuses them.
bool RangeNumber(const std::string& text, long& out) {
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    out = errno == ERANGE ? -1 : value;
    return value != 0 || (!text.empty() && text[0] == '0');
}

std::string Cwd() {
    std::string dir = FileUtil::CurrentDir();
    if (dir.empty()) dir = "\\";
    return dir;
}

}  // namespace

CommandLine::CommandLine(StandaloneSite& site, std::vector<std::string> args, FILE* in, FILE* out)
    : site_(site), args_(std::move(args)), in_(in), out_(out) {
    Reset();
}

void CommandLine::Reset() {
    settings_ = ServerSettings{};
    user_ = UserRecord{};
    user_.account.user = "anonymous";
    user_.account.gid = "99";
    user_.account.home = Cwd();
    user_.permissions = kDefaultPermissions;
}

int CommandLine::Apply(bool firstPass) {
    Reset();
    for (const std::string& arg : args_) {
        const int code = ApplyOne(arg, firstPass);
        if (code >= 0) return code;
    }
    site_.SetEdge(settings_.edge);
    if (!firstPass) return -1;
    if (userAdded_) return 0;
    if (!userFileGiven_ && !site_.AddUser(user_)) {
        site_.LogProgram("MAIN", "ERROR: unable to initialize the server.");
        return 1;
    }
    return -1;
}

int CommandLine::ApplyOne(const std::string& arg, bool firstPass) {
    if (arg.size() < 2 || arg[0] != '-') return -1;
    const std::string value = arg.substr(2);
    switch (arg[1]) {
        case 'p':
            if (StartsWithDigit(value)) settings_.port = Bounded(value, kPortMax);
            break;
        case 'r':
            PortRange(value);
            break;
        case 'f':
            LoadUsers(value);
            break;
        case 'a':
            // A reload never asks again: nobody is at the console to answer.
            if (firstPass) return AddUserInteractively(value);
            break;
        case 'b':
            settings_.bindIp = Bounded(value, kBindMax);
            break;
        case 'e':
            site_.PrepareTls();
            break;
        case 'i':
            site_.PrepareTls();
            settings_.implicitPort = StartsWithDigit(value) ? Bounded(value, kPortMax) : "990";
            break;
        case 'U':
            user_.account.user = Bounded(value, kUserNameMax);
            break;
        case 'P':
            SetPassword(value);
            break;
        case 'H':
            SetHome(value);
            break;
        case 'R':
            user_.permissions = Bounded(value, kPermissionsMax);
            break;
        case 'L':
            Logging(value);
            break;
        case 'F':
            Format(value);
            break;
        case 'x':
            Proxy(value);
            break;
        case 'A':
            settings_.edge.pasvAddress = Bounded(value, kBindMax);
            break;
        case 't':
            settings_.edge.tlsDataReuse = value != "0";
            break;
        case 'm':
            MetricsEndpoint(value);
            break;
        case 'n':
            settings_.resolveNames = false;
            break;
        case 'w':
            PendingLimits(value);
            break;
        default:
            break;
    }
    return -1;
}

void CommandLine::PendingLimits(const std::string& value) {
    const size_t colon = value.find(':');
    const int perAddress = std::atoi(value.substr(0, colon).c_str());
    const int total = colon == std::string::npos ? 0 : std::atoi(value.c_str() + colon + 1);
    if (perAddress < 1 || (colon != std::string::npos && total < 1)) {
        site_.LogProgram("MAIN", "WARNING: invalid login limits \"%s\" (using the defaults).",
                         value.c_str());
        return;
    }
    settings_.pendingPerAddress = perAddress;
    if (total > 0) settings_.pendingTotal = total;
}

void CommandLine::PortRange(const std::string& value) {
    const size_t dash = value.find('-');
    if (dash == std::string::npos) {
        site_.LogProgram("MAIN",
                         "WARNING: invalid port range, no \"-\" was found (using default = any).");
        return;
    }
    long low = 0, high = 0;
    const bool valid =
        RangeNumber(value.substr(0, dash), low) && RangeNumber(value.substr(dash + 1), high);
    if (!valid) {
        site_.LogProgram("MAIN", "WARNING: invalid port range \"%s\" (using default = any).",
                         value.c_str());
        return;
    }
    if (low < 1 || low > 65534 || high < 1 || high > 65534) {
        site_.LogProgram(
            "MAIN", "WARNING: port numbers must be between 1 and 65534 (using default = any).");
        return;
    }
    if (site_.SetPassivePortRange(static_cast<int>(low), static_cast<int>(high)) != 1) {
        site_.LogProgram("MAIN", "WARNING: invalid port range \"%s\" (using default = any).",
                         value.c_str());
    }
}

void CommandLine::Logging(const std::string& value) {
    if (!value.empty() && value[0] >= '0' && value[0] <= '6') settings_.level = value[0] - '0';
    const size_t colon = value.find(':');
    if (colon == std::string::npos || colon > 1) return;
    const std::string path = value.substr(colon + 1);
    if (path.empty()) return;
    if (!site_.SetProgramLogFile(kProgramLogName, path)) {
        site_.LogProgram("MAIN", "WARNING: unable to set the program log path.");
    }
    if (!site_.SetAccessLogFile(kAccessLogName, path)) {
        site_.LogProgram("MAIN", "WARNING: unable to set the access log path.");
    }
}

// <mode>[:<mask>,<mask>...]: the masks are the addresses that may send a PROXY header.
void CommandLine::Proxy(const std::string& value) {
    const size_t colon = value.find(':');
    if (!ParseProxyMode(value.substr(0, colon), settings_.edge.proxyMode)) {
        site_.LogProgram("MAIN", "WARNING: invalid PROXY protocol mode \"%s\" (using off).",
                         value.c_str());
        settings_.edge.proxyMode = ProxyMode::kOff;
        return;
    }
    settings_.edge.proxyAllowed.clear();
    if (colon == std::string::npos) return;
    const std::string masks = value.substr(colon + 1);
    for (size_t from = 0; from <= masks.size();) {
        const size_t comma = std::min(masks.find(',', from), masks.size());
        if (comma > from) settings_.edge.proxyAllowed.push_back(masks.substr(from, comma - from));
        from = comma + 1;
    }
}

// <port>[:<ip>]
void CommandLine::MetricsEndpoint(const std::string& value) {
    const size_t colon = value.find(':');
    long port = 0;
    if (!RangeNumber(value.substr(0, colon), port) || port < 0 || port > 65535) {
        site_.LogProgram("MAIN", "WARNING: invalid metrics port \"%s\".", value.c_str());
        return;
    }
    settings_.metricsPort = static_cast<unsigned>(port);
    if (colon != std::string::npos)
        settings_.metricsBind = Bounded(value.substr(colon + 1), kBindMax);
}

void CommandLine::Format(const std::string& value) {
    if (value.size() < 2 || value[1] != ':') return;
    const std::string format = value.substr(2);
    switch (value[0]) {
        case 'p':
            site_.SetProgramLogFormat(format);
            break;
        case 'a':
            site_.SetAccessLogFormat(format);
            break;
        case 'd':
            site_.SetLogDateFormat(format);
            break;
        default:
            break;
    }
}

void CommandLine::LoadUsers(const std::string& value) {
    userFileGiven_ = true;
    const std::string file = value.empty() ? kDefaultUserFile : value;
    UserList users("User List Header");
    const std::optional<int> added = LoadUserFile(file, users, out_);
    if (!added) {
        site_.LogProgram("MAIN", "WARNING: unable to open file \"%s\" for reading.", file.c_str());
    }
    site_.ReplaceUsers(std::move(users));
    site_.LogProgram("MAIN", "%d user(s) were loaded from the file %s.", added.value_or(0),
                     file.c_str());
}

int CommandLine::AddUserInteractively(const std::string& value) {
    const std::string file = value.empty() ? kDefaultUserFile : value;
    UserRecord created;
    switch (CreateUser(in_, out_, file, FileUtil::Slashed(Cwd()), created)) {
        case Creation::Added:
            userAdded_ = true;
            site_.LogProgram("MAIN", "User %s was successfully added.",
                             created.account.user.c_str());
            return -1;
        case Creation::NotWritten:
            return -1;
        case Creation::Mismatch:
        case Creation::Refused:
            return 1;
    }
    return 1;
}

void CommandLine::SetPassword(const std::string& value) {
    std::string password = Bounded(value, kPasswordSignificant);
    // Keyed with the name given so far: -U has to come first.
    user_.account.password = EncryptToHex(password, user_.account.user, password, 0);
    user_.account.gid = "1";
}

void CommandLine::SetHome(const std::string& value) {
    std::string home = Bounded(value, kHomeFieldMax);
    FileUtil::ToBackslashes(home);
    FileUtil::AddTrailingSep(home);
    if (value.empty() || !FileUtil::IsDirectory(home)) {
        site_.LogProgram("MAIN", "WARNING: invalid home directory \"%s\".", value.c_str());
        return;
    }
    user_.account.home = home;
}

}  // namespace orvex
