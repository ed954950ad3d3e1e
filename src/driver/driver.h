// The program: one run from the command line to the finished files.
#pragma once

#include "core/console.h"

namespace tubefit {

// Runs the program with the command-line arguments on the console. Returns the exit status: 0 for a normal
// end, 1 for every stop (its lines and stop text are printed on the console first).
int RunProgram(int argc, const char* const argv[], Console& console);

}  // namespace tubefit
