#include "driver/fit_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "fit/objective.h"
#include "ini_fixture.h"
#include "models/models.h"
#include "process_support.h"

namespace tubefit {
namespace {

// A diode with k = 1000, ex = 1, eps = 0: the model current is Va / 1000 A, so every error is easy to work
// out by hand.
class DiodeReport : public ::testing::Test {
 protected:
  void SetUp() override {
    ms_ = std::make_unique<MeasurementSet>();
    ms_->NFiles = 1;
    MeasFile& file = ms_->file[1];
    file.NVg = 3;
    // Curve 1: errors +1 mA and -0.5 mA; its third point (40 W) lies outside the window.
    AddCurve(file.curve[1], 0.0f, {{100.0f, 0.101f}, {50.0f, 0.0495f}, {200.0f, 0.2f}});
    // Curve 2: one point, error +0.2 mA.
    AddCurve(file.curve[2], -1.0f, {{10.0f, 0.0102f}});
    // Curve 3: no point inside the window.
    AddCurve(file.curve[3], -2.0f, {{300.0f, 0.3f}});

    settings_.DataFile = {"d1"};
    settings_.TubeType = 'D';
    settings_.iModel = 0;
    settings_.Pmax = 30.0f;
    settings_.Icmax = 1.0f;
    ParamIdent(0, ps_);
    ps_.P[ps_.slot.k] = 1000.0f;
    ps_.P[ps_.slot.ex] = 1.0f;
    ps_.P[ps_.slot.eps] = 0.0f;
  }

  static void AddCurve(MeasCurve& curve, float Vg1, const std::vector<std::pair<float, float>>& points) {
    curve.Vg1 = Vg1;
    for (const auto& [Va, Ia] : points) {
      MeasPoint& m = curve.pt[++curve.NPts];
      m.Va = Va;
      m.Vs = Va;
      m.Ia = Ia;
    }
  }

  std::unique_ptr<MeasurementSet> ms_;
  Settings settings_;
  ParamSet ps_;
};

TEST_F(DiodeReport, ErrorsPerCurveAgainstHandValues) {
  const FitErrors e = ComputeFitErrors(FitObjective(*ms_, 30.0f, 1.0f, 0, ps_.slot), ps_.P);
  ASSERT_EQ(e.curves.size(), 3u);
  EXPECT_FALSE(e.screen);
  EXPECT_EQ(e.curves[0].points, 2);
  EXPECT_NEAR(e.curves[0].sum_ia, 1.25e-6, 2e-11);  // float data: 1e-5 relative
  EXPECT_NEAR(e.curves[0].max_ia, 1.0e-3, 1e-8);
  EXPECT_EQ(e.curves[1].points, 1);
  EXPECT_NEAR(e.curves[1].sum_ia, 4.0e-8, 1e-12);
  EXPECT_EQ(e.curves[2].points, 0);
  EXPECT_EQ(e.total.points, 3);
  EXPECT_NEAR(e.total.sum_ia, 1.29e-6, 2e-11);
}

TEST_F(DiodeReport, SquareSumIsTheObjectiveItself) {
  const FitErrors e = ComputeFitErrors(FitObjective(*ms_, 30.0f, 1.0f, 0, ps_.slot), ps_.P);
  const FitObjective objective(*ms_, 30.0f, 1.0f, 0, ps_.slot);
  EXPECT_EQ(e.R2, objective(ps_.P));
  EXPECT_NEAR(e.total.sum_ia + e.total.sum_is, e.R2, 1e-6 * e.R2);
}

TEST_F(DiodeReport, LinesOfTheReport) {
  const FitErrors e = ComputeFitErrors(FitObjective(*ms_, 30.0f, 1.0f, 0, ps_.slot), ps_.P);
  const std::vector<std::string> lines = FitReportLines(e, settings_);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], " Fit errors in mA (measured minus fitted current) over the points in the fit:");
  EXPECT_EQ(lines[1], " file  Vg1 (V)  points    Ia RMS    Ia max");
  EXPECT_EQ(lines[2], " d1       0.00       2    0.7906    1.0000");
  EXPECT_EQ(lines[3], " d1      -1.00       1    0.2000    0.2000");
  EXPECT_EQ(lines[4], " d1      -2.00       0         -         -");
  EXPECT_EQ(lines[5], " all                 3    0.6557    1.0000");
  EXPECT_EQ(lines[6].rfind(" Sum of squared errors =    1.29", 0), 0u) << lines[6];
  EXPECT_NE(lines[6].find("E-06 A^2 (the R2 of the fit)"), std::string::npos) << lines[6];
}

// A pentode: the screen current enters the report as it enters the objective.
TEST(PentodeReport, ScreenColumnsAndTheObjectiveSum) {
  auto ms = std::make_unique<MeasurementSet>();
  ms->NFiles = 2;
  ParamSet ps;
  ParamIdent(12, ps);
  ps.P[ps.slot.mu] = 20.0f;
  ps.P[ps.slot.ex] = 1.35f;
  ps.P[ps.slot.kG1] = 700.0f;
  ps.P[ps.slot.kp] = 300.0f;
  ps.P[ps.slot.kVB] = 20.0f;
  ps.P[ps.slot.kG2] = 4000.0f;
  ps.P[ps.slot.alpha_s] = 5.0f;
  ps.P[ps.slot.beta] = 0.1f;
  ps.P[ps.slot.A] = 1e-4f;
  for (int f = 1; f <= 2; ++f) {
    MeasFile& file = ms->file[f];
    file.NVg = 2;
    for (int c = 1; c <= 2; ++c) {
      MeasCurve& curve = file.curve[c];
      curve.Vg1 = -2.0f * c;
      for (int p = 1; p <= 5; ++p) {
        MeasPoint& m = curve.pt[++curve.NPts];
        m.Va = 40.0f * p;
        m.Vs = 150.0f + 50.0f * f;
        float Ia = 0.0f, Is = 0.0f;
        ParamVector Q = ps.P;
        Model(12, m.Va, m.Vs, curve.Vg1, 0.0f, Q, ps.slot, Ia, Is);
        m.Ia = Ia + 1e-4f * p;   // errors of 0.1 .. 0.5 mA
        m.Is = Is - 2e-5f;       // error of -0.02 mA everywhere
      }
    }
  }
  Settings settings;
  settings.DataFile = {"el84_vs200", "el84_vs250"};
  settings.TubeType = 'P';
  settings.iModel = 12;
  const FitErrors e = ComputeFitErrors(FitObjective(*ms, 100.0f, 1.0f, 12, ps.slot), ps.P);
  EXPECT_TRUE(e.screen);
  ASSERT_EQ(e.curves.size(), 4u);
  for (const CurveErrors& c : e.curves) {
    EXPECT_EQ(c.points, 5);
    EXPECT_NEAR(c.max_ia, 5e-4f, 1e-6f);
    EXPECT_NEAR(c.max_is, 2e-5f, 1e-7f);
  }
  const FitObjective objective(*ms, 100.0f, 1.0f, 12, ps.slot);
  EXPECT_EQ(e.R2, objective(ps.P));

  const std::vector<std::string> lines = FitReportLines(e, settings);
  EXPECT_EQ(lines[1], " file        Vg1 (V)  points    Ia RMS    Ia max    Is RMS    Is max");
  // RMS of 0.1..0.5 mA is sqrt(11)/10 = 0.3317 mA.
  EXPECT_EQ(lines[2], " el84_vs200    -2.00       5    0.3317    0.5000    0.0200    0.0200");
  EXPECT_EQ(lines[6], " all" + std::string(22, ' ') + "20    0.3317    0.5000    0.0200    0.0200");
}

class FitReportFile : public IniDirTest {};

TEST_F(FitReportFile, ConsoleAndFileHoldTheSameTable) {
  auto ms = std::make_unique<MeasurementSet>();
  ms->NFiles = 1;
  ms->file[1].NVg = 1;
  MeasCurve& curve = ms->file[1].curve[1];
  curve.NPts = 1;
  curve.pt[1].Va = 100.0f;
  curve.pt[1].Ia = 0.101f;
  Settings settings;
  settings.DataFile = {"d1"};
  settings.TubeType = 'D';
  settings.iModel = 0;
  settings.Pmax = 30.0f;
  ParamSet ps;
  ParamIdent(0, ps);
  ps.P[ps.slot.k] = 1000.0f;
  ps.P[ps.slot.ex] = 1.0f;
  std::ostringstream console;
  WriteFitReport(settings, testsupport::ErrorsOf(settings, *ms, ps), console);
  std::ifstream in("Fit.txt");
  std::stringstream file;
  file << in.rdbuf();
  const std::vector<std::string> printed = SplitLines(console.str());
  const std::vector<std::string> written = SplitLines(file.str());
  ASSERT_EQ(written.size(), 5u);
  ASSERT_EQ(printed.size(), 6u);
  for (size_t i = 0; i < written.size(); ++i) EXPECT_EQ(printed[i], written[i]);
  EXPECT_EQ(written[2], " d1       0.00       1    1.0000    1.0000");
  EXPECT_EQ(printed[5], " Fit report written to file Fit.txt");
}

}  // namespace
}  // namespace tubefit

namespace tubefit {
namespace {

// A whole triode run with the report on: the table stands after the standard variances, and its sum is the
// R2 that the fit printed last.
class FitReportRun : public IniDirTest {};

TEST_F(FitReportRun, ReportFollowsTheStandardVariancesWithTheFitsR2) {
  std::filesystem::copy_file(std::string(TUBEFIT_SOURCE_DIR) + "/examples/triode/ecc83.utd", "ecc83.utd");
  WriteFile("Model.ini", Lines({testsupport::StandIn(), "1", "ecc83", "T", "Koren", "1.0", "0.0", "FitReport = 1"}));
  const char* argv[] = {"tubefit", nullptr};
  std::ostringstream out;
  std::istringstream in;
  in.setstate(std::ios::eofbit);
  Console console{out, in};
  ASSERT_EQ(RunProgram(1, argv, console), 0) << out.str();
  const std::vector<std::string> lines = SplitLines(out.str());

  size_t sv = 0, head = 0, r2 = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == " Standard variances (in %) for each parameter:") sv = i;
    if (lines[i].rfind(" Fit errors in mA", 0) == 0) head = i;
    if (lines[i].rfind(" After refinement R2 = ", 0) == 0) r2 = i;
  }
  ASSERT_GT(sv, 0u);
  ASSERT_EQ(head, sv + 6) << "five parameters, then the report";
  ASSERT_LT(head + 13, lines.size());
  EXPECT_EQ(lines[head + 2].substr(0, 24), " ecc83     0.00      27 ");
  EXPECT_EQ(lines[head + 11].substr(0, 23), " all                274");
  const std::string fit_r2 = lines[r2].substr(std::string(" After refinement R2 = ").size());
  EXPECT_EQ(lines[head + 12], " Sum of squared errors = " + fit_r2 + " A^2 (the R2 of the fit)");
  EXPECT_EQ(lines[head + 13], " Fit report written to file Fit.txt");

  std::ifstream file("Fit.txt");
  std::stringstream text;
  text << file.rdbuf();
  const std::vector<std::string> written = SplitLines(text.str());
  ASSERT_EQ(written.size(), 13u);
  for (size_t i = 0; i < written.size(); ++i) EXPECT_EQ(written[i], lines[head + i]);
}

TEST(FitReportLines, ParametersTheDataDoNotDetermine) {
  // Above 100 % in magnitude only (the ECF80 NoltE beta of -8.6E+05 %); NaN is announced by the table.
  ParamVector SV{0.0f, 100.0f, -8.6e5f, std::nanf("")};
  std::array<std::string, MxNP + 1> names{"", "kG1                 ", "beta                ", "A"};
  EXPECT_EQ(UndeterminedParameterLines(3, SV, names),
            std::vector<std::string>{" The data do not determine beta: its standard variance is  860000.000000 %, "
                                     "more than its value; other values fit as well."});
}

TEST_F(FitReportRun, NoReportWithoutTheKeyword) {
  std::filesystem::copy_file(std::string(TUBEFIT_SOURCE_DIR) + "/examples/triode/ecc83.utd", "ecc83.utd");
  WriteFile("Model.ini", Lines({testsupport::StandIn(), "1", "ecc83", "T", "Koren", "1.0", "0.0"}));
  const char* argv[] = {"tubefit", nullptr};
  std::ostringstream out;
  std::istringstream in;
  in.setstate(std::ios::eofbit);
  Console console{out, in};
  ASSERT_EQ(RunProgram(1, argv, console), 0);
  EXPECT_EQ(out.str().find("Fit errors"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists("Fit.txt"));
}

}  // namespace
}  // namespace tubefit
