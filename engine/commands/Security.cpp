// AUTH, PBSZ and PROT: TLS on the control connection and protection of data connections.

#include <optional>
#include <string>

#include "engine/FtpSession.h"
#include "engine/RunState.h"
#include "engine/SslLayer.h"
#include "engine/StringUtil.h"

namespace orvex {

namespace {
// A client that asks for TLS and then stays silent must not hold its thread for ever.
constexpr int kHandshakeWaitSeconds = 30;
// The pass phrase buffer handed to the handshake holds 31 characters.
constexpr size_t kPassPhraseMax = 31;
}  // namespace

bool FtpSession::TlsOffered() {
    return site_.GetPrivateKeyPem() && site_.GetCertificatePem();
}

int FtpSession::Auth(const Args& args) {
    if (args.size() < 2) {
        Respond(args, "'AUTH': Invalid number of parameters.", "500");
        return 0;
    }
    if (IsTls()) {
        Respond(args, "Control connection is already encrypted.", "500");
        return 0;
    }
    const bool ssl = StringUtil::EqualNoCase(args[1], "SSL");
    const bool tls =
        StringUtil::EqualNoCase(args[1], "TLS") || StringUtil::EqualNoCase(args[1], "TLS-C");
    const std::optional<std::string> key =
        ssl || tls ? site_.GetPrivateKeyPem() : std::optional<std::string>();
    const std::optional<std::string> cert = key ? site_.GetCertificatePem() : std::nullopt;
    // Without key and certificate AUTH TLS is simply not offered, so that a client goes on in
    // clear text knowingly; AUTH SSL keeps its own answer.
    if (!ssl && !(tls && key && cert)) {
        Respond(args, "Command not implemented for that parameter.", "504");
        return 0;
    }
    if (!key || !cert) {
        Respond(args, "Unable to initialize SSL.", "421");
        return 0;
    }

    Respond(args, "Security data exchange complete.", "234");
    std::string pass;
    site_.GetKeyPassPhrase(pass);
    StringUtil::Truncate(pass, kPassPhraseMax);

    SslHandle h;
    int reason = 0;
    if (!SslLayer::AcceptControlBounded(controlFd_, *key, pass, *cert, h, reason,
                                        kHandshakeWaitSeconds, &Run().stopRequested)) {
        // Whatever the client sent after AUTH was meant to be encrypted: never read it as
        // clear-text commands.
        site_.LogProgram("MAIN", "TLS handshake with %s failed, connection closed.",
                         peerIp_.c_str());
        abort_ = true;
        ended_ = true;
        return 0;
    }
    channel_.SetTls(h);
    channel_.UseTls(true);
    return 1;
}

int FtpSession::Pbsz(const Args& args) {
    if (!IsTls()) {
        Respond(args, "Bad sequence of commands.", "503");
        return 0;
    }
    if (args.size() < 2) {
        Respond(args, "'PBSZ': Invalid number of parameters.", "500");
        return 0;
    }
    Respond(args, "Command ok.  PBSZ=0", "200");
    return 1;
}

int FtpSession::Prot(const Args& args) {
    if (!IsTls()) {
        Respond(args, "Bad sequence of commands.", "503");
        return 0;
    }
    if (args.size() < 2) {
        Respond(args, "'PROT': Invalid number of parameters.", "500");
        return 0;
    }
    const std::string& level = args[1];
    if (StringUtil::EqualNoCase(level, "C")) {
        SetDataProtection(false);
        Respond(args, "Not Encrypting Data Channel", "200");
        return 1;
    }
    if (StringUtil::EqualNoCase(level, "S") || StringUtil::EqualNoCase(level, "E") ||
        StringUtil::EqualNoCase(level, "P")) {
        SetDataProtection(true);
        Respond(args, "Encrypting Data Channel", "200");
        return 1;
    }
    Respond(args, SetMessage("'PROT %s': command not understood.", level.c_str()), "500");
    return 0;
}

}  // namespace orvex
