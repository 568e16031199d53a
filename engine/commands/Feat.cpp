// FEAT: the original security lines, then one line per extension the engine serves.

#include <string>

#include "engine/FtpSession.h"
#include "engine/MachineListing.h"

namespace orvex {

int FtpSession::Feat(const Args& args) {
    const bool tls = TlsOffered();
    auto line = [&](const std::string& text) { Respond(args, text, "211", true, false, false, 1); };
    line("Extensions supported");
    if (tls) line("  AUTH SSL");
    line("  PBSZ");
    line("  PROT");
    if (tls) line(" AUTH TLS");
    for (const char* feature : {" EPSV", " EPRT", " MDTM", " SIZE", " REST STREAM"}) line(feature);
    line(" MLST " + MachineListing::FeatureText(machineFacts_));
    line(" UTF8");
    line(" TVFS");
    Respond(args, "FEAT command successful.", "211");
    return 1;
}

}  // namespace orvex
