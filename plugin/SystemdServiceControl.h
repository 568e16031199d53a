// Service control through systemd: one unit file per service, driven by systemctl.
#pragma once

#include <string>
#include <vector>

#include "plugin/ServiceControl.h"

namespace orvex::plugin {

class SystemdServiceControl : public ServiceControl {
  public:
    // ORVEX_SYSTEMD_UNIT_DIR and ORVEX_SYSTEMCTL replace the defaults when set.
    static constexpr const char* kDefaultUnitDir = "/etc/systemd/system";
    static constexpr const char* kDefaultSystemctl = "systemctl";

    SystemdServiceControl(std::string unitDir, std::string systemctl);

    bool Open() override;
    bool Create(const std::string& name, const std::string& displayName, const std::string& program,
                StartType start) override;
    bool SetRestartActions(const std::string& name, int count, unsigned delayMs) override;
    bool Exists(const std::string& name) override;
    bool Stop(const std::string& name) override;
    ServiceState Query(const std::string& name) override;
    bool Delete(const std::string& name) override;

    // Names systemd accepts for a unit, and nothing that could leave the unit folder.
    static bool ValidName(const std::string& name);
    // The unit text for a new service (without restart settings).
    static std::string UnitText(const std::string& displayName, const std::string& program);
    // The unit text with its restart settings set, replacing any earlier ones.
    static std::string WithRestart(const std::string& unit, unsigned delayMs);

  private:
    std::string UnitPath(const std::string& name) const;
    bool Systemctl(const std::vector<std::string>& args, std::string* output = nullptr);

    std::string unitDir_;
    std::string systemctl_;
};

}  // namespace orvex::plugin
