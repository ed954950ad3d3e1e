// The POSIX side of the platform functions: processes by posix_spawn, files by rename, dates by localtime_r.
#include "platform/platform.h"
#include "plot/run_command.h"

#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>

extern char** environ;

namespace tubefit {

int RunProgramArgs(const std::vector<std::string>& argv, ChildInput input) {
  if (argv.empty() || argv[0].empty()) return -1;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  if (input == ChildInput::kNull &&
      posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

bool ProgramFound(const std::string& name) {
  if (name.empty()) return false;
  if (HasFolderPart(name)) return access(name.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::stringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) dir = ".";
    if (access((dir + "/" + name).c_str(), X_OK) == 0) return true;
  }
  return false;
}

int RunInFolder(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                const std::string& log) {
  if (program.empty()) return -1;
  // Everything the child needs is made before the fork: after it only async-signal-safe calls are made.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    if (chdir(folder.c_str()) != 0 || in < 0) _exit(127);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::string ThisProgramPath(const std::string& fallback) {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return fallback;
  return std::string(buffer, static_cast<size_t>(n));
}

long ProcessNumber() { return static_cast<long>(getpid()); }

bool ReplaceFileAtomically(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void LocalDate(int& year, int& month, int& day) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  year = local.tm_year + 1900;
  month = local.tm_mon + 1;
  day = local.tm_mday;
}

bool HasFolderPart(const std::string& name) { return name.find('/') != std::string::npos; }

size_t FileNameStart(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

std::string UnopenableName(const std::string&) { return ""; }

void UseBinaryConsole() {}

void KeepFreedMemory() {
#ifdef __GLIBC__
  // (both: setting one ends glibc's own adjustment of the other, and large blocks would then be mapped
  // afresh at every allocation)
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  mallopt(M_MMAP_THRESHOLD, 16 << 20);
#endif
}

bool DisplayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

}  // namespace tubefit
