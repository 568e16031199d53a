#pragma once
// One parsed and validated configuration file. Every load builds a fresh record, so a key removed
// from the file is back at its default after the next reload.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/EdgeSettings.h"
#include "engine/FileStamp.h"
#include "engine/KeyedList.h"

namespace orvex {

// Visible limits of the stored command and script fields (characters).
constexpr size_t kCustomNameMax = 79;
constexpr size_t kCustomModeMax = 4;
constexpr size_t kCustomTextMax = 79;
constexpr size_t kSiteIpMax = 31;
constexpr size_t kDefaultSiteFlagCount = 113;

// How often the filesystem journal is forced to disk (`journal_sync`): at every change, once a
// second, or when the system chooses.
enum class JournalSync : uint8_t { Always, Second, Never };

struct CustomCommand {
    std::string name;
    char scope = 0;    // first letter of the scope word, upper case: 'D', 'G' or a local one
    std::string mode;  // "TEXT", "EXEC" or "IS"
    std::string target;
    std::string arguments;
};

struct CustomPermission {
    std::string command;
    std::string expression;
};

struct CustomScript {
    std::string command;
    std::string phase;  // "pre" or "post"
    std::string script;
};

struct SiteConfigRecord {
    std::string rootPath;                 // absolute, internal form, ends in '\'
    std::string dataPath = "ftp-data\\";  // relative to the root
    std::string fullDataPath;             // root + data path
    std::string defaultHomeDir;           // empty: none
    std::string bindIp;                   // empty: all addresses
    std::string serverIp;
    std::string siteIp;
    bool siteIpGiven = false;  // written in the file, not guessed from the host's addresses
    std::string loginPrompt = "login";
    std::string siteNameLong = "my site";
    std::string siteNameShort = "my site";
    uint32_t serverPort = 21;
    uint32_t sslPort = 0;
    uint32_t resolveDns = 0;
    // Connections that may wait to log in, from one address and from all.
    uint32_t maxPendingPerIp = 32;
    uint32_t maxPending = 512;
    uint32_t maxUsers = 0;
    uint32_t maxExemptUsers = 0;  // extra places for flag 1 and 4 users
    uint32_t shutdown = 0;
    uint32_t authMode = 0;
    uint32_t allowServicePorts = 0;
    // Users received from other servers keep their operator and administrator flags.
    uint32_t trustPeerAdminFlags = 0;
    std::string fxpPasv = "*";
    std::string fxpPort = "0";
    uint32_t pasvLow = 0;
    uint32_t pasvHigh = 0;
    uint32_t downloadLimit = 0;  // bytes per second, 0 none
    uint32_t uploadLimit = 0;
    uint32_t fsSyncFreq = 0;  // minutes
    JournalSync journalSync = JournalSync::Second;
    uint32_t dupeCheck = 0;  // days
    std::string nukePrefix;
    uint32_t nukeRename = 0;
    uint32_t nukeEmptyKb = 0;  // a nuked directory at or below this size counts as empty
    uint32_t nukeEmpty = 0;    // KB charged for nuking an empty directory
    uint32_t nukeMultMax = 0;
    std::string logProgName = "orvex.log";
    std::string logProgFormat = "%D;%M";
    std::string logAccessName = "%d%m%Y_access.log";
    std::string logAccessFormat = "%d;%s;%l;%c;%p;%u;%m;%a;%r;%t";
    std::string logDateFormat = "%d/%m/%Y:%H:%M:%S";
    EdgeSettings edge;         // load balancer in front: PROXY header, passive address, TLS reuse
    uint32_t metricsPort = 0;  // 0: no metrics endpoint
    std::string metricsBind = "127.0.0.1";

    KeyedList<std::string> siteFlags{"SITE flags list"};  // command -> expression
    KeyedList<CustomCommand> customCommands{"custom SITE commands list"};
    KeyedList<CustomPermission> customPermissions{"custom SITE commands permissions list"};
    KeyedList<CustomScript> customScripts{"custom scripts list"};
    KeyedList<int> ignoreTypes{"ignore types list"};  // the masks are the names

    FileStamp stamp;  // of the file this record was read from
};

using ConfigLog = std::function<void(const std::string&)>;

// Fills `flags` with the built-in expression of every SITE command, in list order.
bool BuildDefaultSiteFlags(KeyedList<std::string>& flags);

// Every key the parser knows, in table order: the configuration reference documents each.
std::vector<std::string_view> SiteConfigKeyNames();

// Parses the text of the file `path` (named in messages) into `out` and validates it. False when
// the record must not be used.
bool ParseSiteConfig(std::string_view text, std::string_view path, SiteConfigRecord& out,
                     const ConfigLog& log);

}  // namespace orvex
