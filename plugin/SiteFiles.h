// Completing the server's configuration and passwd templates with the installation paths.
#pragma once

#include <string>
#include <string_view>

namespace orvex::plugin {

// Each returns the number of template pieces read and fills `out` with the new file.
int RewriteSiteConf(std::string_view templ, const std::string& root, const std::string& home,
                    std::string& out);
int RewriteSitePasswd(std::string_view templ, const std::string& root, const std::string& home,
                      const std::string& date, std::string& out);

// Today as the passwd file writes dates, "%m-%d-%y", local time.
std::string TodayForPasswd();

// The file forms: the piece count, or 0 when a file cannot be read or written.
int UpdateSiteConfFile(const std::string& templatePath, const std::string& outputPath,
                       const std::string& root, const std::string& home);
int UpdateSitePasswdFile(const std::string& templatePath, const std::string& outputPath,
                         const std::string& root, const std::string& home);

}  // namespace orvex::plugin
