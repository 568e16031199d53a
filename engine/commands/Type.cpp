// TYPE: ASCII or binary; the access log shows the resulting type letter.

#include "engine/FtpSession.h"

namespace orvex {

int FtpSession::Type(const Args& args) {
    // Only the first argument counts, so "L 8" selects binary.
    const std::string wanted = args.size() > 1 ? args[1] : std::string();
    if (wanted == "A" || wanted == "a") {
        type_ = 'A';
    } else if (wanted == "I" || wanted == "i" || wanted == "L" || wanted == "l") {
        type_ = 'I';
    } else if (wanted == "E" || wanted == "e") {
        Respond(args, "Type E not implemented.", "504");
        return 0;
    }
    Respond(Args{args[0], std::string(1, type_)}, SetMessage("Type is set to %c.", type_), "200");
    return 1;
}

}  // namespace orvex
