// HELP: one fixed table whatever the arguments; the column padding is part of the text.

#include "engine/FtpSession.h"

namespace orvex {

namespace {
constexpr const char* kHelpLines[] = {
    "The following commands are recognized (* =>'s unimplemented).",
    "  ABOR   *ACCT   *ALLO    APPE ",
    "  CDUP    CWD     DELE    FEAT ",
    "  HELP    LIST    MDTM    MKD  ",
    "  MODE    NLST    NOOP   *OPTS ",
    "  PASS    PASV    PORT    PWD  ",
    "  QUIT   *REIN    REST    RETR ",
    "  RMD     RNFR    RNTO    SITE ",
    "  SIZE   *SMNT    STAT    STOR ",
    "  STOU    SYST    TYPE    USER ",
};
}  // namespace

int FtpSession::Help(const Args& args) {
    for (const char* line : kHelpLines) Respond(args, line, "214", true, false, false, 1);
    Respond(args, "HELP command successful.", "214");
    return 1;
}

}  // namespace orvex
