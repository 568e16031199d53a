// orvex-passwd: sets the password of a local account in a site's etc/passwd.
//   orvex-passwd <site root> <user> [password]
// Without a password argument the first line of standard input is taken. The file is rewritten
// through the passwd store, so it stays whole even if the rewrite is interrupted.

#include <cstdio>
#include <iostream>
#include <string>

#include "engine/FileUtil.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/PasswordCipher.h"

int main(int argc, char** argv) {
    using namespace orvex;
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s <site root> <user> [password]\n", argv[0]);
        return 2;
    }
    std::string root = argv[1];
    FileUtil::ToBackslashes(root);
    FileUtil::AddTrailingSep(root);
    const std::string user = argv[2];
    std::string password;
    if (argc == 4) {
        password = argv[3];
    } else if (!std::getline(std::cin, password)) {
        std::fprintf(stderr, "%s: no password given\n", argv[0]);
        return 2;
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();

    AccountStore store([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    store.Configure(root + "etc\\passwd", root, std::string());
    if (!store.LoadAccounts()) return 1;
    std::optional<Account> account = store.FindAccount(user);
    if (!account) {
        std::fprintf(stderr, "%s: no account '%s' in %s\n", argv[0], user.c_str(),
                     FileUtil::OsPath(root + "etc\\passwd").c_str());
        return 1;
    }
    account->password = StoredPassword(account->user, password);
    if (!store.ReplaceAccount(account->user, *account)) {
        std::fprintf(stderr, "%s: unable to write the passwd file\n", argv[0]);
        return 1;
    }
    std::printf("Password of %s changed.\n", account->user.c_str());
    return 0;
}
