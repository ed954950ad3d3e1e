// Plot files, gnuplot scripts, the gnuplot argument vectors and the process start.
#include "plot/plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "models/models.h"
#include "plot/run_command.h"
#include "plot_test_support.h"
#include "text/stop.h"

namespace tubefit {
namespace {

using plottest::AddCurve;
using plottest::FileNonEmpty;
using plottest::Lines;
using plottest::Pt;
using plottest::ReadFile;
using plottest::Sweep;
using plottest::TempDir;
using plottest::WriteExecutable;

// A fake gnuplot that writes each argument on a line of args.txt in the working directory.
constexpr const char* kRecorder = "args args.txt\n";

std::string ExpectedRow(float v, const std::vector<float>& currents) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%5.1f", v);
  std::string row = buf;
  for (const float i : currents) {
    std::snprintf(buf, sizeof buf, "%8.2f", i);
    row += buf;
  }
  return row;
}

// ---------------------------------------------------------------- Round5

TEST(Round5, RoundsToNearestMultipleOfFiveHalvesUp) {
  struct Case {
    float x;
    int32_t expected;
  };
  const Case cases[] = {{247.4f, 245}, {247.5f, 250}, {0.0f, 0},     {2.4f, 0},    {2.5f, 5},
                        {250.0f, 250}, {252.4f, 250}, {252.6f, 255}, {-2.5f, 0},   {-2.4f, 0},
                        {-7.5f, -5},   {-8.0f, -5},   {999.9f, 1000}, {12.0f, 10}, {13.0f, 15}};
  for (const Case& c : cases) EXPECT_EQ(Round5(c.x), c.expected) << "x = " << c.x;
}

TEST(Round5, OutOfRangeValuesStayDefined) {
  EXPECT_EQ(Round5(1.0e30f), 2000000000);
  EXPECT_EQ(Round5(-1.0e30f), -2000000000);
  EXPECT_EQ(Round5(std::numeric_limits<float>::quiet_NaN()), 0);
}

// ---------------------------------------------------------------- VsInterp

class VsInterpTest : public ::testing::Test {
 protected:
  // Curve 1: Va 0, 100, ..., 500 with Vs 10, 20, 40, 80, 160, 320.
  void SetUp() override {
    AddCurve(ms, 1, -1.0f,
             {{0, 0, 0, 10}, {100, 0, 0, 20}, {200, 0, 0, 40}, {300, 0, 0, 80}, {400, 0, 0, 160},
              {500, 0, 0, 320}});
  }
  MeasurementSet ms;
};

TEST_F(VsInterpTest, AtOrBelowFirstPointGivesFirstScreenVoltage) {
  EXPECT_EQ(VsInterp(0.0f, 1, 1, ms), 10.0f);
  EXPECT_EQ(VsInterp(-50.0f, 1, 1, ms), 10.0f);
}

TEST_F(VsInterpTest, NearTheStartInterpolatesBetweenNeighboursOnly) {
  // i = 2: 10 + (20 - 10) * (1 - 0.5)
  EXPECT_EQ(VsInterp(50.0f, 1, 1, ms), 15.0f);
}

TEST_F(VsInterpTest, InsideAveragesWithTheWiderPair) {
  // i = 4: r1 = 40 + 40 * 0.5 = 60; wider pair 2 and 5: t2 = 150/300, r2 = 20 + 140 * 0.5 = 90.
  EXPECT_EQ(VsInterp(250.0f, 1, 1, ms), 75.0f);
  // i = 3 at a measured point: r1 = 40; r2 = 10 + 70 * (1 - 1/3) = 56.667; mean 48.333.
  EXPECT_NEAR(VsInterp(200.0f, 1, 1, ms), 48.333333f, 1e-4f);
}

TEST_F(VsInterpTest, NearTheEndInterpolatesBetweenNeighboursOnly) {
  // i = 5 = n - 1: 80 + 80 * (1 - 0.5)
  EXPECT_EQ(VsInterp(350.0f, 1, 1, ms), 120.0f);
  // i = n: t = 75/100, 160 + 160 * (1 - 0.75)
  EXPECT_EQ(VsInterp(425.0f, 1, 1, ms), 200.0f);
}

TEST_F(VsInterpTest, AboveLastPointExtrapolatesThroughTheLastTwo) {
  // t = (500 - 600)/100 = -1: 160 + 160 * 2
  EXPECT_EQ(VsInterp(600.0f, 1, 1, ms), 480.0f);
}

TEST(VsInterp, ConstantScreenCurveGivesItsScreenVoltage) {
  MeasurementSet ms;
  AddCurve(ms, 1, -2.0f, Sweep(0.0f, 300.0f, 50.0f, 250.0f));
  for (const float v : {0.0f, 75.0f, 180.0f, 300.0f, 420.0f}) EXPECT_EQ(VsInterp(v, 1, 1, ms), 250.0f) << v;
}

TEST(VsInterp, ScreenTiedToAnodeFollowsTheAnodeVoltage) {
  MeasurementSet ms;
  AddCurve(ms, 1, -2.0f, Sweep(0.0f, 300.0f, 50.0f));
  for (const float v : {0.0f, 75.0f, 180.0f, 300.0f, 420.0f}) EXPECT_NEAR(VsInterp(v, 1, 1, ms), v, 1e-3f) << v;
}

TEST(VsInterp, OnePointCurveGivesItsScreenVoltageAboveIt) {
  MeasurementSet ms;
  AddCurve(ms, 1, -2.0f, {{100, 0, 0, 150}});
  EXPECT_EQ(VsInterp(50.0f, 1, 1, ms), 150.0f);
  EXPECT_EQ(VsInterp(300.0f, 1, 1, ms), 150.0f);
}

TEST(VsInterp, EqualLastAnodeVoltagesGiveTheLastScreenVoltage) {
  MeasurementSet ms;
  AddCurve(ms, 1, -2.0f, {{0, 0, 0, 100}, {100, 0, 0, 110}, {200, 0, 0, 120}, {200, 0, 0, 125}});
  const float r = VsInterp(300.0f, 1, 1, ms);
  EXPECT_TRUE(std::isfinite(r));
  EXPECT_EQ(r, 125.0f);
}

TEST(VsInterp, WiderPairWithoutSpanUsesTheNeighbours) {
  // Va does not rise: points 1 and 4 share Va = 10. V = 25 lies between points 2 and 3.
  MeasurementSet ms;
  AddCurve(ms, 1, -2.0f, {{10, 0, 0, 1}, {20, 0, 0, 2}, {30, 0, 0, 3}, {10, 0, 0, 4}, {40, 0, 0, 5}});
  EXPECT_EQ(VsInterp(25.0f, 1, 1, ms), 2.5f);
}

TEST(VsInterp, EmptyCurveGivesZero) {
  MeasurementSet ms;
  ms.NFiles = 1;
  ms.file[1].NVg = 1;
  EXPECT_EQ(VsInterp(100.0f, 1, 1, ms), 0.0f);
}

// ---------------------------------------------------------------- WrtColumnHead

class ColumnHeadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddCurve(ms, 1, -1.5f, Sweep(0.0f, 200.0f, 100.0f, 247.4f), -2.5f);
    AddCurve(ms, 1, -3.0f, Sweep(0.0f, 200.0f, 100.0f, 251.0f), -5.0f);
  }
  std::string Head(char tube, int32_t sweep, int32_t g3file) {
    ms.file[1].SweepType = sweep;
    ms.file[1].G3File = g3file;
    std::ostringstream os;
    WrtColumnHead(os, 1, ms, tube);
    return os.str();
  }
  MeasurementSet ms;
};

TEST_F(ColumnHeadTest, DiodeIsListDirected) { EXPECT_EQ(Head('D', 0, 1), " Va    Ia\n"); }

TEST_F(ColumnHeadTest, TriodeKindsShowTheGridVoltage) {
  for (const char tube : {'T', 'X', 'Y'})
    EXPECT_EQ(Head(tube, 0, 1), "\"Va\" \"Vg= -1.5\" \"Vg= -3.0\"\n") << tube;
}

TEST_F(ColumnHeadTest, ConstantScreenPentodesShowTheRoundedScreenVoltage) {
  for (const char tube : {'P', 'B', 'V'})
    EXPECT_EQ(Head(tube, kSweepVsCst, 1), "\"Va\" \"Vs=245; Vg= -1.5\" \"Vs=245; Vg= -3.0\"\n") << tube;
}

TEST_F(ColumnHeadTest, ScreenVoltageHalfwayRoundsUp) {
  ms.point(1, 1, 1).Vs = 247.5f;
  EXPECT_EQ(Head('P', kSweepVsCst, 1), "\"Va\" \"Vs=250; Vg= -1.5\" \"Vs=250; Vg= -3.0\"\n");
}

TEST_F(ColumnHeadTest, ConstantScreenHexodes) {
  for (const char tube : {'H', 'F'}) {
    EXPECT_EQ(Head(tube, kSweepVsCst, 1),
              "\"Va\" \"Vs=245; Vg3= -2.5; Vg1= -1.5\" \"Vs=245; Vg3= -5.0; Vg1= -3.0\"\n")
        << tube;
    EXPECT_EQ(Head(tube, kSweepVsCst, 0),
              "\"Va\" \"Vs=245; Vg1= -1.5; Vg3= -2.5\" \"Vs=245; Vg1= -3.0; Vg3= -5.0\"\n")
        << tube;
  }
}

TEST_F(ColumnHeadTest, ScreenTiedToAnodePentodes) {
  for (const char tube : {'P', 'B', 'V'})
    EXPECT_EQ(Head(tube, kSweepVsVa, 1), "\"Va\" \"Vs=Va; Vg= -1.5\" \"Vs=Va; Vg= -3.0\"\n") << tube;
}

TEST_F(ColumnHeadTest, ScreenTiedToAnodeHexodes) {
  for (const char tube : {'H', 'F'}) {
    EXPECT_EQ(Head(tube, kSweepVsVa, 1), "\"Va\" \"Vs=Va; Vg3= -2.5; Vg1= -1.5\" \"Vs=Va; Vg3= -5.0; Vg1= -3.0\"\n")
        << tube;
    EXPECT_EQ(Head(tube, kSweepVsVa, 0), "\"Va\" \"Vs=Va; Vg1= -1.5; Vg3= -2.5\" \"Vs=Va; Vg1= -3.0; Vg3= -5.0\"\n")
        << tube;
  }
}

TEST_F(ColumnHeadTest, UnclassifiedScreenGridFileShowsTheGridVoltage) {
  EXPECT_EQ(Head('P', kSweepNone, 1), "\"Va\" \"Vg= -1.5\" \"Vg= -3.0\"\n");
}

TEST_F(ColumnHeadTest, OverflowingFieldsPrintAsAsterisks) {
  ms.point(1, 1, 1).Vs = 1000.0f;
  ms.curve(1, 2).Vg1 = -100.0f;
  EXPECT_EQ(Head('P', kSweepVsCst, 1), "\"Va\" \"Vs=***; Vg= -1.5\" \"Vs=***; Vg=*****\"\n");
}

TEST(ColumnHead, FileWithoutCurvesHasOnlyTheVoltageTitle) {
  MeasurementSet ms;
  ms.NFiles = 1;
  std::ostringstream os;
  WrtColumnHead(os, 1, ms, 'T');
  EXPECT_EQ(os.str(), "\"Va\"\n");
}

// ---------------------------------------------------------------- measured data

TEST(MeasuredText, ThreeColumnsInVoltsAndMilliamperes) {
  MeasurementSet ms;
  AddCurve(ms, 1, -1.0f, {{0.0f, 0.0f, 0.0f, 250}, {25.0f, 0.0025f, 0.00125f, 250}});
  AddCurve(ms, 1, -2.0f, {{150.5f, 0.0105f, 0.002f, 250}});
  EXPECT_EQ(MeasuredText(ms, 1),
            "   0.00000   0.00000   0.00000\n"
            "  25.00000   2.50000   1.25000\n"
            " 150.50000  10.50000   2.00000\n");
}

// ---------------------------------------------------------------- fitted curves

// A Koren triode evaluated in double precision: Ia (mA) = 1000 E1^ex / kG1,
// E1 = Va/kp ln(1 + exp(kp (1/mu + Vg/sqrt(kVB + Va^2)))), 0 for E1 <= 1e-6.
double KorenTriodeMa(double Va, double Vg, double mu, double ex, double kG1, double kp, double kVB) {
  const double t = kp * (1.0 / mu + Vg / std::sqrt(kVB + Va * Va));
  const double E1 = Va / kp * std::log1p(std::exp(t));
  if (E1 <= 1e-6) return 0.0;
  return 1000.0 * std::pow(E1, ex) / kG1;
}

class TriodeFitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    s.TubeType = 'T';
    s.iModel = 1;
    ParamIdent(1, ps);
    ps.P[ps.slot.mu] = 100.0f;
    ps.P[ps.slot.ex] = 1.4f;
    ps.P[ps.slot.kG1] = 100.0f;
    ps.P[ps.slot.kp] = 600.0f;
    ps.P[ps.slot.kVB] = 300.0f;
    for (const float vg : {-2.0f, -4.0f, -6.0f}) AddCurve(ms, 1, vg, Sweep(0.0f, 300.0f, 50.0f));
  }
  Settings s;
  ParamSet ps;
  MeasurementSet ms;
};

TEST_F(TriodeFitTest, FitFileHasHeaderAnd101Rows) {
  std::string fit, sft;
  ParamVector P = ps.P;
  FittedText(s, ms, 1, P, ps.slot, fit, sft);
  EXPECT_TRUE(sft.empty());
  const std::vector<std::string> lines = Lines(fit);
  ASSERT_EQ(lines.size(), 102u);
  EXPECT_EQ(lines[0], "\"Va\" \"Vg= -2.0\" \"Vg= -4.0\" \"Vg= -6.0\"");
  const double vg[] = {-2.0, -4.0, -6.0};
  for (int L = 1; L <= 101; ++L) {
    const std::string& row = lines[L];
    ASSERT_EQ(row.size(), 5u + 3 * 8) << "row " << L;
    // Vmin = 0, Vmax = 300: the voltage steps by 3 V.
    const double V = 3.0 * (L - 1);
    char vtext[16];
    std::snprintf(vtext, sizeof vtext, "%5.1f", V);
    EXPECT_EQ(row.substr(0, 5), vtext) << "row " << L;
    for (int c = 0; c < 3; ++c) {
      const double got = std::atof(row.substr(5 + 8 * c, 8).c_str());
      const double want = KorenTriodeMa(V, vg[c], 100.0, 1.4, 100.0, 600.0, 300.0);
      EXPECT_NEAR(got, want, 0.005 + 1e-4 * std::fabs(want)) << "row " << L << " curve " << c + 1;
    }
  }
  // The last row at 300 V, Vg = -2 V is well above cut-off.
  EXPECT_GT(std::atof(lines[101].substr(5, 8).c_str()), 5.0);
}

TEST_F(TriodeFitTest, ScreenGridTubeGetsTheScreenCurrentFileToo) {
  Settings sp;
  sp.TubeType = 'P';
  sp.iModel = 2;
  ParamSet pp;
  ParamIdent(2, pp);
  pp.P[pp.slot.mu] = 10.0f;
  pp.P[pp.slot.ex] = 1.4f;
  pp.P[pp.slot.kG1] = 1000.0f;
  pp.P[pp.slot.kp] = 50.0f;
  pp.P[pp.slot.kVB] = 20.0f;
  pp.P[pp.slot.kG2] = 4000.0f;
  MeasurementSet mp;
  AddCurve(mp, 1, -1.0f, Sweep(0.0f, 400.0f, 50.0f, 250.0f));
  AddCurve(mp, 1, -2.0f, Sweep(0.0f, 400.0f, 50.0f, 250.0f));
  mp.file[1].SweepType = kSweepVsCst;
  std::string fit, sft;
  FittedText(sp, mp, 1, pp.P, pp.slot, fit, sft);
  const std::vector<std::string> fl = Lines(fit);
  const std::vector<std::string> sl = Lines(sft);
  ASSERT_EQ(fl.size(), 102u);
  ASSERT_EQ(sl.size(), 102u);
  EXPECT_EQ(fl[0], "\"Va\" \"Vs=250; Vg= -1.0\" \"Vs=250; Vg= -2.0\"");
  EXPECT_EQ(sl[0], fl[0]);
  // Screen current at Vs = 250 V, Vg1 = -1 V: (Vg1 + Vs/mu)^ex / kG2 = 24^1.4 / 4000 A, the same at every Va.
  const double is_ma = 1000.0 * std::pow(24.0, 1.4) / 4000.0;
  for (int L = 1; L <= 101; ++L) {
    ASSERT_EQ(sl[L].size(), 5u + 2 * 8);
    EXPECT_EQ(sl[L].substr(0, 5), fl[L].substr(0, 5));
    EXPECT_NEAR(std::atof(sl[L].substr(5, 8).c_str()), is_ma, 0.006) << "row " << L;
  }
}

TEST(FittedText, CurvesStartingAbove500VStillBeginAt500V) {
  Settings s;
  s.TubeType = 'D';
  s.iModel = 0;
  ParamSet ps;
  ParamIdent(0, ps);
  ps.P[ps.slot.k] = 1000.0f;
  ps.P[ps.slot.ex] = 1.0f;
  ps.P[ps.slot.eps] = 0.0f;
  MeasurementSet ms;
  AddCurve(ms, 1, 0.0f, Sweep(600.0f, 800.0f, 100.0f));
  AddCurve(ms, 1, 0.0f, Sweep(700.0f, 900.0f, 100.0f));
  std::string fit, sft;
  FittedText(s, ms, 1, ps.P, ps.slot, fit, sft);
  const std::vector<std::string> lines = Lines(fit);
  ASSERT_EQ(lines.size(), 102u);
  // From 500 V to the highest last point, 900 V, in steps of 4 V; the diode gives Ia (mA) = Va.
  EXPECT_EQ(lines[1], "500.0  500.00  500.00");
  EXPECT_EQ(lines[2], "504.0  504.00  504.00");
  EXPECT_EQ(lines[101], "900.0  900.00  900.00");
}

TEST(FittedText, CallersParameterVectorIsNotChangedByWrtPlot) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  Settings s;
  s.TubeType = 'T';
  s.iModel = 1;
  s.DataFile = {"t"};
  s.GnuplotPath = testsupport::StandIn();
  ParamSet ps;
  ParamIdent(1, ps);
  ps.P[ps.slot.mu] = 200.0f;  // the model caps mu at 150 in the vector it is given
  ps.P[ps.slot.ex] = 1.4f;
  ps.P[ps.slot.kG1] = 100.0f;
  ps.P[ps.slot.kp] = 600.0f;
  ps.P[ps.slot.kVB] = -300.0f;
  MeasurementSet ms;
  AddCurve(ms, 1, -2.0f, Sweep(0.0f, 100.0f, 50.0f));
  std::ostringstream console;
  WrtPlot(s, ms, ps.P, ps.slot, testsupport::ErrorsOf(s, ms, ps), console);
  EXPECT_EQ(ps.P[ps.slot.mu], 200.0f);
  EXPECT_EQ(ps.P[ps.slot.kVB], -300.0f);
}

// ---------------------------------------------------------------- scripts

PlotNames Names(const std::string& base) { return PlotNamesFor(base); }

std::string ScriptHead(bool screen) {
  return std::string("set xlabel \"Anode Voltage (V)\"\n") +
         (screen ? "set ylabel \"Screen Current (mA)\"\n" : "set ylabel \"Anode Current (mA)\"\n") +
         "set key reverse right outside\nset grid\n";
}

TEST(PlotScript, NamesOfTheOutputFiles) {
  const PlotNames n = PlotNamesFor("data/EL 34");
  EXPECT_EQ(n.dat, "data/EL 34.dat");
  EXPECT_EQ(n.fit, "data/EL 34.fit");
  EXPECT_EQ(n.sft, "data/EL 34.sft");
  EXPECT_EQ(n.plt, "data/EL 34.plt");
  EXPECT_EQ(n.spl, "data/EL 34.spl");
  EXPECT_EQ(n.png, "data/EL 34.png");
  EXPECT_EQ(n.screen_png, "data/EL 34_screen.png");
}

TEST(PlotScript, DiodeDrawsOneFittedLine) {
  EXPECT_EQ(PlotScript(Names("d"), 1, false),
            ScriptHead(false) + "plot 'd.dat','d.fit'u 1: 2w l title columnhead( 2)\n pause -1\n");
}

TEST(PlotScript, ShortCommandStaysOnOneLine) {
  EXPECT_EQ(PlotScript(Names("a"), 3, false),
            ScriptHead(false) +
                "plot 'a.dat','a.fit'u 1: 2w l title columnhead( 2),'a.fit'u 1: 3w l title columnhead( 3),"
                "'a.fit'u 1: 4w l title columnhead( 4)\n pause -1\n");
}

TEST(PlotScript, AnodeCommandSplitsAfter132Characters) {
  // "plot 'tube.dat'" is 15 characters and every item 41: the first line takes 3 items (138 > 132), the
  // next ones 4 (164).
  auto item = [](const std::string& col) {
    return ",'tube.fit'u 1:" + col + "w l title columnhead(" + col + ")";
  };
  const std::string expected =
      ScriptHead(false) + "plot 'tube.dat'" + item(" 2") + item(" 3") + item(" 4") + " \\\n" + item(" 5") +
      item(" 6") + item(" 7") + item(" 8") + " \\\n" + item(" 9") + item("10") + item("11") + "\n pause -1\n";
  EXPECT_EQ(PlotScript(Names("tube"), 10, false), expected);
}

TEST(PlotScript, ScreenCommandUsesThreeColumnNumbers) {
  // "plot 'tube.dat'u 1:3" is 20 characters and every item 43: 3 items (149) on the first line, then 4 (172).
  auto item = [](const std::string& col) {
    return ",'tube.sft'u 1:" + col + "w l title columnhead(" + col + ")";
  };
  const std::string expected = ScriptHead(true) + "plot 'tube.dat'u 1:3" + item("  2") + item("  3") +
                               item("  4") + " \\\n" + item("  5") + item("  6") + item("  7") + item("  8") +
                               " \\\n" + item("  9") + item(" 10") + item(" 11") + "\n pause -1\n";
  EXPECT_EQ(PlotScript(Names("tube"), 10, true), expected);
}

TEST(PlotScript, TwentyCurvesWithLongNamesAreSplitIntoContinuedLines) {
  const std::string base = "measurements/Philips_EL34_screen_at_250V_sweep";
  for (const bool screen : {false, true}) {
    const std::vector<std::string> lines = Lines(PlotScript(Names(base), 20, screen));
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines.back(), " pause -1");
    const std::vector<std::string> command(lines.begin() + 4, lines.end() - 1);
    ASSERT_GE(command.size(), 3u);
    EXPECT_EQ(command[0].rfind("plot '" + base + ".dat'", 0), 0u);
    std::string joined;
    for (size_t k = 0; k < command.size(); ++k) {
      const std::string& line = command[k];
      if (k > 0) {
        EXPECT_EQ(line.rfind(",'", 0), 0u) << line;
      }
      if (k + 1 < command.size()) {
        ASSERT_GE(line.size(), 2u);
        EXPECT_EQ(line.substr(line.size() - 2), " \\") << line;
        EXPECT_GT(line.size() - 2, 132u);
        joined += line.substr(0, line.size() - 2);
      } else {
        EXPECT_NE(line.back(), '\\');
        joined += line;
      }
    }
    // Joined again, the command draws every column once and in order.
    std::string unsplit = "plot '" + base + (screen ? ".dat'u 1:3" : ".dat'");
    for (int col = 2; col <= 21; ++col) {
      char num[8];
      std::snprintf(num, sizeof num, screen ? "%3d" : "%2d", col);
      unsplit += ",'" + base + (screen ? ".sft" : ".fit") + "'u 1:" + num + "w l title columnhead(" + num + ")";
    }
    EXPECT_EQ(joined, unsplit);
  }
}

TEST(PlotScript, FileWithoutCurvesPlotsOnlyTheMeasuredPoints) {
  EXPECT_EQ(PlotScript(Names("e"), 0, true), ScriptHead(true) + "plot 'e.dat'u 1:3\n pause -1\n");
}

// ---------------------------------------------------------------- script order and argument vectors

Settings TwoFiles(char tube) {
  Settings s;
  s.TubeType = tube;
  s.DataFile = {"first", "second"};
  return s;
}

TEST(ScriptList, PentodeGetsBothScriptsOfEachFileInFileOrder) {
  EXPECT_EQ(ScriptList(TwoFiles('P')),
            (std::vector<std::string>{"first.plt", "first.spl", "second.plt", "second.spl"}));
}

TEST(ScriptList, TriodeGetsOneScriptPerFile) {
  EXPECT_EQ(ScriptList(TwoFiles('T')), (std::vector<std::string>{"first.plt", "second.plt"}));
  EXPECT_EQ(ScriptList(TwoFiles('D')), (std::vector<std::string>{"first.plt", "second.plt"}));
}

TEST(GnuplotArgs, PathThenPersistThenScripts) {
  EXPECT_EQ(GnuplotArgs("/opt/my tools/gnuplot", {"a.plt", "a.spl"}),
            (std::vector<std::string>{"/opt/my tools/gnuplot", "-persist", "a.plt", "a.spl"}));
}

TEST(GnuplotArgs, LongCommandIsKeptWhole) {
  Settings s;
  s.TubeType = 'P';
  for (int f = 1; f <= 20; ++f) s.DataFile.push_back(std::string(40, 'a' + static_cast<char>(f - 1)));
  const std::vector<std::string> argv = GnuplotArgs("/usr/bin/gnuplot", ScriptList(s));
  ASSERT_EQ(argv.size(), 42u);
  EXPECT_EQ(argv[41], std::string(40, 't') + ".spl");
  size_t total = 0;
  for (const std::string& a : argv) total += a.size() + 1;
  EXPECT_GT(total, 512u);
}

TEST(GnuplotImageArgs, TerminalOutputAndCommandsOfEachImage) {
  const std::string terminal =
      "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) { set terminal pngcairo size 1024,768 } "
      "else { set terminal png size 1024,768 }";
  EXPECT_EQ(ImageTerminal(ImageKind::kPng, 1024, 768), terminal);
  EXPECT_EQ(ImageTerminal(ImageKind::kSvg, 800, 600), "set terminal svg size 800,600 background rgb 'white'");
  EXPECT_EQ(GnuplotImageArgs("/usr/bin/gnuplot", {{"a.png", terminal, "plot 1", ""}, {"o'k.svg", "T", "plot 2", ""}}),
            (std::vector<std::string>{"/usr/bin/gnuplot", "-e", terminal + "; set output 'a.png'; plot 1; set output",
                                      "-e", "T; set output 'o''k.svg'; plot 2; set output"}));
}

// ---------------------------------------------------------------- process start

TEST(RunProgramArgs, ReturnsTheExitStatus) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  EXPECT_EQ(RunProgramArgs({testsupport::StandIn()}), 0);
  EXPECT_EQ(RunProgramArgs({WriteExecutable(dir.path() + "/false", "exit 1\n")}), 1);
  EXPECT_EQ(RunProgramArgs({WriteExecutable(dir.path() + "/three", "exit 3\n")}), 3);
}

TEST(RunProgramArgs, NameWithoutSlashIsLookedUpOnPath) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  WriteExecutable(dir.path() + "/seven", "exit 7\n");
  const char* path = std::getenv("PATH");
  const std::string saved = path == nullptr ? "" : path;
  const std::string separator = testsupport::kWindows ? ";" : ":";
  testsupport::SetEnv("PATH", (saved + separator + dir.path()).c_str());
  EXPECT_EQ(RunProgramArgs({"seven"}), 7);
  EXPECT_TRUE(ProgramFound("seven"));
  testsupport::SetEnv("PATH", saved.c_str());
  EXPECT_FALSE(ProgramFound("seven"));
}

#ifndef _WIN32
TEST(RunProgramArgs, SignalEndGivesItsNumberAbove128) {
  EXPECT_EQ(RunProgramArgs({"/bin/sh", "-c", "kill -9 $$"}), 128 + 9);
}
#endif

TEST(RunProgramArgs, ProgramThatCannotStartGivesMinusOne) {
  EXPECT_EQ(RunProgramArgs({}), -1);
  EXPECT_EQ(RunProgramArgs({""}), -1);
  EXPECT_EQ(RunProgramArgs({"/nonexistent/dir/gnuplot", "-persist"}), -1);
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  std::ofstream("plain.txt") << "not a program\n";
  EXPECT_EQ(RunProgramArgs({dir.path() + "/plain.txt"}), -1);
}

TEST(RunProgramArgs, ArgumentsArriveUnchangedWithoutAShell) {
  TempDir dir("tubefit plot ");
  ASSERT_TRUE(dir.ok());
  const std::string program = WriteExecutable(dir.path() + "/fake gnuplot", kRecorder);
  EXPECT_EQ(RunProgramArgs({program, "-persist", "a b.plt", "$HOME", "it's;ls", ""}), 0);
  EXPECT_EQ(ReadFile("args.txt"), "-persist\na b.plt\n$HOME\nit's;ls\n\n");
}

TEST(RunProgramArgs, NullInputGivesEndOfFile) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  WriteExecutable("reader", "stdin stdin.txt\n");
  EXPECT_EQ(RunProgramArgs({"./reader"}, ChildInput::kNull), 0);
  EXPECT_EQ(ReadFile("stdin.txt"), "eof\n");
}

// ---------------------------------------------------------------- WrtPlot

class WrtPlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.ok());
    fake = WriteExecutable(dir.path() + "/fake gnuplot", kRecorder);
  }

  // A diode with Ia (mA) = Va: k = 1000, ex = 1, eps = 0; one curve 0..100 V.
  void Diode() {
    s.TubeType = 'D';
    s.iModel = 0;
    s.DataFile = {"d"};
    s.GnuplotPath = fake;
    ParamIdent(0, ps);
    ps.P[ps.slot.k] = 1000.0f;
    ps.P[ps.slot.ex] = 1.0f;
    ps.P[ps.slot.eps] = 0.0f;
    AddCurve(ms, 1, 0.0f,
             {{0, 0, 0, 0}, {25, 0.0025f, 0, 0}, {50, 0.005f, 0, 0}, {75, 0.0075f, 0, 0}, {100, 0.01f, 0, 0}});
  }

  // Two constant-screen pentode files, two curves each.
  void Pentode() {
    s.TubeType = 'P';
    s.iModel = 2;
    s.DataFile = {"p1", "p2"};
    s.GnuplotPath = fake;
    ParamIdent(2, ps);
    ps.P[ps.slot.mu] = 10.0f;
    ps.P[ps.slot.ex] = 1.4f;
    ps.P[ps.slot.kG1] = 1000.0f;
    ps.P[ps.slot.kp] = 50.0f;
    ps.P[ps.slot.kVB] = 20.0f;
    ps.P[ps.slot.kG2] = 4000.0f;
    for (int f = 1; f <= 2; ++f) {
      AddCurve(ms, f, -1.0f, Sweep(0.0f, 300.0f, 50.0f, 200.0f));
      AddCurve(ms, f, -2.0f, Sweep(0.0f, 300.0f, 50.0f, 200.0f));
      ms.file[f].SweepType = kSweepVsCst;
    }
  }

  TempDir dir{"tubefit plot "};
  std::string fake;
  Settings s;
  ParamSet ps;
  MeasurementSet ms;
  std::ostringstream console;
};

TEST_F(WrtPlotTest, DiodeFilesAndGnuplotStart) {
  Diode();
  WrtPlot(s, ms, ps.P, ps.slot, testsupport::ErrorsOf(s, ms, ps), console);
  EXPECT_EQ(console.str(), "");
  EXPECT_EQ(ReadFile("d.dat"),
            "   0.00000   0.00000   0.00000\n"
            "  25.00000   2.50000   0.00000\n"
            "  50.00000   5.00000   0.00000\n"
            "  75.00000   7.50000   0.00000\n"
            " 100.00000  10.00000   0.00000\n");
  std::string fit = " Va    Ia\n";
  for (int v = 0; v <= 100; ++v) fit += ExpectedRow(static_cast<float>(v), {static_cast<float>(v)}) + "\n";
  EXPECT_EQ(ReadFile("d.fit"), fit);
  EXPECT_EQ(ReadFile("d.plt"), ScriptHead(false) + "plot 'd.dat','d.fit'u 1: 2w l title columnhead( 2)\n pause -1\n");
  EXPECT_FALSE(FileNonEmpty("d.sft"));
  EXPECT_FALSE(FileNonEmpty("d.spl"));
  EXPECT_EQ(ReadFile("args.txt"), "-persist\nd.plt\n");
}

TEST_F(WrtPlotTest, TwoPentodeFilesGiveFourScriptsInOrder) {
  Pentode();
  WrtPlot(s, ms, ps.P, ps.slot, testsupport::ErrorsOf(s, ms, ps), console);
  EXPECT_EQ(console.str(), "");
  for (const char* name : {"p1.dat", "p1.fit", "p1.sft", "p1.plt", "p1.spl", "p2.dat", "p2.fit", "p2.sft",
                           "p2.plt", "p2.spl"})
    EXPECT_TRUE(FileNonEmpty(name)) << name;
  EXPECT_EQ(ReadFile("args.txt"), "-persist\np1.plt\np1.spl\np2.plt\np2.spl\n");
  EXPECT_EQ(Lines(ReadFile("p2.spl"))[4],
            "plot 'p2.dat'u 1:3,'p2.sft'u 1:  2w l title columnhead(  2),'p2.sft'u 1:  3w l title columnhead(  3)");
}

TEST_F(WrtPlotTest, TwoTriodeFilesGiveTwoScripts) {
  s.TubeType = 'T';
  s.iModel = 1;
  s.DataFile = {"t1", "t2"};
  s.GnuplotPath = fake;
  ParamIdent(1, ps);
  ps.P[ps.slot.mu] = 100.0f;
  ps.P[ps.slot.ex] = 1.4f;
  ps.P[ps.slot.kG1] = 100.0f;
  ps.P[ps.slot.kp] = 600.0f;
  ps.P[ps.slot.kVB] = 300.0f;
  AddCurve(ms, 1, -2.0f, Sweep(0.0f, 300.0f, 50.0f));
  AddCurve(ms, 2, -4.0f, Sweep(0.0f, 300.0f, 50.0f));
  WrtPlot(s, ms, ps.P, ps.slot, testsupport::ErrorsOf(s, ms, ps), console);
  EXPECT_EQ(ReadFile("args.txt"), "-persist\nt1.plt\nt2.plt\n");
  EXPECT_FALSE(FileNonEmpty("t1.sft"));
  EXPECT_FALSE(FileNonEmpty("t1.spl"));
}

TEST_F(WrtPlotTest, GnuplotErrorStatusIsIgnored) {
  Diode();
  WriteExecutable(fake, "exit 3\n");
  WrtPlot(s, ms, ps.P, ps.slot, testsupport::ErrorsOf(s, ms, ps), console);
  EXPECT_EQ(console.str(), "");
}

TEST_F(WrtPlotTest, MissingGnuplotIsReportedAndTheRunGoesOn) {
  Diode();
  s.GnuplotPath = "/nonexistent/bin/gnuplot";
  WrtPlot(s, ms, ps.P, ps.slot, testsupport::ErrorsOf(s, ms, ps), console);
  EXPECT_EQ(console.str(),
            " Unable to start gnuplot /nonexistent/bin/gnuplot; the plot files and scripts are written.\n");
  EXPECT_TRUE(FileNonEmpty("d.fit"));
  EXPECT_TRUE(FileNonEmpty("d.plt"));
}

TEST_F(WrtPlotTest, GnuplotNoneOrWithoutDisplayIsNotStarted) {
  Diode();
  s.GnuplotPath = "none";
  WrtPlot(s, ms, ps.P, ps.slot, testsupport::ErrorsOf(s, ms, ps), console);
  EXPECT_EQ(console.str(), " gnuplot is not started (gnuplot line none); the plot files and scripts are written.\n");
  // A program named gnuplot without a display would wait at "pause -1" drawing nothing.
  s.GnuplotPath = WriteExecutable(dir.path() + "/gnuplot", kRecorder);
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display == nullptr ? "" : display;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "GNUTERM"}) testsupport::SetEnv(name, nullptr);
  console.str("");
  WrtPlot(s, ms, ps.P, ps.slot, testsupport::ErrorsOf(s, ms, ps), console);
  if (testsupport::kWindows) {
    // Windows always has a display: gnuplot is started there.
    EXPECT_EQ(console.str(), "");
    EXPECT_EQ(ReadFile("args.txt"), "-persist\nd.plt\n");
  } else {
    EXPECT_EQ(console.str(),
              " No display (DISPLAY and WAYLAND_DISPLAY are not set): gnuplot is not started; the plot files and "
              "scripts are written.\n For PNG images of the plots add the line PlotPng = 1 to Model.ini.\n");
    EXPECT_FALSE(FileNonEmpty("args.txt"));
  }
  if (!saved.empty()) testsupport::SetEnv("DISPLAY", saved.c_str());
}

TEST_F(WrtPlotTest, FileThatCannotBeWrittenStopsNamingIt) {
  Diode();
  s.DataFile[1] = "no_such_dir/d";
  try {
    WrtPlot(s, ms, ps.P, ps.slot, testsupport::ErrorsOf(s, ms, ps), console);
    FAIL() << "no stop";
  } catch (const Stop& stop) {
    ASSERT_EQ(stop.lines().size(), 1u);
    EXPECT_EQ(stop.lines()[0], " Cannot write file no_such_dir/d.dat.");
  }
}

TEST_F(WrtPlotTest, PngRunGetsNullInputAndImageCommands) {
  Pentode();
  s.PlotPng = true;
  s.ModelName = "EF86";
  WriteExecutable(fake,
                  "args args.txt\nstdin stdin.txt\ntouch p1.png\ntouch p1_screen.png\ntouch p2.png\n"
                  "touch p2_screen.png\ntouch EF86_overview.png\n");
  WrtPlot(s, ms, ps.P, ps.slot, testsupport::ErrorsOf(s, ms, ps), console);
  EXPECT_EQ(console.str(),
            " Plot image written: p1.png\n"
            " Plot image written: p1_screen.png\n"
            " Plot image written: p2.png\n"
            " Plot image written: p2_screen.png\n"
            " Plot image written: EF86_overview.png\n");
  EXPECT_EQ(ReadFile("stdin.txt"), "eof\n");
  const std::vector<std::string> args = Lines(ReadFile("args.txt"));
  ASSERT_EQ(args.size(), 10u);
  EXPECT_EQ(args[0], "-e");
  EXPECT_NE(args[1].find("'p1.png'; set termoption noenhanced; set title \"p1: pentode, Koren model"), std::string::npos);
  EXPECT_NE(args[3].find("'p1_screen.png'; set termoption noenhanced; set title \"p1 (screen current): "), std::string::npos);
  // The screen image has no Pmax curve; the overview holds all four plots in two columns.
  EXPECT_EQ(args[3].find("Pmax"), std::string::npos);
  EXPECT_NE(args[9].find("set output 'EF86_overview.png'; set multiplot layout 2,2; "), std::string::npos);
  EXPECT_EQ(args[9].substr(args[9].size() - 29), "; unset multiplot; set output");
  // The scripts stay as specified; the points of the images are in their own file, a block per curve.
  EXPECT_EQ(Lines(ReadFile("p1.plt"))[4].substr(0, 12), "plot 'p1.dat");
  EXPECT_EQ(Lines(ReadFile("p1.pts")).size(), 2u * 7u + 2u);
}

TEST_F(WrtPlotTest, ImageCommandsTitleRangeColoursPointsAndPmax) {
  // Measured 2.5, 5, 7.5, 10 mA against fitted 25, 50, 75, 100 mA at 25..100 V (and 0 at 0 V): RMS error
  // sqrt((0^2 + 22.5^2 + 45^2 + 67.5^2) / 4) = 42.09 mA over the 4 points with Va Ia < 0.6 W (the last, 1 W,
  // is outside: hollow); y range 0 to 10 mA plus 5 %; the Pmax hyperbola 600 mA V / Va.
  Diode();
  s.Pmax = 0.6f;
  EXPECT_EQ(ImageCommands(s, ms, 1, testsupport::ErrorsOf(s, ms, ps), false),
            "set termoption noenhanced; set title \"d: diode, Koren model\\nRMS error 42.1 mA over 4 points in the "
            "fit\\nmeasured points: filled inside the fit window, hollow outside\"; set xlabel 'Anode Voltage (V)'; "
            "set ylabel 'Anode Current (mA)'; set key reverse Left right outside noautotitle; set grid; set samples "
            "500; set yrange [0:10.5]; plot 'd.fit' skip 1 u 1:2 w l lw 1.5 lc rgb '#e6194b' title 'fitted', "
            "'d.pts' index 0 u 1:2:($4 > 0 ? 7 : 6) w p pt variable ps 0.8 lc rgb '#e6194b', (x > 0 ? 600 / x : "
            "1/0) w l dt 2 lw 1.5 lc rgb '#505050' title 'Pmax = 0.6 W (Ia = Pmax/Va)'");
  EXPECT_EQ(PointsText(s, ms, 1),
            "   0.00000   0.00000   0.00000 1\n  25.00000   2.50000   0.00000 1\n  50.00000   5.00000   0.00000 1\n"
            "  75.00000   7.50000   0.00000 1\n 100.00000  10.00000   0.00000 0\n");
}

TEST_F(WrtPlotTest, FailedPngRunSaysNoImagesWereMade) {
  Diode();
  s.PlotPng = true;
  WriteExecutable(fake, "exit 1\n");
  std::ofstream("d.png") << "old image of an earlier run";
  WrtPlot(s, ms, ps.P, ps.slot, testsupport::ErrorsOf(s, ms, ps), console);
  EXPECT_EQ(console.str(), " gnuplot ended with exit status 1; no plot images were made.\n");
  EXPECT_FALSE(FileNonEmpty("d.png"));
  EXPECT_TRUE(FileNonEmpty("d.plt"));
}

TEST_F(WrtPlotTest, PartlyFailedPngRunNamesTheImagesMade) {
  Pentode();
  s.PlotPng = true;
  WriteExecutable(fake, "touch p1.png\nexit 1\n");
  WrtPlot(s, ms, ps.P, ps.slot, testsupport::ErrorsOf(s, ms, ps), console);
  EXPECT_EQ(console.str(),
            " gnuplot ended with exit status 1; only these plot images were made:\n"
            " Plot image written: p1.png\n");
}

TEST_F(WrtPlotTest, PngRunWithMissingGnuplotSaysNoImagesWereMade) {
  Diode();
  s.PlotPng = true;
  s.GnuplotPath = "/nonexistent/bin/gnuplot";
  WrtPlot(s, ms, ps.P, ps.slot, testsupport::ErrorsOf(s, ms, ps), console);
  EXPECT_EQ(console.str(), " Unable to start gnuplot /nonexistent/bin/gnuplot; no plot images were made.\n");
}

}  // namespace
}  // namespace tubefit
