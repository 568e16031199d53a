#pragma once
// The distinguished name of the server's self-signed certificate, in subject order.

#include <string>

namespace orvex {

struct CertInfo {
    std::string country;  // two letters
    std::string state;
    std::string locality;
    std::string organization;
    std::string orgUnit;
    std::string commonName;
    std::string email;
};

}  // namespace orvex
