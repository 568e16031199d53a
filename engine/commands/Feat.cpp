// FEAT: one line per extension the engine serves, the security ones first.

#include <string>

#include "engine/FtpSession.h"
#include "engine/MachineListing.h"

namespace orvex {

int FtpSession::Feat(const Args& args) {
    const bool tls = TlsOffered();
    // Feature lines carry no code and begin with one space, as clients read them.
    auto feature = [&](const std::string& text) {
        Respond(args, text, "211", true, false, false, 3);
    };
    Respond(args, "Extensions supported", "211", true, false, false, 1);
    if (tls) feature("AUTH SSL");
    feature("PBSZ");
    feature("PROT");
    if (tls) feature("AUTH TLS");
    for (const char* name : {"EPSV", "EPRT", "MDTM", "MFMT", "SIZE", "REST STREAM"}) feature(name);
    feature("MLST " + MachineListing::FeatureText(machineFacts_));
    feature("UTF8");
    feature("TVFS");
    Respond(args, "FEAT command successful.", "211");
    return 1;
}

}  // namespace orvex
