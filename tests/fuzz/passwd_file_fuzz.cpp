// Passwd and group file parsing on arbitrary text: every entry read can be written back, and the
// written file reads back to the same table.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "server/accounts/GroupFile.h"
#include "server/accounts/PasswdFile.h"

using namespace orvex;

namespace {

const std::string kRoot = "\\srv\\ftp\\";

void CheckPasswd(std::string_view text) {
    KeyedList<Account> list(kPasswdListName);
    ParsePasswdFile(text, kRoot, list);
    for (const auto& n : list) {
        const Account& a = n.data;
        if (!IsWritableAccount(a)) abort();
        if (a.user.size() > kAccountNameMax || a.password.size() > kAccountPasswordMax ||
            a.uid.size() > kAccountIdMax || a.gid.size() > kAccountIdMax ||
            a.added.size() > kAccountDateMax || a.home.size() > kAccountHomeMax)
            abort();
        if (n.id == 0 || !n.name || *n.name != a.user) abort();
    }
    KeyedList<Account> back(kPasswdListName);
    ParsePasswdFile(FormatPasswdFile(list, kRoot), kRoot, back);
    if (back.Count() != list.Count()) abort();
    auto it = back.begin();
    for (const auto& n : list) {
        const Account& a = n.data;
        const Account& b = it->data;
        if (it->id != n.id || *it->name != *n.name || a.user != b.user ||
            a.password != b.password || a.uid != b.uid || a.gid != b.gid || a.added != b.added ||
            a.home != b.home)
            abort();
        ++it;
    }
}

void CheckGroups(std::string_view text) {
    KeyedList<GroupRecord> list(kGroupListName);
    ParseGroupFile(text, list);
    for (const auto& n : list) {
        if (!IsWritableGroup(n.data) || n.data.name.size() > kGroupNameMax ||
            n.data.description.size() > kGroupDescriptionMax || n.data.id.size() > kGroupIdMax)
            abort();
    }
    KeyedList<GroupRecord> back(kGroupListName);
    ParseGroupFile(FormatGroupFile(list), back);
    if (back.Count() != list.Count()) abort();
    auto it = back.begin();
    for (const auto& n : list) {
        if (it->id != n.id || !(it->data == n.data)) abort();
        ++it;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckPasswd(text);
    CheckGroups(text);
    return 0;
}
