#pragma once
// The type of every SITE sub-command's handler; the families declare theirs with it.

#include "engine/Tokenizer.h"

namespace orvex {

class SiteSession;

// args[0] is "SITE", args[1] the sub-command as typed, the rest its arguments. 1 when done.
using SiteHandlerFunction = int(SiteSession&, const Args&);
using SiteHandler = SiteHandlerFunction*;

}  // namespace orvex
