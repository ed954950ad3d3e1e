// What the tests need from the operating system, in one place: environment variables, starting a program
// with its console captured and a time limit, and the stand-in programs that tests start in place of
// gnuplot. The stand-in is tests/standin/standin.cpp, built with the test suite for the same system.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace tubefit::testsupport {

#ifdef _WIN32
constexpr bool kWindows = true;
constexpr const char* kProgramSuffix = ".exe";
#else
constexpr bool kWindows = false;
constexpr const char* kProgramSuffix = "";
#endif

// The stand-in program itself: it ends with status 0 and does nothing else, like /bin/true.
inline std::string StandIn() { return TUBEFIT_STANDIN; }

// Sets (or with nullptr removes) an environment variable of this process and the programs it starts.
inline void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value == nullptr ? "" : value);
#else
  if (value == nullptr) {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
#endif
}

// Copies `from` to `to`, replacing `to`. MinGW's std::filesystem refuses to replace an existing file
// (copy_options::overwrite_existing fails with "File exists" there), so the old file goes first.
inline void CopyOver(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& error) {
  std::filesystem::remove(to, error);
  if (!error) std::filesystem::copy_file(from, to, error);
}
inline void CopyOver(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code error;
  CopyOver(from, to, error);
  if (error) throw std::filesystem::filesystem_error("cannot copy", from, to, error);
}

// Makes `path` a stand-in program that runs `actions`, one a line:
//   args FILE     writes each argument on a line of FILE
//   stdin FILE    reads a line of standard input; writes "line" or "eof" to FILE
//   touch FILE    writes "image" to FILE
//   exit N        ends with status N (after the lines before it)
// On Windows the program is `path`.exe unless `path` ends in ".exe"; returns the name it has.
inline std::string WriteStandIn(const std::string& path, const std::string& actions) {
  std::string program = path;
  if (kWindows && (program.size() < 4 || program.substr(program.size() - 4) != ".exe")) program += kProgramSuffix;
  std::error_code error;
  CopyOver(StandIn(), program, error);
  EXPECT_FALSE(error) << "cannot copy the stand-in to " << program << ": " << error.message();
  std::ofstream(program + ".actions", std::ios::binary) << actions;
  return program;
}

// The path of an executable file `name` in a folder of PATH, or "". Always "" on Windows: the tests that
// start such programs (gnuplot, ngspice, chromium) by name go through a POSIX shell.
inline std::string ProgramOnPath(const std::string& name) {
#ifdef _WIN32
  (void)name;
  return "";
#else
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path == nullptr ? "" : path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
  }
  return "";
#endif
}

// How a captured run ended.
struct RunOutcome {
  bool exited = false;  // ended by itself, not by a signal or the time limit
  int status = -1;      // its exit status
};

// Starts argv[0] (a path) with argv, standard input empty, standard output and standard error both into the
// file `output`, and waits at most `seconds`; a run that takes longer is ended and counts as not exited.
inline RunOutcome RunCaptured(const std::vector<std::string>& argv, const std::string& output, int seconds = 600) {
  RunOutcome outcome;
#ifdef _WIN32
  std::string command_line;
  for (const std::string& arg : argv) {
    // Quoted for the C runtime's reading of the command line; no argument here ends in a backslash.
    command_line += (command_line.empty() ? "\"" : " \"") + arg + "\"";
  }
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  // Under Wine, the hidden console host of a program that the previous run started (gnuplot's stand-in)
  // can hold that run's output file open for a moment after the run has ended: wait for it, a few seconds
  // at most.
  HANDLE out = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < 500; ++tries) {
    out = CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
    if (out != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
    Sleep(10);
  }
  HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE || in == INVALID_HANDLE_VALUE) return outcome;
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION process{};
  // Without a console of its own (DETACHED_PROCESS): under Wine, a console program started with
  // CREATE_NO_WINDOW gets a hidden console host that holds the inherited handles open for a while after
  // the program has ended. Its output goes to the file all the same.
  const BOOL started = CreateProcessA(argv[0].c_str(), command_line.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS,
                                      nullptr, nullptr, &startup, &process);
  CloseHandle(out);
  CloseHandle(in);
  if (!started) return outcome;
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(seconds) * 1000) == WAIT_OBJECT_0) {
    DWORD status = 0;
    if (GetExitCodeProcess(process.hProcess, &status)) {
      outcome.exited = true;
      outcome.status = static_cast<int>(status);
    }
  } else {
    TerminateProcess(process.hProcess, 137);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
#else
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return outcome;
  int status = 0;
  bool killed = false;
  for (long waited_ms = 0;; waited_ms += 10) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0) return outcome;
    if (!killed && waited_ms >= 1000L * seconds) {
      kill(pid, SIGKILL);
      killed = true;
    }
    usleep(10000);
  }
  outcome.exited = !killed && WIFEXITED(status);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  return outcome;
}

}  // namespace tubefit::testsupport
