// The stand-in that tests start in place of gnuplot and other programs. It runs the actions in the file
// beside it, <its own path>.actions (see WriteStandIn in tests/process_support.h); without that file it
// ends with status 0 at once, like /bin/true.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

std::string OwnPath() {
  char buffer[4096];
#ifdef _WIN32
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return std::string(buffer, n < sizeof buffer ? n : 0);
#else
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
  std::ifstream actions(OwnPath() + ".actions", std::ios::binary);
  std::string line;
  while (std::getline(actions, line)) {
    std::istringstream words(line);
    std::string action, file;
    words >> action;
    std::getline(words >> std::ws, file);
    if (action == "args") {
      std::ofstream out(file, std::ios::binary);
      for (int i = 1; i < argc; ++i) out << argv[i] << '\n';
    } else if (action == "stdin") {
      std::string read;
      const bool got = static_cast<bool>(std::getline(std::cin, read));
      std::ofstream(file, std::ios::binary) << (got ? "line\n" : "eof\n");
    } else if (action == "touch") {
      std::ofstream(file, std::ios::binary) << "image\n";
    } else if (action == "exit") {
      return std::stoi(file);
    }
  }
  return 0;
}
