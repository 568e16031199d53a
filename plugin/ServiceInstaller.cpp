#include "plugin/ServiceControl.h"

namespace orvex::plugin {

int InstallServiceUsing(ServiceControl& control, const std::string& program,
                        const std::string& name, const std::string& displayName, bool autoStart) {
    if (!control.Open()) return 0;
    if (!control.Create(name, displayName, program,
                        autoStart ? StartType::Automatic : StartType::OnDemand)) {
        return 0;
    }
    control.SetRestartActions(name, kRestartActionCount, kRestartDelayMs);
    return 1;
}

void RemoveServiceUsing(ServiceControl& control, const std::string& name,
                        const std::function<void(unsigned ms)>& sleep, int maxPolls) {
    if (!control.Open() || !control.Exists(name)) return;
    if (control.Stop(name)) {
        for (int polls = 0; polls < maxPolls && control.Query(name) == ServiceState::Stopping;
             ++polls) {
            sleep(1000);
        }
    }
    control.Delete(name);
}

}  // namespace orvex::plugin
