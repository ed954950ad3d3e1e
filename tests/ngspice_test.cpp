// The subcircuit files in a real simulator: ngspice solves the operating point of the written model at a
// grid of electrode voltages, and the anode and screen currents must agree with Model.
//
// The plain files are read in ngspice's PSpice-compatible mode, which gives PWR and PWRS their PSpice
// meaning but does not let an instance pass parameters that its subcircuit does not declare; there the
// model subcircuit is called directly, with the instance line's values as .param lines. The ngspice form
// is read without any compatibility mode, through the calling subcircuit's own instance line.
//
// The parameter values are chosen so that every written field, combined coefficients included, holds the
// value exactly; the simulated currents then differ from Model only by float rounding and by the 1G
// resistor across anode and cathode.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "models/model_info.h"
#include "models/models.h"
#include "models/small_signal.h"
#include "plot/run_command.h"
#include "process_support.h"
#include "spice/spice.h"
#include "spice_test_util.h"
#include "test_support.h"

namespace tubefit {
namespace {

using spice_test::MakeParams;
using spice_test::TestParams;

constexpr double kRelTol = 1e-4;
constexpr double kMinCurrent = 1e-6;  // A: smaller currents are not compared
constexpr double kRcp = 1e9;          // ohm, across anode and cathode in every body but the diode

struct Point {
  float Va, Vs, Vg1, Vg3;
};

struct SimCase {
  const char* label;
  SpiceWriter writer;
  int32_t code;
  const char* model;  // model subcircuit name
  std::map<std::string, float> values;
  std::vector<Point> grid;
};

// True if an executable named ngspice is on PATH (and this is not Windows: the run goes through the shell's
// timeout and redirections).
bool NgspiceOnPath() { return !testsupport::kWindows && ProgramFound("ngspice"); }

std::vector<Point> Grid(const std::vector<float>& Va, const std::vector<float>& Vs, const std::vector<float>& Vg1,
                        const std::vector<float>& Vg3) {
  std::vector<Point> grid;
  for (float a : Va)
    for (float s : Vs)
      for (float g : Vg1)
        for (float g3 : Vg3) grid.push_back({a, s, g, g3});
  return grid;
}

// Shared values of the Nolt-family cases; every one fits its field exactly and the combined coefficients
// come out as 7.5e-4, 1e-7, 0.25 and 7.5e-4.
std::map<std::string, float> NoltValues(std::map<std::string, float> extra) {
  std::map<std::string, float> v = {{"mu", 25.5f}, {"ex", 1.375f},   {"kG1", 1000.0f},   {"kp", 60.5f},
                                    {"kVB", 301.0f}, {"kG2", 4000.0f}, {"A", 0.0001f}, {"alpha_s", 2.0f},
                                    {"beta", 0.05f}};
  v.insert(extra.begin(), extra.end());
  return v;
}

const std::map<std::string, float> kTetrode = {
    {"Sc", 0.0015f}, {"alpha'", 0.05f}, {"w", 20.0f}, {"nu", 2.5f}, {"lambda", 1.5f}};
const std::map<std::string, float> kVarMu = {{"mu_b", 8.5f}, {"ex_b", 1.125f}, {"svar", 0.25f}};

std::vector<Point> PentodeGrid() { return Grid({25, 50, 100, 200, 300}, {100, 200}, {0, -2, -5, -20}, {0}); }

// The values of an entry's parameters, by name: the Nolt-family values, and those of the tube types
// whose laws need others to conduct on their grid; 0.001 for a name the table does not know.
std::map<std::string, float> ValuesFor(const ModelInfo& m) {
  std::map<std::string, float> v = NoltValues({{"mu'", 8.5f}, {"ex'", 1.25f}, {"kp'", 40.5f}, {"kVB'", 150.5f},
                                               {"mu3", 5.0f}, {"V0", 2.5f}, {"kG1'", 250.0f}});
  v.insert(kTetrode.begin(), kTetrode.end());
  v.insert(kVarMu.begin(), kVarMu.end());
  if (m.tube == Tube::kDiode) return {{"k", 1234.5f}, {"ex", 1.375f}, {"eps", 0.5f}};
  if (m.tube == Tube::kTriode) v = {{"mu", 95.5f}, {"ex", 1.375f}, {"kG1", 1234.5f}, {"kp", 612.5f}, {"kVB", 301.0f}};
  if (m.tube == Tube::kPentode && m.family == Family::kKoren) {
    v["kG1"] = 1234.5f;
    v["kVB"] = 15.5f;
  }
  if (m.tube == Tube::kG3Pentode) v["kG1'"] = 25.5f;
  for (const SlotName& slot : m.slots) v.emplace(slot.name, 1e-3f);  // a parameter of a new law: small
  return v;
}

// The grid of a tube type. Va + eps of the diode stays positive: below that its file conducts nothing.
// Vg1 = -20 at Vs = 100 and 200 cuts a Koren pentode off; Vg3 = -30 cuts the g3 pentode's anode off at the
// lower anode voltages, and the whole cathode current then goes to g2.
std::vector<Point> GridFor(Tube tube) {
  switch (tube) {
    case Tube::kDiode:
      return Grid({5, 10, 50, 100, 200}, {0}, {0}, {0});
    case Tube::kTriode:
      return Grid({25, 50, 100, 200, 300}, {0}, {0, -1, -2, -4}, {0});
    case Tube::kHexode:
      return Grid({50, 100, 200, 300}, {100, 200}, {0, -2, -5}, {0, -2, -5});
    case Tube::kG3Pentode:
      return Grid({50, 100, 200, 300}, {100, 200}, {0, -2, -5}, {0, -10, -30});
    default:
      return PentodeGrid();
  }
}

// The file text, read back.
std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream os;
  os << in.rdbuf();
  return os.str();
}

// The instance part of the calling subcircuit in the file: from the "X1 " line up to ".ENDS".
std::string InstanceText(const std::string& file_text) {
  std::istringstream in(file_text);
  std::string line, text;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line.rfind("X1 ", 0) == 0) inside = true;
    if (line == ".ENDS") break;
    if (inside) text += line + "\n";
  }
  return text;
}

class NgspiceSim : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!NgspiceOnPath()) GTEST_SKIP() << "ngspice is not on PATH (Debian package ngspice); simulator tests skipped";
    dir_ = std::make_unique<testsupport::TempDir>("ngspice_test_");
    ASSERT_TRUE(dir_->ok());
  }
  void TearDown() override { dir_.reset(); }

  // Writes the file of the case in the dialect, simulates the grid and compares every current.
  void Check(const SimCase& c, SpiceDialect dialect, SpicePrecision precision = SpicePrecision::kFields) {
    SCOPED_TRACE(std::string(c.label) + (dialect == SpiceDialect::kNgspice ? ", ngspice form" : ", plain form") +
                 (precision == SpicePrecision::kFull ? ", full precision" : ""));
    const TestParams t = MakeParams(c.code, c.values);
    std::ostringstream console;
    const std::string file = WriteSpiceFile(c.writer, "TUBE", t.P, t.s, c.code, dialect, console, precision);
    const bool plain = dialect == SpiceDialect::kLtspice;

    std::ostringstream net;
    net << "subcircuit check\n.include " << file << "\n";
    if (plain) net << ".param " << NgspiceParams(InstanceText(ReadAll(file))) << "\n";
    net << ".options reltol=1e-7 abstol=1e-15 vntol=1e-9\n";
    const bool screen = c.writer == SpiceWriter::kPenthode || c.writer == SpiceWriter::kHepthode ||
                        c.writer == SpiceWriter::kPenthodeg3;
    const bool five = c.writer == SpiceWriter::kHepthode || c.writer == SpiceWriter::kPenthodeg3;
    std::string prints;
    for (size_t k = 0; k < c.grid.size(); ++k) {
      const Point& p = c.grid[k];
      const std::string n = std::to_string(k + 1);
      net << "VA" << n << " a" << n << " 0 " << p.Va << "\n";
      std::string pins = " a" + n;
      prints += " i(VA" + n + ")";
      if (five) {
        net << "VT" << n << " t" << n << " 0 " << p.Vg3 << "\n";
        pins += " t" + n;
      }
      if (screen) {
        net << "VS" << n << " s" << n << " 0 " << p.Vs << "\n";
        pins += " s" + n;
        prints += " i(VS" + n + ")";
      }
      if (c.writer != SpiceWriter::kDiode) {
        net << "VG" << n << " g" << n << " 0 " << p.Vg1 << "\n";
        pins += " g" + n;
      }
      net << "X" << n << pins << " 0 " << (plain ? c.model : "TUBE") << "\n";
    }
    net << ".control\nset numdgt=12\nop\nprint" << prints << "\nquit\n.endc\n.end\n";
    {
      std::ofstream out("check.cir");
      out << net.str();
    }
    const std::string cmd = std::string("timeout 120 ngspice -n ") + (plain ? "-D ngbehavior=psa " : "") +
                            "-b check.cir < /dev/null > check.out 2>&1";
    const int status = std::system(cmd.c_str());
    const std::string output = ReadAll("check.out");
    ASSERT_EQ(status, 0) << output;

    std::map<std::string, double> current;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream words(line);
      std::string name, eq;
      double value = 0.0;
      if (words >> name >> eq >> value && eq == "=") current[name] = value;
    }
    int compared = 0;
    for (size_t k = 0; k < c.grid.size(); ++k) {
      const Point& p = c.grid[k];
      const std::string n = std::to_string(k + 1);
      ParamVector P = t.P;
      float Ia = 0.0f, Is = 0.0f;
      Model(c.code, p.Va, c.writer == SpiceWriter::kTriode ? p.Va : p.Vs, p.Vg1, p.Vg3, P, t.s, Ia, Is);
      ASSERT_EQ(current.count("i(va" + n + ")"), 1u) << output;
      const double ia = -current["i(va" + n + ")"] - (c.writer == SpiceWriter::kDiode ? 0.0 : p.Va / kRcp);
      std::vector<std::pair<double, float>> pairs = {{ia, Ia}};
      if (screen) {
        ASSERT_EQ(current.count("i(vs" + n + ")"), 1u) << output;
        pairs.push_back({-current["i(vs" + n + ")"], Is});
      }
      for (size_t j = 0; j < pairs.size(); ++j) {
        const double sim = pairs[j].first;
        const double model = pairs[j].second;
        if (std::fabs(sim) <= kMinCurrent && std::fabs(model) <= kMinCurrent) continue;
        ++compared;
        EXPECT_NEAR(sim, model, kRelTol * std::fabs(model))
            << (j == 0 ? "anode" : "screen") << " current at Va=" << p.Va << " Vs=" << p.Vs << " Vg1=" << p.Vg1
            << " Vg3=" << p.Vg3;
      }
    }
    // The grids are chosen so that most points carry current; a run that compares nothing checks nothing.
    EXPECT_GE(compared, static_cast<int>(c.grid.size()) / 2);
  }

  void CheckBoth(const SimCase& c) {
    Check(c, SpiceDialect::kLtspice);
    Check(c, SpiceDialect::kNgspice);
  }

 private:
  std::unique_ptr<testsupport::TempDir> dir_;
};

// Every entry of the registry that the program fits has a subcircuit body, and the body gives the law's
// currents in ngspice, in both forms.
TEST_F(NgspiceSim, EveryEntrysBodyGivesItsLawsCurrents) {
  int simulated = 0;
  for (const ModelInfo& m : AllModels()) {
    if (m.body == nullptr) {
      EXPECT_TRUE(m.stages.empty()) << "code " << m.code << " is fitted but writes no body";
      continue;
    }
    const std::string label = "code " + std::to_string(m.code) + ", " + m.subcircuit;
    CheckBoth({label.c_str(), m.writer, m.code, m.subcircuit, ValuesFor(m), GridFor(m.tube)});
    ++simulated;
  }
  EXPECT_GE(simulated, 13);
}

// Fitted values of the ECF80 pentode section (Nolt pentode, NoltE beam tetrode) fit no field exactly, and
// beta 482.3 not F6.3 at all; with every digit written the simulated currents agree with Model to 1e-4.
TEST_F(NgspiceSim, FittedValuesWithEveryDigit) {
  const SimCase pentode{"fitted Nolt pentode", SpiceWriter::kPenthode, 12, "PenthodeN",
                        {{"alpha_s", 3.797861f}, {"beta", 0.1539741f}, {"A", 2.571723e-07f}, {"kG2", 1012.758f},
                         {"kG1", 193.3678f}, {"mu", 47.45427f}, {"ex", 1.274096f}, {"kp", 401.6365f}, {"kVB", 1788.572f}},
                        PentodeGrid()};
  const SimCase tetrode{"fitted NoltE beam tetrode", SpiceWriter::kPenthode, 23, "BTetrodeNE",
                        {{"Sc", 0.3662711f}, {"nu", 16.92227f}, {"lambda", 64.18139f}, {"w", 16.92236f},
                         {"alpha'", 16.83658f}, {"beta", 482.2567f}, {"A", 1.059558e-03f}, {"alpha_s", 482.7221f},
                         {"kVB", 1935.952f}, {"kG1", 207.8152f}, {"ex", 1.28665f}, {"kp", 354.8931f},
                         {"mu", 48.46451f}, {"kG2", 712.4453f}},
                        Grid({25, 50, 100, 150, 200}, {60, 100, 160}, {0, -0.8f, -2}, {0})};
  for (const SimCase& c : {pentode, tetrode}) {
    Check(c, SpiceDialect::kNgspice);
    Check(c, SpiceDialect::kLtspice, SpicePrecision::kFull);
  }
}

// The operating point and the small-signal derivatives of the written ngspice file (ngspice's own
// linearisation in an AC analysis: AC 1 V on the grid of one copy gives gm, on the anode of another 1/ra)
// against the exact derivatives of the fitted law, for a fitted triode and a fitted Nolt pentode.
TEST_F(NgspiceSim, OperatingPointAndSmallSignalValues) {
  struct OpCase {
    SpiceWriter writer;
    int32_t code;
    std::map<std::string, float> values;
    Point at;
  };
  const std::vector<OpCase> cases = {
      {SpiceWriter::kTriode, 1,
       {{"kVB", 7911.582f}, {"kG1", 1076.959f}, {"kp", 641.8906f}, {"ex", 1.59902f}, {"mu", 88.04228f}},
       {250, 250, -2, 0}},
      {SpiceWriter::kPenthode, 12,
       {{"alpha_s", 3.797861f}, {"beta", 0.1539741f}, {"A", 2.571723e-07f}, {"kG2", 1012.758f}, {"kG1", 193.3678f},
        {"mu", 47.45427f}, {"ex", 1.274096f}, {"kp", 401.6365f}, {"kVB", 1788.572f}},
       {150, 100, -1, 0}}};
  for (const OpCase& c : cases) {
    SCOPED_TRACE(c.code);
    const TestParams t = MakeParams(c.code, c.values);
    std::ostringstream console;
    const std::string file = WriteSpiceFile(c.writer, "TUBE", t.P, t.s, c.code, SpiceDialect::kNgspice, console,
                                            SpicePrecision::kFull);
    const bool screen = c.writer == SpiceWriter::kPenthode;
    std::ostringstream net;
    net << "small signal\n.include " << file << "\n";
    for (int k = 1; k <= 2; ++k) {
      net << "VA" << k << " a" << k << " 0 DC " << c.at.Va << (k == 2 ? " AC 1" : "") << "\n";
      net << "VG" << k << " g" << k << " 0 DC " << c.at.Vg1 << (k == 1 ? " AC 1" : "") << "\n";
      if (screen) net << "VS" << k << " s" << k << " 0 DC " << c.at.Vs << "\n";
      net << "X" << k << " a" << k << (screen ? " s" + std::to_string(k) : "") << " g" << k << " 0 TUBE\n";
    }
    net << ".options reltol=1e-9 abstol=1e-15 vntol=1e-9\n.control\nset numdgt=12\nop\nprint i(VA1)"
        << (screen ? " i(VS1)" : "") << "\nac lin 1 1 1\nlet gm = -real(i(VA1))\nlet ga = -real(i(VA2))\n"
        << "print gm ga\nquit\n.endc\n.end\n";
    std::ofstream("op.cir") << net.str();
    ASSERT_EQ(std::system("timeout 120 ngspice -n -b op.cir < /dev/null > op.out 2>&1"), 0) << ReadAll("op.out");
    std::map<std::string, double> v;
    std::istringstream lines(ReadAll("op.out"));
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream words(line);
      std::string name, eq;
      double value = 0.0;
      if (words >> name >> eq >> value && eq == "=") v[name] = value;
    }
    ASSERT_EQ(v.count("ga"), 1u) << ReadAll("op.out");
    SmallSignal ss;
    ASSERT_TRUE(SmallSignalAt(c.code, t.P, t.s, c.at.Va, c.at.Vs, c.at.Vg1, c.at.Vg3, ss));
    // The 1G resistor across anode and cathode carries Va/1G and adds 1 nS to the anode conductance.
    EXPECT_TRUE(testsupport::RelNear(-v["i(va1)"] - c.at.Va / kRcp, ss.Ia, 1e-4)) << "Ia";
    if (screen) {
      EXPECT_TRUE(testsupport::RelNear(-v["i(vs1)"], ss.Is, 1e-4)) << "Is";
    }
    EXPECT_TRUE(testsupport::RelNear(v["gm"], ss.dIa_dVg1, 1e-4)) << "gm";
    EXPECT_TRUE(testsupport::RelNear(v["ga"] - 1.0 / kRcp, ss.dIa_dVa, 1e-4)) << "1/ra";
  }
}

}  // namespace
}  // namespace tubefit
