#pragma once
// The standalone server's session: the base session, with passwords checked against the
// encrypted form kept in the user list.

#include <string>

#include "engine/FtpSession.h"

namespace orvex {

class StandaloneSession : public FtpSession {
  public:
    StandaloneSession(int controlFd, FtpSite& site, bool resolveNames = true)
        : FtpSession(controlFd, site, nullptr, resolveNames) {
        LookUpNamesAfterGreeting();
    }

  protected:
    bool VerifyPassword(const Account& account, const std::string& typed) override;
};

}  // namespace orvex
