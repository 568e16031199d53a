#pragma once
// Reading answers from the console. End of input ends every answer, so that nothing waits for
// ever when standard input is a pipe or a closed file; a stop request ends them as well.

#include <cstdio>
#include <string>

namespace orvex::ConsoleInput {

// One character, EOF at the end of input or once a stop was requested (reads interrupted by
// other signals are resumed).
int GetChar(FILE* in);

// A line up to LF or the end of input, cut at CR; the first `max` characters are kept and the
// rest of the line is consumed, so that it is not taken as the next answer.
std::string ReadLine(FILE* in, size_t max);

// A password after `prompt`: characters up to CR or LF, backspace removing the last one, `max`
// kept. On a terminal echo goes off before the prompt appears, so that nothing typed after it
// is shown. A line feed is printed at the end.
std::string ReadSecret(FILE* in, FILE* out, size_t max, const char* prompt = "");

// Prints the prompt line and waits for one character.
void WaitForEnter(FILE* in, FILE* out);

}  // namespace orvex::ConsoleInput
