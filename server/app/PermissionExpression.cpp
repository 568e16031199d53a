#include "server/app/PermissionExpression.h"

#include "engine/StringUtil.h"

namespace orvex {

namespace {

// 1 allowed, 0 refused, -1 the term does not apply.
int Evaluate(std::string_view term, std::string_view user, std::string_view group,
             std::string_view flags) {
    if (term == "*") return 1;
    if (term[0] == '-' || term[0] == '=') {
        std::string_view subject = term[0] == '-' ? user : group;
        std::string_view name = term.substr(1);
        bool negated = !name.empty() && name[0] == '!';
        if (negated) name.remove_prefix(1);
        if (name.empty() || !StringUtil::EqualNoCase(name, subject)) return -1;
        return negated ? 0 : 1;
    }
    if (term[0] == '!' && term.size() > 1)
        return flags.find(term[1]) != std::string_view::npos ? 0 : -1;
    return flags.find(term[0]) != std::string_view::npos ? 1 : -1;
}

}  // namespace

bool MatchPermission(std::string_view expression, std::string_view user, std::string_view group,
                     std::string_view flags) {
    size_t pos = 0;
    while (pos < expression.size()) {
        size_t start = expression.find_first_not_of(" \t", pos);
        if (start == std::string_view::npos) break;
        size_t end = expression.find_first_of(" \t", start);
        if (end == std::string_view::npos) end = expression.size();
        int answer = Evaluate(expression.substr(start, end - start), user, group, flags);
        if (answer >= 0) return answer == 1;
        pos = end;
    }
    return false;
}

}  // namespace orvex
