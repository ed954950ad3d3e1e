// What the test files share: a fresh temporary directory to work in, and the relative-tolerance check.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "fit/fit_errors.h"

namespace tubefit::testsupport {

// The fit errors of ps against ms in the fit window of s, as a run computes them once for its outputs.
inline FitErrors ErrorsOf(const Settings& s, const MeasurementSet& ms, const ParamSet& ps) {
  return ComputeFitErrors(FitObjective(ms, s.Pmax, s.Icmax, s.iModel, ps.slot), ps.P);
}

// Makes a fresh directory <temp>/<stem><number>_<count> (the stem may hold a blank) and, with `enter`, works in it;
// goes back on destruction and removes the directory with everything in it.
class TempDir {
 public:
  explicit TempDir(const std::string& stem = "tubefit_", bool enter = true) {
    if (enter) {
      std::error_code ec;
      const std::filesystem::path here = std::filesystem::current_path(ec);
      if (!ec) old_ = here.string();
    }
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    // A name no other directory has: create_directory fails for one that exists, and the next is tried.
    static unsigned counter = 0;
    const auto clock = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; !ec && attempt < 100 && path_.empty(); ++attempt) {
      const std::filesystem::path candidate = temp / (stem + std::to_string(clock % 1000000007ULL) + "_" +
                                                      std::to_string(++counter));
      if (std::filesystem::create_directory(candidate, ec)) path_ = candidate.string();
    }
    if (enter && !path_.empty()) {
      std::filesystem::current_path(path_, ec);
      if (ec) path_.clear();
    }
  }
  ~TempDir() {
    std::error_code ec;
    if (!old_.empty()) std::filesystem::current_path(old_, ec);
    if (ec) return;
    if (!path_.empty()) RemoveSoon(path_);
  }

  // Removes a file or a directory tree. Under Wine the console host of a program that has just ended holds
  // its files for a moment, so there the removal is retried for up to 5 s.
  static void RemoveSoon(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
#ifdef _WIN32
    for (int attempt = 0; ec && attempt < 50; ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      ec.clear();
      std::filesystem::remove_all(path, ec);
    }
#endif
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
