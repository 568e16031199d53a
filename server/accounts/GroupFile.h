#pragma once
// The group file: "name;description;id;logins" per group.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/KeyedList.h"

namespace orvex {

inline constexpr const char* kGroupListName = "Group Information List Header";
inline constexpr size_t kGroupNameMax = 16;
inline constexpr size_t kGroupDescriptionMax = 79;
inline constexpr size_t kGroupIdMax = 15;

struct GroupRecord {
    std::string name;
    std::string description;
    std::string id;       // decimal text
    uint32_t logins = 0;  // simultaneous logins of all members together; 0 = unlimited
    bool operator==(const GroupRecord&) const = default;
};

// Appends the groups of `text` to `out`; malformed lines and repeated names are skipped.
void ParseGroupFile(std::string_view text, KeyedList<GroupRecord>& out);

std::string FormatGroupLine(const GroupRecord& g);
std::string FormatGroupFile(const KeyedList<GroupRecord>& list);

bool IsWritableGroup(const GroupRecord& g);

}  // namespace orvex
