#include "server/app/SessionFactory.h"

#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"
#include "server/remote/AliasSession.h"

namespace orvex {

std::unique_ptr<FtpSession> MakeSession(int fd, ServerSite& site) {
    SiteConfig& config = site.Config();
    const std::string serverIp = config.GetServerIp();
    return std::make_unique<AliasSession>(fd, site, serverIp.empty() ? nullptr : serverIp.c_str(),
                                          config.GetResolveDns() != 0);
}

}  // namespace orvex
