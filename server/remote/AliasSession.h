#pragma once
// The session created for every connection of the main server: the site session, plus what it
// needs to forward commands into remote aliases.

#include <cstdint>
#include <optional>
#include <string>

#include "server/session/SiteSession.h"

namespace orvex {

class AliasSession : public SiteSession {
  public:
    AliasSession(int controlFd, ServerSite& site, const char* localIpOverride, bool resolveNames);
    ~AliasSession() override;

    const std::optional<std::string>& ChosenMirror() const { return chosenMirror_; }
    uint32_t MirrorCounter() const { return mirrorCounter_; }

  private:
    // The alias directory picked by the last PASV or PORT in a mirrored directory; the next
    // transfer command consumes it.
    std::optional<std::string> chosenMirror_;
    // Raised at every weighted mirror choice and mixed into its seed.
    uint32_t mirrorCounter_ = 0;
};

}  // namespace orvex
