#include "server/accounts/GroupFile.h"

#include "engine/StringUtil.h"
#include "engine/Tokenizer.h"
#include "server/accounts/AccountText.h"

namespace orvex {

void ParseGroupFile(std::string_view text, KeyedList<GroupRecord>& out) {
    const Tokenizer tokenizer(AccountText::kLineBuffer);
    AccountText::ForEachLine(text, [&](std::string_view line, int) {
        const Args f = tokenizer.Split(line, ';', true);
        if (f.size() < 4 || f[0].empty()) return;
        GroupRecord g;
        g.name = f[0].substr(0, kGroupNameMax);
        if (out.FindName(g.name, true)) return;
        g.description = f[1].substr(0, kGroupDescriptionMax);
        g.id = f[2].substr(0, kGroupIdMax);
        g.logins = AccountText::ReadUnsigned(f[3]);
        const int32_t id = AccountText::NodeId(g.id);
        std::string name = g.name;
        out.Create(id, std::move(name), std::move(g));
    });
}

std::string FormatGroupLine(const GroupRecord& g) {
    return StringUtil::Format("%s;%s;%s;%lu\n", g.name.c_str(), g.description.c_str(), g.id.c_str(),
                              static_cast<unsigned long>(g.logins));
}

std::string FormatGroupFile(const KeyedList<GroupRecord>& list) {
    std::string out = "# GroupAbbr;GroupDesc;GroupID;Logins\n#\n";
    for (const auto& node : list) out += FormatGroupLine(node.data);
    return out;
}

bool IsWritableGroup(const GroupRecord& g) {
    using AccountText::IsTableField;
    return !g.name.empty() && IsTableField(g.name) && IsTableField(g.description) &&
           IsTableField(g.id);
}

}  // namespace orvex
