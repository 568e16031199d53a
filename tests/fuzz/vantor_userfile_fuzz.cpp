// User files are edited by hand: every piece of a line must parse without harm, and what loads
// must be a record the file format can hold.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "standalone/UserFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    orvex::UserList users;
    while (!in.empty()) {
        // The pieces the loader reads: up to a line feed, at most 1023 characters, no NUL.
        size_t n = in.find('\n');
        n = n == std::string_view::npos ? in.size() : n + 1;
        if (n > orvex::kUserFilePiece) n = orvex::kUserFilePiece;
        std::string piece(in.substr(0, n));
        in.remove_prefix(n);
        piece = piece.substr(0, piece.find('\0'));

        orvex::UserRecord user;
        const orvex::UserLine result = orvex::ParseUserLine(piece, user);
        if (result == orvex::UserLine::Skipped) continue;
        const orvex::Account& a = user.account;
        if (a.user.empty() || a.password.empty() || user.permissions.empty()) std::abort();
        if (a.user.size() > orvex::kUserNameMax || a.password.size() > orvex::kPasswordFieldMax ||
            a.home.size() > orvex::kHomeFieldMax + 1 ||
            user.permissions.size() > orvex::kPermissionsMax)
            std::abort();
        if (a.home.empty() || a.home.back() != '\\' || a.home.find('/') != std::string::npos)
            std::abort();
        const std::string* fields[] = {&a.user, &a.password, &a.home, &user.permissions};
        for (const std::string* field : fields) {
            if (field->find_first_of(";\t\r\n#") != std::string::npos) std::abort();
        }
        if (result == orvex::UserLine::Loaded && !users.FindName(a.user, true))
            users.Create(static_cast<int32_t>(users.MaxId() + 1), a.user, user);
    }
    return 0;
}
