// Helpers of the parameter-file and estimator tests: a fresh working directory, file text, console lines
// and the stop a call ends with.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "text/stop.h"

namespace tubefit::esttest {

// Works in a fresh temporary directory for its lifetime, then goes back and removes it.
using WorkDir = testsupport::TempDir;

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

using testsupport::RelNear;

}  // namespace tubefit::esttest
