#pragma once
// Interrupt, termination, abort and quit (the console's Ctrl-Break) only ask the server to stop.
// In console mode the handler sets the stop flag itself; in service mode the signal becomes a
// stop control, delivered on a thread of its own so that it may report its status first.

#include <functional>

namespace orvex::StopSignals {

bool Install();
// Every later stop signal calls `onStop` on the routing thread instead of setting the flag.
bool RouteToThread(std::function<void()> onStop);

}  // namespace orvex::StopSignals
