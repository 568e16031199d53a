// orvex-keys: makes a new key pair and self-signed certificate for a site, from the name in its
// etc/cert.conf, into its keys/ folder (the old files are kept as ".bak").
//   orvex-keys <site root>

#include <cstdio>
#include <string>

#include "engine/FtpSite.h"
#include "engine/SslLayer.h"
#include "server/certs/CertStore.h"

int main(int argc, char** argv) {
    using namespace orvex;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <site root>\n", argv[0]);
        return 2;
    }
    SslLayer::InitLibrary();
    FtpSite site(nullptr, nullptr, nullptr, argv[1]);
    CertStore store(site);
    const int result = store.GenerateKeys();
    SslLayer::CleanupLibrary();
    if (result == 1) {
        std::printf("A new SSL certificate and keys was successfully created.\n");
        return 0;
    }
    std::fprintf(stderr, "%s\n",
                 result < 0 ? "Unable to load the certificate configuration file."
                            : "Unable to generate a new SSL certificate and keys.");
    return 1;
}
