// The certificate name file is edited by hand: whatever it holds, the fields stay within their
// limits and the defaults fill every empty one.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "server/certs/CertStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orvex::CertInfo info;
    orvex::ParseCertConf(std::string_view(reinterpret_cast<const char*>(data), size), info);
    if (info.country.size() > 2 || info.state.size() > 79 || info.locality.size() > 79 ||
        info.organization.size() > 79 || info.orgUnit.size() > 79 || info.commonName.size() > 64 ||
        info.email.size() > 40)
        std::abort();
    for (const std::string* f : {&info.country, &info.state, &info.locality, &info.organization,
                                 &info.orgUnit, &info.commonName, &info.email}) {
        if (f->find_first_of("\r\n#") != std::string::npos) std::abort();
    }
    orvex::ApplyCertDefaults(info);
    if (info.country.empty() || info.state.empty() || info.email.empty()) std::abort();
    return 0;
}
