// USER: any name is taken; PASS decides.

#include "engine/FtpSession.h"
#include "engine/StringUtil.h"

namespace orvex {

namespace {
constexpr size_t kUserSize = 256;
}

int FtpSession::User(const Args& args) {
    if (args.size() < 2) {
        Respond(args, SetMessage("'%s': Invalid number of parameters.", args[0].c_str()), "500");
        return 0;
    }
    std::string name = args[1];
    StringUtil::Truncate(name, kUserSize - 1);
    user_ = name;
    Respond(args, SetMessage("Password required for %s.", user_.c_str()), "331");
    return 1;
}

}  // namespace orvex
