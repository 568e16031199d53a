#include "plugin/SystemdServiceControl.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "engine/os/AtomicFile.h"
#include "engine/os/ProcessRunner.h"

namespace orvex::plugin {
namespace {

constexpr int kSystemctlTimeoutMs = 120000;
constexpr size_t kMaxUnitSize = 1 << 20;

std::string EnvOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

// A line break would start a directive of its own, a final backslash would join the next line.
bool UnsafeValue(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) return true;
    }
    return !text.empty() && text.back() == '\\';
}

// systemd expands "%" sequences in every value and "$" variables in command lines.
std::string Escaped(const std::string& text, bool commandLine) {
    std::string out;
    for (char c : text) {
        if (c == '%' || (commandLine && c == '$')) out += c;
        out += c;
    }
    return out;
}

std::string Seconds(unsigned delayMs) {
    if (delayMs % 1000 == 0) return std::to_string(delayMs / 1000);
    return std::to_string(delayMs) + "ms";
}

}  // namespace

std::unique_ptr<ServiceControl> MakeSystemServiceControl() {
    return std::make_unique<SystemdServiceControl>(
        EnvOr("ORVEX_SYSTEMD_UNIT_DIR", SystemdServiceControl::kDefaultUnitDir),
        EnvOr("ORVEX_SYSTEMCTL", SystemdServiceControl::kDefaultSystemctl));
}

SystemdServiceControl::SystemdServiceControl(std::string unitDir, std::string systemctl)
    : unitDir_(std::move(unitDir)), systemctl_(std::move(systemctl)) {
    while (unitDir_.size() > 1 && unitDir_.back() == '/') unitDir_.pop_back();
}

bool SystemdServiceControl::ValidName(const std::string& name) {
    if (name.empty() || name.size() > 247 || name[0] == '.' || name[0] == '-') return false;
    for (unsigned char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-' || c == '.' || c == ':' || c == '@';
        if (!ok) return false;
    }
    return true;
}

std::string SystemdServiceControl::UnitText(const std::string& displayName,
                                            const std::string& program) {
    std::ostringstream unit;
    unit << "[Unit]\n"
         << "Description=" << Escaped(displayName, false) << "\n"
         << "\n"
         << "[Service]\n"
         << "Type=simple\n"
         << "ExecStart=" << Escaped(program, true) << "\n"
         << "\n"
         << "[Install]\n"
         << "WantedBy=multi-user.target\n";
    return unit.str();
}

std::string SystemdServiceControl::WithRestart(const std::string& unit, unsigned delayMs) {
    std::istringstream in(unit);
    std::string out;
    std::string line;
    bool inService = false;
    bool placed = false;
    auto place = [&] {
        out += "Restart=on-failure\nRestartSec=" + Seconds(delayMs) + "\n";
        placed = true;
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            if (inService && !placed) place();
            inService = line == "[Service]";
        } else if (inService &&
                   (line.rfind("Restart=", 0) == 0 || line.rfind("RestartSec=", 0) == 0)) {
            continue;
        } else if (inService && !placed && line.empty()) {
            place();
        }
        out += line + "\n";
    }
    if (!placed) {
        if (!inService) out += "\n[Service]\n";
        place();
    }
    return out;
}

std::string SystemdServiceControl::UnitPath(const std::string& name) const {
    return unitDir_ + "/" + name + ".service";
}

bool SystemdServiceControl::Systemctl(const std::vector<std::string>& args, std::string* output) {
    std::vector<std::string> argv{systemctl_};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, output, kSystemctlTimeoutMs) == 0;
}

bool SystemdServiceControl::Open() {
    struct stat st {};
    return stat(unitDir_.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           access(unitDir_.c_str(), W_OK | X_OK) == 0;
}

bool SystemdServiceControl::Create(const std::string& name, const std::string& displayName,
                                   const std::string& program, StartType start) {
    if (!ValidName(name) || program.empty() || UnsafeValue(program) || UnsafeValue(displayName)) {
        return false;
    }
    std::string unit = UnitText(displayName.empty() ? name : displayName, program);
    if (!WriteFileAtomically(UnitPath(name), unit, false, 0644)) return false;
    bool ok = Systemctl({"daemon-reload"});
    if (ok && start == StartType::Automatic) ok = Systemctl({"enable", name + ".service"});
    if (!ok) {
        // A unit that systemd did not take, or that will not start at boot as asked, is undone.
        unlink(UnitPath(name).c_str());
        Systemctl({"daemon-reload"});
    }
    return ok;
}

bool SystemdServiceControl::SetRestartActions(const std::string& name, int count,
                                              unsigned delayMs) {
    // systemd repeats one restart rule for every failure, as the last action would repeat.
    if (!ValidName(name) || count < 1) return false;
    std::optional<std::string> unit = ReadWholeFile(UnitPath(name), kMaxUnitSize);
    if (!unit) return false;
    if (!WriteFileAtomically(UnitPath(name), WithRestart(*unit, delayMs), true, 0644)) {
        return false;
    }
    return Systemctl({"daemon-reload"});
}

bool SystemdServiceControl::Exists(const std::string& name) {
    struct stat st {};
    return ValidName(name) && lstat(UnitPath(name).c_str(), &st) == 0;
}

bool SystemdServiceControl::Stop(const std::string& name) {
    return ValidName(name) && Systemctl({"stop", "--no-block", name + ".service"});
}

ServiceState SystemdServiceControl::Query(const std::string& name) {
    if (!ValidName(name)) return ServiceState::QueryFailed;
    std::string output;
    // is-active exits nonzero for every state but active; the state word is what counts.
    std::vector<std::string> argv{systemctl_, "is-active", name + ".service"};
    RunProgram(argv, &output, kSystemctlTimeoutMs);
    std::string word = output.substr(0, output.find_first_of(" \t\r\n"));
    if (word == "deactivating") return ServiceState::Stopping;
    if (word == "activating") return ServiceState::Starting;
    if (word == "active" || word == "reloading") return ServiceState::Running;
    if (word == "inactive" || word == "failed") return ServiceState::Stopped;
    return ServiceState::QueryFailed;
}

bool SystemdServiceControl::Delete(const std::string& name) {
    if (!ValidName(name)) return false;
    Systemctl({"disable", name + ".service"});
    bool removed = unlink(UnitPath(name).c_str()) == 0;
    Systemctl({"daemon-reload"});
    return removed;
}

}  // namespace orvex::plugin
