// Estimators on synthetic curves. Two kinds of data:
//  - curves built from `Model` with known parameters; where the estimator inverts only an approximation of
//    the model, the expected value is either the true parameter within a tolerance argued at the test, or
//    the estimator's known bias worked out in closed form in double precision here;
//  - curves built directly from the regime an estimator inverts, which it must recover to float accuracy.
#include "estimate/estimate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "estimate/parfiles.h"
#include "estimate_test_support.h"
#include "models/models.h"
#include "text/format.h"

namespace tubefit {
namespace {

using esttest::CountLine;
using esttest::Join;
using esttest::Lines;
using esttest::ReadFile;
using esttest::RelNear;
using esttest::StopOf;
using esttest::WorkDir;
using esttest::WriteFile;

constexpr double kFloatTol = 1e-4;  // float estimator against a closed form evaluated in double

std::unique_ptr<MeasurementSet> NewSet() { return std::make_unique<MeasurementSet>(); }

// Stores curve c of file f with grid voltage Vg1 and the given points (1-based from the first).
void PutCurve(MeasurementSet& ms, int f, int c, float Vg1, const std::vector<MeasPoint>& pts) {
  MeasCurve& cv = ms.curve(f, c);
  cv.Vg1 = Vg1;
  cv.NPts = static_cast<int32_t>(pts.size());
  for (size_t p = 0; p < pts.size(); ++p) cv.pt[p + 1] = pts[p];
  if (ms.file[f].NVg < c) ms.file[f].NVg = c;
  if (ms.NFiles < f) ms.NFiles = f;
}

// Curve c of file f from the model: Va = Va0, Va0 + dVa, ... (n points); Vs < 0 means Vs = Va.
void ModelCurve(MeasurementSet& ms, int f, int c, int32_t iModel, const ParamVector& truth, const Slots& s,
                float Vg1, float Vs, float Va0, float dVa, int n) {
  std::vector<MeasPoint> pts;
  for (int i = 0; i < n; ++i) {
    MeasPoint pt;
    pt.Va = Va0 + dVa * static_cast<float>(i);
    pt.Vs = Vs < 0.0f ? pt.Va : Vs;
    ParamVector P = truth;
    Model(iModel, pt.Va, pt.Vs, Vg1, 0.0f, P, s, pt.Ia, pt.Is);
    pts.push_back(pt);
  }
  PutCurve(ms, f, c, Vg1, pts);
}

// Least-squares line of y on x in double precision: {intercept, slope}.
std::pair<double, double> LsLine(const std::vector<double>& x, const std::vector<double>& y) {
  double xm = 0.0, ym = 0.0;
  for (size_t i = 0; i < x.size(); ++i) {
    xm += x[i];
    ym += y[i];
  }
  xm /= static_cast<double>(x.size());
  ym /= static_cast<double>(x.size());
  double sxy = 0.0, sxx = 0.0;
  for (size_t i = 0; i < x.size(); ++i) {
    sxy += (x[i] - xm) * (y[i] - ym);
    sxx += (x[i] - xm) * (x[i] - xm);
  }
  const double slope = sxy / sxx;
  return {ym - slope * xm, slope};
}

// ---------------------------------------------------------------- triode

struct TriodeTruth {
  ParamSet ps;
  TriodeTruth() {
    ParamIdent(1, ps);
    ps.P[ps.slot.mu] = 20.0f;
    ps.P[ps.slot.ex] = 1.4f;
    ps.P[ps.slot.kG1] = 1000.0f;
    ps.P[ps.slot.kp] = 300.0f;
    ps.P[ps.slot.kVB] = 300.0f;
  }
};

// Six curves Vg1 = 0, -2, ..., -10 (or reversed), Va = 0..400 V in steps of 5 V, from the Koren triode.
std::unique_ptr<MeasurementSet> TriodeSet(const TriodeTruth& t, bool falling = true) {
  auto ms = NewSet();
  for (int c = 1; c <= 6; ++c) {
    const int k = falling ? c - 1 : 6 - c;
    ModelCurve(*ms, 1, c, 1, t.ps.P, t.ps.slot, -2.0f * static_cast<float>(k), -1.0f, 0.0f, 5.0f, 81);
  }
  return ms;
}

TEST(EstMu, KorenCurvesGiveMuWithinTwoPercent) {
  // The constant-current points lie where Va/mu + Vg1 * Va/sqrt(kVB + Va^2) is constant; kVB = 300 against
  // Va^2 >= 2500 at the level bends that by well under 2 %.
  TriodeTruth t;
  auto ms = TriodeSet(t);
  std::ostringstream console;
  float mu = 0.0f;
  EstMu({*ms, console}, mu);
  EXPECT_TRUE(RelNear(mu, 20.0, 0.02));
  EXPECT_EQ(console.str(), "");
}

// Curves Ia = 1 mA/V * (Va + mu Vg1) above their cut-off Va = -mu Vg1: the constant-current voltage moves by
// exactly mu per volt of grid, so interpolation on these straight pieces gives mu exactly.
std::unique_ptr<MeasurementSet> LinearCurves(float mu, const std::vector<float>& grids) {
  auto ms = NewSet();
  for (size_t c = 0; c < grids.size(); ++c) {
    std::vector<MeasPoint> pts;
    for (int i = 0; i <= 40; ++i) {
      MeasPoint pt;
      pt.Va = 10.0f * static_cast<float>(i);
      const float over = pt.Va + mu * grids[c];
      pt.Ia = over > 0.0f ? 0.001f * over : 0.0f;
      pts.push_back(pt);
    }
    PutCurve(*ms, 1, static_cast<int>(c) + 1, grids[c], pts);
  }
  return ms;
}

TEST(EstMu, StraightCurvesGiveMuExactlyInEitherOrder) {
  std::ostringstream console;
  float rising = 0.0f, falling = 0.0f;
  auto up = LinearCurves(25.0f, {-8.0f, -6.0f, -4.0f, -2.0f});
  auto down = LinearCurves(25.0f, {-2.0f, -4.0f, -6.0f, -8.0f});
  EstMu({*up, console}, rising);
  EstMu({*down, console}, falling);
  EXPECT_TRUE(RelNear(rising, 25.0, 1e-5));
  EXPECT_EQ(rising, falling);
}

TEST(EstMu, FileWithFewerThanTwoPairsIsSkipped) {
  std::ostringstream console;
  auto ms = LinearCurves(25.0f, {-2.0f, -4.0f, -6.0f});
  // File 2: a single curve gives a single pair.
  auto single = LinearCurves(25.0f, {-4.0f});
  ms->file[2] = single->file[1];
  ms->NFiles = 2;
  float mu = 0.0f;
  EstMu({*ms, console}, mu);
  EXPECT_TRUE(RelNear(mu, 25.0, 1e-5));  // file 1 alone, not (25 + 0) / 2
  EXPECT_EQ(console.str(),
            " EstMu: file 2 has fewer than two curves that reach the current level; file skipped.\n");
}

TEST(EstMu, NoEstimateGivesTenWithALine) {
  std::ostringstream console;
  auto ms = LinearCurves(25.0f, {-4.0f});
  float mu = 0.0f;
  EstMu({*ms, console}, mu);
  EXPECT_EQ(mu, 10.0f);
  EXPECT_EQ(Lines(console.str()).back(), " EstMu: no positive mu estimate from the data; mu set to      10.000000");
  // Curves whose first point already carries the level give no pair (no point before it).
  auto flat = NewSet();
  for (int c = 1; c <= 3; ++c) {
    std::vector<MeasPoint> pts(5);
    for (int p = 0; p < 5; ++p) {
      pts[p].Va = 10.0f * static_cast<float>(p);
      pts[p].Ia = 0.01f;
    }
    PutCurve(*flat, 1, c, -static_cast<float>(c), pts);
  }
  std::ostringstream out;
  EstMu({*flat, out}, mu);
  EXPECT_EQ(mu, 10.0f);
  EXPECT_TRUE(std::isfinite(mu));
}

TEST(EstkGExp, KorenCurvesGiveExAndKG1) {
  // On the upper two thirds of the curve t = kp (1/mu + Vg1/sqrt(kVB + Va^2)) is large, so E1 is
  // Va/mu + Vg1 to within the kVB term: ex within 1 %, kG1 (an exponential of the intercept) within 3 %.
  TriodeTruth t;
  auto ms = TriodeSet(t);
  std::ostringstream console;
  float kG1 = 0.0f, ex = 0.0f;
  EstkGExp({*ms, console}, t.ps.P, t.ps.slot, kG1, ex);
  EXPECT_TRUE(RelNear(ex, 1.4, 0.01));
  EXPECT_TRUE(RelNear(kG1, 1000.0, 0.03));
}

// Ia = (Vg1 + Va/mu)^ex / kG1 where the base is positive, 0 elsewhere.
std::vector<MeasPoint> PowerLaw(float Vg1, float mu, float ex, float kG1, int n, float dVa) {
  std::vector<MeasPoint> pts;
  for (int i = 0; i < n; ++i) {
    MeasPoint pt;
    pt.Va = dVa * static_cast<float>(i);
    const float q = pt.Va / mu;
    const float base = Vg1 + q;
    pt.Ia = base > 0.0f ? std::pow(base, ex) / kG1 : 0.0f;
    pts.push_back(pt);
  }
  return pts;
}

TEST(EstkGExp, UsesTheCurveNextToTheHighestInEitherOrder) {
  // Only the curve next to the highest grid voltage follows ex = 1.3, kG1 = 800; the others do not.
  const float mu = 20.0f;
  ParamSet ps;
  ParamIdent(1, ps);
  ps.P[ps.slot.mu] = mu;
  const float grids[] = {-8.0f, -6.0f, -4.0f, -2.0f, 0.0f};
  for (bool falling : {false, true}) {
    auto ms = NewSet();
    for (int c = 1; c <= 5; ++c) {
      const float Vg1 = falling ? grids[5 - c] : grids[c - 1];
      const bool chosen = Vg1 == -2.0f;
      PutCurve(*ms, 1, c, Vg1, PowerLaw(Vg1, mu, chosen ? 1.3f : 1.7f, chosen ? 800.0f : 3000.0f, 41, 10.0f));
    }
    std::ostringstream console;
    float kG1 = 0.0f, ex = 0.0f;
    EstkGExp({*ms, console}, ps.P, ps.slot, kG1, ex);
    EXPECT_TRUE(RelNear(ex, 1.3, kFloatTol)) << falling;
    EXPECT_TRUE(RelNear(kG1, 800.0, 1e-3)) << falling;
    EXPECT_EQ(console.str(), "");
  }
}

TEST(EstkGExp, CurveThatNeverConductsFallsBackWithALine) {
  ParamSet ps;
  ParamIdent(1, ps);
  ps.P[ps.slot.mu] = 20.0f;
  auto ms = NewSet();
  // Vg1 = -30: Va/mu stays below 30 V up to Va = 400 V.
  PutCurve(*ms, 1, 1, -30.0f, PowerLaw(-30.0f, 20.0f, 1.5f, 1000.0f, 41, 10.0f));
  PutCurve(*ms, 1, 2, -40.0f, PowerLaw(-40.0f, 20.0f, 1.5f, 1000.0f, 41, 10.0f));
  std::ostringstream console;  // falling grid voltages: curve 2 is the one examined
  float kG1 = 0.0f, ex = 0.0f;
  EstkGExp({*ms, console}, ps.P, ps.slot, kG1, ex);
  EXPECT_EQ(kG1, 1000.0f);
  EXPECT_EQ(ex, 1.5f);
  EXPECT_EQ(console.str(),
            " EstkGExp: curve 2 of file 1 never reaches Vg1 + Va/mu >= 0; file skipped.\n"
            " EstkGExp: no usable curve; kG1 set to    1000.000000 and ex to       1.500000\n");
}

TEST(EstkGExp, LateConductionPrintsTheProblemLine) {
  ParamSet ps;
  ParamIdent(1, ps);
  ps.P[ps.slot.mu] = 20.0f;
  auto ms = NewSet();
  // Ten points Va = 0..90 V at Vg1 = -4.4: conduction (Va >= 88 V) only at the last point.
  const std::vector<MeasPoint> pts = PowerLaw(-4.4f, 20.0f, 1.5f, 1000.0f, 10, 10.0f);
  PutCurve(*ms, 1, 1, -4.4f, pts);
  PutCurve(*ms, 1, 2, -4.4f, pts);
  std::ostringstream console;
  float kG1 = 0.0f, ex = 0.0f;
  EstkGExp({*ms, console}, ps.P, ps.slot, kG1, ex);
  const std::vector<std::string> lines = Lines(console.str());
  ASSERT_GE(lines.size(), 1u);
  EXPECT_EQ(lines[0], " ** Problem in EstkGExp - estimate may be incorrect.");
  // From point n - 4 on only one point has a positive logarithm argument: no line, the defaults.
  EXPECT_EQ(ex, 1.5f);
  EXPECT_TRUE(std::isfinite(kG1));
}

TEST(Estkp, KorenCurvesGiveKpWithinTenPercent) {
  // Below cut-off ln(E1/Va) = t - ln kp with t = kp (1/mu + Vg1/sqrt(kVB + Va^2)); against
  // x = 1/mu + Vg1/Va the slope is kp times Va/sqrt(kVB + Va^2) plus the softplus shoulder near t = 0,
  // which together stay within 10 %.
  TriodeTruth t;
  auto ms = TriodeSet(t);
  std::ostringstream console;
  float kp = 0.0f;
  Estkp({*ms, console}, t.ps.P, t.ps.slot, kp);
  EXPECT_TRUE(RelNear(kp, 300.0, 0.10));
  EXPECT_EQ(console.str(), "");
}

// The lowest curve (Vg1 = -10, cut-off at Va = 200 V for mu = 20) holds points whose E1 follows
// ln(E1/Va) = slope * (1/mu + Vg1/Va) + 2 exactly; Ia = E1^ex / kG1. `below` points lie below cut-off.
void CutOffFile(MeasurementSet& ms, int f, float slope, int below) {
  const float mu = 20.0f, ex = 1.5f, kG1 = 1000.0f, Vg1 = -10.0f;
  std::vector<MeasPoint> pts(1);  // point 1 is not used by the estimator
  for (int i = 0; i < below; ++i) {
    MeasPoint pt;
    pt.Va = 170.0f + 5.0f * static_cast<float>(i);
    const double x = 1.0 / mu + Vg1 / pt.Va;
    const double E1 = pt.Va * std::exp(slope * x + 2.0);
    pt.Ia = static_cast<float>(std::pow(E1, ex) / kG1);
    pts.push_back(pt);
  }
  for (int i = 0; i < 3; ++i) {  // above cut-off: ignored
    MeasPoint pt;
    pt.Va = 200.0f + 50.0f * static_cast<float>(i);
    pt.Ia = 0.05f;
    pts.push_back(pt);
  }
  PutCurve(ms, f, 2, Vg1, pts);
  PutCurve(ms, f, 1, 0.0f, {MeasPoint{}, MeasPoint{}});
}

ParamSet CutOffParams() {
  ParamSet ps;
  ParamIdent(1, ps);
  ps.P[ps.slot.mu] = 20.0f;
  ps.P[ps.slot.ex] = 1.5f;
  ps.P[ps.slot.kG1] = 1000.0f;
  return ps;
}

TEST(Estkp, RecoversTheCutOffSlope) {
  const ParamSet ps = CutOffParams();
  auto ms = NewSet();
  CutOffFile(*ms, 1, 800.0f, 6);
  std::ostringstream console;
  float kp = 0.0f;
  Estkp({*ms, console, 1, 2}, ps.P, ps.slot, kp);
  EXPECT_TRUE(RelNear(kp, 800.0, 1e-3));
  EXPECT_EQ(console.str(), " iVmin, Vmin:          2     -10.000000\n");
}

TEST(Estkp, SlopeBelowFiftyCountsAsFifty) {
  const ParamSet ps = CutOffParams();
  auto ms = NewSet();
  CutOffFile(*ms, 1, 12.0f, 6);
  CutOffFile(*ms, 2, 150.0f, 6);
  std::ostringstream console;
  float kp = 0.0f;
  Estkp({*ms, console}, ps.P, ps.slot, kp);
  EXPECT_TRUE(RelNear(kp, (50.0 + 150.0) / 2.0, 1e-3));
}

TEST(Estkp, MeanAbove2000IsCapped) {
  const ParamSet ps = CutOffParams();
  auto ms = NewSet();
  CutOffFile(*ms, 1, 2500.0f, 6);
  CutOffFile(*ms, 2, 2500.0f, 6);
  std::ostringstream console;
  float kp = 0.0f;
  Estkp({*ms, console}, ps.P, ps.slot, kp);
  EXPECT_EQ(kp, 2000.0f);
}

TEST(Estkp, TwoUsablePointsGiveTheDefaultForThatFile) {
  const ParamSet ps = CutOffParams();
  auto ms = NewSet();
  CutOffFile(*ms, 1, 800.0f, 2);
  CutOffFile(*ms, 2, 400.0f, 6);
  std::ostringstream console;
  float kp = 0.0f;
  Estkp({*ms, console}, ps.P, ps.slot, kp);
  EXPECT_EQ(console.str(), " Error in estimation of kp.Assume default value of kp\n");
  EXPECT_TRUE(RelNear(kp, (100.0 + 400.0) / 2.0, 1e-3));
}

TEST(Estkp, ZeroExponentGivesTheDefaultNotInfinity) {
  ParamSet ps = CutOffParams();
  ps.P[ps.slot.ex] = 0.0f;
  auto ms = NewSet();
  CutOffFile(*ms, 1, 800.0f, 6);
  std::ostringstream console;
  float kp = 0.0f;
  Estkp({*ms, console}, ps.P, ps.slot, kp);
  EXPECT_EQ(kp, 100.0f);
  EXPECT_EQ(console.str(), " Error in estimation of kp.Assume default value of kp\n");
}

// A file whose highest curve (the last, Vg1 = -1) first conducts at Va = 20 V with
// E1 = Va (1/mu + Vg1/sqrt(kVB + Va^2)) for kVB = 300 exactly: the estimate there is (Vg1/q)^2 - Va^2 = 300.
void KneeFile(MeasurementSet& ms, int f, bool conducts) {
  const double mu = 20.0, ex = 1.5, kG1 = 1000.0, Vg1 = -1.0, Va = 20.0, kVB = 300.0;
  const double E1 = Va * (1.0 / mu + Vg1 / std::sqrt(kVB + Va * Va));
  std::vector<MeasPoint> pts(3);
  pts[0].Va = 0.0f;
  pts[1].Va = 10.0f;
  pts[1].Ia = 1.0e-6f;  // not above the threshold
  pts[2].Va = 20.0f;
  pts[2].Ia = conducts ? static_cast<float>(std::pow(E1, ex) / kG1) : 0.0f;
  PutCurve(ms, f, 1, -5.0f, {MeasPoint{}, MeasPoint{}});
  PutCurve(ms, f, 2, static_cast<float>(Vg1), pts);
}

TEST(EstkVB, InvertsTheFirstConductingPoint) {
  const ParamSet ps = CutOffParams();
  auto ms = NewSet();
  KneeFile(*ms, 1, true);
  KneeFile(*ms, 2, true);
  std::ostringstream console;
  float kVB = 0.0f;
  EstkVB({*ms, console}, ps.P, ps.slot, kVB);
  EXPECT_TRUE(RelNear(kVB, 300.0, 1e-3));
  EXPECT_EQ(console.str(), "");
}

TEST(EstkVB, NonConductingFileEndsTheEstimatorWith500) {
  const ParamSet ps = CutOffParams();
  auto ms = NewSet();
  KneeFile(*ms, 1, true);
  KneeFile(*ms, 2, false);
  KneeFile(*ms, 3, false);  // would print the line a second time if it were examined
  std::ostringstream console;
  float kVB = 0.0f;
  EstkVB({*ms, console}, ps.P, ps.slot, kVB);
  EXPECT_EQ(kVB, 500.0f);
  EXPECT_EQ(console.str(), " Error in estimation of kVB. Setting kVBEst = 500.\n");
}

TEST(EstkVB, ZeroDenominatorGives500NotInfinity) {
  // E1/Va equal to 1/mu makes q = 0.
  ParamSet ps = CutOffParams();
  auto ms = NewSet();
  std::vector<MeasPoint> pts(1);
  pts[0].Va = 20.0f;
  pts[0].Ia = static_cast<float>(std::pow(1.0, 1.5) / 1000.0);  // E1 = 1 = Va/mu
  PutCurve(*ms, 1, 1, -1.0f, pts);
  std::ostringstream console;
  float kVB = 0.0f;
  EstkVB({*ms, console}, ps.P, ps.slot, kVB);
  EXPECT_EQ(kVB, 500.0f);
  EXPECT_EQ(console.str(), " Error in estimation of kVB. Setting kVBEst = 500.\n");
}

// ---------------------------------------------------------------- diode and dex

TEST(EstDiode, PowerLawGivesKAndEx) {
  auto ms = NewSet();
  for (int f = 1; f <= 2; ++f) {
    std::vector<MeasPoint> pts;
    for (int i = 0; i <= 20; ++i) {
      MeasPoint pt;
      pt.Va = 5.0f * static_cast<float>(i);  // Va = 0 in the lower half only
      pt.Ia = static_cast<float>(std::pow(pt.Va, 1.5) / 2000.0);
      pts.push_back(pt);
    }
    PutCurve(*ms, f, 1, 0.0f, {MeasPoint{}, MeasPoint{}});
    PutCurve(*ms, f, 2, 0.0f, pts);
  }
  std::ostringstream console;
  float k = 0.0f, ex = 0.0f, eps = 9.0f;
  EstDiode({*ms, console}, k, ex, eps);
  EXPECT_TRUE(RelNear(ex, 1.5, kFloatTol));
  EXPECT_TRUE(RelNear(k, 2000.0, 1e-3));
  EXPECT_EQ(eps, 0.0f);
  EXPECT_EQ(console.str(), "");
}

TEST(EstDiode, ShortOrNonPositiveLastCurveIsSkipped) {
  auto ms = NewSet();
  PutCurve(*ms, 1, 1, 0.0f, {MeasPoint{0.01f, 0.0f, 100.0f, 0.0f}});  // one point: no line
  std::vector<MeasPoint> pts;
  for (int i = 1; i <= 10; ++i) {
    MeasPoint pt;
    pt.Va = 10.0f * static_cast<float>(i);
    pt.Ia = static_cast<float>(std::pow(pt.Va, 1.2) / 500.0);
    pts.push_back(pt);
  }
  PutCurve(*ms, 2, 1, 0.0f, pts);
  std::ostringstream console;
  float k = 0.0f, ex = 0.0f, eps = 0.0f;
  EstDiode({*ms, console}, k, ex, eps);
  EXPECT_TRUE(RelNear(ex, 1.2, kFloatTol));
  EXPECT_TRUE(RelNear(k, 500.0, 1e-3));
  EXPECT_EQ(console.str(), " EstDiode: the last curve of file 1 has fewer than two points with positive Va and Ia in "
                           "its upper half; file skipped.\n");
}

TEST(EstDiode, NoUsableFileStops) {
  auto ms = NewSet();
  PutCurve(*ms, 1, 1, 0.0f, {MeasPoint{0.0f, 0.0f, 10.0f, 0.0f}, MeasPoint{-0.001f, 0.0f, 20.0f, 0.0f}});
  std::ostringstream console;
  float k = 0.0f, ex = 0.0f, eps = 0.0f;
  const auto stop = StopOf([&] { EstDiode({*ms, console}, k, ex, eps); });
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ(stop->FinalLine(), "Execution halts");
  EXPECT_EQ(stop->lines(), std::vector<std::string>{" EstDiode: no file has two points with positive Va and Ia "
                                                    "in the upper half of its last curve."});
}

TEST(CalcDex, FormulaAndUndefinedCases) {
  ParamSet ps;
  ParamIdent(12, ps);
  std::ostringstream console;
  float dex = 7.0f;
  ps.P[ps.slot.A] = 0.0f;
  ps.P[ps.slot.mu] = 10.0f;
  CalcDex(ps.P, ps.slot, dex, console);
  EXPECT_EQ(dex, 0.0f);
  EXPECT_EQ(console.str(), "");
  // ln(1 + 500 * 0.002) / ln(500 / 50) = ln 2 / ln 10.
  ps.P[ps.slot.A] = 0.002f;
  ps.P[ps.slot.mu] = 50.0f;
  CalcDex(ps.P, ps.slot, dex, console);
  EXPECT_TRUE(RelNear(dex, 0.30102999566398120, 1e-6));
  struct Case {
    float A, mu;
    const char* line;
  };
  const Case cases[] = {
      {0.002f, 500.0f, " CalcDex: dex is undefined for mu =     500.000000 and A =   2.000000E-03; dex set to 0."},
      {0.002f, 0.0f, " CalcDex: dex is undefined for mu =   0.000000E+00 and A =   2.000000E-03; dex set to 0."},
      {0.002f, -5.0f, " CalcDex: dex is undefined for mu =      -5.000000 and A =   2.000000E-03; dex set to 0."},
      {-0.002f, 50.0f, " CalcDex: dex is undefined for mu =      50.000000 and A =  -2.000000E-03; dex set to 0."},
      {-0.01f, 50.0f, " CalcDex: dex is undefined for mu =      50.000000 and A =  -1.000000E-02; dex set to 0."},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    ps.P[ps.slot.A] = c.A;
    ps.P[ps.slot.mu] = c.mu;
    dex = 7.0f;
    CalcDex(ps.P, ps.slot, dex, out);
    EXPECT_EQ(dex, 0.0f) << c.line;
    EXPECT_EQ(out.str(), std::string(c.line) + "\n");
  }
}

// ---------------------------------------------------------------- screen-grid estimators

struct PentodeTruth {
  int32_t code;
  ParamSet ps;
  explicit PentodeTruth(int32_t iModel) : code(iModel) {
    ParamIdent(iModel, ps);
    const Slots& s = ps.slot;
    ps.P[s.mu] = 10.0f;
    ps.P[s.ex] = 1.4f;
    ps.P[s.kG1] = 1000.0f;
    ps.P[s.kp] = 200.0f;
    ps.P[s.kVB] = 100.0f;
    ps.P[s.kG2] = 5000.0f;
    ps.P[s.alpha_s] = 2.0f;
    ps.P[s.beta] = iModel == 32 ? 10.0f : 0.1f;
    ps.P[s.A] = 5.0e-4f;
  }
};

constexpr float kScreen[] = {0.0f, 100.0f, 150.0f, 200.0f};

// Files 1..3 at Vs = 100, 150, 200 V, curves Vg1 = 0..-4 V, Va = 0..300 V in steps of 5 V.
std::unique_ptr<MeasurementSet> PentodeSet(const PentodeTruth& t) {
  auto ms = NewSet();
  for (int f = 1; f <= 3; ++f)
    for (int c = 1; c <= 5; ++c)
      ModelCurve(*ms, f, c, t.code, t.ps.P, t.ps.slot, -static_cast<float>(c - 1), kScreen[f], 0.0f, 5.0f, 61);
  ms->NVsCst = 3;
  return ms;
}

TEST(EstkG2, NoltEGivesKG2Exactly) {
  // NoltE: Is = E (1 + alpha_s exp(-(beta Va)^1.5)) / kG2 and the exponential is 0 at Va = 300 V.
  PentodeTruth t(22);
  auto ms = PentodeSet(t);
  std::ostringstream console;
  ParamVector P = t.ps.P;
  float kG2 = 0.0f;
  EstkG2({*ms, console, 22}, P, t.ps.slot, kG2);
  EXPECT_TRUE(RelNear(kG2, 5000.0, kFloatTol));
}

TEST(EstkG2, NoltGivesKG2OverOnePlusAlphaOverD) {
  // Nolt: Is(300 V) = E (1 + alpha_s / (1 + 30)) / kG2, so the estimate is 5000 * 31 / 33.
  PentodeTruth t(12);
  auto ms = PentodeSet(t);
  std::ostringstream console;
  ParamVector P = t.ps.P;
  float kG2 = 0.0f;
  EstkG2({*ms, console, 12}, P, t.ps.slot, kG2);
  EXPECT_TRUE(RelNear(kG2, 5000.0 * 31.0 / 33.0, kFloatTol));
}

TEST(EstkG2, DividesByTheFullCurveCount) {
  PentodeTruth t(22);
  auto ms = NewSet();
  const float Is_end[] = {0.0f, 2.0e-3f, 3.0e-3f, 1.0e-6f, 4.0e-3f};  // curve 3 does not qualify
  ParamVector P = t.ps.P;
  double expected = 0.0;
  for (int c = 1; c <= 4; ++c) {
    const float Vg1 = -static_cast<float>(c);
    PutCurve(*ms, 1, c, Vg1, {MeasPoint{0.0f, 0.01f, 0.0f, 150.0f}, MeasPoint{0.0f, Is_end[c], 300.0f, 150.0f}});
    if (c != 3) expected += KorenTerm(P, t.ps.slot, Vg1, 150.0f) / Is_end[c];
  }
  std::ostringstream console;
  float kG2 = 0.0f;
  EstkG2({*ms, console, 22}, P, t.ps.slot, kG2);
  EXPECT_TRUE(RelNear(kG2, expected / 4.0, 1e-6));
}

TEST(EstkG2, NoScreenCurrentStops) {
  PentodeTruth t(22);
  auto ms = NewSet();
  PutCurve(*ms, 1, 1, -1.0f, {MeasPoint{0.0f, 0.0f, 0.0f, 150.0f}, MeasPoint{0.01f, 0.0f, 300.0f, 150.0f}});
  std::ostringstream console;
  float kG2 = 0.0f;
  const auto stop = StopOf([&] { EstkG2({*ms, console, 22}, t.ps.P, t.ps.slot, kG2); });
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ(stop->FinalLine(), "Execution halts");
  EXPECT_EQ(stop->lines(), std::vector<std::string>{" EstkG2: no curve gives a screen-current estimate (Is above "
                                                    "1.0E-06 A and a positive Koren term at its last point)."});
}

TEST(EstA, NoltEGivesA) {
  // NoltE: Ia = E (1/kG1 - 1/kG2 - S g + A Va / kG1) with g = 0 on the last four points: slope E A / kG1.
  PentodeTruth t(22);
  auto ms = PentodeSet(t);
  std::ostringstream console;
  ParamVector P = t.ps.P;
  float A = 0.0f;
  EstA({*ms, console, 22}, P, t.ps.slot, A);
  EXPECT_TRUE(RelNear(A, 5.0e-4, 1e-3));
  EXPECT_EQ(console.str(), "");
}

TEST(EstA, NoltGivesAPlusTheDivisionSlope) {
  // Nolt: the slope of Ia/E over Va = 285..300 V is A/kG1 plus the least-squares slope of -S/(1 + beta Va),
  // S = alpha_s/kG2 + (1 - kG1 (1 + alpha_s)/kG2)/kG1 = 8e-4. The float fit of four nearly equal currents
  // loses about four digits, hence 2e-3.
  PentodeTruth t(12);
  auto ms = PentodeSet(t);
  std::vector<double> x, g;
  for (int i = 0; i < 4; ++i) {
    x.push_back(285.0 + 5.0 * i);
    g.push_back(-1.0 / (1.0 + 0.1 * x.back()));
  }
  const double expected = 5.0e-4 + 1000.0 * 8.0e-4 * LsLine(x, g).second;
  std::ostringstream console;
  ParamVector P = t.ps.P;
  float A = 0.0f;
  EstA({*ms, console, 12}, P, t.ps.slot, A);
  EXPECT_TRUE(RelNear(A, expected, 2e-3));
}

TEST(EstA, ThreePointCurveGivesZeroAndEndsTheEstimator) {
  PentodeTruth t(12);
  auto ms = PentodeSet(t);
  ms->curve(1, 1).NPts = 3;
  ParamVector P = t.ps.P;
  P[t.ps.slot.kVB] = -100.0f;  // KorenTerm would make it positive: no curve is evaluated at all
  std::ostringstream console;
  float A = 1.0f;
  EstA({*ms, console, 12}, P, t.ps.slot, A);
  EXPECT_EQ(A, 0.0f);
  EXPECT_EQ(P[t.ps.slot.kVB], -100.0f);
  EXPECT_EQ(console.str(), " Error in EstA. Need at least          4different values for Va.\n Setting AEst = 0 \n");
}

TEST(EstA, NoCurveWithALargeEnoughTermGivesZero) {
  PentodeTruth t(12);
  auto ms = NewSet();
  std::vector<MeasPoint> pts;
  for (int i = 0; i < 6; ++i) pts.push_back(MeasPoint{1.0e-3f * i, 0.0f, 50.0f * i, 150.0f});
  PutCurve(*ms, 1, 1, -40.0f, pts);  // far below cut-off: KorenTerm = 0
  std::ostringstream console;
  ParamVector P = t.ps.P;
  float A = 1.0f;
  EstA({*ms, console, 12}, P, t.ps.slot, A);
  EXPECT_EQ(A, 0.0f);
  EXPECT_EQ(console.str(),
            " Error in EstA. No curve has a Koren term of at least 0.01.\n Setting AEst = 0 \n");
}

// The line through (x_p, 1/(alpha_s (1/D_p - 1/D_n))) of the first three points, D = 1 + beta x:
// what Estalsbe fits on the screen current of a Nolt curve. Returns {alpha_s, beta} estimates.
std::pair<double, double> NoltAlphaBeta(double alpha_s, double beta, const std::vector<double>& x, double xn) {
  std::vector<double> y;
  for (double xi : x) y.push_back(1.0 / (alpha_s * (1.0 / (1.0 + beta * xi) - 1.0 / (1.0 + beta * xn))));
  const auto [b0, b1] = LsLine(x, y);
  return {1.0 / b0, b1 / b0};
}

TEST(Estalsbe, NoltCurvesGiveTheClosedForm) {
  PentodeTruth t(12);
  auto ms = PentodeSet(t);
  const auto [alpha_s, beta] = NoltAlphaBeta(2.0, 0.1, {0.0, 5.0, 10.0}, 300.0);
  std::ostringstream console;
  ParamVector P = t.ps.P;
  float a = 0.0f, b = 0.0f;
  Estalsbe({*ms, console, 12}, P, t.ps.slot, a, b);
  EXPECT_TRUE(RelNear(a, alpha_s, kFloatTol));
  EXPECT_TRUE(RelNear(b, beta, kFloatTol));
  EXPECT_TRUE(RelNear(a, 2.0, 0.05));  // and near the truth: the last point's 1/D_n = 1/31 biases it
  EXPECT_EQ(console.str(), "");
}

TEST(Estalsbe, NoltIUsesVaOverVs) {
  PentodeTruth t(32);
  auto ms = PentodeSet(t);
  double sum0 = 0.0, sum1 = 0.0;
  for (int f = 1; f <= 3; ++f) {
    const double Vs = kScreen[f];
    const auto [a, b] = NoltAlphaBeta(2.0, 10.0, {0.0, 5.0 / Vs, 10.0 / Vs}, 300.0 / Vs);
    sum0 += 1.0 / a;  // the file's intercept
    sum1 += b / a;    // the file's slope
  }
  const double alpha_s = 3.0 / sum0;
  const double beta = sum1 / 3.0 * alpha_s;
  std::ostringstream console;
  ParamVector P = t.ps.P;
  float a = 0.0f, b = 0.0f;
  Estalsbe({*ms, console, 32}, P, t.ps.slot, a, b);
  EXPECT_TRUE(RelNear(a, alpha_s, kFloatTol));
  EXPECT_TRUE(RelNear(b, beta, kFloatTol));
}

TEST(Estalsbe, CurveWithTwoPointsStops) {
  PentodeTruth t(12);
  auto ms = PentodeSet(t);
  ms->curve(2, 3).NPts = 2;
  std::ostringstream console;
  ParamVector P = t.ps.P;
  float a = 0.0f, b = 0.0f;
  for (int32_t code : {12, 22}) {
    const auto stop = StopOf([&] {
      if (code == 12) Estalsbe({*ms, console, code}, P, t.ps.slot, a, b);
      else EstalsbePe({*ms, console, code}, P, t.ps.slot, a, b);
    });
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->kind(), Stop::Kind::kPlain);
    EXPECT_EQ(stop->lines(),
              std::vector<std::string>{" Error in Estalsbe. Need at least          3different values for Va."});
  }
}

TEST(Estalsbe, FileWithoutUsableCurveIsSkipped) {
  PentodeTruth t(12);
  auto ms = PentodeSet(t);
  // File 2: flat screen currents (no fall above 0.1 mA) on every curve.
  for (int c = 1; c <= 5; ++c)
    for (int p = 1; p <= 61; ++p) ms->point(2, c, p).Is = 0.002f;
  const auto [alpha_s, beta] = NoltAlphaBeta(2.0, 0.1, {0.0, 5.0, 10.0}, 300.0);
  std::ostringstream console;
  ParamVector P = t.ps.P;
  float a = 0.0f, b = 0.0f;
  Estalsbe({*ms, console, 12}, P, t.ps.slot, a, b);
  EXPECT_TRUE(RelNear(a, alpha_s, kFloatTol));  // files 1 and 3 only
  EXPECT_TRUE(RelNear(b, beta, kFloatTol));
  EXPECT_EQ(console.str(),
            " Estalsbe: file 2 has no curve whose screen current falls by more than 1.0E-04 A; file skipped.\n");
}

TEST(Estalsbe, NoUsableCurveGivesDefaults) {
  PentodeTruth t(32);
  auto ms = PentodeSet(t);
  for (int f = 1; f <= 3; ++f)
    for (int c = 1; c <= 5; ++c)
      for (int p = 1; p <= 61; ++p) ms->point(f, c, p).Is = 0.002f;
  std::ostringstream console;
  ParamVector P = t.ps.P;
  float a = 0.0f, b = 0.0f;
  Estalsbe({*ms, console, 32}, P, t.ps.slot, a, b);
  EXPECT_EQ(a, 1.0f);
  EXPECT_EQ(b, 10.0f);
  EXPECT_EQ(Lines(console.str()).back(),
            " Estalsbe: no usable curve; alpha_s set to       1.000000 and beta to      10.000000");
}

TEST(EstalsbePe, NoltECurvesGiveAlphaAndBeta) {
  // ln((Is - Is_end) kG2 / E) = ln alpha_s - beta^1.5 Va^1.5 exactly (the end term is 0), so
  // alpha_s = 2 and beta = (0.1^1.5)^0.667 = 0.1^1.0005 = 0.099884936...
  PentodeTruth t(22);
  auto ms = PentodeSet(t);
  std::ostringstream console;
  ParamVector P = t.ps.P;
  float a = 0.0f, b = 0.0f;
  EstalsbePe({*ms, console, 22}, P, t.ps.slot, a, b);
  EXPECT_TRUE(RelNear(a, 2.0, kFloatTol));
  EXPECT_TRUE(RelNear(b, std::pow(0.1, 1.5 * 0.667), kFloatTol));
  EXPECT_EQ(console.str(), "");
}

TEST(EstalsbePe, NegativeLogArgumentStops) {
  PentodeTruth t(22);
  auto ms = PentodeSet(t);
  ms->point(1, 2, 2).Is = ms->point(1, 2, 61).Is - 1.0e-5f;  // below the end current
  std::ostringstream console;
  ParamVector P = t.ps.P;
  float a = 0.0f, b = 0.0f;
  const auto stop = StopOf([&] { EstalsbePe({*ms, console, 22}, P, t.ps.slot, a, b); });
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ(stop->kind(), Stop::Kind::kWithText);
  EXPECT_EQ(stop->FinalLine(), "Execution halts");
  EXPECT_EQ(stop->lines(), std::vector<std::string>{" EstalsbePe: argument to log negative."});
}

TEST(EstalsbePe, ZeroLogArgumentSkipsTheCurve) {
  PentodeTruth t(22);
  auto ms = PentodeSet(t);
  ms->point(3, 4, 3).Is = ms->point(3, 4, 61).Is;  // z = 0 at point 3
  std::ostringstream console;
  ParamVector P = t.ps.P;
  float a = 0.0f, b = 0.0f;
  EstalsbePe({*ms, console, 22}, P, t.ps.slot, a, b);
  EXPECT_TRUE(RelNear(a, 2.0, kFloatTol));
  EXPECT_EQ(console.str(), " EstalsbePe: curve 4 of file 3 gives no finite values; curve skipped.\n");
}

TEST(EstalsbePe, RisingScreenCurrentSkipsTheFile) {
  PentodeTruth t(22);
  auto ms = NewSet();
  // Is - Is_end = 1, 2, 4 mA at Va = 0, 10, 20 V: ln z rises with Va^1.5, a negative beta slope.
  std::vector<MeasPoint> pts = {{0.0f, 0.003f, 0.0f, 150.0f}, {0.0f, 0.004f, 10.0f, 150.0f},
                                {0.0f, 0.006f, 20.0f, 150.0f}, {0.0f, 0.002f, 300.0f, 150.0f}};
  PutCurve(*ms, 1, 1, 0.0f, pts);
  std::ostringstream console;
  ParamVector P = t.ps.P;
  float a = 0.0f, b = 0.0f;
  EstalsbePe({*ms, console, 22}, P, t.ps.slot, a, b);
  EXPECT_EQ(a, 1.0f);
  EXPECT_EQ(b, 0.05f);
  EXPECT_EQ(console.str(),
            " EstalsbePe: file 1 gives a screen current that rises with Va; file skipped.\n"
            " EstalsbePe: no usable curve; alpha_s set to       1.000000 and beta to   5.000000E-02\n");
}

// Screen current of one curve, Va = 0..100 V in steps of 5 V (21 points).
void ScreenCurve(MeasurementSet& ms, int f, int c, float Vg1, float (*Is)(float)) {
  std::vector<MeasPoint> pts;
  for (int i = 0; i <= 20; ++i) {
    MeasPoint pt;
    pt.Va = 5.0f * static_cast<float>(i);
    pt.Vs = 150.0f;
    pt.Is = Is(pt.Va);
    pt.Ia = 0.001f;
    pts.push_back(pt);
  }
  PutCurve(ms, f, c, Vg1, pts);
}

// A maximum at 42 V, 0.6 mA, over 0.1 mA at the end.
float Bump(float Va) {
  const float u = (Va - 42.0f) / 15.0f;
  return 1.0e-4f + 5.0e-4f * std::exp(-u * u);
}
float Rising(float Va) { return 1.0e-4f + 1.0e-6f * Va + 1.0e-8f * Va * Va; }
float Falling(float Va) { return 1.0e-3f * std::exp(-Va / 30.0f); }

TEST(EstKnee, BumpIsFoundBetweenTheSlopeSignChange) {
  auto ms = NewSet();
  ScreenCurve(*ms, 1, 1, -1.0f, Bump);
  std::ostringstream console;
  float Vk = 0.0f, Ik = 0.0f;
  int j = 0;
  EstKnee({*ms, console}, 1, 1, Vk, Ik, j);
  // The slope of the local parabolas changes sign between Va = 40 V (point 9) and 45 V.
  EXPECT_EQ(j, 9);
  EXPECT_GT(Vk, 40.0f);
  EXPECT_LT(Vk, 45.0f);
  EXPECT_NEAR(Vk, 42.0f, 1.0f);
  EXPECT_EQ(Ik, Bump(40.0f));
  EXPECT_EQ(console.str(), "");
}

TEST(EstKnee, MonotonicCurvesHaveNoKnee) {
  for (float (*Is)(float) : {Rising, Falling}) {
    auto ms = NewSet();
    ScreenCurve(*ms, 1, 1, -1.0f, Is);
    std::ostringstream console;
    float Vk = 77.0f, Ik = 0.0f;
    int j = 55;
    EstKnee({*ms, console}, 1, 1, Vk, Ik, j);
    EXPECT_EQ(Ik, -1.0f);
    EXPECT_EQ(Vk, 77.0f);
    EXPECT_EQ(j, 55);
  }
}

TEST(EstKnee, FivePointCurveHasNoKnee) {
  auto ms = NewSet();
  std::vector<MeasPoint> pts;
  for (int i = 0; i < 5; ++i) pts.push_back(MeasPoint{0.001f, 0.001f * (5 - i), 10.0f * i, 150.0f});
  PutCurve(*ms, 1, 1, -1.0f, pts);
  std::ostringstream console;
  float Vk = 0.0f, Ik = 0.0f;
  int j = 0;
  EstKnee({*ms, console}, 1, 1, Vk, Ik, j);
  EXPECT_EQ(Ik, -1.0f);
}

// The rows of knee tables as the lines of "s.dat".
std::vector<std::string> TableLines(const std::vector<KneeTable>& tables) {
  std::vector<std::string> lines;
  for (const KneeTable& table : tables) {
    for (const std::array<float, 4>& row : table) lines.push_back(ListDirected({row[0], row[1], row[2], row[3]}));
  }
  return lines;
}

TEST(EstKnee, GivesItsDerivativeTable) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  auto ms = NewSet();
  ScreenCurve(*ms, 1, 1, -1.0f, Bump);
  std::ostringstream console;
  float Vk = 0.0f, Ik = 0.0f;
  int j = 0;
  std::vector<KneeTable> tables(1);
  EstKnee({*ms, console, 13, 2}, 1, 1, Vk, Ik, j, &tables[0]);
  EXPECT_FALSE(std::filesystem::exists("s.dat"));
  const std::vector<std::string> lines = TableLines(tables);
  ASSERT_EQ(lines.size(), 21u);
  // Points 1, 2, n-1 and n have no local parabola: their derivatives are 0.
  EXPECT_EQ(lines[0], ListDirected({0.0f, Bump(0.0f), 0.0f, 0.0f}));
  EXPECT_EQ(lines[20], ListDirected({100.0f, Bump(100.0f), 0.0f, 0.0f}));
  for (const std::string& line : lines) EXPECT_EQ(line.size(), 61u) << line;
}

// A beam tetrode file of three curves at Vs = 150 V whose screen-current bumps move up in Va by 5 V per
// volt of negative grid.
void TetrodeFile(MeasurementSet& ms, int f) {
  ScreenCurve(ms, f, 1, -1.0f, [](float Va) { return Bump(Va) * 2.0f; });
  ScreenCurve(ms, f, 2, -2.0f, [](float Va) { return Bump(Va - 5.0f) * 1.5f; });
  ScreenCurve(ms, f, 3, -3.0f, [](float Va) { return Bump(Va - 10.0f); });
}

ParamSet TetrodeParams() {
  ParamSet ps;
  ParamIdent(13, ps);
  const Slots& s = ps.slot;
  ps.P[s.mu] = 10.0f;
  ps.P[s.ex] = 1.4f;
  ps.P[s.kG1] = 1000.0f;
  ps.P[s.kp] = 200.0f;
  ps.P[s.kVB] = 100.0f;
  ps.P[s.kG2] = 5000.0f;
  ps.P[s.alpha_s] = 2.0f;
  ps.P[s.beta] = 0.1f;
  return ps;
}

TEST(EstSec, FollowsTheKneesOfTheCurves) {
  ParamSet ps = TetrodeParams();
  const Slots& s = ps.slot;
  ps.P[s.mu] = 2.0f;  // lambda = mu: Vs/lambda = 75 V puts the knee line below zero at Vg1 = 0, so w > 0
  auto ms = NewSet();
  TetrodeFile(*ms, 1);
  // Expected values from the knees and the secondary-emission relations, in double precision.
  std::vector<double> x, y;
  double Sf = 0.0;
  for (int c = 1; c <= 3; ++c) {
    std::ostringstream quiet;
    float Vk = 0.0f, Ik = 0.0f;
    int j = 0;
    EstKnee({*ms, quiet, 13}, 1, c, Vk, Ik, j);
    ASSERT_GT(Ik, 0.0f);
    ParamVector P = ps.P;
    const double T = KorenTerm(P, s, ms->curve(1, c).Vg1, 150.0f);
    const double Vx = ms->point(1, c, j).Va;
    const double G = 2.0 / (1.0 + 0.1 * Vx);
    double S = Ik - T * (1.0 + G) / 5000.0;
    if (S < 0.0) S = 0.2 * Ik;
    Sf += 0.95 * 5000.0 * S / (T * Vx);
    x.push_back(ms->curve(1, c).Vg1);
    y.push_back(1.1 * Vk - 150.0 / 2.0);
  }
  const auto [b0, b1] = LsLine(x, y);
  std::ostringstream console;
  float Sc = 0.0f, alpha_p = 0.0f, w = 0.0f, nu = 0.0f, lambda = 0.0f;
  EstSec({*ms, console, 13}, ps.P, s, Sc, alpha_p, w, nu, lambda);
  EXPECT_TRUE(RelNear(Sc, Sf / 3.0, 1e-4));
  EXPECT_TRUE(RelNear(w, std::max(-b0, 0.0), 1e-4));
  EXPECT_TRUE(RelNear(nu, std::max(-b1, 0.0), 1e-3));
  EXPECT_GT(nu, 0.0f);  // the knee voltage falls as Vg1 rises: a negative slope
  EXPECT_GT(w, 0.0f);
  EXPECT_EQ(alpha_p, 0.05f);
  EXPECT_EQ(lambda, 2.0f);
  EXPECT_EQ(console.str(), "");
}

TEST(EstSec, NoKneeGivesZerosAndTheLine) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  ParamSet ps = TetrodeParams();
  auto ms = NewSet();
  ScreenCurve(*ms, 1, 1, -1.0f, Rising);
  ScreenCurve(*ms, 1, 2, -2.0f, Rising);
  ScreenCurve(*ms, 1, 3, -3.0f, Falling);
  std::ostringstream console;
  float Sc = 9.0f, alpha_p = 0.0f, w = 9.0f, nu = 9.0f, lambda = 0.0f;
  std::vector<KneeTable> tables;
  EstSec({*ms, console, 23, 2}, ps.P, ps.slot, Sc, alpha_p, w, nu, lambda, &tables);
  EXPECT_EQ(Sc, 0.0f);
  EXPECT_EQ(w, 0.0f);
  EXPECT_EQ(nu, 0.0f);
  EXPECT_EQ(alpha_p, 0.05f);
  EXPECT_EQ(lambda, 10.0f);
  const std::vector<std::string> lines = Lines(console.str());
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], " ");
  EXPECT_EQ(lines[1], "  Vmax      Imax");
  EXPECT_EQ(lines[2], ListDirected({0.0f, -1.0f}));
  EXPECT_EQ(lines[5], " Seems sec emission characteristics difficultto find. Try penthode model w/o sec emission.");
  EXPECT_EQ(lines[6], " ");
  // The tables of all three curves, the falling one last.
  ASSERT_EQ(tables.size(), 3u);
  const std::vector<std::string> sdat = TableLines(tables);
  ASSERT_EQ(sdat.size(), 63u);
  EXPECT_EQ(sdat[0], ListDirected({0.0f, Rising(0.0f), 0.0f, 0.0f}));
  EXPECT_EQ(sdat[42], ListDirected({0.0f, Falling(0.0f), 0.0f, 0.0f}));
  EXPECT_FALSE(std::filesystem::exists("s.dat"));
}

TEST(EstkG1g3, KorenTermOfTheG3Section) {
  ParamSet ps;
  ParamIdent(14, ps);
  const Slots& s = ps.slot;
  ps.P[s.mu_p] = 10.0f;
  ps.P[s.ex_p] = -1.2f;  // taken by its absolute value
  ps.P[s.kp_p] = 50.0f;
  auto ms = NewSet();
  PutCurve(*ms, 1, 1, 0.0f, {MeasPoint{0.0f, 0.0f, 0.0f, 100.0f}, MeasPoint{0.0f, 0.0f, 300.0f, 180.0f}});
  PutCurve(*ms, 2, 1, 0.0f, {MeasPoint{0.0f, 0.0f, 300.0f, 200.0f}});
  PutCurve(*ms, 2, 2, 0.0f, {MeasPoint{0.0f, 0.0f, 300.0f, 250.0f}});  // not a first curve
  std::ostringstream console;
  float kG1_p = 0.0f;
  EstkG1g3({*ms, console}, ps.P, s, kG1_p);
  // z = 5: E = 200 ln(1 + e^5) / 50.
  EXPECT_TRUE(RelNear(kG1_p, std::pow(200.0 * std::log1p(std::exp(5.0)) / 50.0, 1.2), 1e-5));
  ps.P[s.kp_p] = 400.0f;  // z = 40: E = 200 * 40 / 400 = 20
  EstkG1g3({*ms, console}, ps.P, s, kG1_p);
  EXPECT_TRUE(RelNear(kG1_p, std::pow(20.0, 1.2), 1e-5));
  EXPECT_EQ(console.str(), "");
  auto empty = NewSet();
  EstkG1g3({*empty, console}, ps.P, s, kG1_p);  // Vmax = 0 would give kG1' = 0
  EXPECT_EQ(kG1_p, 1.0f);
  EXPECT_EQ(console.str(), " EstkG1g3: no usable kG1' from the g3 triode values; kG1' set to       1.000000\n");
}

// ---------------------------------------------------------------- the driver

struct EstRun {
  std::unique_ptr<RunState> st = std::make_unique<RunState>();
  std::ostringstream console;
  explicit EstRun(int32_t iModel, char tube) {
    st->settings.iModel = iModel;
    st->settings.TubeType = tube;
    ParamIdent(iModel, st->params);
  }
  float P(int32_t slot) const { return st->params.P[slot]; }
  const Slots& s() const { return st->params.slot; }
};

const char kTriodePar[] = " kVB =     300.000000\n kG1 =    1000.000000\n kp  =     200.000000\n"
                          " ex  =       1.500000\n mu  =      20.000000\n";

TEST(EstStart, StartFileSuppliesValuesByName) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  WriteFile("start.par", "# start values\n Sc = 0.5\n nu = 2\n w = -3\n alpha' = 0.07\n alpha_s = 1.5\n"
                         " beta = 0.2\n A = 0.001\n kVB = 50\n kG1 = 900\n ex = 1.3\n kp = 250\n mu = 9\n"
                         " kG2 = 4000\n");
  EstRun run(13, 'B');
  run.st->settings.RdStart = true;
  run.st->settings.StartFile = "start.par";
  EstStart(*run.st, run.console);
  EXPECT_EQ(run.console.str(), " Reading start parametervalues from file start.par\n"
                               " Cannot find parameter lambda. Set to zero.\n"
                               " Cannot find parameter w. Set to zero.\n");
  const Slots& s = run.s();
  EXPECT_EQ(run.P(s.lambda), 1000.0f);
  EXPECT_EQ(run.P(s.w), 0.0f);  // negative: treated as missing
  EXPECT_EQ(run.P(s.Sc), 0.5f);
  EXPECT_EQ(run.P(s.alpha_p), 0.07f);
  EXPECT_EQ(run.P(s.kG2), 4000.0f);
  EXPECT_EQ(run.P(s.mu), 9.0f);
  EXPECT_FALSE(std::filesystem::exists("Model.par"));
}

TEST(EstStart, MissingStartFileStops) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  EstRun run(1, 'T');
  run.st->settings.RdStart = true;
  run.st->settings.StartFile = "gone.par";
  const auto stop = StopOf([&] { EstStart(*run.st, run.console); });
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ(stop->lines()[0], " Error opening File gone.par" + std::string(504, ' '));
}

TEST(EstStart, TriodeEstimatesAndWritesTheFiles) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  TriodeTruth t;
  EstRun run(1, 'X');
  run.st->meas = *TriodeSet(t);
  EstStart(*run.st, run.console);
  const Slots& s = run.s();
  EXPECT_TRUE(RelNear(run.P(s.mu), 20.0, 0.02));
  EXPECT_TRUE(RelNear(run.P(s.ex), 1.4, 0.01));
  EXPECT_TRUE(RelNear(run.P(s.kG1), 1000.0, 0.03));
  EXPECT_TRUE(RelNear(run.P(s.kp), 300.0, 0.10));
  EXPECT_TRUE(std::isfinite(run.P(s.kVB)));
  const std::vector<std::string> lines = Lines(run.console.str());
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], " Initial estimates:");
  EXPECT_EQ(lines[1], " ");
  EXPECT_EQ(lines[2], " kVB =" + ListFloat(run.P(s.kVB)));
  EXPECT_EQ(lines[6], " mu  =" + ListFloat(run.P(s.mu)));
  EXPECT_EQ(lines[7], " ");
  EXPECT_EQ(ReadFile("Triode.par"), ReadFile("Model.par"));
  const ParFile file = OpenParFile("Model.par");
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(ReadParValue(file, run.st->params.name[i]), run.P(i));
}

TEST(EstStart, DiodeEstimates) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  EstRun run(0, 'D');
  std::vector<MeasPoint> pts;
  for (int i = 1; i <= 20; ++i) {
    const float Va = 10.0f * static_cast<float>(i);
    pts.push_back(MeasPoint{static_cast<float>(std::pow(Va, 1.5) / 3000.0), 0.0f, Va, 0.0f});
  }
  PutCurve(run.st->meas, 1, 1, 0.0f, pts);
  EstStart(*run.st, run.console);
  EXPECT_TRUE(RelNear(run.P(run.s().k), 3000.0, 1e-3));
  EXPECT_TRUE(RelNear(run.P(run.s().ex), 1.5, kFloatTol));
  EXPECT_EQ(run.P(run.s().eps), 0.0f);
}

// Three Vs=Cst files of the pentode truth, then two Vs=Va files with other screen currents.
void PentodeRun(EstRun& run, const PentodeTruth& t) {
  run.st->meas = *PentodeSet(t);
  for (int f = 4; f <= 5; ++f)
    for (int c = 1; c <= 5; ++c) {
      ModelCurve(run.st->meas, f, c, 12, t.ps.P, t.ps.slot, -static_cast<float>(c - 1), -1.0f, 0.0f, 5.0f, 61);
      for (int p = 1; p <= 61; ++p) run.st->meas.point(f, c, p).Is *= 3.0f;
    }
  run.st->meas.NVsCst = 3;
}

TEST(EstStart, ScreenGridEstimatorsSeeOnlyTheCstFilesAndNFilesIsRestored) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  WriteFile("Triode.par", kTriodePar);
  PentodeTruth t(22);
  EstRun run(22, 'P');
  PentodeRun(run, t);
  ASSERT_EQ(run.st->meas.NFiles, 5);
  EstStart(*run.st, run.console);
  EXPECT_EQ(run.st->meas.NFiles, 5);
  // The same estimators on the three Vs=Cst files alone, with the triode values of the file.
  auto cst = PentodeSet(t);
  ParamVector P = run.st->params.P;
  std::ostringstream quiet;
  float kG2 = 0.0f, A = 0.0f, a = 0.0f, b = 0.0f;
  EstkG2({*cst, quiet, 22}, P, t.ps.slot, kG2);
  P[t.ps.slot.kG2] = kG2;
  EstA({*cst, quiet, 22}, P, t.ps.slot, A);
  EstalsbePe({*cst, quiet, 22}, P, t.ps.slot, a, b);
  const Slots& s = run.s();
  EXPECT_EQ(run.P(s.kG2), kG2);
  EXPECT_EQ(run.P(s.A), A);
  EXPECT_EQ(run.P(s.alpha_s), a);
  EXPECT_EQ(run.P(s.beta), b);
  EXPECT_EQ(run.P(s.mu), 20.0f);
  EXPECT_EQ(run.P(s.kVB), 300.0f);
  EXPECT_EQ(run.P(s.kp), 200.0f);
}

TEST(EstStart, VariableMuScalesMuBeforeOrAfterTheEstimators) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  WriteFile("Triode.par", kTriodePar);
  for (int32_t code : {16, 26}) {
    PentodeTruth t(code == 16 ? 12 : 22);
    EstRun run(code, 'V');
    PentodeRun(run, t);
    EstStart(*run.st, run.console);
    const Slots& s = run.s();
    EXPECT_EQ(run.P(s.svar), 0.5f) << code;
    EXPECT_EQ(run.P(s.ex_b), 0.8f * 1.5f) << code;
    if (code == 16) {
      EXPECT_EQ(run.P(s.mu), 30.0f);
      EXPECT_EQ(run.P(s.mu_b), 15.0f);
    } else {
      EXPECT_EQ(run.P(s.mu), 20.0f);
      EXPECT_EQ(run.P(s.mu_b), 10.0f);
    }
    EXPECT_EQ(run.st->meas.NFiles, 5);
  }
}

TEST(EstStart, KorenPentodeSetsKVBTo100) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  WriteFile("Triode.par", kTriodePar);
  PentodeTruth t(22);
  EstRun run(2, 'P');
  PentodeRun(run, t);
  EstStart(*run.st, run.console);
  EXPECT_EQ(run.P(run.s().kVB), 100.0f);
  EXPECT_EQ(run.P(run.s().mu), 20.0f);
  EXPECT_GT(run.P(run.s().kG2), 0.0f);
}

TEST(EstStart, G3PentodeIgnoresTheData) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  WriteFile("Penthode.par", " alpha_s = 1.5\n beta = 0.2\n A = 0.001\n kG2 = 4000\n kG1 = 900\n mu = 9\n"
                            " ex = 1.3\n kp = 250\n kVB = 50\n");
  EstRun run(25, 'F');  // no measurement at all
  EstStart(*run.st, run.console);
  const Slots& s = run.s();
  EXPECT_EQ(run.P(s.alpha_s), 1.5f);
  EXPECT_EQ(run.P(s.beta), 0.2f);
  EXPECT_EQ(run.P(s.A), 0.001f);
  EXPECT_EQ(run.P(s.kG2), 4000.0f);
  EXPECT_EQ(run.P(s.kG1), 900.0f);
  EXPECT_EQ(run.P(s.mu), 9.0f);
  EXPECT_EQ(run.P(s.ex), 1.3f);
  EXPECT_EQ(run.P(s.kp), 250.0f);
  EXPECT_EQ(run.P(s.kVB), 50.0f);
  EXPECT_EQ(run.P(s.V0), 0.0f);
  EXPECT_EQ(run.P(s.mu3), 1.0f);
  EXPECT_EQ(run.P(s.kG1_p), 4.0f);
  EXPECT_EQ(run.P(s.ex_p), 1.0f);
  EXPECT_EQ(run.P(s.mu_p), 10.0f);
  EXPECT_EQ(Lines(run.console.str())[0], " Initial estimates:");
}

TEST(EstStart, G3PentodeFileWithoutTheDivisionLawStops) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  WriteFile("Penthode.par", " mu = 9\n ex = 1.3\n kG1 = 900\n kp = 250\n kVB = 50\n kG2 = 4000\n");
  EstRun run(25, 'F');
  const auto stop = StopOf([&] { EstStart(*run.st, run.console); });
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ(stop->FinalLine(), "Execution halts");
  EXPECT_EQ(stop->lines(), (std::vector<std::string>{" Cannot find parameter alpha_s in File Penthode.par.",
                                                     " Cannot find parameter beta in File Penthode.par.",
                                                     " Cannot find parameter A in File Penthode.par."}));
  EXPECT_FALSE(std::filesystem::exists("Model.par"));
}

TEST(EstStart, HexodeReadsBothTriodeFiles) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  WriteFile("Triode.par", kTriodePar);
  WriteFile("Triode_g3.par", " kVB = 40\n kG1 = 700\n kp = 50\n ex = 1.2\n mu = 10\n");
  PentodeTruth t(12);
  EstRun run(14, 'H');
  PentodeRun(run, t);
  EstStart(*run.st, run.console);
  const Slots& s = run.s();
  EXPECT_EQ(run.P(s.mu), 20.0f);
  EXPECT_EQ(run.P(s.mu_p), 10.0f);
  EXPECT_EQ(run.P(s.ex_p), 1.2f);
  EXPECT_EQ(run.P(s.kp_p), 50.0f);
  EXPECT_EQ(run.P(s.kVB_p), 40.0f);
  EXPECT_EQ(run.P(s.mu3), 100.0f);
  // kG1' from the g3 section at the highest first-curve screen voltage of the Cst files (200 V): z = 5.
  EXPECT_TRUE(RelNear(run.P(s.kG1_p), std::pow(200.0 * std::log1p(std::exp(5.0)) / 50.0, 1.2), 1e-5));
  EXPECT_EQ(run.st->meas.NFiles, 5);
}

TEST(EstStart, TriodeFileWithoutAParameterStops) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  WriteFile("Triode.par", " kVB = 300\n kG1 = 1000\n ex = 1.5\n mu = 20\n");
  PentodeTruth t(22);
  EstRun run(22, 'P');
  PentodeRun(run, t);
  const auto stop = StopOf([&] { EstStart(*run.st, run.console); });
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ(stop->lines(), std::vector<std::string>{" Cannot find parameter kp in File Triode.par."});
  EXPECT_EQ(run.st->meas.NFiles, 5);  // restored on the way out too
}

// At debug level 2 "s.dat" holds the knee table of every curve of the three Vs=Cst files (5 curves of 61
// points each), an empty line between two curves, and nothing of the Vs=Va files.
TEST(EstStart, KneeTablesOfEveryCstCurveGoToOneFile) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  WriteFile("Triode.par", kTriodePar);
  PentodeTruth t(12);
  EstRun run(13, 'B');
  PentodeRun(run, t);
  run.st->settings.DebugLevel = 2;
  EstStart(*run.st, run.console);
  const std::vector<std::string> lines = Lines(ReadFile("s.dat"));
  ASSERT_EQ(lines.size(), 15u * 61u + 14u);
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].empty(), i % 62 == 61) << i;
  EXPECT_EQ(lines[62], ListDirected({run.st->meas.point(1, 2, 1).Va, run.st->meas.point(1, 2, 1).Is, 0.0f, 0.0f}));
}

TEST(EstStart, ScreenGridCodeWithoutCstFileStops) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  WriteFile("Triode.par", kTriodePar);
  PentodeTruth t(12);
  EstRun run(12, 'P');
  PentodeRun(run, t);
  run.st->meas.NVsCst = 0;
  const auto stop = StopOf([&] { EstStart(*run.st, run.console); });
  ASSERT_TRUE(stop.has_value());
  EXPECT_EQ(stop->FinalLine(), "Execution halts");
  EXPECT_EQ(stop->lines(),
            std::vector<std::string>{" No Vs=Cst file: the screen-grid parameters cannot be estimated."});
}

TEST(EstStart, CodeWithoutEstimatorsStillWritesTheFiles) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  EstRun run(15, 'F');
  run.st->params.P[1] = 3.0f;
  EstStart(*run.st, run.console);
  EXPECT_EQ(Lines(run.console.str())[0], " Initial estimates:");
  EXPECT_EQ(Lines(ReadFile("Model.par")).size(), 14u);
}

}  // namespace
}  // namespace tubefit
