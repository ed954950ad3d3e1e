// The fit analysis at the end of a whole run: a triode fit of the example measurements, with a closed
// keyboard. The fitted numbers are not pinned; the test checks where the table stands, its form, and that
// it agrees with the covariance diagonal written to "Hinv.dat".
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "ini_fixture.h"
#include "process_support.h"

namespace tubefit {
namespace {

class AnalysisRunTest : public IniDirTest {
 protected:
  int RunTriodeFit(int debug) {
    std::filesystem::copy_file(std::string(TUBEFIT_SOURCE_DIR) + "/examples/triode/ecc83.utd", "ecc83.utd");
    WriteFile("Model.ini", Lines({testsupport::StandIn(), "1", "ecc83", "T", "Koren", "1.0", "0.0",
                                  "Debug = " + std::to_string(debug)}));
    const char* argv[] = {"tubefit", "Model.ini", nullptr};
    std::ostringstream out;
    std::istringstream in;
    in.setstate(std::ios::eofbit);
    Console console{out, in};
    const int status = RunProgram(2, argv, console);
    lines_ = SplitLines(out.str());
    return status;
  }

  // Index of the first console line equal to `text`, or the number of lines.
  size_t Find(const std::string& text) const {
    size_t i = 0;
    while (i < lines_.size() && lines_[i] != text) ++i;
    return i;
  }

  static std::string ReadText(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  std::vector<std::string> lines_;
};

const char* const kTriodeNames[] = {"kVB", "kG1", "kp ", "ex ", "mu "};

// Splits a table line " name = value" into the name (padded) and the value.
void ParseTableLine(const std::string& line, std::string& name, float& value) {
  ASSERT_GE(line.size(), 21u) << line;
  ASSERT_EQ(line[0], ' ') << line;
  const size_t eq = line.find(" =");
  ASSERT_NE(eq, std::string::npos) << line;
  name = line.substr(1, eq - 1);
  ASSERT_EQ(line.size(), eq + 2 + 15) << "value field of 15 columns: " << line;
  value = std::strtof(line.c_str() + eq + 2, nullptr);
}

TEST_F(AnalysisRunTest, TableFollowsTheFinalEstimatesAndMatchesTheCovariance) {
  ASSERT_EQ(RunTriodeFit(1), 0);
  const size_t final_at = Find(" Final estimates:");
  ASSERT_LT(final_at + 7, lines_.size());
  // " Final estimates:", an empty line, five parameters, an empty line, then the standard variances.
  EXPECT_EQ(lines_[final_at + 1], " ");
  EXPECT_EQ(lines_[final_at + 7], " ");
  const size_t sv_at = final_at + 8;
  ASSERT_LT(sv_at + 5, lines_.size());
  EXPECT_EQ(lines_[sv_at], " Standard variances (in %) for each parameter:");
  EXPECT_EQ(Find(" Standard variances (in %) for each parameter:"), sv_at);

  float P[6] = {}, SV[6] = {};
  for (int i = 1; i <= 5; ++i) {
    std::string name;
    ParseTableLine(lines_[final_at + 1 + i], name, P[i]);
    EXPECT_EQ(name, kTriodeNames[i - 1]);
    ParseTableLine(lines_[sv_at + i], name, SV[i]);
    EXPECT_EQ(name, kTriodeNames[i - 1]);
    EXPECT_TRUE(std::isfinite(SV[i])) << lines_[sv_at + i];
  }

  // "Hinv.dat": three heading lines, the names, five rows "(A6,100E10.2:)". The diagonal, read back to
  // two digits, gives SV(i) = 100 sqrt(C(i,i)) / P(i) to within the rounding of those two digits.
  std::vector<std::string> hinv = SplitLines(ReadText("Hinv.dat"));
  ASSERT_EQ(hinv.size(), 9u);
  EXPECT_EQ(hinv[1], " Inverse Hessian matrix:");
  EXPECT_EQ(hinv[3], "          kVB       kG1       kp        ex        mu        ");
  for (int i = 1; i <= 5; ++i) {
    const std::string& row = hinv[3 + i];
    ASSERT_EQ(row.size(), 6u + 5 * 10) << row;
    const float c = std::strtof(row.substr(6 + 10 * (i - 1), 10).c_str(), nullptr);
    EXPECT_GT(c, 0.0f) << row;
    const double from_file = 100.0 * std::sqrt(static_cast<double>(c)) / P[i];
    // Two significant digits of C: up to 0.05/0.1 relative, halved by the square root.
    EXPECT_NEAR(SV[i], from_file, 0.03 * std::fabs(from_file)) << "parameter " << i;
  }

  // "Eigen.dat": ten heading lines and five eigenvector rows; the first normalised eigenvalue is 1.
  std::vector<std::string> eigen = SplitLines(ReadText("Eigen.dat"));
  ASSERT_EQ(eigen.size(), 15u);
  EXPECT_EQ(eigen[1], " Eigen analysis of Hessian matrix:");
  EXPECT_EQ(eigen[6].substr(0, 17), "          .10E+01");
  EXPECT_EQ(eigen[9], "");
  EXPECT_EQ(eigen[10].substr(0, 6), "kVB   ");
}

TEST_F(AnalysisRunTest, DebugLevelZeroWritesNoAnalysisFiles) {
  ASSERT_EQ(RunTriodeFit(0), 0);
  const size_t sv_at = Find(" Standard variances (in %) for each parameter:");
  ASSERT_LT(sv_at + 5, lines_.size());
  EXPECT_EQ(lines_[sv_at + 1].substr(0, 6), " kVB =");
  EXPECT_EQ(lines_[sv_at + 5].substr(0, 6), " mu  =");
  EXPECT_FALSE(std::filesystem::exists("Hinv.dat"));
  EXPECT_FALSE(std::filesystem::exists("Eigen.dat"));
}

}  // namespace
}  // namespace tubefit
