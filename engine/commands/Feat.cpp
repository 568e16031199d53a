// FEAT: the security extensions are the only ones offered.

#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Feat(const Args& args) {
    for (const char* line : {"Extensions supported", "  AUTH SSL", "  PBSZ", "  PROT"}) {
        Respond(args, line, "211", true, false, false, 1);
    }
    Respond(args, "FEAT command successful.", "211");
    return 1;
}

}  // namespace orvex
