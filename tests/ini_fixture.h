// A fresh temporary working directory for tests that read a run configuration file and its neighbours.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace tubefit {

class IniDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::make_unique<testsupport::TempDir>("tubefit_ini_");
    ASSERT_TRUE(dir_->ok());
    Touch("fakegnuplot");
  }

  void TearDown() override { dir_.reset(); }

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

  std::unique_ptr<testsupport::TempDir> dir_;
};

}  // namespace tubefit
