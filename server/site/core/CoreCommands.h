#pragma once
// The SITE sub-commands of the core: help and the server's own operation, by the file that holds
// them.

#include <string_view>

#include "server/site/SiteHandler.h"

namespace orvex::site {

// SiteHelp.cpp
// Help topics name files in help/ and nothing else.
bool IsHelpTopic(std::string_view topic);
SiteHandlerFunction Help;
// SiteServerCommands.cpp
SiteHandlerFunction AuthMode, Shutdown, GenKeys, CertInfo, Remote;

}  // namespace orvex::site
