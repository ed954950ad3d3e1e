// A fresh temporary working directory for tests that read a run configuration file and its neighbours.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tubefit {

class IniDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tubefit_ini_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    char* cwd = getcwd(nullptr, 0);
    ASSERT_NE(cwd, nullptr);
    old_dir_ = cwd;
    std::free(cwd);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    Touch("fakegnuplot");
  }

  void TearDown() override {
    ASSERT_EQ(chdir(old_dir_.c_str()), 0);
    std::filesystem::remove_all(dir_);
  }

  // Writes `text` unchanged (binary) to the file `name` in the temporary directory.
  static void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << text;
  }
  static void Touch(const std::string& name) { WriteFile(name, ""); }

  // Joins lines with "\n" and a final "\n".
  static std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
  }

  // The console text split into lines (without their line ends).
  static std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }

  std::string dir_;
  std::string old_dir_;
};

}  // namespace tubefit
