#include "engine/RunState.h"

namespace orvex {

RunState& Run() {
    static RunState state;
    return state;
}

}  // namespace orvex
