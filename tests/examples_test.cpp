// Whole runs of the built program on the example folders under examples/, one per tube type, each in a
// scratch copy with gnuplot replaced by a stand-in that does nothing (no window, and the same on a machine without gnuplot).
// Chained examples run their prerequisite fits first in the same folder, so the hand-over files
// (Triode.par, Triode_g3.par, Penthode.par) are the ones those runs write.
//
// The noisy runs must reproduce the data to within the noise: the final R2 (sum of squared current errors
// in A^2) may not exceed 1.5 x (hexode: 3.5 x, see there) the expected sum, terms x (sigma^2 + q^2/12), with q = 0.01 mA the tracer's
// quantisation step and one term per point for diodes and triodes, two (anode and screen) otherwise.
// The noise-free variants, written by tools/make_examples.sh --noise-free, must give back the generating
// parameters within the tolerance stated per model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fit/objective.h"
#include "models/models.h"
#include "process_support.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kSource = TUBEFIT_SOURCE_DIR;
const std::string kBinary = TUBEFIT_BINARY;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// One run of a configuration inside a folder: which example folder its files come from, the
// configuration, and the hand-over copies made after it (from, to).
struct Step {
  std::string folder;
  std::string config;
  std::vector<std::pair<std::string, std::string>> copies;
};

struct Tolerance {
  float value;
  float rel;  // relative tolerance; 0 means `abs` is used
  float abs;
};

struct Example {
  std::string name;
  std::vector<Step> steps;          // the last step is the run under test
  float sigma_mA;                   // noise of the shipped files
  bool two_currents;                // anode and screen current enter R2
  bool x_sum;                       // tube X: the file's Is (pure noise) is added to Ia
  std::vector<std::string> headings;  // stage headings in order
  int stages;                       // calls of the fit driver
  std::vector<std::string> data_files;
  std::vector<std::string> subcircuits;
  std::vector<std::string> par_files;
  std::map<std::string, Tolerance> truth;  // generating parameters with the tolerance of the noise-free fit
  float r2_factor = 1.5f;                  // allowed R2 over its expected value
  bool clean_lm = false;                   // the noise-free run minimises its last step by Levenberg-Marquardt
  // The best minimum of the shipped data that tools/search_sets.sh found (the fit sequence with both
  // minimisers from 30 perturbed starts each, then polished), and the stages that free all but a trailing
  // block (Levenberg-Marquardt polishes those).
  float best_r2 = 0.0f;
  int polished = 0;
};

void PrintTo(const Example& ex, std::ostream* os) { *os << ex.name; }

const char* kExcept = "Fitting parameters except Koren parameters";
const char* kIncluding = "Fitting parameters including Koren parameters";

const Step kPentodeX{"pentode_x", "Model.ini", {}};
const Step kPentode{"pentode", "Model.ini", {{"Model.par", "Penthode.par"}}};

std::vector<Example> Examples() {
  std::vector<Example> e;
  // Diode: k and ex to 0.1 %, eps (generated 0) to 1e-3 V.
  e.push_back({"diode", {{"diode", "Model.ini", {}}}, 0.02f, false, false, {}, 1, {"eb91"}, {"eb91.cir"},
               {"Model.par"},
               {{"k", {1500, 1e-3f, 0}}, {"ex", {1.5f, 1e-3f, 0}}, {"eps", {0, 0, 1e-3f}}}});
  e.back().best_r2 = 2.307831e-8f;
  e.back().polished = 1;
  // X: the Koren triode to 0.1 %, kVB (which only shapes the knee) to 1 %.
  e.push_back({"pentode_x", {kPentodeX}, 0.02f, false, true, {}, 1, {"el84_x"}, {"el84_x.cir"},
               {"Model.par", "Triode.par"},
               {{"mu", {19, 1e-3f, 0}}, {"ex", {1.35f, 1e-3f, 0}}, {"kG1", {200, 1e-3f, 0}},
                {"kp", {120, 1e-3f, 0}}, {"kVB", {300, 1e-2f, 0}}}});
  e.back().best_r2 = 1.247697e-7f;
  e.back().polished = 1;
  // P (Nolt): every parameter to 0.1 %, kVB to 1 %.
  e.push_back({"pentode", {kPentodeX, {"pentode", "Model.ini", {}}}, 0.02f, true, false, {kExcept, kIncluding}, 2,
               {"el84_vs200", "el84_vs250", "el84_vs300", "el84_tri"}, {"el84_vs200.cir", "el84_tri.cir"},
               {"Model.par"},
               {{"alpha_s", {4, 1e-3f, 0}}, {"beta", {0.1f, 1e-3f, 0}}, {"A", {2e-4f, 1e-2f, 0}},
                {"kG2", {2000, 1e-3f, 0}}, {"kG1", {200, 1e-3f, 0}}, {"mu", {19, 1e-3f, 0}},
                {"ex", {1.35f, 1e-3f, 0}}, {"kp", {120, 1e-3f, 0}}, {"kVB", {300, 1e-2f, 0}}}});
  e.back().best_r2 = 3.689219e-7f;
  e.back().polished = 2;
  // B (NoltE): 0.2 % except kVB (5 %: it only shapes the knee, and its standard variance is a few %) and w, generated 0, to 0.01 V.
  e.push_back({"beam_tetrode",
               {{"beam_tetrode", "Triode.ini", {}}, {"beam_tetrode", "Model.ini", {}}},
               0.02f, true, false, {kExcept, kIncluding}, 3,
               {"6l6_vs200", "6l6_vs250", "6l6_vs300", "6l6_tri"}, {"6l6_vs200.cir", "6l6_tri.cir"}, {"Model.par"},
               {{"Sc", {0.03f, 2e-3f, 0}}, {"nu", {1, 2e-3f, 0}}, {"lambda", {8, 2e-3f, 0}}, {"w", {0, 0, 1e-2f}},
                {"alpha'", {0.08f, 2e-3f, 0}}, {"beta", {0.08f, 2e-3f, 0}}, {"A", {1e-4f, 2e-3f, 0}},
                {"alpha_s", {3, 2e-3f, 0}}, {"kVB", {100, 5e-2f, 0}}, {"kG1", {600, 2e-3f, 0}},
                {"ex", {1.35f, 2e-3f, 0}}, {"kp", {50, 2e-3f, 0}}, {"mu", {8, 2e-3f, 0}}, {"kG2", {6000, 2e-3f, 0}}}});
  e.back().best_r2 = 5.186221e-7f;
  e.back().polished = 2;
  // V (Nolt): the two sections trade mu, ex, svar against each other at the quantisation floor (the fit
  // stops at mu about 32 and svar about 0.54 with R2 half that of mu 29, svar 0.51), so only the
  // screen-current law is tight; kVB is not determined at all (sqrt(kVB + Vs^2) with kVB << Vs^2).
  e.push_back({"varmu", {{"varmu", "Triode.ini", {}}, {"varmu", "Model.ini", {}}}, 0.005f, true, false,
               {"Fitting screen current parameters", "Fitting parameters excluding g1-ratio",
                "Fitting parameters including g1-ratio"},
               3, {"ef89_vs60", "ef89_vs80", "ef89_vs100"}, {"ef89_vs60.cir"}, {"Model.par"},
               {{"alpha_s", {3, 2e-3f, 0}}, {"beta", {0.1f, 2e-3f, 0}}, {"A", {1e-4f, 2e-2f, 0}},
                {"kG2", {5000, 2e-2f, 0}}, {"kG1", {800, 2e-2f, 0}}, {"mu", {30, 8e-2f, 0}},
                {"ex", {1.4f, 8e-2f, 0}}, {"mu_b", {12, 0.2f, 0}}, {"ex_b", {1.15f, 5e-2f, 0}},
                {"kp", {40, 0.1f, 0}}, {"svar", {0.4f, 0.4f, 0}}}});
  e.back().best_r2 = 7.729633e-8f;
  e.back().polished = 3;
  // H (Nolt): the direction-set fit of the shipped data ends in a minimum several times above the noise where
  // the current-division parameters are off (alpha_s about 1 instead of 2).
  e.push_back({"hexode_y",
               {{"hexode_y", "Triode.ini", {}}, {"hexode_y", "Triode_g3.ini", {}}, {"hexode_y", "Model.ini", {}}},
               0.005f, true, false, {}, 2, {"ech81_g3_0", "ech81_g3_4", "ech81_g1_1"}, {"ech81_g3_0.cir"},
               {"Model.par"},
               {{"mu3", {20, 1e-2f, 0}}, {"ex'", {1.2f, 1e-2f, 0}}, {"beta", {0.1f, 1e-2f, 0}},
                {"alpha_s", {2, 1e-2f, 0}}, {"A", {1e-4f, 1e-2f, 0}}, {"ex", {1.4f, 3e-2f, 0}},
                {"mu'", {8, 0.1f, 0}}, {"kp'", {30, 0.1f, 0}}}});
  e.back().best_r2 = 5.135739e-8f;
  e.back().polished = 1;
  e.back().r2_factor = 3.5f;  // the same minimum as the noise-free direction-set run: about 2.9 x the noise
  // Noise-free, the direction-set fit stops 9 to 14 x above the quantisation floor, at a point that any
  // change in the last bits of the currents moves; Levenberg-Marquardt reaches the floor. There the g3
  // section and the current division are fixed to 1 %; the g1 section lies in a flat valley (kG1, mu and kp
  // come out 5 to 10 % off and are not checked).
  e.back().clean_lm = true;
  // F (NoltE): the g3 section and the current division to 0.1 %; the triode part, which the suppressor data
  // at a single screen voltage hardly fix, within a few %; kVB is not determined (Vs^2 = 62500 >> kVB).
  e.push_back({"pentode_g3", {kPentodeX, kPentode, {"pentode_g3", "Model.ini", {}}}, 0.02f, true, false, {}, 2,
               {"f_g3_0", "f_g3_20", "f_g1_4"}, {"f_g3_0.cir"}, {"Model.par"},
               {{"mu'", {8, 1e-3f, 0}}, {"ex'", {1.3f, 1e-3f, 0}}, {"kG1'", {3, 1e-3f, 0}}, {"V0", {2, 1e-3f, 0}},
                {"mu3", {15, 1e-3f, 0}}, {"alpha_s", {4, 1e-3f, 0}}, {"beta", {0.1f, 1e-3f, 0}},
                {"A", {2e-4f, 1e-3f, 0}}, {"ex", {1.35f, 1e-2f, 0}}, {"kG2", {2000, 3e-2f, 0}},
                {"kp", {120, 8e-2f, 0}}, {"kG1", {200, 3e-2f, 0}}, {"mu", {19, 5e-2f, 0}}}});
  e.back().best_r2 = 3.077151e-7f;
  e.back().polished = 1;
  return e;
}

// Runs the program on `config` in `dir` with the console captured and no keyboard input, on the objective's
// path `simd` (TUBEFIT_SIMD) unless it is empty.
int RunIn(const fs::path& dir, const std::string& config, std::string& console, const std::string& simd) {
  const fs::path here = fs::current_path();
  fs::current_path(dir);
  if (!simd.empty()) tubefit::testsupport::SetEnv("TUBEFIT_SIMD", simd.c_str());
  const tubefit::testsupport::RunOutcome outcome = tubefit::testsupport::RunCaptured({kBinary, config}, "console.txt");
  if (!simd.empty()) tubefit::testsupport::SetEnv("TUBEFIT_SIMD", nullptr);
  fs::current_path(here);
  console = ReadText(dir / "console.txt");
  return outcome.exited ? outcome.status : -1;
}

// Copies the files of an example folder into `dir`, leaving out hand-over files that an earlier step of the
// chain writes, and points every configuration's gnuplot line at the stand-in that does nothing.
void CopyFolder(const fs::path& from, const fs::path& dir, bool keep_par) {
  for (const auto& entry : fs::directory_iterator(from)) {
    const std::string name = entry.path().filename().string();
    if (!keep_par && entry.path().extension() == ".par") continue;
    if (name == "README.md") continue;
    tubefit::testsupport::CopyOver(entry.path(), dir / name);
    if (entry.path().extension() == ".ini") {
      std::string text = ReadText(dir / name);
      text = tubefit::testsupport::StandIn() + text.substr(text.find('\n') - (text[text.find('\n') - 1] == '\r' ? 1 : 0));
      std::ofstream(dir / name, std::ios::binary | std::ios::trunc) << text;
    }
  }
}

struct RunResult {
  int status = -1;
  std::string console;
};

// Runs all steps of an example in a fresh folder, with the example files taken from `root`, on the vector
// path `simd` (empty: the default); with `lm` the last step (the run under test) minimises its stages by
// Levenberg-Marquardt.
RunResult RunChain(const Example& ex, const fs::path& root, const fs::path& dir, const std::string& simd = "",
                   bool lm = false) {
  RunResult r;
  for (const Step& step : ex.steps) {
    CopyFolder(root / step.folder, dir, false);
    if (lm && &step == &ex.steps.back()) std::ofstream(dir / step.config, std::ios::app | std::ios::binary) << "Minimiser = lm\r\n";
    r.status = RunIn(dir, step.config, r.console, simd);
    if (r.status != 0) return r;
    for (const auto& copy : step.copies) tubefit::testsupport::CopyOver(dir / copy.first, dir / copy.second);
  }
  return r;
}

float LastR2(const std::vector<std::string>& lines) {
  const std::string key = " After refinement R2 =";
  float r2 = -1.0f;
  for (const std::string& line : lines) {
    if (line.rfind(key, 0) == 0) r2 = std::stof(line.substr(key.size()));
  }
  return r2;
}

int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const std::string& line : lines) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

int PointsInFit(const std::vector<std::string>& lines) {
  const std::string key = " Total number of datapoints in the fit equals:";
  for (const std::string& line : lines) {
    if (line.rfind(key, 0) == 0) return std::stoi(line.substr(key.size()));
  }
  return 0;
}

// The name/value table after "Final estimates:".
std::map<std::string, float> FinalEstimates(const std::vector<std::string>& lines) {
  std::map<std::string, float> values;
  size_t i = 0;
  while (i < lines.size() && lines[i] != " Final estimates:") ++i;
  for (i += 2; i < lines.size() && lines[i].find(" =") != std::string::npos; ++i) {
    const size_t eq = lines[i].find(" =");
    std::string name = lines[i].substr(1, eq - 1);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    values[name] = std::stof(lines[i].substr(eq + 2));
  }
  return values;
}

class ExamplesTest : public ::testing::TestWithParam<Example> {
 protected:
  static void SetUpTestSuite() {
    root_dir_ = std::make_unique<tubefit::testsupport::TempDir>("tubefit_examples_", false);
    ASSERT_TRUE(root_dir_->ok());
    root_ = root_dir_->path();
    // Where bash cannot run the script (the Windows build under Wine), the folder it made on the build
    // machine is named by TUBEFIT_NOISE_FREE.
    if (const char* made = std::getenv("TUBEFIT_NOISE_FREE")) {
      fs::copy(made, root_ / "noise_free", fs::copy_options::recursive);
      return;
    }
    if (tubefit::testsupport::kWindows) return;
    const std::string build = fs::path(kBinary).parent_path().string();
    const std::string command = "bash '" + kSource + "/tools/make_examples.sh' '" + build + "' '" +
                                (root_ / "noise_free").string() + "' --noise-free >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  static void TearDownTestSuite() { root_dir_.reset(); }

  fs::path NewDir(const std::string& name) {
    const fs::path dir = root_ / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
  }

  static std::unique_ptr<tubefit::testsupport::TempDir> root_dir_;
  static fs::path root_;
};

std::unique_ptr<tubefit::testsupport::TempDir> ExamplesTest::root_dir_;
fs::path ExamplesTest::root_;

TEST_P(ExamplesTest, ShippedDataFitToWithinTheNoise) {
  const Example& ex = GetParam();
  const fs::path dir = NewDir(ex.name + "_noisy");
  const RunResult r = RunChain(ex, fs::path(kSource) / "examples", dir);
  ASSERT_EQ(r.status, 0) << r.console;
  const std::vector<std::string> lines = SplitLines(r.console);

  // Every stage of the fit sequence, announced by its headings in order.
  std::vector<std::string> headings;
  for (const std::string& line : lines) {
    if (line.rfind(" Fitting parameters", 0) == 0 || line.rfind(" Fitting screen current", 0) == 0) {
      headings.push_back(line.substr(1));
    }
  }
  EXPECT_EQ(headings, ex.headings);
  EXPECT_EQ(CountPrefix(lines, " Before refinement R2 ="), ex.stages);
  EXPECT_EQ(CountPrefix(lines, " After refinement R2 ="), ex.stages);
  EXPECT_EQ(CountPrefix(lines, " Initial estimates:"), 1);
  EXPECT_EQ(CountPrefix(lines, " Final estimates:"), 1);
  EXPECT_EQ(r.console.find("Hit return"), std::string::npos) << "a data check paused";
  EXPECT_EQ(r.console.find("Press return"), std::string::npos) << "a data check paused";
  EXPECT_EQ(r.console.find("WARNING"), std::string::npos);

  for (const std::string& cir : ex.subcircuits) {
    EXPECT_TRUE(fs::is_regular_file(dir / cir)) << cir;
    EXPECT_NE(r.console.find("subcircuit written to file " + cir), std::string::npos) << cir;
    EXPECT_NE(ReadText(dir / cir).find(".SUBCKT"), std::string::npos) << cir;
  }
  EXPECT_EQ(CountPrefix(lines, " Spice"), static_cast<int>(ex.subcircuits.size()));
  for (const std::string& par : ex.par_files) {
    EXPECT_TRUE(fs::is_regular_file(dir / par)) << par;
  }
  // The parameter file holds the final estimates that the console shows.
  const std::map<std::string, float> fitted = FinalEstimates(lines);
  const std::map<std::string, float> in_file = FinalEstimates(SplitLines(" Final estimates:\n \n" + ReadText(dir / "Model.par")));
  ASSERT_EQ(fitted.size(), in_file.size());
  for (const auto& [name, value] : fitted) EXPECT_NEAR(in_file.at(name), value, 1e-5f * std::fabs(value)) << name;

  for (const std::string& data : ex.data_files) {
    for (const char* ext : {".plt", ".dat", ".fit"}) {
      EXPECT_GT(fs::file_size(dir / (data + ext)), 0u) << data << ext;
    }
    if (ex.two_currents) {
      EXPECT_GT(fs::file_size(dir / (data + ".sft")), 0u) << data;
    }
  }

  const int points = PointsInFit(lines);
  ASSERT_GT(points, 0);
  const double sigma = ex.sigma_mA * 1e-3, q = 1e-5;
  const double per_term = sigma * sigma + q * q / 12.0;
  const double terms = (ex.two_currents || ex.x_sum ? 2.0 : 1.0) * points;
  const double bound = ex.r2_factor * terms * per_term;
  const float r2 = LastR2(lines);
  EXPECT_GT(r2, 0.0f);
  EXPECT_LE(r2, bound) << "R2 / expected = " << r2 / (terms * per_term);

  // The same run with Minimiser = lm: the same stages, one solver line each instead of the pass counters,
  // and a final R2 no higher than the direction-set fit's.
  const RunResult lm = RunChain(ex, fs::path(kSource) / "examples", NewDir(ex.name + "_lm"), "", true);
  ASSERT_EQ(lm.status, 0) << lm.console;
  const std::vector<std::string> lm_lines = SplitLines(lm.console);
  EXPECT_EQ(CountPrefix(lm_lines, " Fit stages are minimised by Levenberg-Marquardt."), 1);
  EXPECT_EQ(CountPrefix(lm_lines, " Before refinement R2 ="), ex.stages);
  EXPECT_EQ(CountPrefix(lm_lines, " Levenberg-Marquardt: "), ex.stages);
  EXPECT_EQ(CountPrefix(lm_lines, " After refinement R2 ="), ex.stages);
  EXPECT_EQ(CountPrefix(lm_lines, " Iter:"), 0);
  EXPECT_EQ(CountPrefix(lm_lines, " Direction-set polish: "), ex.polished);
  EXPECT_EQ(CountPrefix(lm_lines, " Levenberg-Marquardt from the polished point: "), ex.polished);
  // At the best minimum (to 0.5 %), and never above the direction-set fit (float rounding apart).
  const float lm_r2 = LastR2(lm_lines);
  EXPECT_LE(lm_r2, r2 * (1.0f + 1e-6f)) << "powell " << r2;
  EXPECT_LE(lm_r2, 1.005f * ex.best_r2) << "best " << ex.best_r2;
}

TEST_P(ExamplesTest, NoiseFreeDataGiveBackTheParameters) {
  const Example& ex = GetParam();
  const fs::path dir = NewDir(ex.name + "_clean");
  if (!fs::exists(root_ / "noise_free"))
    GTEST_SKIP() << "the noise-free examples come from tools/make_examples.sh (bash): set TUBEFIT_NOISE_FREE";
  const RunResult r = RunChain(ex, root_ / "noise_free", dir, "", ex.clean_lm);
  ASSERT_EQ(r.status, 0) << r.console;
  const std::map<std::string, float> fitted = FinalEstimates(SplitLines(r.console));
  ASSERT_FALSE(fitted.empty());
  for (const auto& [name, tol] : ex.truth) {
    ASSERT_EQ(fitted.count(name), 1u) << name;
    const float limit = tol.rel > 0 ? tol.rel * std::fabs(tol.value) : tol.abs;
    EXPECT_NEAR(fitted.at(name), tol.value, limit) << ex.name << " " << name;
  }
}

// Every path of the objective gives the same console report and the same files, byte for byte (the
// elapsed time apart).
TEST_P(ExamplesTest, EveryPathWritesTheSameFiles) {
  const Example& ex = GetParam();
  std::map<std::string, std::string> first;
  for (tubefit::SimdLevel level : {tubefit::SimdLevel::kNone, tubefit::SimdLevel::kAvx2, tubefit::SimdLevel::kAvx512}) {
    if (static_cast<int>(level) > static_cast<int>(tubefit::SupportedSimdLevel())) continue;
    const std::string path = tubefit::SimdLevelName(level);
    const fs::path dir = NewDir(ex.name + "_" + path);
    const RunResult r = RunChain(ex, fs::path(kSource) / "examples", dir, path);
    ASSERT_EQ(r.status, 0) << path << "\n" << r.console;
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
      std::string text = ReadText(entry.path());
      if (entry.path().filename() == "console.txt") {
        std::string kept;
        for (const std::string& line : SplitLines(text)) {
          if (line.rfind(" Elapsed time:", 0) != 0) kept += line + "\n";
        }
        text = kept;
      }
      files[entry.path().filename().string()] = text;
    }
    if (first.empty()) {
      first = files;
      continue;
    }
    ASSERT_EQ(files.size(), first.size()) << path;
    for (const auto& [name, text] : files) EXPECT_TRUE(text == first[name]) << path << ": " << name << " differs";
  }
}

// The fields of a CSV record without quoted fields.
std::vector<std::string> CsvFields(const std::string& record) {
  std::vector<std::string> fields(1);
  for (const char c : record) c == ',' ? fields.emplace_back() : fields.back() += c;
  return fields;
}

// Every file of a folder but the console, and the console without its elapsed-time line.
std::map<std::string, std::string> FolderFiles(const fs::path& dir, const std::string& console_name) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) files[entry.path().filename().string()] = ReadText(entry.path());
  std::string kept;
  for (const std::string& line : SplitLines(files[console_name])) {
    if (line.rfind(" Elapsed time:", 0) != 0) kept += line + "\n";
  }
  files.erase(console_name);
  files["console"] = kept;
  return files;
}

// A batch of every example and a run that stops (empty data file), -j 1 and -j 2, against the runs alone: the
// same files byte for byte, the console in tubefit.log, and summary.csv rows that hold the consoles' numbers.
TEST(ExamplesBatch, EveryRunWritesWhatItWritesAlone) {
  tubefit::testsupport::TempDir root("tubefit_batch_", false);
  ASSERT_TRUE(root.ok());
  std::vector<std::string> names = {"triode", "stops"};  // every example folder, and a run that stops
  for (const Example& ex : Examples()) names.push_back(ex.name);
  std::vector<std::string> configs;
  for (const std::string variant : {"alone", "j1", "j2"}) {
    for (const std::string& name : names) {
      const fs::path dir = fs::path(root.path()) / variant / name;
      fs::create_directories(dir);
      if (name != "stops") CopyFolder(fs::path(kSource) / "examples" / name, dir, true);
      if (name == "stops") std::ofstream(dir / "Model.ini") << "none\n1\ne\nT\nKoren\n2\n0\n";
      if (name == "stops") std::ofstream(dir / "e.utd");
      if (variant == "j1") configs.push_back(name + "/Model.ini");
    }
  }
  std::map<std::string, std::vector<std::string>> alone_lines;
  for (const std::string& name : names) {
    std::string console;
    EXPECT_EQ(RunIn(fs::path(root.path()) / "alone" / name, "Model.ini", console, ""), name == "stops" ? 1 : 0) << name;
    alone_lines[name] = SplitLines(console);
  }
  std::string summary;
  for (const std::string jobs : {"1", "2"}) {
    SCOPED_TRACE("-j " + jobs);
    const fs::path dir = fs::path(root.path()) / ("j" + jobs);
    std::vector<std::string> argv{kBinary, "-j", jobs};
    argv.insert(argv.end(), configs.begin(), configs.end());
    const fs::path here = fs::current_path();
    fs::current_path(dir);
    const tubefit::testsupport::RunOutcome outcome = tubefit::testsupport::RunCaptured(argv, "terminal.txt");
    fs::current_path(here);
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 1);  // one run stopped
    const std::vector<std::string> terminal = SplitLines(ReadText(dir / "terminal.txt"));
    ASSERT_EQ(terminal.size(), names.size() + 1);
    EXPECT_EQ(terminal.back(), " 8 of 9 runs ended normally; summary written to summary.csv.");
    EXPECT_EQ(std::count(terminal.begin(), terminal.end(), " stops: T Koren, File e.utd: the file is empty; a .utd "
                         "file holds a header line, then one line per measured point."), 1);
    for (const std::string& name : names) {
      std::map<std::string, std::string> single = FolderFiles(fs::path(root.path()) / "alone" / name, "console.txt");
      const std::map<std::string, std::string> batch = FolderFiles(dir / name, "tubefit.log");
      // The same files and console; the folder whose run stopped keeps its two inputs and the log only.
      EXPECT_EQ(single, batch) << name;
      if (name == "stops") {
        EXPECT_EQ(batch.size(), 3u);
      }
    }
    if (summary.empty()) summary = ReadText(dir / "summary.csv");
    EXPECT_TRUE(ReadText(dir / "summary.csv") == summary) << "summary.csv differs between -j 1 and -j 2";
  }
  // summary.csv: CRLF records, a header, one row per run in the order given.
  EXPECT_EQ(summary.substr(summary.size() - 2), "\r\n");
  const std::vector<std::string> records = SplitLines(summary);
  ASSERT_EQ(records.size(), names.size() + 1);
  const std::vector<std::string> header = CsvFields(records[0]);
  EXPECT_EQ(std::vector<std::string>(header.begin(), header.begin() + 10),
            (std::vector<std::string>{"folder", "configuration", "tube", "family", "minimiser", "points", "R2",
                                      "RMS Ia (mA)", "RMS Is (mA)", "result"}));
  for (size_t r = 1; r < records.size(); ++r) {
    const std::string& name = names[r - 1];
    const std::vector<std::string>& lines = alone_lines[name];
    if (name == "stops") {  // the message holds a comma, so its field is quoted
      EXPECT_EQ(records[r], "stops,Model.ini,T,Koren,powell,,,,,\"File e.utd: the file is empty; a .utd file holds a "
                            "header line, then one line per measured point.\"" + std::string(header.size() - 10, ','));
      continue;
    }
    const std::vector<std::string> row = CsvFields(records[r]);
    ASSERT_EQ(row.size(), header.size()) << records[r];
    EXPECT_EQ(row[0], name);
    EXPECT_EQ(row[9], "ok");
    EXPECT_EQ(std::stoi(row[5]), PointsInFit(lines)) << name;
    const float r2 = LastR2(lines);
    EXPECT_NEAR(std::stof(row[6]), r2, 1e-6f * r2) << name;
    // The sum of squared errors of the points in the fit is R2: points x (RMS Ia^2 + RMS Is^2).
    const double ia = std::stod(row[7]) * 1e-3, is = row[8].empty() ? 0.0 : std::stod(row[8]) * 1e-3;
    EXPECT_NEAR(std::stoi(row[5]) * (ia * ia + is * is), r2, 1e-5 * r2) << name;
    const std::map<std::string, float> fitted = FinalEstimates(lines);
    size_t cells = 0;
    for (size_t c = 10; c < header.size(); ++c) {
      if (row[c].empty()) continue;
      ++cells;
      EXPECT_NEAR(std::stof(row[c]), fitted.at(header[c]), 1e-6f * std::fabs(fitted.at(header[c]))) << header[c];
    }
    EXPECT_EQ(cells, fitted.size()) << name;
  }
}

// The path of a program on PATH, or empty.
std::string OnPath(const std::string& name) { return tubefit::testsupport::ProgramOnPath(name); }

// The value after "name = " on the console line that starts with "   name = "; NaN when there is none.
double ConsoleValue(const std::vector<std::string>& lines, const std::string& name) {
  for (const std::string& line : lines)
    if (line.rfind("   " + name + " = ", 0) == 0) return std::stod(line.substr(name.size() + 6));
  return std::nan("");
}

// The triode example under a file name with a blank, with a model name left to the default, the operating
// point, the Markdown page and the ngspice form. The blank is mended in the subcircuit name (ngspice
// refuses ".SUBCKT ecc83 table 1 2 3"); the small-signal values agree with central differences of Model at
// the printed final estimates; Fit.txt and the page carry them.
TEST_F(ExamplesTest, TriodeOperatingPointMarkdownPageAndMendedName) {
  const fs::path dir = NewDir("triode_operating_point");
  CopyFolder(fs::path(kSource) / "examples" / "triode", dir, false);
  fs::rename(dir / "ecc83.utd", dir / "ecc83 table.utd");
  std::string ini = ReadText(dir / "Model.ini");
  ini.replace(ini.find("ecc83 "), 6, "ecc83 table ");
  std::ofstream(dir / "Model.ini", std::ios::binary | std::ios::trunc)
      << ini << "SpiceDialect = ngspice\r\nOperatingPoint = 250, -2\r\nReport = md\r\n";
  std::string console;
  ASSERT_EQ(RunIn(dir, "Model.ini", console, ""), 0) << console;
  const std::vector<std::string> lines = SplitLines(console);
  EXPECT_EQ(CountPrefix(lines, " The model name ecc83 table holds characters a SPICE name cannot; the subcircuit "
                               "is named ecc83_table."), 1);
  EXPECT_EQ(CountPrefix(lines, " A fit report page ecc83_table.md is written."), 1);
  const std::vector<std::string> cir = SplitLines(ReadText(dir / "ecc83 table.cir"));
  ASSERT_GT(cir.size(), 5u);
  EXPECT_EQ(cir[1], "* Pins: 1 = A (anode), 2 = G (grid), 3 = C (cathode)");
  const std::string fit_line = "* Fit: triode, Koren model, R2 = ";
  ASSERT_EQ(cir[2].substr(0, fit_line.size()), fit_line);
  EXPECT_TRUE(tubefit::testsupport::RelNear(std::stod(cir[2].substr(fit_line.size())), LastR2(lines), 1e-6));
  EXPECT_NE(cir[2].find(" A^2, "), std::string::npos);
  EXPECT_EQ(cir[4], ".SUBCKT ecc83_table 1 2 3; A G C;");

  tubefit::ParamSet ps;
  tubefit::ParamIdent(1, ps);
  const std::map<std::string, float> fitted = FinalEstimates(lines);
  for (int i = 1; i <= ps.NFit; ++i) {
    std::string name = ps.name[i].substr(0, ps.name[i].find(' '));
    ps.P[i] = fitted.at(name);
  }
  auto ia = [&](float va, float vg) {
    tubefit::ParamVector P = ps.P;
    float a = 0.0f, s = 0.0f;
    tubefit::Model(1, va, va, vg, 0.0f, P, ps.slot, a, s);
    return static_cast<double>(a);
  };
  const double gm = (ia(250.0f, -1.9f) - ia(250.0f, -2.1f)) / 0.2;
  const double ga = (ia(251.0f, -2.0f) - ia(249.0f, -2.0f)) / 2.0;
  EXPECT_TRUE(tubefit::testsupport::RelNear(ConsoleValue(lines, "Ia"), ia(250.0f, -2.0f) * 1e3, 1e-4));
  EXPECT_TRUE(tubefit::testsupport::RelNear(ConsoleValue(lines, "gm"), gm * 1e3, 1e-3));
  EXPECT_TRUE(tubefit::testsupport::RelNear(ConsoleValue(lines, "ra"), 1e-3 / ga, 1e-3));
  EXPECT_TRUE(tubefit::testsupport::RelNear(ConsoleValue(lines, "mu"), gm / ga, 1e-3));
  EXPECT_EQ(CountPrefix(lines, " Operating point written to file Fit.txt"), 1);
  const std::string fit_txt = ReadText(dir / "Fit.txt");
  EXPECT_EQ(fit_txt.substr(0, fit_txt.find('\n')), " Small-signal values of the fitted model at Va = 250 V, Vg1 = -2 V:");
  EXPECT_EQ(SplitLines(fit_txt).size(), 5u);

  const std::string md = ReadText(dir / "ecc83_table.md");
  for (const char* piece : {"# ecc83_table: triode, Koren model\n", "| parameter | value | standard variance (%) |\n",
                            "| all |  | ", "## Operating point\n", "| ra | ", "| 1 | A | anode |\n",
                            "```\n* ecc83_table: tube model"}) {
    EXPECT_NE(md.find(piece), std::string::npos) << piece;
  }
  EXPECT_EQ(md.find("<img"), std::string::npos);

  // ngspice accepts the file and finds the subcircuit by its mended name.
  if (OnPath("ngspice").empty()) return;
  fs::copy_file(dir / "ecc83 table.cir", dir / "t.cir");
  std::ofstream(dir / "load.cir") << "load\n.include t.cir\nVA a 0 250\nVG g 0 -2\nX1 a g 0 ecc83_table\n"
                                     ".control\nop\nprint i(VA)\nquit\n.endc\n.end\n";
  const std::string cmd = "cd '" + dir.string() + "' && timeout 60 ngspice -n -b load.cir </dev/null >load.out 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_NE(ReadText(dir / "load.out").find("i(va) = "), std::string::npos) << ReadText(dir / "load.out");
}

// The pentode example with its images and the HTML page in headless Chromium: every image is drawn (a
// check copy of the page counts the decoded images), the page itself logs nothing to the browser console,
// and it holds no script and refers to no other file.
TEST_F(ExamplesTest, PentodeImagesAndHtmlPageInChromium) {
  const std::string gnuplot = OnPath("gnuplot");
  if (gnuplot.empty()) GTEST_SKIP() << "gnuplot is not on PATH (Debian package gnuplot-nox)";
  const fs::path dir = NewDir("pentode_html");
  for (const Step& step : {kPentodeX, Step{"pentode", "Model.ini", {}}}) {
    CopyFolder(fs::path(kSource) / "examples" / step.folder, dir, false);
    std::string ini = ReadText(dir / step.config);
    ini = gnuplot + ini.substr(ini.find("\r\n"));
    if (step.folder == "pentode") ini += "PlotPng = 1\r\nReport = html\r\nModelName = EL84\r\nOperatingPoint = 250, -6, 250\r\n";
    std::ofstream(dir / step.config, std::ios::binary | std::ios::trunc) << ini;
    std::string console;
    ASSERT_EQ(RunIn(dir, step.config, console, ""), 0) << console;
    if (step.folder != "pentode") continue;
    const std::vector<std::string> lines = SplitLines(console);
    EXPECT_EQ(CountPrefix(lines, " Plot image written: "), 9);
    EXPECT_EQ(CountPrefix(lines, " Plot image written: EL84_overview.png"), 1);
    EXPECT_EQ(CountPrefix(lines, " Fit report page written to file EL84.html"), 1);
  }
  const std::string page = ReadText(dir / "EL84.html");
  EXPECT_EQ(page.find("<script"), std::string::npos);
  size_t images = 0;
  for (size_t at = page.find(" src=\""); at != std::string::npos; at = page.find(" src=\"", at + 1)) {
    EXPECT_EQ(page.compare(at + 6, 26, "data:image/svg+xml;base64,"), 0);
    ++images;
  }
  EXPECT_EQ(images, 8u);
  for (const char* piece : {"<td>RMS error of Is</td>", "<h2 id=\"operating\">Operating point</h2>", "<td>G2</td><td>screen grid</td>",
                            ".SUBCKT EL84 1 2 3 4 ; A G2 G1 C;", "<td>el84_tri</td>"}) {
    EXPECT_NE(page.find(piece), std::string::npos) << piece;
  }

  const std::string chromium = OnPath("chromium");
  if (chromium.empty()) GTEST_SKIP() << "chromium is not on PATH (Debian package chromium)";
  std::string check = page;
  check.insert(check.rfind("</body>"),
               "<script>window.onload = function() { let n = 0; for (const i of document.images) "
               "if (i.complete && i.naturalWidth > 0) n++; document.body.setAttribute('data-shown', n + ' of ' + "
               "document.images.length); };</script>");
  std::ofstream(dir / "check.html") << check;
  const std::string browser = "cd '" + dir.string() + "' && timeout 120 '" + chromium +
                              "' --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                              "--disable-background-networking --disable-component-update --disable-sync "
                              "--enable-logging=stderr --v=0 --user-data-dir='" + (dir / "profile").string() + "' ";
  ASSERT_EQ(std::system((browser + "--window-size=1200,4000 --screenshot='" + (dir / "page.png").string() +
                         "' 'file://" + (dir / "EL84.html").string() + "' >shot.out 2>shot.err </dev/null").c_str()), 0);
  EXPECT_GT(fs::file_size(dir / "page.png"), 100000u);
  EXPECT_EQ(ReadText(dir / "shot.err").find("CONSOLE"), std::string::npos) << ReadText(dir / "shot.err");
  ASSERT_EQ(std::system((browser + "--dump-dom 'file://" + (dir / "check.html").string() +
                         "' >dom.out 2>dom.err </dev/null").c_str()), 0);
  EXPECT_NE(ReadText(dir / "dom.out").find("data-shown=\"8 of 8\""), std::string::npos) << ReadText(dir / "dom.err");
}

INSTANTIATE_TEST_SUITE_P(Examples, ExamplesTest, ::testing::ValuesIn(Examples()),
                         [](const ::testing::TestParamInfo<Example>& info) { return info.param.name; });

}  // namespace
