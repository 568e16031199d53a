// orvex-passwd: sets the password of a local account, or adds an account, in a site's files.
//   orvex-passwd <site root> <user> [password]
//   orvex-passwd -a [-g <group>] <site root> <user> [password]
// Without a password argument the first line of standard input is taken. Both go through the
// server's own stores (its name rules, atomic rewrites and file locks), so they may run while the
// server does; it sees the change at the next login or within 3 s.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "engine/FileUtil.h"
#include "server/accounts/AccountStore.h"
#include "server/accounts/GroupStore.h"
#include "server/accounts/PasswordCipher.h"
#include "server/accounts/UserName.h"
#include "server/accounts/UserStore.h"
#include "server/app/ServerSite.h"
#include "server/app/SiteConfig.h"

namespace {

using namespace orvex;

struct Options {
    bool add = false;
    std::string group;
    std::string root;  // internal form, ending in a backslash
    std::string user;
    std::optional<std::string> password;
};

const char* g_program = "orvex-passwd";

int Usage() {
    std::fprintf(stderr,
                 "usage: %s <site root> <user> [password]\n"
                 "       %s -a [-g <group>] <site root> <user> [password]\n",
                 g_program, g_program);
    return 2;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    int c;
    while ((c = getopt(argc, argv, "+ag:")) != -1) {
        if (c == 'a')
            o.add = true;
        else if (c == 'g')
            o.group = optarg;
        else
            return false;
    }
    const int rest = argc - optind;
    if (rest < 2 || rest > 3 || (!o.group.empty() && !o.add)) return false;
    o.root = argv[optind];
    FileUtil::ToBackslashes(o.root);
    FileUtil::AddTrailingSep(o.root);
    o.user = argv[optind + 1];
    if (rest == 3) o.password = argv[optind + 2];
    return true;
}

// The password from the command line or the first line of standard input.
std::optional<std::string> ReadPassword(const Options& o) {
    std::string password;
    if (o.password) {
        password = *o.password;
    } else if (!std::getline(std::cin, password)) {
        std::fprintf(stderr, "%s: no password given\n", g_program);
        return std::nullopt;
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    // Only 16 characters would count at login: a longer one is refused rather than cut.
    if (password.size() > kPasswordSignificant) {
        std::fprintf(stderr, "%s: a password has at most %zu characters\n", g_program,
                     kPasswordSignificant);
        return std::nullopt;
    }
    return password;
}

int ChangePassword(const Options& o, const std::string& password) {
    AccountStore store([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    store.Configure(o.root + "etc\\passwd", o.root, std::string());
    if (!store.LoadAccounts()) return 1;
    std::optional<Account> account = store.FindAccount(o.user);
    if (!account) {
        std::fprintf(stderr, "%s: no account '%s' in %s\n", g_program, o.user.c_str(),
                     FileUtil::OsPath(o.root + "etc\\passwd").c_str());
        return 1;
    }
    account->password = StoredPassword(account->user, password);
    if (!store.ReplaceAccount(account->user, *account)) {
        std::fprintf(stderr, "%s: unable to write the passwd file\n", g_program);
        return 1;
    }
    std::printf("Password of %s changed.\n", account->user.c_str());
    return 0;
}

bool SameDirectory(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(FileUtil::OsPath(a), FileUtil::OsPath(b), ec);
}

int AddAccount(const Options& o, const std::string& password) {
    if (!IsValidLocalName(o.user)) {
        std::fprintf(stderr,
                     "%s: '%s' is no valid user name (1 to 16 letters, digits, '_' and '-', "
                     "beginning with a letter)\n",
                     g_program, o.user.c_str());
        return 1;
    }
    if (password.empty()) {
        std::fprintf(stderr, "%s: a new account needs a password\n", g_program);
        return 1;
    }
    // The server's own site object: the stores find their files through the configuration
    // exactly as in the server.
    ServerSite site;
    const std::string conf = o.root + "etc\\orvex.conf";
    if (!site.Config().Load(conf)) {
        std::fprintf(stderr, "%s: unable to load %s\n", g_program, FileUtil::OsPath(conf).c_str());
        return 1;
    }
    const std::string configuredRoot = site.Config().GetRootPath();
    if (!SameDirectory(configuredRoot, o.root)) {
        std::fprintf(stderr, "%s: %s names the root %s, not %s\n", g_program,
                     FileUtil::OsPath(conf).c_str(), FileUtil::OsPath(configuredRoot).c_str(),
                     FileUtil::OsPath(o.root).c_str());
        return 1;
    }
    // The server refuses a login without a home, so such an account would be of no use.
    const std::string home = site.Config().GetDefaultHomeDir();
    if (!FileUtil::IsDirectory(home)) {
        std::fprintf(stderr, "%s: %s gives no existing default_homedir for new accounts\n",
                     g_program, FileUtil::OsPath(conf).c_str());
        return 1;
    }
    site.ConfigureStores();
    if (!site.Accounts().LoadAccounts() || !site.Groups().LoadGroups()) return 1;
    std::string group = o.group;
    if (!group.empty() && !site.Groups().FindGroup(group, &group)) {
        std::fprintf(stderr, "%s: no group '%s' in %s\n", g_program, o.group.c_str(),
                     FileUtil::OsPath(site.MakeRootPath("etc/", "group")).c_str());
        return 1;
    }
    switch (site.Users().AddUser(o.user, password, {}, group, false)) {
        case 1:
            std::printf("User %s added%s%s.\n", o.user.c_str(), group.empty() ? "" : " to ",
                        group.c_str());
            return 0;
        case 2:
            std::fprintf(stderr, "%s: user '%s' already exists\n", g_program, o.user.c_str());
            return 1;
        default:
            std::fprintf(stderr, "%s: unable to write the user file or the passwd entry\n",
                         g_program);
            return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 0) g_program = argv[0];
    Options o;
    if (!ParseOptions(argc, argv, o)) return Usage();
    const std::optional<std::string> password = ReadPassword(o);
    if (!password) return 2;
    return o.add ? AddAccount(o, *password) : ChangePassword(o, *password);
}
