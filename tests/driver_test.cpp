// The program from the command line to the end of the configuration report, with a captured console and
// closed keyboard input. Expected lines are written out by hand.
#include "driver/driver.h"
#include "driver/config.h"

#include "driver/fit_sequence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/measurements.h"
#include "driver/pipeline.h"
#include "estimate/estimate.h"
#include "ini_fixture.h"
#include "models/models.h"
#include "text/stop.h"

namespace tubefit {
namespace {

class DriverTest : public IniDirTest {
 protected:
  // Runs the program with the given arguments (after the program name); returns the exit status.
  int Run(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"tubefit"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    std::ostringstream out;
    std::istringstream in;
    Console console{out, in};
    const int status = RunProgram(static_cast<int>(argv.size()) - 1, argv.data(), console);
    output_ = out.str();
    return status;
  }

  std::vector<std::string> OutputLines() const { return SplitLines(output_); }

  void WriteValidConfig(const std::string& name) {
    Touch("curve.utd");
    WriteFile(name, Lines({"fakegnuplot", "1", "curve", "T", "Koren", "2.0", "0.0", "Debug = 0"}));
  }

  // The fit sequence of a code on the objective sum (P_i - 1)^2 over all 20 slots, from P = 0: after a stage
  // that fits the leading n slots R2 is 20 - n. Returns the console with every fit call replaced by "<fit n>",
  // or the console lines of the stop.
  static std::vector<std::string> StagesOf(int32_t iModel) {
    auto st = std::make_unique<RunState>();
    st->settings.iModel = iModel;
    st->settings.TubeType = 'Q';
    ParamIdent(iModel, st->params);
    const Objective F = [](const ParamVector& P) {
      float sum = 0.0f;
      for (int i = 1; i <= MxNP; ++i) sum += (P[i] - 1.0f) * (P[i] - 1.0f);
      return sum;
    };
    std::ostringstream out;
    try {
      RunFitSequence(*st, F, out);
    } catch (const Stop& stop) {
      return stop.lines();
    }
    std::vector<std::string> shown;
    for (const std::string& line : SplitLines(out.str())) {
      if (line.rfind(" Before refinement R2 = ", 0) == 0) {
        shown.push_back("<fit");
      } else if (line.rfind(" After refinement R2 = ", 0) == 0) {
        shown.back() = "<fit " + std::to_string(MxNP - std::lround(std::stof(line.substr(23)))) + ">";
      } else if (shown.empty() || shown.back() != "<fit") {
        shown.push_back(line);
      }
    }
    return shown;
  }

  std::string output_;
};

const std::vector<std::string> kBanner = {
    " ",
    " ***************************",
    "*      Tubefit V3.000",
    "       Jan 23, 2016",
    " ***************************",
    " ",
};

std::string IniLine(const std::string& name) { return " Initialization file is:" + name + std::string(80 - name.size(), ' '); }

// The configuration names an empty measurement file, so the run stops right after the report, at the
// measurement reader.
TEST_F(DriverTest, BannerAndReportComeBeforeTheMeasurementFiles) {
  WriteValidConfig("Model.ini");
  EXPECT_EQ(Run({}), 1);
  std::vector<std::string> expected = kBanner;
  for (const char* line : {" Data will be read from file curve(.utd)", " Tube model is triode.", " Using Koren model",
                           " Fitting model to max power data <       2.000000 W.", " Vg offset equals   0.000000E+00",
                           " Debug level =          0", " ", " *****************************************************"}) {
    expected.push_back(line);
  }
  expected.insert(expected.begin() + 6, IniLine("Model.ini"));
  expected.push_back(" File curve.utd: the file is empty; a .utd file holds a header line, then one line per measured point.");
  expected.push_back("Stop - Program terminated.");
  EXPECT_EQ(OutputLines(), expected);
  EXPECT_EQ(kBanner[1].size(), 28u);
}

TEST_F(DriverTest, ArgumentNamesTheConfigurationFile) {
  WriteValidConfig("other.ini");
  EXPECT_EQ(Run({"other.ini"}), 1);
  ASSERT_GE(OutputLines().size(), 7u);
  EXPECT_EQ(OutputLines()[6], IniLine("other.ini"));
}

// A name longer than the 80 columns of its line is read and shown whole, not as the file of the cut name.
TEST_F(DriverTest, LongArgumentIsReadWhole) {
  const std::string eighty(80, 'c');
  WriteFile(eighty, "");
  WriteValidConfig(eighty + "_long.ini");
  EXPECT_EQ(Run({eighty + "_long.ini"}), 1);
  ASSERT_GE(OutputLines().size(), 8u);
  EXPECT_EQ(OutputLines()[6], " Initialization file is:" + eighty + "_long.ini");
  EXPECT_EQ(OutputLines()[7], " Data will be read from file curve(.utd)");
}

TEST_F(DriverTest, MissingConfigurationFile) {
  EXPECT_EQ(Run({"nothing.ini"}), 1);
  std::vector<std::string> expected = kBanner;
  expected.push_back(IniLine("nothing.ini"));
  expected.push_back(" Ini file nothing.ini does not exist.");
  expected.push_back("Execution halts");
  EXPECT_EQ(OutputLines(), expected);
}

TEST_F(DriverTest, EveryConfigurationStopEndsWithStatusOne) {
  Touch("curve.utd");
  const std::vector<std::vector<std::string>> configs = {
      {"nognuplot", "1", "curve", "T", "Koren", "2.0", "0.0"},
      {"fakegnuplot", "21"},
      {"fakegnuplot", "0"},
      {"fakegnuplot", "1", "missing"},
      {"fakegnuplot", "1", "curve", "d", "Koren"},
      {"fakegnuplot", "1", "curve", "P", "Koren"},
      {"fakegnuplot", "1", "curve", "T", "Korn"},
      {"fakegnuplot", "1", "curve", "T", "Koren", "x"},
      {"fakegnuplot", "1", "curve", "T", "Koren", "2.0"},
      {"fakegnuplot", "1", "curve", "T", "Koren", "2.0", "0.0", "RdStart = none.par"},
      {"fakegnuplot", "1", "curve", "T", "Koren", "2.0", "0.0", "SpiceDialect = spice3"},
  };
  for (const auto& config : configs) {
    WriteFile("Model.ini", Lines(config));
    EXPECT_EQ(Run({}), 1) << config.back();
    const std::vector<std::string> lines = OutputLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back() == "Stop - Program terminated." || lines.back() == "Execution halts") << lines.back();
    EXPECT_EQ(output_.find("*****************************************************"), std::string::npos);
  }
}

TEST_F(DriverTest, PlainStopLineFollowsTheMessages) {
  Touch("curve.utd");
  WriteFile("Model.ini", Lines({"fakegnuplot", "1", "curve", "T", "Korn"}));
  EXPECT_EQ(Run({}), 1);
  const std::vector<std::string> lines = OutputLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], " Unknown model Korn" + std::string(508, ' '));
  EXPECT_EQ(lines[lines.size() - 2], " Known models are Koren, Nolt, NoltI and NoltE.");
  EXPECT_EQ(lines.back(), "Stop - Program terminated.");
}

TEST_F(DriverTest, HelpListsEveryKeywordWithoutBanner) {
  WriteValidConfig("Model.ini");
  EXPECT_EQ(Run({"-h"}), 0);
  const std::string short_option = output_;
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_EQ(output_, short_option);
  EXPECT_EQ(output_.find("Tubefit V3.000"), std::string::npos);
  EXPECT_EQ(output_.find("Data will be read"), std::string::npos);
  for (const char* word : {"Usage: tubefit", "Model.ini", "gnuplot", "none", "PATH", "Koren, Nolt, NoltE or NoltI",
                           "D, T, P, B, H, F, V, X or Y", "Pmax", "VgOffset", "ngspice", "ltspice", "not a keyword",
                           "powell or lm", "faster on triodes and pentodes, slower on beam tetrodes", "-j N",
                           "--batch", "summary.csv", "tubefit.log"}) {
    EXPECT_NE(output_.find(word), std::string::npos) << word;
  }
  for (const char* keyword : {"VaOffset", "Icmax", "RdStart", "Debug", "SpiceDialect", "SpicePrecision", "PlotPng",
                              "FitReport", "Minimiser", "ModelName", "OperatingPoint", "Report"}) {
    EXPECT_NE(output_.find(std::string("  ") + keyword + " = "), std::string::npos) << keyword;
  }
}

// Two configurations in one folder would write the same files: nothing runs, nothing is written.
TEST_F(DriverTest, BatchRefusesTwoConfigurationsInOneFolder) {
  std::filesystem::create_directory("a");
  WriteValidConfig("a/x.ini");
  WriteValidConfig("b.ini");
  EXPECT_EQ(Run({"-j", "2", "a/x.ini", "b.ini", "./a/../a/x.ini"}), 1);
  EXPECT_EQ(output_,
            " The configurations a/x.ini and ./a/../a/x.ini are in the same folder ./a/../a: their runs would write "
            "the same files.\n Give one configuration per folder. Nothing was run.\n");
  EXPECT_FALSE(std::filesystem::exists("summary.csv") || std::filesystem::exists("a/tubefit.log"));
  EXPECT_EQ(Run({"-j0", "a/x.ini", "b.ini"}), 1);
  EXPECT_EQ(output_, " The option -j needs the number of runs at a time, 1 to 1024; found \"0\".\n");
}

TEST_F(DriverTest, VersionPrintsOneLine) {
  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_EQ(output_, "Tubefit V3.000\n");
}

TEST_F(DriverTest, OtherDashArgumentIsAFileName) {
  EXPECT_EQ(Run({"--verbose"}), 1);
  EXPECT_NE(output_.find(" Ini file --verbose does not exist.\nExecution halts\n"), std::string::npos);
}

// Stage counts, headings and empty lines of every code, as the fit-sequence table gives them.
TEST_F(DriverTest, FitStagesOfEveryCode) {
  const std::string except = " Fitting parameters except Koren parameters";
  const std::string including = " Fitting parameters including Koren parameters";
  const std::vector<std::string> nolt_pentode = {" ", except, "<fit 4>", " ", including, "<fit 9>"};
  const std::vector<std::string> nolt_tetrode = {" ", except, "<fit 9>", " ", including, "<fit 14>"};
  const std::vector<std::string> varmu = {" ", " Fitting screen current parameters", "<fit 4>", " ", " ",
                                          " Fitting parameters excluding g1-ratio", "<fit 11>", " ",
                                          " Fitting parameters including g1-ratio", "<fit 12>"};
  const std::vector<std::string> none = {" Tube type Q not known!"};
  const std::vector<std::pair<int32_t, std::vector<std::string>>> table = {
      {0, {"<fit 3>"}},    {1, {"<fit 5>"}},    {2, {"<fit 6>"}},
      {12, nolt_pentode},  {22, nolt_pentode},  {32, nolt_pentode},
      {13, nolt_tetrode},  {33, nolt_tetrode},  {23, {"<fit 5>", " ", except, "<fit 9>", " ", including, "<fit 14>"}},
      {16, varmu},         {26, varmu},         {14, {"<fit 4>", "<fit 15>"}},
      {25, {"<fit 6>", "<fit 14>"}},
      {3, none}, {4, none}, {5, none}, {6, none}, {15, none}, {24, none}, {34, none}, {35, none}, {36, none}};
  for (const auto& [code, expected] : table) EXPECT_EQ(StagesOf(code), expected) << "code " << code;
}

// The pentode example ends with a screen-tied file, so a Nolt pentode also gets a triode file with
// ex + dex. With A = 1.67e-4 and mu = 19, dex = ln(1.0835) / ln(500/19) = 0.024524, and in 32-bit floats
// (ex + dex) - dex is 1.35818076 for ex = 1.35818088: the fitted value must stay as it is.
TEST_F(DriverTest, CompanionTriodeFileLeavesTheFittedExponentExact) {
  namespace fs = std::filesystem;
  const fs::path from = fs::path(TUBEFIT_SOURCE_DIR) / "examples" / "pentode";
  RunState state;
  Settings& s = state.settings;
  const char* files[] = {"el84_vs200", "el84_vs250", "el84_vs300", "el84_tri"};
  for (int f = 1; f <= 4; ++f) {
    s.DataFile.push_back(files[f - 1]);
    fs::copy_file(from / (s.DataFile[f] + ".utd"), s.DataFile[f] + ".utd");
  }
  s.TubeType = 'P';
  s.iModel = 12;
  std::ostringstream out;
  ReadMeasurements(s, state.meas, out);
  DetSweep(s, state.meas, out);
  ParamIdent(12, state.params);
  ParamVector& P = state.params.P;
  const Slots& slot = state.params.slot;
  P[slot.ex] = 1.35818088f;
  P[slot.mu] = 19.0f;
  P[slot.A] = 1.67e-4f;
  P[slot.kG1] = 200.0f;
  P[slot.kp] = 120.0f;
  P[slot.kVB] = 300.0f;
  float dex = 0.0f;
  CalcDex(P, slot, dex, out);
  ASSERT_NE((P[slot.ex] + dex) - dex, P[slot.ex]);
  const ParamVector fitted = P;

  WriteSubcircuits(state, out);
  EXPECT_EQ(P, fitted);
  std::ifstream triode("el84_tri.cir");
  std::ifstream pentode("el84_vs200.cir");
  std::stringstream triode_text, pentode_text;
  triode_text << triode.rdbuf();
  pentode_text << pentode.rdbuf();
  EXPECT_NE(triode_text.str().find(" EX=1.383 "), std::string::npos) << triode_text.str();
  EXPECT_NE(pentode_text.str().find(" EX=1.358 "), std::string::npos) << pentode_text.str();
}

}  // namespace
}  // namespace tubefit
