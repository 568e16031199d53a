// What the plug-in needs from the system's service manager.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace orvex::plugin {

enum class StartType { OnDemand, Automatic };

enum class ServiceState { QueryFailed, Stopped, Starting, Running, Stopping };

class ServiceControl {
  public:
    virtual ~ServiceControl() = default;

    // False when the manager cannot be reached or changed.
    virtual bool Open() = 0;
    // False when the name is taken or the service cannot be registered.
    virtual bool Create(const std::string& name, const std::string& displayName,
                        const std::string& program, StartType start) = 0;
    // Restart the service `count` times after `delayMs` each; the last action repeats.
    virtual bool SetRestartActions(const std::string& name, int count, unsigned delayMs) = 0;
    virtual bool Exists(const std::string& name) = 0;
    // True when the stop request was accepted.
    virtual bool Stop(const std::string& name) = 0;
    virtual ServiceState Query(const std::string& name) = 0;
    virtual bool Delete(const std::string& name) = 0;
};

// The real manager, with its locations taken from the environment.
std::unique_ptr<ServiceControl> MakeSystemServiceControl();

constexpr int kRestartActionCount = 3;
constexpr unsigned kRestartDelayMs = 60000;

// 1 when the service was created (its restart actions do not change that), else 0.
int InstallServiceUsing(ServiceControl& control, const std::string& program,
                        const std::string& name, const std::string& displayName, bool autoStart);

// Stops (waiting while it reports stopping, at most maxPolls sleeps) and deletes the service.
void RemoveServiceUsing(ServiceControl& control, const std::string& name,
                        const std::function<void(unsigned ms)>& sleep, int maxPolls);

}  // namespace orvex::plugin
