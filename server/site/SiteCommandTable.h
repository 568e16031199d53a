#pragma once
// The SITE sub-commands: one row per command, in the order of the session's slots. The SITE
// handler finds the row, runs the access check of the row and then its handler, so a command can
// never skip the check. Adding a command is adding its row and its handler.

#include <span>
#include <string_view>

#include "server/site/SiteHandler.h"

namespace orvex {

struct SiteCommand {
    const char* name;  // upper case
    SiteHandler handler;
    // The name whose permission expression admits users; null when the handler decides itself.
    const char* access;
};

// The rows of the main server's session.
std::span<const SiteCommand> SiteCommands();
// The row named `name` (any case) among `rows`, or null.
const SiteCommand* FindSiteCommandIn(std::span<const SiteCommand> rows, std::string_view name);

// A SITE line as logs may keep it: the password of PASSWD, CHPASS, ADDUSER and GADDUSER and what
// follows it are left out, as PASS is kept without its argument. `aliasTarget` is the target of
// the custom command of mode IS named by args[1], if there is one: all its arguments go.
Args LoggableSiteArgs(const Args& args, std::string_view aliasTarget = {});

}  // namespace orvex
