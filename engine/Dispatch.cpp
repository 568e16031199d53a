// The command dispatcher: the verb's first letter picks a group, then the verb picks the handler.

#include <cctype>

#include "engine/FtpSession.h"
#include "engine/StringUtil.h"

namespace orvex {

int FtpSession::Dispatch(const Args& args) {
    if (args.empty()) return 0;
    const std::string& verb = args[0];
    auto is = [&verb](std::string_view name) { return StringUtil::EqualNoCase(verb, name); };
    const int first = verb.empty() ? 0 : std::toupper(static_cast<unsigned char>(verb[0]));

    switch (first) {
        case 'A':
            if (is("ABOR")) return Abor(args);
            if (is("ACCT")) return Acct(args);
            if (is("ALLO")) return Allo(args);
            if (is("APPE")) return Appe(args);
            if (is("AUTH")) return Auth(args);
            break;
        case 'C':
            if (is("CDUP")) return Cdup(args);
            if (is("CWD")) return Cwd(args);
            break;
        case 'D':
            if (is("DELE")) return Dele(args);
            break;
        case 'E':
            if (is("EPRT")) return Eprt(args);
            if (is("EPSV")) return Epsv(args);
            break;
        case 'F':
            if (is("FEAT")) return Feat(args);
            break;
        case 'H':
            if (is("HELP")) return Help(args);
            break;
        case 'L':
            if (is("LIST")) return List(args);
            break;
        case 'M':
            if (is("MDTM")) return Mdtm(args);
            if (is("MFMT")) return Mfmt(args);
            if (is("MKD")) return Mkd(args);
            if (is("MLSD")) return Mlsd(args);
            if (is("MLST")) return Mlst(args);
            if (is("MODE")) return Mode(args);
            break;
        case 'N':
            if (is("NLST")) return Nlst(args);
            if (is("NOOP")) return Noop(args);
            break;
        case 'O':
            if (is("OPTS")) return Opts(args);
            break;
        case 'P':
            if (is("PASS")) return Pass(args);
            if (is("PASV")) return Pasv(args);
            if (is("PBSZ")) return Pbsz(args);
            if (is("PORT")) return Port(args);
            if (is("PROT")) return Prot(args);
            if (is("PWD")) return Pwd(args);
            break;
        case 'Q':
            if (is("QUIT")) {
                Quit(args);
                return 0;
            }
            break;
        case 'R':
            if (is("REIN")) return Rein(args);
            if (is("REST")) return Rest(args);
            if (is("RETR")) return Retr(args);
            if (is("RMD")) return Rmd(args);
            if (is("RNFR")) return Rnfr(args);
            if (is("RNTO")) return Rnto(args);
            break;
        case 'S':
            if (is("SITE")) return Site(args);
            if (is("SIZE")) return Size(args);
            if (is("SMNT")) return Smnt(args);
            if (is("STAT")) return Stat(args);
            if (is("STOR")) return Stor(args, 0);
            if (is("STOU")) return Stou(args);
            if (is("STRU")) return Stru(args);
            if (is("SYST")) return Syst(args);
            break;
        case 'T':
            if (is("TYPE")) return Type(args);
            break;
        case 'U':
            if (is("USER")) return User(args);
            break;
        case 'X':
            if (is("XCUP")) return Cdup(args);
            if (is("XCWD")) return Cwd(args);
            if (is("XMKD")) return Mkd(args);
            if (is("XPWD")) return Pwd(args);
            if (is("XRMD")) return Rmd(args);
            break;
        default:
            // Telnet interrupt bytes (IAC IP IAC DM) can arrive glued to the front of an ABOR.
            if (verb.find("ABOR") != std::string::npos || verb.find("abor") != std::string::npos) {
                return Abor(args);
            }
            break;
    }
    NotUnderstood(args);
    return 0;
}

}  // namespace orvex
