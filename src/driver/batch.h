// Many configurations in one call: the command line, the outcome file each run leaves for the batch, and
// the batch itself (one process per configuration, each in the folder of its file, and summary.csv).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "core/run_state.h"
#include "fit/fit_errors.h"

namespace tubefit {

// The command line after the program name. Options: --batch (answer every return-key pause at once),
// -j N or -jN (runs at a time), --result FILE (write the outcome of a single run to FILE); every other
// argument names a configuration file.
struct CommandLine {
  std::vector<std::string> configs;
  bool batch = false;
  int jobs = 1;
  std::string result;  // empty: no outcome file
  std::string error;   // a console line for an option that cannot be used; empty when all is well
};

CommandLine ParseCommandLine(int argc, const char* const argv[]);

// Writes the outcome of a single run to `path`: how it ended (`stop` holds the stop's lines joined, empty
// after a normal end), tube, family and minimiser once the configuration has been read (`configured`), and
// after a normal end the points in the fit, the final R2 (from the run's fit errors), the RMS errors in mA and every fitted parameter.
// A file that cannot be written is left out: the batch then reports the run as ended without an outcome.
void WriteRunOutcome(const std::string& path, const RunState& state, const FitErrors& errors, bool configured,
                     const std::string& stop);

// Runs each configuration in the folder of its file, `jobs` at a time, each in a process of `program`
// with --batch, its console to <folder>/tubefit.log. Prints one line per run as it ends and writes
// summary.csv in the working folder, one row per configuration in the order given. Refuses, before
// anything runs, two configurations in one folder. Returns 0 only when every run ended normally.
int RunBatch(const CommandLine& command, const std::string& program, std::ostream& out);

}  // namespace tubefit
