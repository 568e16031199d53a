#include "standalone/UserCreation.h"

#include "engine/RunState.h"
#include "engine/StringUtil.h"
#include "server/accounts/PasswordCipher.h"
#include "standalone/ConsoleInput.h"
#include "standalone/UserFile.h"

namespace orvex {

namespace {

constexpr size_t kLoginRead = 63;
constexpr size_t kLoginKept = 16;
constexpr size_t kPasswordRead = 63;
constexpr size_t kHomeRead = 264;

void Prompt(FILE* out, const std::string& text) {
    std::fputs(text.c_str(), out);
    std::fflush(out);
}

// Characters that would split or cut the line when the file is read back.
bool Storable(const std::string& field) {
    return field.find_first_of(";#\t\r\n") == std::string::npos;
}

}  // namespace

Creation CreateUser(FILE* in, FILE* out, const std::string& file, const std::string& defaultHome,
                    UserRecord& created) {
    created = UserRecord{};
    Prompt(out, "Enter the user's login: ");
    std::string login = ConsoleInput::ReadLine(in, kLoginRead);
    StringUtil::Truncate(login, kLoginKept);

    std::string password =
        ConsoleInput::ReadSecret(in, out, kPasswordRead, "Enter the user's password: ");
    const std::string again =
        ConsoleInput::ReadSecret(in, out, kPasswordRead, "Retype the user's password: ");
    if (password != again) {
        Prompt(out, "Passwords do not match.\n");
        return Creation::Mismatch;
    }
    StringUtil::Truncate(password, kPasswordSignificant);

    Prompt(out,
           StringUtil::Format("Enter the user's home directory [%s]: \n> ", defaultHome.c_str()));
    std::string home = ConsoleInput::ReadLine(in, kHomeRead);
    if (home.empty()) home = defaultHome;

    Prompt(out, StringUtil::Format("Enter the user's permissions [%s]: \n> ", kDefaultPermissions));
    std::string permissions = ConsoleInput::ReadLine(in, kPermissionsMax);
    if (permissions.empty()) permissions = kDefaultPermissions;
    Prompt(out, "\n");

    if (Run().stopRequested) return Creation::Refused;
    if (login.empty()) {
        Prompt(out, "ERROR: the user's login cannot be empty.\n");
        return Creation::Refused;
    }
    if (!Storable(login) || !Storable(home) || !Storable(permissions)) {
        Prompt(out,
               "ERROR: the login, home directory and permissions cannot hold ';', '#' or "
               "tabs.\n");
        return Creation::Refused;
    }

    created.account.user = login;
    created.account.password = EncryptToHex(password, login, password, kPasswordSignificant);
    created.account.home = home;
    created.permissions = permissions;
    if (!AppendUserLine(file, created)) {
        Prompt(out, StringUtil::Format("WARNING: unable to write to file %s.\n", file.c_str()));
        return Creation::NotWritten;
    }
    return Creation::Added;
}

}  // namespace orvex
