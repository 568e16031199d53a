#include "server/remote/AliasSession.h"

namespace orvex {

AliasSession::AliasSession(int controlFd, ServerSite& site, const char* localIpOverride,
                           bool resolveNames)
    : SiteSession(controlFd, site, localIpOverride, resolveNames) {}

AliasSession::~AliasSession() = default;

}  // namespace orvex
