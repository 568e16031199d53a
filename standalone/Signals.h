#pragma once
// Signals of the standalone server: interrupt, termination and abort stop it, hang-up asks for
// a reload. The handlers only set flags.

#include <atomic>

namespace orvex {

void InstallSignalHandlers();
std::atomic<int>& ReloadRequested();

}  // namespace orvex
