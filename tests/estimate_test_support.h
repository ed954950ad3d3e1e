// Helpers of the parameter-file and estimator tests: a fresh working directory, file text, console lines
// and the stop a call ends with.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "text/stop.h"

namespace tubefit::esttest {

// Works in a fresh temporary directory for its lifetime, then goes back and removes it.
class WorkDir {
 public:
  WorkDir() {
    char* cwd = getcwd(nullptr, 0);
    if (cwd != nullptr) old_ = cwd;
    std::free(cwd);
    char pattern[] = "/tmp/tubefit_est_XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
    if (!path_.empty() && chdir(path_.c_str()) != 0) path_.clear();
  }
  ~WorkDir() {
    if (!old_.empty() && chdir(old_.c_str()) != 0) return;
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;
  bool ok() const { return !path_.empty(); }

 private:
  std::string old_;
  std::string path_;
};

inline void WriteFile(const std::string& name, const std::string& text) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out << text;
}

inline std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

inline std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

inline int CountLine(const std::string& console, const std::string& line) {
  int n = 0;
  for (const std::string& l : Lines(console))
    if (l == line) ++n;
  return n;
}

// The stop that `body` ends with, or nothing when it returns normally.
inline std::optional<Stop> StopOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const Stop& stop) {
    return stop;
  }
  return std::nullopt;
}

// |actual - expected| <= tol * |expected|, absolute tol at zero.
inline ::testing::AssertionResult RelNear(double actual, double expected, double tol) {
  const double scale = std::fabs(expected) > 0.0 ? std::fabs(expected) : 1.0;
  if (std::fabs(actual - expected) <= tol * scale) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual << " differs from " << expected << " by more than " << tol
                                       << " relative";
}

}  // namespace tubefit::esttest
