// The measurement sets are built in memory; expected lines are written out by hand from the formats.
#include "checks/checks.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "text/stop.h"

namespace tubefit {
namespace {

struct Pt {
  float Va, Ia, Is, Vs;
};

class ChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ms_ = std::make_unique<MeasurementSet>();
    s_.Pmax = 100.0f;
    s_.Icmax = 1.0f;
    s_.iModel = 4;  // a code without a parameter set: the count of points with current is no limit here
  }
  // Appends a curve to file f (files are counted as they appear).
  void AddCurve(int f, float vg1, const std::vector<Pt>& pts) {
    if (f > ms_->NFiles) ms_->NFiles = f;
    MeasFile& mf = ms_->file[f];
    MeasCurve& c = mf.curve[++mf.NVg];
    c.Vg1 = vg1;
    c.NPts = 0;
    for (const Pt& p : pts) c.pt[++c.NPts] = MeasPoint{p.Ia, p.Is, p.Va, p.Vs};
  }
  // n curves of two points each in file f.
  void AddPlainCurves(int f, int n) {
    for (int k = 1; k <= n; ++k) AddCurve(f, -1.0f * k, {{10, 0.001f, 0.001f, 100}, {20, 0.002f, 0.001f, 100}});
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }
  static Stop StopOf(const std::function<void()>& call) {
    try {
      call();
    } catch (const Stop& stop) {
      return stop;
    }
    ADD_FAILURE() << "no stop";
    return Stop(Stop::Kind::kWithText, {}, "none");
  }

  Settings s_;
  std::unique_ptr<MeasurementSet> ms_;
  std::ostringstream out_;
};

std::vector<std::string> Block(const std::string& number_line, const char* extra) {
  std::vector<std::string> lines = {" ", " !! CheckSufficientData reports too little data", number_line};
  if (extra != nullptr) lines.push_back(extra);
  lines.push_back(" Fit will proceed but results may not be trustworthy!!");
  lines.push_back(" ");
  return lines;
}

const std::string kVg5 = " Number of Vg values should at least be          5";
const std::string kVg3 = " Number of Vg values should at least be          3";
const std::string kVg8 = " Number of Vg values should at least be          8";
const std::string kVg2 = " Number of Vg2 values should at least be          3";

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---- CheckSufficientData ----

using SufficientData = ChecksTest;

TEST_F(SufficientData, TriodeWithFiveCurvesHasNoWarning) {
  s_.TubeType = 'T';
  AddPlainCurves(1, 3);
  AddPlainCurves(2, 2);
  EXPECT_EQ(CheckSufficientData(s_, *ms_, out_), 10);
  const std::vector<std::string> expected = {
      " Total number of datapoints in the fit equals:   10.",
      " This is 100.0% of the total number    10 of datapoints."};
  EXPECT_EQ(Lines(), expected);
}

TEST_F(SufficientData, TriodeWithFourCurvesWarnsWithFive) {
  s_.TubeType = 'X';
  AddPlainCurves(1, 4);
  EXPECT_EQ(CheckSufficientData(s_, *ms_, out_), 8);
  const std::vector<std::string> expected =
      Join(Block(kVg5, nullptr), {" Total number of datapoints in the fit equals:    8.",
                                  " This is 100.0% of the total number     8 of datapoints."});
  EXPECT_EQ(Lines(), expected);
}

TEST_F(SufficientData, PentodeWithTwoFilesGetsOnlyTheScreenWarning) {
  s_.TubeType = 'P';
  AddPlainCurves(1, 5);
  AddPlainCurves(2, 5);
  CheckSufficientData(s_, *ms_, out_);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5), Block(kVg2, nullptr));
}

TEST_F(SufficientData, PentodeWithEightCurvesGetsOnlyTheCurveWarning) {
  s_.TubeType = 'B';
  AddPlainCurves(1, 3);
  AddPlainCurves(2, 3);
  AddPlainCurves(3, 2);
  CheckSufficientData(s_, *ms_, out_);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6), Block(kVg3, " per Vg2 value."));
}

TEST_F(SufficientData, PentodeWithThreeFilesAndNineCurvesPasses) {
  s_.TubeType = 'P';
  AddPlainCurves(1, 3);
  AddPlainCurves(2, 3);
  AddPlainCurves(3, 3);
  CheckSufficientData(s_, *ms_, out_);
  EXPECT_EQ(Lines().size(), 2u);
}

TEST_F(SufficientData, VariableMuWarnsForEachShortFile) {
  s_.TubeType = 'V';
  AddPlainCurves(1, 8);
  AddPlainCurves(2, 7);
  AddPlainCurves(3, 8);
  CheckSufficientData(s_, *ms_, out_);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
            Block(kVg8, " per Vg2 value for a variable-mu pentode."));
}

TEST_F(SufficientData, OtherTubesHaveNoCountCheck) {
  for (char tube : {'D', 'Y', 'H', 'F'}) {
    s_.TubeType = tube;
    ms_ = std::make_unique<MeasurementSet>();
    out_.str("");
    AddPlainCurves(1, 1);
    EXPECT_EQ(Lines().size(), 0u);
    CheckSufficientData(s_, *ms_, out_);
    EXPECT_EQ(Lines().size(), 2u) << tube;
  }
}

TEST_F(SufficientData, PointsOutsideTheLimitsUseTwoDecimals) {
  s_.TubeType = 'D';
  s_.Pmax = 1.0f;    // W
  s_.Icmax = 0.078125f;  // A, exact in binary
  AddCurve(1, 0.0f,
           {{10, 0.01f, 0.0f, 0},          // 0.1 W, 10 mA: in
            {128, 0.0078125f, 0.0f, 0},    // exactly 1 W: not below Pmax
            {10, 0.046875f, 0.03125f, 0},  // 78.125 mA cathode current: not below Icmax
            {20, 0.02f, 0.01f, 0}});       // 0.4 W, 30 mA: in
  EXPECT_EQ(CheckSufficientData(s_, *ms_, out_), 2);
  const std::vector<std::string> expected = {
      " Total number of datapoints in the fit equals:    2.",
      " This is 50.00% of the total number     4 of datapoints."};
  EXPECT_EQ(Lines(), expected);
}

TEST_F(SufficientData, OneOfThreeOutsideIsSixtySixPointSixSeven) {
  s_.TubeType = 'D';
  s_.Pmax = 1.0f;
  AddCurve(1, 0.0f, {{10, 0.01f, 0, 0}, {20, 0.01f, 0, 0}, {1000, 0.01f, 0, 0}});
  EXPECT_EQ(CheckSufficientData(s_, *ms_, out_), 2);
  EXPECT_EQ(Lines().back(), " This is 66.67% of the total number     3 of datapoints.");
}

TEST_F(SufficientData, NoMorePointsWithCurrentThanParametersStops) {
  // A Koren triode fits 5 parameters: 5 points with current (and 5 cut-off points) are too few, 6 are not.
  s_.TubeType = 'T';
  s_.iModel = 1;
  s_.Pmax = 0.0001f;
  for (int k = 1; k <= 5; ++k) AddCurve(1, -1.0f * k, {{10, 0.0f, 0.0f, 10}, {10, 0.000001f, 0.0f, 10}});
  EXPECT_EQ(StopOf([this] { CheckSufficientData(s_, *ms_, out_); }).lines(),
            (std::vector<std::string>{" Only 5 of them carry a non-zero current, too few to fit 5 parameters.",
                                      " Raise Pmax =   1.000000E-04 W or Icmax =    1000.000000 mA set in Model.ini."}));
  AddCurve(1, -6.0f, {{10, 0.000001f, 0.0f, 10}});
  EXPECT_EQ(CheckSufficientData(s_, *ms_, out_), 11);
}

TEST_F(SufficientData, EmptySetStops) {
  s_.TubeType = 'T';
  const Stop stop = StopOf([this] { CheckSufficientData(s_, *ms_, out_); });
  EXPECT_EQ(stop.kind(), Stop::Kind::kPlain);
  EXPECT_EQ(stop.lines(), std::vector<std::string>{" The measurement files hold no datapoints."});
}

// ---- dynamic range ----

using DynamicRange = ChecksTest;

// 2^-9 A and ten times it are exact in binary, so their ratio is exactly 10.
constexpr float kSmall = 0.001953125f;
constexpr float kTenSmall = 0.01953125f;

TEST_F(DynamicRange, ExactlyTenPasses) {
  s_.TubeType = 'P';
  AddCurve(1, 0, {{10, 0.5f, 0.001f, 100}, {200, kSmall, 0.001f, 100}});
  AddCurve(1, 0, {{10, 0.5f, 0.001f, 100}, {200, kTenSmall, 0.001f, 100}});
  CheckDynamicRange(s_, *ms_, out_);
  EXPECT_EQ(out_.str(), "");
}

TEST_F(DynamicRange, AboveTenWarns) {
  s_.TubeType = 'B';
  AddCurve(1, 0, {{10, 0.5f, 0.001f, 100}, {200, kSmall, 0.001f, 100}});
  AddCurve(2, 0, {{10, 0.5f, 0.001f, 100}, {200, 0.02f, 0.001f, 100}});
  CheckDynamicRange(s_, *ms_, out_);
  // 0.02 / 0.001953125 = 10.24; 1.953125 mA in F5.2; 20 mA in F4.0.
  const std::vector<std::string> expected = {
      " ************************",
      " Dynamic range equals   10.; Imin(Va,max) =  1.95, Imax(Va,max) =  20. mA.",
      " Best results obtained with dynamic range less than 10.0.", " ************************"};
  EXPECT_EQ(Lines(), expected);
}

TEST_F(DynamicRange, TiedScreenFileAtTheEndIsLeftOut) {
  s_.TubeType = 'P';
  AddCurve(1, 0, {{10, 0.5f, 0.001f, 100}, {200, kSmall, 0.001f, 100}});
  AddCurve(2, 0, {{10, 0.5f, 0.001f, 100}, {200, 0.5f, 0.001f, 200}});
  ms_->VsVaSeen = true;
  CheckDynamicRange(s_, *ms_, out_);
  EXPECT_EQ(out_.str(), "");
  ms_->VsVaSeen = false;
  CheckDynamicRange(s_, *ms_, out_);
  EXPECT_EQ(Lines().size(), 4u);
}

TEST_F(DynamicRange, ZeroSmallestCurrentIsReportedWithoutARatio) {
  s_.TubeType = 'P';
  AddCurve(1, 0, {{10, 0.5f, 0.001f, 100}, {200, 0.0f, 0.001f, 100}});
  AddCurve(1, 0, {{10, 0.5f, 0.001f, 100}, {200, 0.02f, 0.001f, 100}});
  CheckDynamicRange(s_, *ms_, out_);
  const std::vector<std::string> expected = {
      " ************************",
      " Dynamic range unbounded: Imin(Va,max) =  0.00, Imax(Va,max) =  20. mA.",
      " Best results obtained with dynamic range less than 10.0.", " ************************"};
  EXPECT_EQ(Lines(), expected);
}

TEST_F(DynamicRange, OnlyPentodesAndTetrodes) {
  for (char tube : {'T', 'X', 'V', 'H', 'F', 'D'}) {
    s_.TubeType = tube;
    ms_ = std::make_unique<MeasurementSet>();
    AddCurve(1, 0, {{10, 0.5f, 0.001f, 100}, {200, kSmall, 0.001f, 100}});
    AddCurve(1, 0, {{10, 0.5f, 0.001f, 100}, {200, 0.5f, 0.001f, 100}});
    CheckDynamicRange(s_, *ms_, out_);
    EXPECT_EQ(out_.str(), "") << tube;
  }
}

// ---- screen current ----

using ScreenCurrent = ChecksTest;

TEST_F(ScreenCurrent, SecondPointAboveFloorPasses) {
  s_.TubeType = 'P';
  AddCurve(1, 0, {{10, 0.001f, 0.0f, 100}, {20, 0.002f, 2e-6f, 100}, {30, 0.002f, 0.0f, 100}});
  CheckScreenCurrent(s_, *ms_, out_);
  EXPECT_EQ(out_.str(), "");
}

TEST_F(ScreenCurrent, BothFirstPointsBelowFloorStop) {
  s_.TubeType = 'B';
  s_.DataFile.push_back("ecf80_vs020");
  AddCurve(1, 0, {{10, 0.001f, 1e-3f, 100}, {20, 0.002f, 1e-3f, 100}});
  AddCurve(1, -1, {{10, 0.001f, 0.0f, 100}, {20, 0.002f, 0.9e-6f, 100}, {30, 0.002f, 1e-3f, 100}});
  AddCurve(1, -2, {{10, 0.001f, 0.0f, 100}, {20, 0.002f, 0.0f, 100}});
  const Stop stop = StopOf([this] { CheckScreenCurrent(s_, *ms_, out_); });
  EXPECT_EQ(stop.kind(), Stop::Kind::kPlain);
  const std::vector<std::string> expected = {
      "           1          2", " The numbers above are file 1 (ecf80_vs020.utd) and its curve 2 (Vg = -1 V).",
      " Screen current zero for Va(min)!!", " Can fit only when Is(Va,min) > 0.",
      " Remove complete dataset with Is(Va,min) = 0, and try again.", " Execution halts."};
  EXPECT_EQ(stop.lines(), expected);
}

TEST_F(ScreenCurrent, NegativeReadingsCountAsZero) {
  s_.TubeType = 'P';
  AddCurve(1, 0, {{10, 0.001f, -1e-3f, 100}, {20, 0.002f, -2e-3f, 100}});
  EXPECT_EQ(StopOf([this] { CheckScreenCurrent(s_, *ms_, out_); }).kind(), Stop::Kind::kPlain);
}

TEST_F(ScreenCurrent, OnePointCurveIsJudgedOnItsPoint) {
  s_.TubeType = 'P';
  AddCurve(1, 0, {{10, 0.001f, 1e-3f, 100}});
  CheckScreenCurrent(s_, *ms_, out_);
  AddCurve(1, 0, {{10, 0.001f, 0.0f, 100}});
  EXPECT_EQ(StopOf([this] { CheckScreenCurrent(s_, *ms_, out_); }).lines().front(),
            "           1          2");
}

TEST_F(ScreenCurrent, TiedScreenFileAtTheEndIsLeftOut) {
  s_.TubeType = 'P';
  AddCurve(1, 0, {{10, 0.001f, 1e-3f, 100}, {20, 0.002f, 1e-3f, 100}});
  AddCurve(2, 0, {{0, 0.0f, 0.0f, 0}, {20, 0.002f, 0.0f, 20}});
  ms_->VsVaSeen = true;
  CheckScreenCurrent(s_, *ms_, out_);
  EXPECT_EQ(out_.str(), "");
  ms_->VsVaSeen = false;
  EXPECT_EQ(StopOf([this] { CheckScreenCurrent(s_, *ms_, out_); }).lines().front(),
            "           2          1");
}

TEST_F(ScreenCurrent, TriodesAreNotChecked) {
  s_.TubeType = 'T';
  AddCurve(1, 0, {{10, 0.001f, 0.0f, 10}, {20, 0.002f, 0.0f, 20}});
  CheckScreenCurrent(s_, *ms_, out_);
  EXPECT_EQ(out_.str(), "");
}

// ---- triode cut-off ----

class CutOff : public ChecksTest {
 protected:
  void Run(const std::string& keyboard) {
    in_.str(keyboard);
    Console console{out_, in_};
    CheckTriodeCutOff(s_, *ms_, console);
  }
  std::istringstream in_;
};

const std::vector<std::string> kCutOffBlock = {
    " ",
    " !!!!!!",
    " For a triode, Ia(Va=0)/Ia(Va=Va,max)should be less than   5.000000E-03",
    " For a good fit of the cut-off region.",
    " ",
    " Press return to continue."};

TEST_F(CutOff, CurvesInCutOffPass) {
  s_.TubeType = 'T';
  AddCurve(1, 0, {{0, 0.0f, 0, 0}, {100, 0.01f, 0, 100}});
  AddCurve(1, -1, {{0, 0.0000499f, 0, 0}, {100, 0.01f, 0, 100}});  // ratio 0.00499
  Run("");
  EXPECT_EQ(out_.str(), "");
}

TEST_F(CutOff, OnlyTheFirstOffendingCurveIsReportedAndAskedOnce) {
  s_.TubeType = 'X';
  AddCurve(1, 0, {{0, 0.0f, 0, 0}, {100, 0.01f, 0, 100}});
  AddCurve(1, -1, {{0, 0.0001f, 0, 0}, {100, 0.01f, 0, 100}});  // ratio 0.01
  AddCurve(2, -2, {{0, 0.001f, 0, 0}, {100, 0.01f, 0, 100}});
  Run("first\nsecond\n");
  EXPECT_EQ(Lines(), kCutOffBlock);
  std::string rest;
  std::getline(in_, rest);
  EXPECT_EQ(rest, "second");
}

TEST_F(CutOff, ClosedKeyboardDoesNotHang) {
  s_.TubeType = 'T';
  AddCurve(1, 0, {{0, 0.001f, 0, 0}, {100, 0.01f, 0, 100}});
  in_.setstate(std::ios::eofbit);
  Console console{out_, in_};
  CheckTriodeCutOff(s_, *ms_, console);
  EXPECT_EQ(Lines(), kCutOffBlock);
}

// --batch: the pause is answered at once, the keyboard is not read, and the console says so.
TEST_F(CutOff, BatchGoesOnWithoutReadingTheKeyboard) {
  s_.TubeType = 'T';
  AddCurve(1, 0, {{0, 0.001f, 0, 0}, {100, 0.01f, 0, 100}});
  in_.str("typed\n");
  Console console{out_, in_, true};
  CheckTriodeCutOff(s_, *ms_, console);
  std::vector<std::string> expected = kCutOffBlock;
  expected.push_back(" (--batch: the run goes on without waiting.)");
  EXPECT_EQ(Lines(), expected);
  std::string rest;
  std::getline(in_, rest);
  EXPECT_EQ(rest, "typed");
}

TEST_F(CutOff, ZeroCurrentAtHighestAnodeVoltageIsReported) {
  s_.TubeType = 'T';
  AddCurve(1, 0, {{0, 0.0f, 0, 0}, {100, 0.01f, 0, 100}});
  AddCurve(1, -8, {{0, 0.0f, 0, 0}, {100, 0.0f, 0, 100}});
  Run("");
  std::vector<std::string> expected = kCutOffBlock;
  expected.insert(expected.begin() + 2, " Ia(Va=Va,max) is zero or below for datafile  1, curve  2.");
  EXPECT_EQ(Lines(), expected);
}

TEST_F(CutOff, OnlyTriodes) {
  s_.TubeType = 'P';
  AddCurve(1, 0, {{0, 0.005f, 0, 0}, {100, 0.01f, 0, 100}});
  Run("");
  EXPECT_EQ(out_.str(), "");
}

// ---- saturation ----

class Saturation : public ChecksTest {
 protected:
  void Run(const std::string& keyboard) {
    in_.str(keyboard);
    Console console{out_, in_};
    CheckSaturation(s_, *ms_, console);
  }
  // Points Va = va0 + step*(i-1), current = c0 + c1*Va + c2*Va^2, on the anode (triode) or the screen.
  static std::vector<Pt> Parabola(int n, float va0, float step, float c0, float c1, float c2, bool screen,
                                  float vs) {
    std::vector<Pt> pts;
    for (int i = 0; i < n; ++i) {
      const float va = va0 + step * static_cast<float>(i);
      const float i_par = c0 + c1 * va + c2 * va * va;
      pts.push_back(screen ? Pt{va, 0.01f, i_par, vs} : Pt{va, i_par, 0.0f, va});
    }
    return pts;
  }
  std::istringstream in_;
};

const std::vector<std::string> kSaturationTail = {" ", " Saturation effects detected.",
                                                  " Fit will continue - but results may be untrustworthy.",
                                                  " Hit return to continue."};

TEST_F(Saturation, TriodeBendingDownAboveOneMilliampWarns) {
  s_.TubeType = 'T';
  // Two rising points, then the last five: Ia = 2 mA + 1 mA/V * Va - 0.1 mA/V^2 * Va^2 at Va = 1..5 V.
  std::vector<Pt> pts = {{0, 0.0f, 0, 0}, {0.5f, 0.001f, 0, 0.5f}};
  for (const Pt& p : Parabola(5, 1, 1, 0.002f, 0.001f, -0.0001f, false, 0)) pts.push_back(p);
  AddCurve(1, 0, {{0, 0.0f, 0, 0}, {1, 0.001f, 0, 1}});
  AddCurve(1, -1.5f, pts);
  Run("\n");
  const std::vector<std::string> expected = Join({" Saturation effects detected for datafile 1 for Vg =  -1.5."},
                                                 kSaturationTail);
  EXPECT_EQ(Lines(), expected);
}

TEST_F(Saturation, TriodeAtRealisticVoltagesBendingDownWarns) {
  s_.TubeType = 'X';
  AddCurve(2, 0, Parabola(5, 200, 20, 0.0f, 0.0004f, -0.0000005f, false, 0));
  AddCurve(2, -2, Parabola(8, 100, 30, 0.0f, 0.0001f, 0.0000002f, false, 0));  // bends up
  Run("");
  EXPECT_EQ(Lines(), Join({" Saturation effects detected for datafile 2 for Vg =   0.0."}, kSaturationTail));
}

TEST_F(Saturation, TriodeBendingDownBelowOneMilliampPasses) {
  s_.TubeType = 'T';
  // Ia at Va = 3 V is 0.41 mA.
  AddCurve(1, 0, Parabola(5, 1, 1, 0.0002f, 0.0001f, -0.00001f, false, 0));
  Run("");
  EXPECT_EQ(out_.str(), "");
}

TEST_F(Saturation, StraightOrRisingCurvesPass) {
  s_.TubeType = 'T';
  AddCurve(1, 0, Parabola(6, 1, 1, 0.002f, 0.001f, 0.0001f, false, 0));
  AddCurve(1, -1, Parabola(5, 1, 1, 0.002f, 0.001f, 0.0f, false, 0));
  Run("");
  EXPECT_EQ(out_.str(), "");
}

TEST_F(Saturation, CurvesOfFewerThanFivePointsAreSkipped) {
  s_.TubeType = 'T';
  AddCurve(1, 0, Parabola(4, 1, 1, 0.002f, 0.001f, -0.0001f, false, 0));
  s_.TubeType = 'P';
  AddCurve(2, 0, Parabola(4, 5, 5, 0.002f, 0.0004f, -0.00002f, true, 250));
  Run("");
  EXPECT_EQ(out_.str(), "");
  s_.TubeType = 'T';
  Run("");
  EXPECT_EQ(out_.str(), "");
}

TEST_F(Saturation, PentodeScreenBendingDownAtLowAnodeVoltageWarns) {
  s_.TubeType = 'P';
  // Is over Va = 5..25 V bends down; Va(3) = 15 V < 0.25 * 250 V. Vg2 printed as F5.0 of 250.5.
  std::vector<Pt> pts = Parabola(5, 5, 5, 0.002f, 0.0004f, -0.00002f, true, 250);
  pts.push_back({100, 0.02f, 0.001f, 250});
  AddCurve(1, -2, pts);
  AddCurve(1, -3, Parabola(5, 5, 5, 0.002f, -0.0001f, 0.000002f, true, 250));  // bends up
  Run("");
  EXPECT_EQ(Lines(), Join({" Saturation effects detected for Vg2 = 251. and Vg =  -2.0."}, kSaturationTail));
}

TEST_F(Saturation, PentodeScreenBendingDownAtHighAnodeVoltagePasses) {
  s_.TubeType = 'B';
  // Va(3) = 62.5 V is not below 0.25 * 250 V.
  AddCurve(1, -2, Parabola(5, 12.5f, 25, 0.002f, 0.00004f, -0.0000002f, true, 250));
  Run("");
  EXPECT_EQ(out_.str(), "");
}

TEST_F(Saturation, EveryCurveIsReportedThenOnePause) {
  s_.TubeType = 'P';
  AddCurve(1, -1, Parabola(5, 5, 5, 0.002f, 0.0004f, -0.00002f, true, 100));
  AddCurve(2, -2, Parabola(5, 5, 5, 0.002f, 0.0004f, -0.00002f, true, 200));
  Run("a\nb\n");
  EXPECT_EQ(Lines(), Join({" Saturation effects detected for Vg2 = 101. and Vg =  -1.0.",
                           " Saturation effects detected for Vg2 = 201. and Vg =  -2.0."},
                          kSaturationTail));
  std::string rest;
  std::getline(in_, rest);
  EXPECT_EQ(rest, "b");
}

TEST_F(Saturation, OtherTubesAreNotChecked) {
  for (char tube : {'D', 'V', 'H', 'F', 'Y'}) {
    s_.TubeType = tube;
    ms_ = std::make_unique<MeasurementSet>();
    AddCurve(1, 0, Parabola(5, 1, 1, 0.002f, 0.001f, -0.0001f, false, 0));
    AddCurve(1, 0, Parabola(5, 5, 5, 0.002f, 0.0004f, -0.00002f, true, 250));
    Run("");
    EXPECT_EQ(out_.str(), "") << tube;
  }
}

// ---- mu at its maximum ----

TEST(MuAtMaximum, StrappedPentodeAtLimitWarns) {
  ParamVector P{};
  Slots slot;
  slot.mu = 4;
  P[4] = 150.0f;
  std::ostringstream out;
  CheckMuAtMaximum('X', P, slot, out);
  EXPECT_EQ(out.str(),
            " *** WARNING ***\n"
            " The fitted value for Mu reached its maximum and is probably unphysically high.\n"
            " If the measurement is on a variable mu pentode, try to reduce Icmax to only capture the lo-mu \n"
            " part of the characteristic.\n");
}

TEST(MuAtMaximum, VariableMuAtLimitWarns) {
  ParamVector P{};
  Slots slot;
  slot.mu = 7;
  P[7] = 150.0f;
  std::ostringstream out;
  CheckMuAtMaximum('V', P, slot, out);
  EXPECT_EQ(out.str(),
            " *** WARNING ***\n"
            " The fitted value for Mu reached its maximum and is probably unphysically high.\n"
            " If the measurement is on a variable mu pentode,check if starting mu-value based on triode-fit \n"
            " is not too high.\n");
}

TEST(MuAtMaximum, BelowLimitOrOtherTubesPass) {
  ParamVector P{};
  Slots slot;
  slot.mu = 2;
  std::ostringstream out;
  P[2] = 149.0f;
  CheckMuAtMaximum('X', P, slot, out);
  P[2] = 149.99998f;  // the float just below 150
  CheckMuAtMaximum('V', P, slot, out);
  P[2] = 150.0f;
  CheckMuAtMaximum('T', P, slot, out);
  CheckMuAtMaximum('P', P, slot, out);
  slot.mu = 0;
  P[0] = 150.0f;
  CheckMuAtMaximum('X', P, slot, out);
  EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace tubefit
