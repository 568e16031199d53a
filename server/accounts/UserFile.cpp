#include "server/accounts/UserFile.h"

#include <vector>

#include "engine/FileTimes.h"
#include "engine/FileUtil.h"
#include "engine/StringUtil.h"
#include "engine/Tokenizer.h"
#include "engine/os/AtomicFile.h"
#include "server/accounts/UserName.h"

namespace orvex {
namespace {

using AccountText::ReadSigned;
using AccountText::ReadUnsigned;

constexpr const char* kStatKeywords[kStatGroups] = {"ALLUP", "ALLDN", "WKUP",    "WKDN",
                                                    "DAYUP", "DAYDN", "MONTHUP", "MONTHDN"};

std::string Cut(std::string s, size_t max) {
    StringUtil::Truncate(s, max);
    return s;
}

// One keyword line; false when the keyword is unknown or has too few tokens.
bool ApplyLine(const Args& t, UserRecord& rec) {
    const std::string& key = t[0];
    const size_t n = t.size();
    auto is = [&key](const char* word) { return StringUtil::EqualNoCase(key, word); };

    if (is("user") || is("tagline") || is("dir")) {
        if (n > 1) {
            std::string text = Cut(Join(t), kUserTextMax);
            if (is("user"))
                rec.comment = std::move(text);
            else if (is("tagline"))
                rec.tagline = std::move(text);
            else
                rec.startDir = StartDirectory(text);
        }
        return true;
    }
    if (is("general")) {
        if (n < 5) return false;
        rec.weeklyAllotment = ReadSigned(t[1]);
        rec.maxLogins = ReadSigned(t[2]);
        rec.maxDownloadSpeed = ReadSigned(t[3]);
        rec.maxUploadSpeed = ReadSigned(t[4]);
        return true;
    }
    if (is("permissions")) {
        if (n > 1) rec.permissions = StringUtil::Lowered(Cut(t[1], kUserPermissionsMax));
        return true;
    }
    if (is("logins")) {
        if (n < 5) return false;
        rec.spare = ReadSigned(t[1]);
        rec.maxLoginsPerIp = ReadUnsigned(t[2]);
        rec.maxDownloads = ReadSigned(t[3]);
        rec.maxUploads = ReadSigned(t[4]);
        return true;
    }
    if (is("timeframe")) {
        if (n < 3) return false;
        rec.timeFrameStart = ReadUnsigned(t[1]);
        rec.timeFrameEnd = ReadUnsigned(t[2]);
        return true;
    }
    if (is("flags")) {
        // A user without flags is written "FLAGS " with nothing after it.
        rec.flags = n > 1 ? StringUtil::Uppered(Cut(t[1], kUserTextMax)) : std::string();
        return true;
    }
    if (is("ratio") || is("credits") || is("uset")) {
        if (n < 2) return false;
        if (is("ratio"))
            rec.ratio = ReadUnsigned(t[1]);
        else if (is("credits"))
            rec.credits = ReadSigned(t[1]);
        else
            rec.idleLimit = ReadUnsigned(t[1]);
        return true;
    }
    for (size_t g = 0; g < kStatGroups; ++g) {
        if (!is(kStatKeywords[g])) continue;
        if (n < 4) return false;
        rec.stats[g] = {ReadUnsigned(t[1]), ReadUnsigned(t[2]), ReadUnsigned(t[3])};
        return true;
    }
    if (is("time")) {
        if (n < 5) return false;
        rec.loginCount = ReadUnsigned(t[1]);
        rec.lastLogin = ReadUnsigned(t[2]);
        rec.timeLimit = ReadUnsigned(t[3]);
        rec.reserved = ReadUnsigned(t[4]);
        return true;
    }
    if (is("nuke")) {
        if (n < 4) return false;
        rec.lastNuke = ReadUnsigned(t[1]);
        rec.timesNuked = ReadUnsigned(t[2]);
        rec.amountNuked = ReadUnsigned(t[3]);
        return true;
    }
    if (is("slots")) {
        if (n < 3) return false;
        rec.userSlots = ReadSigned(t[1]);
        rec.leechSlots = ReadSigned(t[2]);
        return true;
    }
    if (is("group")) {
        if (n > 1) rec.group = Cut(t[1], kUserTextMax);
        return true;
    }
    if (is("ip")) {
        if (n < 2) return false;
        for (auto& mask : rec.ipMasks)
            if (mask.empty()) {
                mask = Cut(t[1], kUserTextMax);
                break;
            }
        return true;
    }
    return false;
}

}  // namespace

std::string StartDirectory(std::string_view value) {
    std::vector<std::string> parts;
    auto size = [&parts] {
        size_t n = 0;
        for (const auto& p : parts) n += p.size() + 1;
        return n;
    };
    size_t i = 0;
    while (i <= value.size()) {
        size_t j = value.find_first_of("\\/", i);
        if (j == std::string_view::npos) j = value.size();
        std::string_view comp = value.substr(i, j - i);
        while (!comp.empty() && comp.front() == ' ') comp.remove_prefix(1);
        while (!comp.empty() && comp.back() == ' ') comp.remove_suffix(1);
        if (comp == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!comp.empty() && comp != ".") {
            parts.emplace_back(comp);
        }
        i = j + 1;
    }
    while (size() > kUserTextMax && parts.size() > 1) parts.pop_back();
    if (size() > kUserTextMax) parts.clear();
    std::string out;
    for (const auto& p : parts) out += p + '\\';
    return out;
}

UserRecord FreshUserRecord(std::string_view userName, const LocalHome& local) {
    UserRecord rec;
    if (IsSharedName(userName)) {
        const size_t first = userName.find('$');
        std::string_view rest = userName.substr(first + 1);
        const size_t second = rest.find('$');
        rec.homeServer = Cut(std::string(rest.substr(0, second)), kUserTextMax);
        if (second != std::string_view::npos) rec.homePort = ReadUnsigned(rest.substr(second + 1));
    } else {
        rec.homeServer = Cut(local.siteIp, kUserTextMax);
        rec.homePort = local.serverPort;
    }
    return rec;
}

bool ParseUserFile(std::string_view text, std::string_view userName, UserRecord& rec,
                   const AccountLog& log) {
    const Tokenizer tokenizer(AccountText::kLineBuffer);
    bool general = false;
    AccountText::ForEachLine(text, [&](std::string_view line, int number) {
        const Args t = tokenizer.Split(line, ' ');
        if (t.empty()) return;
        if (ApplyLine(t, rec)) {
            if (StringUtil::EqualNoCase(t[0], "general")) general = true;
        } else if (log) {
            log(StringUtil::Format("%.*s line %d> Error reading '%s' in file.",
                                   static_cast<int>(userName.size()), userName.data(), number,
                                   t[0].c_str()));
        }
    });
    return general;
}

std::string FormatUserFile(const UserRecord& r) {
    using AccountText::OneLine;
    auto u = [](int32_t v) { return static_cast<unsigned long>(static_cast<uint32_t>(v)); };
    std::string out;
    out += "USER " + OneLine(r.comment) + "\n";
    out += StringUtil::Format("GENERAL %ld %ld %ld %ld\n", long(r.weeklyAllotment),
                              long(r.maxLogins), long(r.maxDownloadSpeed), long(r.maxUploadSpeed));
    out += "PERMISSIONS " + OneLine(r.permissions) + "\n";
    out += StringUtil::Format("LOGINS %lu %lu %ld %ld\n", u(r.maxLogins),
                              static_cast<unsigned long>(r.maxLoginsPerIp), long(r.maxDownloads),
                              long(r.maxUploads));
    out += StringUtil::Format("TIMEFRAME %lu %lu\n", static_cast<unsigned long>(r.timeFrameStart),
                              static_cast<unsigned long>(r.timeFrameEnd));
    out += "FLAGS " + OneLine(r.flags) + "\n";
    out += StringUtil::Format("RATIO %lu\n", static_cast<unsigned long>(r.ratio));
    out += StringUtil::Format("CREDITS %ld\n", long(r.credits));
    out += "TAGLINE " + OneLine(r.tagline) + "\n";
    out += "DIR " + OneLine(r.startDir) + "\n";
    for (size_t g = 0; g < kStatGroups; ++g)
        out += StringUtil::Format("%s %lu %lu %lu\n", kStatKeywords[g],
                                  static_cast<unsigned long>(r.stats[g].files),
                                  static_cast<unsigned long>(r.stats[g].kilobytes),
                                  static_cast<unsigned long>(r.stats[g].seconds));
    out += StringUtil::Format("TIME %lu %lu %lu %lu\n", static_cast<unsigned long>(r.loginCount),
                              static_cast<unsigned long>(r.lastLogin),
                              static_cast<unsigned long>(r.timeLimit),
                              static_cast<unsigned long>(r.reserved));
    out += StringUtil::Format("NUKE %lu %lu %lu\n", static_cast<unsigned long>(r.lastNuke),
                              static_cast<unsigned long>(r.timesNuked),
                              static_cast<unsigned long>(r.amountNuked));
    out += StringUtil::Format("SLOTS %ld %ld\n", long(r.userSlots), long(r.leechSlots));
    out += StringUtil::Format("USET %lu\n", static_cast<unsigned long>(r.idleLimit));
    out += "GROUP " + OneLine(r.group) + "\n";
    for (const auto& mask : r.ipMasks)
        if (!mask.empty()) out += "IP " + OneLine(mask) + "\n";
    return out;
}

bool ReadUserFileStamps(std::string_view path, FileStamp& stamp, int64_t& created) {
    FileUtil::EntryTimes times;
    if (!FileUtil::ReadEntryTimes(path, times, true)) return false;
    stamp = {times.modifySeconds, times.modifyNanoseconds, times.size, times.inode};
    created = times.creation;
    return true;
}

bool ReadUserFile(std::string_view path, std::string_view userName, const LocalHome& local,
                  UserRecord& out, const AccountLog& log) {
    FileStamp stamp;
    int64_t created = 0;
    // Stamped before reading: an edit during the read then shows as a change next time.
    if (!ReadUserFileStamps(path, stamp, created)) return false;
    const std::optional<std::string> text = ReadWholeFile(path);
    if (!text) return false;
    UserRecord rec = FreshUserRecord(userName, local);
    if (!ParseUserFile(*text, userName, rec, log)) return false;
    rec.fileStamp = stamp;
    rec.fileCreated = created;
    rec.fileDigest = TextDigest(*text);
    out = std::move(rec);
    return true;
}

bool WriteUserFile(std::string_view path, UserRecord& rec, bool replace,
                   const std::function<bool()>& stillCurrent, Durability durability) {
    const std::string text = FormatUserFile(rec);
    if (!WriteFileAtomically(path, text, replace, std::nullopt, stillCurrent, durability))
        return false;
    rec.fileDigest = TextDigest(text);
    ReadUserFileStamps(path, rec.fileStamp, rec.fileCreated);
    return true;
}

}  // namespace orvex
