// Starting an external program as a process, without a shell.
#pragma once

#include <string>
#include <vector>

namespace tubefit {

// How the started program gets its standard input.
enum class ChildInput {
  kInherit,  // the program's own standard input (the user's keyboard)
  kNull,     // /dev/null, so any read sees end of file at once
};

// Starts argv[0] with the argument vector argv (argv[0] included) and waits until it has ended. A program
// name without a slash is looked up on PATH, as a shell would; standard output and standard error are
// shared with this program. Returns the exit status of the program (128 + the signal number if a signal
// ended it), or -1 if it could not be started at all (empty vector, no such file, not executable).
int RunProgramArgs(const std::vector<std::string>& argv, ChildInput input = ChildInput::kInherit);

// True if `name` can be started: with a slash, an executable file of that path; without one, an executable
// file of that name in a folder of PATH.
bool ProgramFound(const std::string& name);

// Starts `program` (a path) with the arguments `args` (argv[0] excluded) in the folder `folder`, standard
// input from the null device, standard output and standard error to the file `log` (a path relative to
// `folder` or absolute, created or replaced), and waits until it has ended. Returns its exit status (128 +
// the signal number if a signal ended it), or -1 if it could not be started (127 if the program could not
// be executed after the start). Safe to call from several threads at once.
int RunInFolder(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                const std::string& log);

// The path of this program's executable file, or `fallback` (argv[0]) when the system does not tell it.
std::string ThisProgramPath(const std::string& fallback);

}  // namespace tubefit
