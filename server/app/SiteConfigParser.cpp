// Reading the configuration file text into a record, and the checks made once it is read.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <vector>

#include "engine/FileUtil.h"
#include "engine/SocketUtil.h"
#include "engine/StringUtil.h"
#include "server/app/SiteConfigRecord.h"

namespace orvex {

namespace {

constexpr size_t kLineCapacity = 1024;  // a longer line is read as several lines
constexpr uint64_t kPortMax = 65535;

enum class Key {
    RootPath,
    DataPath,
    DefaultHome,
    ServerPort,
    SslPort,
    BindIp,
    ServerIp,
    SiteIp,
    ResolveDns,
    MaxPendingPerIp,
    MaxPending,
    LoginPrompt,
    SiteNameLong,
    SiteNameShort,
    MaxUsers,
    Shutdown,
    AuthMode,
    ServicePorts,
    TrustPeerAdminFlags,
    FxpPasv,
    FxpPort,
    PasvRange,
    SpeedLimit,
    FsSyncFreq,
    JournalSyncMode,
    DupeCheck,
    IgnoreType,
    NukeDirStyle,
    NukeEmpty,
    NukeMultMax,
    LogProgName,
    LogProgFormat,
    LogAccessName,
    LogAccessFormat,
    LogDateFormat,
    SiteFlags,
    SiteCmd,
    Custom,
    CScript,
    ProxyProtocol,
    ProxyAllowed,
    PasvAddress,
    PasvAddressFor,
    TlsDataReuse,
    MetricsPort,
    MetricsBind,
};

struct KeyRule {
    const char* name;
    Key key;
    size_t tokens;  // key included
    bool orMore;
};

constexpr KeyRule kKeys[] = {
    {"rootpath", Key::RootPath, 2, true},
    {"datapath", Key::DataPath, 2, true},
    {"default_homedir", Key::DefaultHome, 2, true},
    {"server_port", Key::ServerPort, 2, false},
    {"server_sslport", Key::SslPort, 2, false},
    {"bind_ip", Key::BindIp, 2, true},
    {"server_ip", Key::ServerIp, 2, false},
    {"site_ip", Key::SiteIp, 2, false},
    {"resolve_dns", Key::ResolveDns, 2, false},
    {"max_pending_per_ip", Key::MaxPendingPerIp, 2, false},
    {"max_pending", Key::MaxPending, 2, false},
    {"login_prompt", Key::LoginPrompt, 2, true},
    {"sitename_long", Key::SiteNameLong, 2, true},
    {"sitename_short", Key::SiteNameShort, 2, true},
    {"max_users", Key::MaxUsers, 3, false},
    {"shutdown", Key::Shutdown, 2, false},
    {"auth_mode", Key::AuthMode, 2, false},
    {"allow_service_ports", Key::ServicePorts, 2, false},
    {"trust_peer_admin_flags", Key::TrustPeerAdminFlags, 2, false},
    {"allow_fxp_pasv", Key::FxpPasv, 2, true},
    {"allow_fxp_port", Key::FxpPort, 2, true},
    {"pasv_port_range", Key::PasvRange, 3, false},
    {"speed_limit", Key::SpeedLimit, 3, false},
    {"fs_sync_freq", Key::FsSyncFreq, 2, false},
    {"journal_sync", Key::JournalSyncMode, 2, false},
    {"dupe_check", Key::DupeCheck, 2, false},
    {"ignore_type", Key::IgnoreType, 2, true},
    {"nukedir_style", Key::NukeDirStyle, 4, false},
    {"nuke_empty", Key::NukeEmpty, 2, false},
    {"nuke_mult_max", Key::NukeMultMax, 2, false},
    {"log_prog_name", Key::LogProgName, 2, true},
    {"log_prog_format", Key::LogProgFormat, 2, true},
    {"log_access_name", Key::LogAccessName, 2, true},
    {"log_access_format", Key::LogAccessFormat, 2, true},
    {"log_date_format", Key::LogDateFormat, 2, true},
    {"site_flags", Key::SiteFlags, 2, true},
    {"site_cmd", Key::SiteCmd, 5, true},
    {"custom", Key::Custom, 3, true},
    {"cscript", Key::CScript, 4, true},
    {"proxy_protocol", Key::ProxyProtocol, 2, false},
    {"proxy_allowed", Key::ProxyAllowed, 1, true},
    {"pasv_address", Key::PasvAddress, 2, false},
    {"pasv_address_for", Key::PasvAddressFor, 3, false},
    {"tls_data_reuse", Key::TlsDataReuse, 2, false},
    {"metrics_port", Key::MetricsPort, 2, false},
    {"metrics_bind", Key::MetricsBind, 2, false},
};

}  // namespace

std::vector<std::string_view> SiteConfigKeyNames() {
    std::vector<std::string_view> names;
    for (const auto& k : kKeys) names.push_back(k.name);
    return names;
}

namespace {

const KeyRule* FindKey(std::string_view name, size_t tokens) {
    for (const auto& k : kKeys)
        if (StringUtil::EqualNoCase(name, k.name))
            return (k.orMore ? tokens >= k.tokens : tokens == k.tokens) ? &k : nullptr;
    return nullptr;
}

// Leading decimal digits; anything else reads as 0. Saturates instead of wrapping.
uint64_t ReadNumber(std::string_view s) {
    constexpr uint64_t kCap = std::numeric_limits<uint32_t>::max() + uint64_t{1};
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        v = std::min(kCap, v * 10 + static_cast<uint64_t>(c - '0'));
    }
    return v;
}

uint32_t Number(std::string_view s) {
    return static_cast<uint32_t>(
        std::min<uint64_t>(ReadNumber(s), std::numeric_limits<uint32_t>::max()));
}

std::string Unescape(std::string_view s) {
    static constexpr std::string_view kSpace = "[:space:]", kHash = "[:hash:]";
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        std::string_view rest = s.substr(i);
        if (rest.starts_with(kSpace)) {
            out += ' ';
            i += kSpace.size();
        } else if (rest.starts_with(kHash)) {
            out += '#';
            i += kHash.size();
        } else {
            out += s[i++];
        }
    }
    return out;
}

std::string Bounded(std::string s, size_t max) {
    StringUtil::Truncate(s, max);
    return s;
}

bool IsSep(char c) {
    return c == '/' || c == '\\';
}

// Absolute: one leading '.' dropped, a leading separator added unless drive-qualified.
// Relative: the same, but a leading separator is removed. Both end in '\' unless empty.
std::string FormPath(std::string v, bool relative) {
    if (!v.empty() && v[0] == '.') v.erase(0, 1);
    bool drive = v.size() >= 2 && v[1] == ':';
    bool rooted = !v.empty() && IsSep(v[0]);
    if (relative) {
        if (rooted) v.erase(0, 1);
    } else if (!drive && !rooted) {
        v.insert(0, "\\");
    }
    if (!v.empty() && !IsSep(v.back())) v += '\\';
    FileUtil::ToBackslashes(v);
    return v;
}

// The configured root is often a symbolic link to the real disk location, so links are followed.
bool IsExistingDir(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(FileUtil::OsPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class Parser {
  public:
    Parser(std::string_view path, SiteConfigRecord& rec, const ConfigLog& log)
        : path_(path), rec_(rec), log_(log) {}

    void Line(std::string_view piece, int number) {
        size_t cut = piece.find_first_of(std::string_view("\r\n#\0", 4));
        if (cut != std::string_view::npos) piece = piece.substr(0, cut);
        std::vector<std::string_view> t;
        for (size_t pos = 0;;) {
            size_t start = piece.find_first_not_of(" \t", pos);
            if (start == std::string_view::npos) break;
            size_t end = std::min(piece.find_first_of(" \t", start), piece.size());
            t.push_back(piece.substr(start, end - start));
            pos = end;
        }
        if (t.empty()) return;
        line_ = number;
        const KeyRule* rule = FindKey(t[0], t.size());
        if (!rule || !Apply(rule->key, t)) ErrorReading(t[0]);
    }

    bool Validate(int lines) {
        bool ok = true;
        if (rec_.rootPath.empty()) {
            Log(StringUtil::Format("%s> ERROR: no rootpath specified.", path_.c_str()));
            ok = false;
        } else if (!IsExistingDir(rec_.rootPath)) {
            Log(StringUtil::Format("%s> ERROR: invalid rootpath '%s'.", path_.c_str(),
                                   rec_.rootPath.c_str()));
            ok = false;
        }
        if (ok) {
            rec_.siteIpGiven = !rec_.siteIp.empty();
            if (rec_.siteIp.empty())
                rec_.siteIp = Bounded(SocketUtil::FirstNonLoopbackIp(), kSiteIpMax);
            rec_.fullDataPath = rec_.rootPath + rec_.dataPath;
            if (!rec_.defaultHomeDir.empty() && !IsExistingDir(rec_.defaultHomeDir))
                Log(StringUtil::Format("%s> ERROR: invalid default homedir '%s'.", path_.c_str(),
                                       rec_.defaultHomeDir.c_str()));
            if (!IsExistingDir(rec_.fullDataPath)) {
                Log(StringUtil::Format("%s> ERROR: invalid datapath '%s'.", path_.c_str(),
                                       rec_.fullDataPath.c_str()));
                ok = false;
            }
        }
        if (!ok)
            Log(StringUtil::Format("%s line %d> ERROR: unable to validate site configuration file.",
                                   path_.c_str(), lines));
        return ok;
    }

  private:
    void Log(const std::string& s) {
        if (log_) log_(s);
    }
    void ErrorReading(std::string_view key) {
        Log(StringUtil::Format("%s line %d> Error reading '%s' in file.", path_.c_str(), line_,
                               std::string(key).c_str()));
    }
    void CheckPath(const std::string& p) {
        if (!IsExistingDir(p))
            Log(StringUtil::Format("%s line %d> Invalid path '%s'.", path_.c_str(), line_,
                                   p.c_str()));
    }

    static std::string Join(const std::vector<std::string_view>& t, size_t from) {
        std::string s;
        for (size_t i = from; i < t.size(); ++i) {
            if (i > from) s += ' ';
            s += t[i];
        }
        return s;
    }

    // False: the value is out of range and the line counts as unreadable.
    static bool Port(std::string_view s, uint32_t& out) {
        uint64_t v = ReadNumber(s);
        if (v > kPortMax) return false;
        out = static_cast<uint32_t>(v);
        return true;
    }

    bool Apply(Key key, const std::vector<std::string_view>& t) {
        SiteConfigRecord& r = rec_;
        switch (key) {
            case Key::RootPath:
                r.rootPath = FormPath(Join(t, 1), false);
                CheckPath(r.rootPath);
                break;
            case Key::DataPath:
                r.dataPath = FormPath(Join(t, 1), true);
                if (!r.rootPath.empty()) CheckPath(r.rootPath + r.dataPath);
                break;
            case Key::DefaultHome: {
                std::string v = Join(t, 1);
                FileUtil::ToSlashes(v);
                if (v.starts_with("./")) {
                    if (r.rootPath.empty()) break;  // nothing to be relative to yet
                    r.defaultHomeDir = r.rootPath + FormPath(v, true);
                } else {
                    r.defaultHomeDir = FormPath(v, false);
                }
                CheckPath(r.defaultHomeDir);
                break;
            }
            case Key::ServerPort:
                return Port(t[1], r.serverPort);
            case Key::SslPort:
                return Port(t[1], r.sslPort);
            case Key::BindIp:
                r.bindIp = t[1];
                break;
            case Key::ServerIp:
                r.serverIp = t[1];
                break;
            case Key::SiteIp:
                r.siteIp = Bounded(std::string(t[1]), kSiteIpMax);
                break;
            case Key::ResolveDns:
                r.resolveDns = Number(t[1]);
                break;
            // Nobody could ever log in with 0: it keeps the default.
            case Key::MaxPendingPerIp:
                if (const uint32_t n = Number(t[1])) r.maxPendingPerIp = n;
                break;
            case Key::MaxPending:
                if (const uint32_t n = Number(t[1])) r.maxPending = n;
                break;
            case Key::LoginPrompt:
                r.loginPrompt = Unescape(Join(t, 1));
                break;
            case Key::SiteNameLong:
                r.siteNameLong = Unescape(Join(t, 1));
                break;
            case Key::SiteNameShort:
                r.siteNameShort = Unescape(Join(t, 1));
                break;
            case Key::MaxUsers:
                r.maxUsers = Number(t[1]);
                r.maxExemptUsers = Number(t[2]);
                break;
            case Key::Shutdown:
                r.shutdown = Number(t[1]);
                break;
            case Key::AuthMode:
                r.authMode = Number(t[1]);
                break;
            case Key::ServicePorts:
                r.allowServicePorts = Number(t[1]);
                break;
            case Key::TrustPeerAdminFlags:
                r.trustPeerAdminFlags = Number(t[1]);
                break;
            case Key::FxpPasv:
                r.fxpPasv = Join(t, 1);
                break;
            case Key::FxpPort:
                r.fxpPort = Join(t, 1);
                break;
            case Key::PasvRange: {
                uint32_t low = 0, high = 0;
                if (!Port(t[1], low) || !Port(t[2], high)) return false;
                r.pasvLow = low;
                r.pasvHigh = high;
                break;
            }
            case Key::ProxyProtocol:
                return ParseProxyMode(t[1], r.edge.proxyMode);
            case Key::ProxyAllowed:
                r.edge.proxyAllowed.assign(t.begin() + 1, t.end());
                break;
            case Key::PasvAddress:
                r.edge.pasvAddress = t[1];
                return t[1] == "control" || SocketUtil::IsIp(t[1]);
            case Key::PasvAddressFor:
                if (!SocketUtil::IsIp(t[2]) && t[2] != "control") return false;
                r.edge.pasvAddressFor.push_back({std::string(t[1]), std::string(t[2])});
                break;
            case Key::TlsDataReuse:
                r.edge.tlsDataReuse = Number(t[1]) != 0;
                break;
            case Key::MetricsPort:
                return Port(t[1], r.metricsPort);
            case Key::MetricsBind:
                r.metricsBind = t[1];
                break;
            case Key::SpeedLimit:
                r.downloadLimit = Number(t[1]);
                r.uploadLimit = Number(t[2]);
                break;
            case Key::FsSyncFreq:
                r.fsSyncFreq = Number(t[1]);
                break;
            case Key::JournalSyncMode:
                if (StringUtil::EqualNoCase(t[1], "always"))
                    r.journalSync = JournalSync::Always;
                else if (StringUtil::EqualNoCase(t[1], "second"))
                    r.journalSync = JournalSync::Second;
                else if (StringUtil::EqualNoCase(t[1], "never"))
                    r.journalSync = JournalSync::Never;
                else
                    return false;
                break;
            case Key::DupeCheck:
                r.dupeCheck = Number(t[1]);
                break;
            case Key::IgnoreType:
                for (size_t i = 1; i < t.size(); ++i)
                    r.ignoreTypes.Create(static_cast<int32_t>(r.ignoreTypes.Count() + 1),
                                         Unescape(t[i]));
                break;
            case Key::NukeDirStyle:
                r.nukePrefix = t[1];
                r.nukeRename = Number(t[2]);
                r.nukeEmptyKb = Number(t[3]);
                break;
            case Key::NukeEmpty:
                r.nukeEmpty = Number(t[1]);
                break;
            case Key::NukeMultMax:
                r.nukeMultMax = Number(t[1]);
                break;
            case Key::LogProgName:
                r.logProgName = Unescape(Join(t, 1));
                break;
            case Key::LogProgFormat:
                r.logProgFormat = Unescape(Join(t, 1));
                break;
            case Key::LogAccessName:
                r.logAccessName = Unescape(Join(t, 1));
                break;
            case Key::LogAccessFormat:
                r.logAccessFormat = Unescape(Join(t, 1));
                break;
            case Key::LogDateFormat:
                r.logDateFormat = Unescape(Join(t, 1));
                break;
            case Key::SiteFlags: {
                std::string command = Unescape(t[1]);
                auto* node = r.siteFlags.FindName(command, true);
                if (!node) {
                    Log(
                        StringUtil::Format("%s line %d> Unable to set flags (site_flags).  '%s': "
                                           "SITE command not recognized.",
                                           path_.c_str(), line_, command.c_str()));
                    break;
                }
                node->data = Join(t, 2);
                break;
            }
            case Key::SiteCmd: {
                CustomCommand c;
                c.scope = static_cast<char>(std::toupper(static_cast<unsigned char>(t[1][0])));
                c.name = Bounded(std::string(t[2]), kCustomNameMax);
                c.mode = Bounded(std::string(t[3]), kCustomModeMax);
                c.target = Bounded(Unescape(t[4]), kCustomTextMax);
                c.arguments = Bounded(Unescape(Join(t, 5)), kCustomTextMax);
                std::string name = c.name;
                r.customCommands.Create(static_cast<int32_t>(r.customCommands.Count() + 1),
                                        std::move(name), std::move(c));
                break;
            }
            case Key::Custom: {
                CustomPermission p{Bounded(std::string(t[1]), kCustomNameMax),
                                   Bounded(Join(t, 2), kCustomTextMax)};
                std::string name = p.command;
                r.customPermissions.Create(static_cast<int32_t>(r.customPermissions.Count() + 1),
                                           std::move(name), std::move(p));
                break;
            }
            case Key::CScript: {
                CustomScript s{Bounded(Unescape(t[1]), kCustomNameMax),
                               Bounded(std::string(t[2]), kCustomModeMax),
                               Bounded(Unescape(Join(t, 3)), kCustomTextMax)};
                std::string name = s.command;
                r.customScripts.Create(static_cast<int32_t>(r.customScripts.Count() + 1),
                                       std::move(name), std::move(s));
                break;
            }
        }
        return true;
    }

    std::string path_;
    SiteConfigRecord& rec_;
    const ConfigLog& log_;
    int line_ = 0;
};

}  // namespace

bool ParseSiteConfig(std::string_view text, std::string_view path, SiteConfigRecord& out,
                     const ConfigLog& log) {
    if (!BuildDefaultSiteFlags(out.siteFlags)) {
        if (log) log("ERROR: unable to initialize SITE command flags.");
        return false;
    }
    Parser parser(path, out, log);
    int number = 0;
    for (size_t pos = 0; pos < text.size();) {
        std::string_view rest = text.substr(pos, kLineCapacity - 1);
        size_t lf = rest.find('\n');
        size_t len = lf == std::string_view::npos ? rest.size() : lf + 1;
        parser.Line(rest.substr(0, len), ++number);
        pos += len;
    }
    return parser.Validate(number);
}

}  // namespace orvex
