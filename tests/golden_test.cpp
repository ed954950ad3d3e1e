// Whole runs of the shipped examples against console logs that were read line by line and checked by hand:
// the banner, the configuration report, the data checks, the start values, every fit stage, the writers,
// the final estimates and the standard variances. Only the elapsed-time line may differ from run to run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "fit/objective.h"
#include "models/law_math.h"
#include "ini_fixture.h"
#include "process_support.h"

namespace tubefit {
namespace {

class GoldenLogTest : public IniDirTest {
 public:
  // Copies the files of an example folder into the working directory, with the gnuplot line of its
  // Model.ini pointing at a program that does nothing, so no plot window opens.
  static void CopyExample(const std::string& folder) {
    namespace fs = std::filesystem;
    const fs::path from = fs::path(TUBEFIT_SOURCE_DIR) / "examples" / folder;
    for (const fs::directory_entry& e : fs::directory_iterator(from)) {
      if (e.is_regular_file()) tubefit::testsupport::CopyOver(e.path(), e.path().filename());
    }
    std::ifstream in("Model.ini");
    std::string first, rest, line;
    std::getline(in, first);
    while (std::getline(in, line)) rest += line + "\n";
    in.close();
    WriteFile("Model.ini", testsupport::StandIn() + "\n" + rest);
  }

  static std::vector<std::string> Run() {
    const char* argv[] = {"tubefit", nullptr};
    std::ostringstream out;
    std::istringstream in;
    in.setstate(std::ios::eofbit);
    Console console{out, in};
    EXPECT_EQ(RunProgram(1, argv, console), 0) << out.str();
    return SplitLines(out.str());
  }

  static std::vector<std::string> Golden(const std::string& name) {
    std::ifstream in(std::string(TUBEFIT_SOURCE_DIR) + "/tests/golden/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    std::stringstream text;
    text << in.rdbuf();
    return SplitLines(text.str());
  }

  static void ExpectSameLog(const std::vector<std::string>& got, const std::vector<std::string>& want) {
    for (size_t i = 0; i < got.size() && i < want.size(); ++i) {
      if (want[i].rfind(" Elapsed time: ", 0) == 0) {
        EXPECT_EQ(got[i].size(), want[i].size()) << "line " << i + 1 << ": " << got[i];
        EXPECT_EQ(got[i].substr(got[i].size() - 3), ".0s") << "line " << i + 1;
        continue;
      }
      EXPECT_EQ(got[i], want[i]) << "line " << i + 1;
    }
    EXPECT_EQ(got.size(), want.size());
  }
};

// Runs the example once on every path this processor has (TUBEFIT_SIMD) against the same log.
void ExpectLogOnEveryPath(const std::string& folder, const std::string& log) {
  for (SimdLevel level : {SimdLevel::kNone, SimdLevel::kAvx2, SimdLevel::kAvx512}) {
    if (static_cast<int>(level) > static_cast<int>(SupportedSimdLevel())) continue;
    SCOPED_TRACE(SimdLevelName(level));
    testsupport::SetEnv("TUBEFIT_SIMD", SimdLevelName(level));
    GoldenLogTest::CopyExample(folder);
    GoldenLogTest::ExpectSameLog(GoldenLogTest::Run(), GoldenLogTest::Golden(log));
  }
  testsupport::SetEnv("TUBEFIT_SIMD", nullptr);
}

TEST_F(GoldenLogTest, Triode) {
  ExpectLogOnEveryPath("triode", "triode.log");
}

// A Nolt pentode with three constant-screen files and a screen-tied one: sweep classes, both fit stages,
// the pentode and the companion triode subcircuit.
TEST_F(GoldenLogTest, Pentode) {
  ExpectLogOnEveryPath("pentode", "pentode.log");
}

}  // namespace
}  // namespace tubefit
