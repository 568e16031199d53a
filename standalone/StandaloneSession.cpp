#include "standalone/StandaloneSession.h"

#include "server/accounts/PasswordCipher.h"

namespace orvex {

bool StandaloneSession::VerifyPassword(const Account& account, const std::string& typed) {
    return orvex::VerifyPassword(account.password, account.user, typed);
}

}  // namespace orvex
