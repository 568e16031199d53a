#pragma once
// The version line and the help pages.

#include <cstdio>

namespace orvex {

void PrintVersion(FILE* out);

// The page for the letter after "-h" ('\0' when none): the version line, an empty line, then
// the page. Unknown letters give the usage page. Long pages pause for a key read from `in`.
void PrintHelp(char page, FILE* out, FILE* in);

}  // namespace orvex
