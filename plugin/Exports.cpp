// The four operations the installer calls.
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "plugin/ServiceControl.h"
#include "plugin/SiteFiles.h"
#include "plugin/StringStack.h"

using namespace orvex::plugin;

namespace {

constexpr int kMaxStopPolls = 180;

struct Param {
    char text[kParamSize] = {};
    void Pop() { PopString(text, sizeof text); }
    std::string str() const { return text; }
};

bool ReadsNonzero(const char* text) {
    return std::strtol(text, nullptr, 10) != 0;
}

void SleepMs(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

template <typename UpdateFile>
void UpdateFromStack(UpdateFile update) {
    Param templ, output, root, home;
    templ.Pop();
    output.Pop();
    root.Pop();
    home.Pop();
    PushNumber(update(templ.str(), output.str(), root.str(), home.str()));
}

}  // namespace

extern "C" void InstallService(void* window, int stringSize, char* variables,
                               OrvexStackEntry** stackTop) {
    BeginCall(window, stringSize, variables, stackTop);
    Param program, name, display, autoStart;
    program.Pop();
    name.Pop();
    display.Pop();
    autoStart.Pop();
    auto control = MakeSystemServiceControl();
    PushNumber(InstallServiceUsing(*control, program.str(), name.str(), display.str(),
                                   ReadsNonzero(autoStart.text)));
}

extern "C" void RemoveService(void* window, int stringSize, char* variables,
                              OrvexStackEntry** stackTop) {
    BeginCall(window, stringSize, variables, stackTop);
    Param name;
    name.Pop();
    auto control = MakeSystemServiceControl();
    RemoveServiceUsing(*control, name.str(), SleepMs, kMaxStopPolls);
    PushNumber(0);
}

extern "C" void UpdateSiteConf(void* window, int stringSize, char* variables,
                               OrvexStackEntry** stackTop) {
    BeginCall(window, stringSize, variables, stackTop);
    UpdateFromStack(UpdateSiteConfFile);
}

extern "C" void UpdateSitePasswd(void* window, int stringSize, char* variables,
                                 OrvexStackEntry** stackTop) {
    BeginCall(window, stringSize, variables, stackTop);
    UpdateFromStack(UpdateSitePasswdFile);
}
