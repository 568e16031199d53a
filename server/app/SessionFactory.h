#pragma once
// The session class the listeners create for every accepted connection of the main server.

#include <memory>

namespace orvex {

class FtpSession;
class ServerSite;

std::unique_ptr<FtpSession> MakeSession(int fd, ServerSite& site);

}  // namespace orvex
