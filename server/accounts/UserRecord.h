#pragma once
// One account's limits, permissions, flags, ratio, credits, statistics, group and allowed
// addresses, as kept in its user file. The password, ids and home directory are in the passwd file.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/FileStamp.h"

namespace orvex {

// Text fields keep at most these many characters.
inline constexpr size_t kUserTextMax = 79;
inline constexpr size_t kUserPermissionsMax = 15;
inline constexpr size_t kUserIpMasks = 10;

// Flag characters.
inline constexpr char kFlagSiteop = '1';
inline constexpr char kFlagGadmin = '2';
inline constexpr char kFlagGlock = '3';
inline constexpr char kFlagExempt = '4';
inline constexpr char kFlagDeleted = '6';
inline constexpr char kFlagUseredit = '7';
inline constexpr char kFlagAnonymous = '8';
inline constexpr char kFlagRemote = 'R';
// The operator's flag and the flags that administer users or the site.
inline constexpr std::string_view kAdministeringFlags = "127ABCDEFGR";

// Statistics groups, in the order of the file.
enum StatGroup : size_t {
    kAllUp,
    kAllDown,
    kWeekUp,
    kWeekDown,
    kDayUp,
    kDayDown,
    kMonthUp,
    kMonthDown,
    kStatGroups
};

struct TransferStats {
    uint32_t files = 0;
    uint32_t kilobytes = 0;
    uint32_t seconds = 0;
    bool operator==(const TransferStats&) const = default;
};

struct UserRecord {
    std::string comment;
    int32_t weeklyAllotment = 0;   // KB
    int32_t maxLogins = 0;         // 0 = unlimited
    int32_t maxDownloadSpeed = 0;  // bytes per second, 0 = none
    int32_t maxUploadSpeed = 0;
    std::string permissions;  // lower case
    int32_t spare = 0;        // receives the first LOGINS number on reading
    uint32_t maxLoginsPerIp = 0;
    int32_t maxDownloads = -1;  // simultaneous; -1 = unlimited
    int32_t maxUploads = -1;
    uint32_t timeFrameStart = 0, timeFrameEnd = 0;  // hours; 0 0 = any time
    std::string flags;                              // upper case
    uint32_t ratio = 0;                             // 0 = leech
    int32_t credits = 0;                            // KB
    std::string tagline;
    std::string startDir;  // relative to the home directory, backslashes, trailing backslash
    std::array<TransferStats, kStatGroups> stats{};
    uint32_t loginCount = 0;
    uint32_t lastLogin = 0;  // seconds since 1970
    uint32_t timeLimit = 0;  // minutes; 0 = unlimited
    uint32_t reserved = 0;
    uint32_t lastNuke = 0;
    uint32_t timesNuked = 0;
    uint32_t amountNuked = 0;  // MB
    int32_t userSlots = 0, leechSlots = 0;
    std::string group;
    std::array<std::string, kUserIpMasks> ipMasks{};
    uint32_t idleLimit = 0;  // seconds; 0 = unlimited

    // Not stored in the file.
    std::string homeServer;
    uint32_t homePort = 0;
    FileStamp fileStamp;      // of the user file when last read or written
    int64_t fileCreated = 0;  // its creation time then (birth, else modification)
    uint64_t fileDigest = 0;  // of its text then

    bool HasFlag(char flag) const { return flags.find(flag) != std::string::npos; }
    bool operator==(const UserRecord&) const = default;
};

}  // namespace orvex
