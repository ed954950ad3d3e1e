// What the test files share: a fresh temporary directory to work in, and the relative-tolerance check.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace tubefit::testsupport {

// Makes a fresh directory <temp>/<stem>XXXXXX (the stem may hold a blank) and, with `enter`, works in it;
// goes back on destruction and removes the directory with everything in it.
class TempDir {
 public:
  explicit TempDir(const std::string& stem = "tubefit_", bool enter = true) {
    if (enter) {
      std::error_code ec;
      const std::filesystem::path here = std::filesystem::current_path(ec);
      if (!ec) old_ = here.string();
    }
    std::string pattern = (std::filesystem::temp_directory_path() / (stem + "XXXXXX")).string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) != nullptr) path_ = buf.data();
    if (enter && !path_.empty() && chdir(path_.c_str()) != 0) path_.clear();
  }
  ~TempDir() {
    if (!old_.empty() && chdir(old_.c_str()) != 0) return;
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

 private:
  std::string old_;   // the directory to go back to; empty when the directory was not entered
  std::string path_;  // empty when the directory could not be made or entered
};

// |actual - expected| <= tol * |expected|, falling back to an absolute tol where expected is 0.
inline ::testing::AssertionResult RelNear(double actual, double expected, double tol) {
  const double scale = std::fabs(expected) > 0.0 ? std::fabs(expected) : 1.0;
  if (std::fabs(actual - expected) <= tol * scale) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual << " differs from " << expected << " by more than " << tol
                                       << " relative";
}

}  // namespace tubefit::testsupport
