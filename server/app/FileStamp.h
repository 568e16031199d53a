#pragma once
// The file stamp lives in the engine so that every library can use it; this name stays for the
// server's stores that include it from here.
#include "engine/FileStamp.h"
