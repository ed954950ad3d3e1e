// Tests of the fitting engine: the fit window and objective, the one-dimensional minimisers, powell and the
// refinement driver Fit. Expected objective values are worked out by hand on numbers chosen so that every
// float operation is exact (powers of two); console texts are written out literally or built with printf.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/matrix.h"
#include "core/run_state.h"
#include "core/measurement_set.h"
#include "driver/fit_sequence.h"
#include "fit/brent.h"
#include "fit/fit.h"
#include "fit/lm.h"
#include "fit/objective.h"
#include "fit/powell.h"
#include "models/model_info.h"
#include "models/models.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {
namespace {

constexpr float kHuge = 1e30f;  // a window limit no point reaches

ParamSet SetFor(int32_t iModel) {
  ParamSet ps;
  ParamIdent(iModel, ps);
  return ps;
}

// An empty measurement set, held on the heap.
std::unique_ptr<MeasurementSet> EmptySet() { return std::make_unique<MeasurementSet>(); }

// Appends a curve at grid voltage Vg1 to file f, with the points given as {Va, Vs, Ia, Is}.
void AddCurve(MeasurementSet& ms, int f, float Vg1, const std::vector<MeasPoint>& pts, float Vg3 = 0.0f) {
  if (ms.NFiles < f) ms.NFiles = f;
  MeasFile& file = ms.file[f];
  MeasCurve& c = file.curve[++file.NVg];
  c.Vg1 = Vg1;
  c.Vg3 = Vg3;
  c.NPts = 0;
  for (const MeasPoint& p : pts) c.pt[++c.NPts] = p;
}

MeasPoint Pt(float Va, float Vs, float Ia, float Is) {
  MeasPoint p;
  p.Va = Va;
  p.Vs = Vs;
  p.Ia = Ia;
  p.Is = Is;
  return p;
}

// Noise-free measurements of the model `iModel` with parameters ps on a grid of curves: Vg1 values, Va from
// 0 in steps, screen at Vs (Vs < 0: tied to the anode).
std::unique_ptr<MeasurementSet> Synthetic(int32_t iModel, ParamSet ps, const std::vector<float>& vg1,
                                          int npts, float va_step, float Vs) {
  auto ms = EmptySet();
  for (float vg : vg1) {
    std::vector<MeasPoint> pts;
    for (int p = 0; p < npts; ++p) {
      float Va = va_step * static_cast<float>(p);
      float vs = Vs < 0.0f ? Va : Vs;
      float Ia = 0.0f, Is = 0.0f;
      Model(iModel, Va, vs, vg, 0.0f, ps.P, ps.slot, Ia, Is);
      pts.push_back(Pt(Va, vs, Ia, Is));
    }
    AddCurve(*ms, 1, vg, pts);
  }
  return ms;
}

ParamSet TriodeParams() {
  ParamSet ps = SetFor(1);
  ps.P[ps.slot.mu] = 100.0f;
  ps.P[ps.slot.ex] = 1.4f;
  ps.P[ps.slot.kG1] = 1060.0f;
  ps.P[ps.slot.kp] = 600.0f;
  ps.P[ps.slot.kVB] = 300.0f;
  return ps;
}

std::vector<float> NineGrids() { return {0.0f, -0.5f, -1.0f, -1.5f, -2.0f, -2.5f, -3.0f, -3.5f, -4.0f}; }

// The console text of an "Iter:" line with passes 1..n, ended by the blank record of Fit.
std::string IterLine(int n) {
  std::string line = " Iter:";
  char buf[16];
  for (int i = 1; i <= n; ++i) {
    std::snprintf(buf, sizeof buf, "%3d,", i);
    line += buf;
  }
  return line + " \n";
}

// One fit stage as the driver runs it: Fit with its console lines.
FitSummary Stage(ParamVector& P, const Objective& F, int32_t NFit, float ftol, int32_t eps_slot,
                 std::ostream& console) {
  FitOptions options;
  options.NFit = NFit;
  options.ftol = ftol;
  options.kept_sign[eps_slot] = eps_slot != 0;
  return RunFitStage(P, F, options, console);
}

// Splits console text into lines (without the line ends).
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// ---------------------------------------------------------------- fit window and objective

// A point exactly at the power limit and one exactly at the cathode-current limit are left out; the
// points one float below each limit stay in.
TEST(FitWindow, PointsAtTheLimitsAreLeftOut) {
  auto ms = EmptySet();
  // 200 V * 2^-7 A = 1.5625 W exactly; 2^-6 + 2^-7 A = 0.0234375 A exactly.
  const float Pmax = 1.5625f;
  const float Icmax = 0.0234375f;
  const float below_ia = std::nextafter(0.0078125f, 0.0f);
  const float below_is = std::nextafter(Icmax, 0.0f) - 0.015625f;  // exact: the sum is one float below
  AddCurve(*ms, 1, -1.0f,
           {Pt(200.0f, 100.0f, 0.0078125f, 0.0f),      // Va*Ia == Pmax: out
            Pt(200.0f, 100.0f, below_ia, 0.0f),        // just below: in
            Pt(50.0f, 100.0f, 0.015625f, 0.0078125f),  // Ia+Is == Icmax: out
            Pt(50.0f, 100.0f, 0.015625f, below_is)});  // just below: in
  AddCurve(*ms, 1, -2.0f, {Pt(300.0f, 100.0f, 0.01f, 0.0f)});  // 3 W: out
  std::vector<FitPoint> w = SelectFitWindow(*ms, Pmax, Icmax);
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0].Va, 200.0f);
  EXPECT_EQ(w[0].Ia, below_ia);
  EXPECT_EQ(w[0].Vg1, -1.0f);
  EXPECT_EQ(w[1].Va, 50.0f);
  EXPECT_EQ(w[1].Is, below_is);
}

TEST(FitWindow, KeepsFileCurvePointOrder) {
  auto ms = EmptySet();
  AddCurve(*ms, 1, -1.0f, {Pt(1.0f, 0.0f, 0.0f, 0.0f), Pt(2.0f, 0.0f, 0.0f, 0.0f)});
  AddCurve(*ms, 1, -2.0f, {Pt(3.0f, 0.0f, 0.0f, 0.0f)});
  AddCurve(*ms, 2, -3.0f, {Pt(4.0f, 0.0f, 0.0f, 0.0f)}, 7.0f);
  std::vector<FitPoint> w = SelectFitWindow(*ms, kHuge, kHuge);
  ASSERT_EQ(w.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(w[i].Va, static_cast<float>(i + 1));
  EXPECT_EQ(w[2].Vg1, -2.0f);
  EXPECT_EQ(w[3].Vg1, -3.0f);
  EXPECT_EQ(w[3].Vg3, 7.0f);
}

// A triode whose Koren term is exactly Va: kp = 10, mu = 1, Vg1 = 0 give t = 10 (linear branch, E1 = Va),
// ex = 1; with kG1 = 1024 the model current is Va / 1024.
ParamSet ExactTriode() {
  ParamSet ps = SetFor(1);
  ps.P[ps.slot.kp] = 10.0f;
  ps.P[ps.slot.mu] = 1.0f;
  ps.P[ps.slot.kVB] = 0.0f;
  ps.P[ps.slot.ex] = 1.0f;
  ps.P[ps.slot.kG1] = 1024.0f;
  return ps;
}

TEST(FitObjective, TriodeIgnoresScreenColumns) {
  auto ms = EmptySet();
  // Model currents 0.125, 0.25, 0.0625 A; errors -2^-7, 2^-6, 0 A; screen columns far from anything.
  AddCurve(*ms, 1, 0.0f,
           {Pt(128.0f, 250.0f, 0.1328125f, 0.5f), Pt(256.0f, 250.0f, 0.234375f, 0.75f),
            Pt(64.0f, 250.0f, 0.0625f, 0.25f)});
  ParamSet ps = ExactTriode();
  FitObjective F(*ms, kHuge, kHuge, 1, ps.slot);
  // 2^-14 + 2^-12 = 5 * 2^-14.
  EXPECT_EQ(F(ps.P), 3.0517578125e-4f);
  EXPECT_EQ(F.Pointwise(ps.P), 3.0517578125e-4f);
}

// Nolt pentode (12) with kG1 = kG2 = 1024 (so alpha = 0, S = 0, the base term 0), alpha_s = 0, beta = 0,
// A = 2^-7 and the exact Koren term E = Vs: Ia = Vs * A * Va / 1024, Is = Vs / 1024.
ParamSet ExactPentode() {
  ParamSet ps = SetFor(12);
  ps.P[ps.slot.kp] = 10.0f;
  ps.P[ps.slot.mu] = 1.0f;
  ps.P[ps.slot.kVB] = 0.0f;
  ps.P[ps.slot.ex] = 1.0f;
  ps.P[ps.slot.kG1] = 1024.0f;
  ps.P[ps.slot.kG2] = 1024.0f;
  ps.P[ps.slot.alpha_s] = 0.0f;
  ps.P[ps.slot.beta] = 0.0f;
  ps.P[ps.slot.A] = 0.0078125f;
  return ps;
}

TEST(FitObjective, PentodeIncludesScreenErrors) {
  auto ms = EmptySet();
  // Point 1: Va 256, Vs 128: Ia' = 0.25, Is' = 0.125; measured 0.25 + 2^-8 and 0.125 - 2^-7.
  // Point 2: Va 128: Ia' = 0.125, Is' = 0.125; measured 0.125 and 0.125 + 2^-9.
  AddCurve(*ms, 1, 0.0f,
           {Pt(256.0f, 128.0f, 0.25390625f, 0.1171875f), Pt(128.0f, 128.0f, 0.125f, 0.126953125f)});
  ParamSet ps = ExactPentode();
  FitObjective F(*ms, kHuge, kHuge, 12, ps.slot);
  // 2^-16 + 2^-14 + 0 + 2^-18 = 21 * 2^-18.
  EXPECT_EQ(F(ps.P), 8.0108642578125e-05f);
  EXPECT_EQ(F.Pointwise(ps.P), 8.0108642578125e-05f);
  // The same points as a triode: only the anode errors, 2^-16.
  ParamSet tri = ExactTriode();
  ParamSet tri_ps = tri;
  FitObjective T(*ms, kHuge, kHuge, 1, tri.slot);
  // As a triode the anode voltage drives the Koren term: Ia' = Va / 1024 = 0.25 and 0.125 as well.
  EXPECT_EQ(T(tri_ps.P), 1.52587890625e-05f);
}

TEST(FitObjective, WindowIsResolvedFromMeasuredCurrents) {
  auto ms = EmptySet();
  // The second point is at the power limit by its measured current although the model current is small.
  AddCurve(*ms, 1, 0.0f, {Pt(128.0f, 0.0f, 0.1328125f, 0.0f), Pt(256.0f, 0.0f, 1.0f, 0.0f)});
  ParamSet ps = ExactTriode();
  FitObjective F(*ms, 256.0f, kHuge, 1, ps.slot);
  EXPECT_EQ(F.points().size(), 1u);
  EXPECT_EQ(F(ps.P), 6.103515625e-05f);
}

TEST(FitObjective, EmptyWindowIsZeroAndLeavesTheVector) {
  auto ms = EmptySet();
  AddCurve(*ms, 1, 0.0f, {Pt(128.0f, 0.0f, 1.0f, 0.0f)});
  ParamSet ps = ExactTriode();
  ps.P[ps.slot.mu] = 400.0f;
  ps.P[ps.slot.kVB] = -3.0f;
  FitObjective F(*ms, 1.0f, kHuge, 1, ps.slot);
  EXPECT_EQ(F(ps.P), 0.0f);
  // No point was evaluated, so no clamp was written back.
  EXPECT_EQ(ps.P[ps.slot.mu], 400.0f);
  EXPECT_EQ(ps.P[ps.slot.kVB], -3.0f);
}

TEST(FitObjective, WritesTheModelClampsBack) {
  auto ms = Synthetic(1, TriodeParams(), NineGrids(), 31, 10.0f, 0.0f);
  ParamSet ps = TriodeParams();
  ps.P[ps.slot.mu] = 200.0f;
  ps.P[ps.slot.kVB] = -300.0f;
  FitObjective F(*ms, kHuge, kHuge, 1, ps.slot);
  ParamVector clamped{};
  const float R2 = F(ps.P, clamped);
  EXPECT_EQ(clamped[ps.slot.mu], 150.0f);
  EXPECT_EQ(clamped[ps.slot.kVB], 300.0f);
  EXPECT_EQ(F(ps.P), R2);
  EXPECT_EQ(F(clamped), R2);
}

// A beam tetrode (13, 23 or 33) whose secondary emission u = a' (Va - Vs/lambda + nu Vg1 + w) lies between 5.9
// and 9 on the grid of BeamTetrodeWindow: 1 + tanh(-u) is 1.5e-5 to 3e-8 there, and Sc makes the term move
// up to a few tens of % of the anode current.
ParamSet FarEmissionTetrode(int32_t iModel) {
  ParamSet ps = SetFor(iModel);
  const Slots& s = ps.slot;
  const std::pair<int32_t, float> values[] = {
      {s.mu, 20.0f},     {s.ex, 1.4f},       {s.kG1, 600.0f}, {s.kp, 40.0f},   {s.kVB, 20.0f},
      {s.kG2, 3000.0f},  {s.alpha_s, 2.0f},  {s.beta, 0.05f}, {s.A, 5e-4f},    {s.Sc, 3000.0f},
      {s.nu, 2.0f},      {s.lambda, 1.5f},   {s.w, 666.0f},   {s.alpha_p, 0.01f}};
  for (const auto& v : values) ps.P[v.first] = v.second;
  return ps;
}

// The objective of a beam tetrode in double precision, written out from the law's equations with tanh.
double TetrodeSumInDouble(int32_t iModel, const FitObjective& F, const ParamVector& P, const Slots& s) {
  auto p = [&P](int32_t slot) { return static_cast<double>(P[slot]); };
  const double kG1 = p(s.kG1), kG2 = p(s.kG2), as = p(s.alpha_s), A = std::fabs(p(s.A));
  const double beta = std::fabs(p(s.beta)), kp = p(s.kp);
  const double alpha = 1.0 - kG1 * (1.0 + as) / kG2, S = as / kG2 + alpha / kG1, base = 1.0 / kG1 - 1.0 / kG2;
  const Family family = ModelInfoFor(iModel).family;
  const double ap = family == Family::kNoltE ? p(s.alpha_p) : std::fmin(p(s.alpha_p), 0.1);
  double sum = 0.0;
  for (const FitPoint& x : F.points()) {
    const double Va = x.Va, Vs = x.Vs, Vg1 = x.Vg1;
    const double t = kp * (1.0 / p(s.mu) + Vg1 / std::sqrt(std::fabs(p(s.kVB)) + Vs * Vs));
    const double E1 = t < 10.0 ? Vs * std::log1p(std::exp(t)) / kp : Vs * t / kp;
    const double E = E1 > 1e-6 ? std::pow(E1, std::fabs(p(s.ex))) : 0.0;
    const double u = ap * (Va - Vs / std::fabs(p(s.lambda)) + std::fabs(p(s.nu)) * Vg1 + std::fabs(p(s.w)));
    const double Tse = std::fabs(p(s.Sc)) * Va * (1.0 + std::tanh(-u));
    const double D = family == Family::kNoltE ? std::exp(-std::pow(beta * Va, 1.5))
                                              : 1.0 + beta * Va / (family == Family::kNoltI ? Vs : 1.0);
    const double g = family == Family::kNoltE ? D : 1.0 / D;
    const double dIa = x.Ia - E * (base - S * g + A * Va / kG1 - Tse / kG2);
    const double dIs = x.Is - E * (1.0 + as * g + Tse) / kG2;
    sum += dIa * dIa + dIs * dIs;
  }
  return sum;
}

// Where the emission term is a small fraction of 1 + tanh(-u) at every point, the 32-bit objective is
// still the law's: it agrees with the double-precision sum to 1e-4 (data made at Sc, evaluated at 1.1 Sc).
TEST(FitObjective, BeamTetrodeEmissionKeepsItsPrecision) {
  for (int32_t code : {13, 23, 33}) {
    ParamSet ps = FarEmissionTetrode(code);
    auto ms = Synthetic(code, ps, NineGrids(), 31, 10.0f, 100.0f);
    ps.P[ps.slot.Sc] *= 1.1f;
    FitObjective F(*ms, kHuge, kHuge, code, ps.slot);
    const double reference = TetrodeSumInDouble(code, F, ps.P, ps.slot);
    EXPECT_GT(reference, 1e-7) << code;  // the term moves currents by a fraction of a mA
    EXPECT_NEAR(F(ps.P), reference, 1e-4 * reference) << code;
    EXPECT_NEAR(F.Pointwise(ps.P), reference, 1e-4 * reference) << code;
  }
}

// ---------------------------------------------------------------- mnbrak and brent

TEST(Mnbrak, FlatLineEndsAtOnce) {
  int calls = 0;
  LineFunction f = [&calls](float x) {
    ++calls;
    return 1.0f - 1e-7f * x;  // relative slope far below 2e-6
  };
  float ax = 0.0f, bx = 1.0f, cx = 0.0f, fa = 0.0f, fb = 0.0f, fc = 0.0f;
  mnbrak(ax, bx, cx, fa, fb, fc, f);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(ax, 0.0f);
  EXPECT_EQ(bx, 1.0f);
  EXPECT_EQ(cx, 1.0f + 1.618034f);
  EXPECT_EQ(fa, 1.0f);
  EXPECT_EQ(fb, 1.0f - 1e-7f);
}

TEST(Mnbrak, ObjectiveExactlyZeroEndsAtOnce) {
  int calls = 0;
  LineFunction f = [&calls](float) {
    ++calls;
    return 0.0f;
  };
  float ax = 0.0f, bx = 1.0f, cx = 0.0f, fa = 1.0f, fb = 1.0f, fc = 1.0f;
  mnbrak(ax, bx, cx, fa, fb, fc, f);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(cx, 1.0f + 1.618034f);
  EXPECT_EQ(fa, 0.0f);
  EXPECT_EQ(fc, 0.0f);
}

// f(0) = 2, f(1) = 1, f(2.618034) = 1: the tie after the first golden step goes on bracketing. The
// parabola through the three points puts u at 1.809017 (value 1, neither below fc nor above fb), so a
// golden step to 5.236068 follows, which closes the bracket (1, 2.618034, 5.236068).
TEST(Mnbrak, TieKeepsBracketing) {
  int calls = 0;
  LineFunction f = [&calls](float x) {
    ++calls;
    if (x <= 1.0f) return 2.0f - x;
    if (x <= 3.0f) return 1.0f;
    return x - 2.0f;
  };
  float ax = 0.0f, bx = 1.0f, cx = 0.0f, fa = 0.0f, fb = 0.0f, fc = 0.0f;
  mnbrak(ax, bx, cx, fa, fb, fc, f);
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(ax, 1.0f);
  EXPECT_FLOAT_EQ(bx, 2.618034f);
  EXPECT_NEAR(cx, 5.236068f, 1e-5f);
  EXPECT_EQ(fa, 1.0f);
  EXPECT_EQ(fb, 1.0f);
  EXPECT_NEAR(fc, 3.236068f, 1e-5f);
}

TEST(Mnbrak, BracketsAParabola) {
  LineFunction f = [](float x) { return (x - 10.0f) * (x - 10.0f) + 1.0f; };
  float ax = 0.0f, bx = 1.0f, cx = 0.0f, fa = 0.0f, fb = 0.0f, fc = 0.0f;
  mnbrak(ax, bx, cx, fa, fb, fc, f);
  EXPECT_LT(std::fmin(ax, cx), 10.0f);
  EXPECT_GT(std::fmax(ax, cx), 10.0f);
  EXPECT_LE(fb, fa);
  EXPECT_LE(fb, fc);
}

// A warning sink that keeps what it is given.
struct Warnings {
  std::vector<std::string> texts;
  WarningSink sink() {
    return [this](const std::string& text) { texts.push_back(text); };
  }
};

TEST(Brent, FindsTheMinimumOfAParabola) {
  Warnings warnings;
  LineFunction f = [](float x) { return (x - 2.0f) * (x - 2.0f) + 0.5f; };
  float xmin = 0.0f;
  float fmin = brent(0.0f, 1.0f, 5.0f, f, 1e-5f, xmin, warnings.sink());
  EXPECT_NEAR(xmin, 2.0f, 1e-3f);
  EXPECT_FLOAT_EQ(fmin, 0.5f);
  EXPECT_TRUE(warnings.texts.empty());
}

// A cusp sqrt|x| with its minimum at 0, where the tolerance is the absolute 1e-10 alone, in a bracket of
// width 2e38: parabolas fit the cusp badly, and golden-section steps alone would need over 200 iterations.
TEST(Brent, RunsOutOfIterationsWithAWarning) {
  Warnings warnings;
  int calls = 0;
  LineFunction f = [&calls](float x) {
    ++calls;
    return std::sqrt(std::fabs(x));
  };
  float xmin = 0.0f;
  float fmin = brent(-1e38f, 1e37f, 1e38f, f, 1e-5f, xmin, warnings.sink());
  // The warning reaches the sink when the limit is hit, after the last of the 101 evaluations.
  EXPECT_EQ(warnings.texts, std::vector<std::string>{"brent exceeds maximum iterations"});
  EXPECT_EQ(calls, 101);
  // The best point so far is returned, far below the start value.
  EXPECT_EQ(fmin, f(xmin));
  EXPECT_LT(fmin, std::sqrt(1e37f) * 1e-3f);
}

// ---------------------------------------------------------------- powell

// A quadratic bowl in slots 1..3 that also records every vector it is given.
struct Bowl {
  std::vector<ParamVector>* seen;
  float operator()(const ParamVector& P) const {
    seen->push_back(P);
    float a = P[1] - 1.0f, b = P[2] + 2.0f, c = P[3] - 0.5f;
    return a * a + 2.0f * b * b + 3.0f * c * c + 0.5f * a * b + P[7] * 0.0f;
  }
};

TEST(Powell, LeavesSlotsBeyondNUntouched) {
  std::vector<ParamVector> seen;
  Objective F = Bowl{&seen};
  ParamVector P{};
  for (int i = 1; i <= MxNP; ++i) P[i] = -static_cast<float>(i) * 1.5f;
  const ParamVector start = P;
  Matrix xi(MxNP, MxNP);
  for (int i = 1; i <= MxNP; ++i) xi(i, i) = 1.0f;
  int iter = 0;
  float fret = 0.0f;
  Warnings warnings;
  powell(P, xi, 3, 1e-6f, iter, fret, F, warnings.sink());
  ASSERT_GT(seen.size(), 10u);
  for (const ParamVector& v : seen) {
    for (int i = 4; i <= MxNP; ++i) ASSERT_EQ(v[i], start[i]) << "slot " << i;
  }
  for (int i = 4; i <= MxNP; ++i) EXPECT_EQ(P[i], start[i]);
  EXPECT_GE(iter, 1);
  EXPECT_LE(iter, 3);
  EXPECT_NEAR(P[1], 1.0f, 1e-2f);
  EXPECT_NEAR(P[2], -2.0f, 1e-2f);
  EXPECT_NEAR(P[3], 0.5f, 1e-2f);
  EXPECT_TRUE(warnings.texts.empty());
}

// A narrow curved valley that a run of 2 iterations cannot finish: the budget ends the run with iter = n.
TEST(Powell, BudgetOfNIterations) {
  Objective F = [](const ParamVector& P) {
    float a = 1.0f - P[1];
    float b = P[2] - P[1] * P[1];
    return a * a + 100.0f * b * b;
  };
  ParamVector P{};
  P[1] = -1.2f;
  P[2] = 1.0f;
  Matrix xi(MxNP, MxNP);
  for (int i = 1; i <= MxNP; ++i) xi(i, i) = 1.0f;
  int iter = 0;
  float fret = 0.0f;
  powell(P, xi, 2, 1e-9f, iter, fret, F);
  EXPECT_EQ(iter, 2);
  EXPECT_EQ(fret, F(P));
}

// ---------------------------------------------------------------- Fit

TEST(Fit, RecoversATriodeFromStartValuesTwentyPercentOff) {
  ParamSet truth = TriodeParams();
  auto ms = Synthetic(1, truth, NineGrids(), 31, 10.0f, 0.0f);
  FitObjective obj(*ms, kHuge, kHuge, 1, truth.slot);
  ParamSet ps = truth;
  const float factor[6] = {0.0f, 1.2f, 0.8f, 1.2f, 0.8f, 1.2f};
  for (int i = 1; i <= 5; ++i) ps.P[i] = truth.P[i] * factor[i];
  const FitFunction F = obj.ForFit();
  float sum_sq = 0.0f;
  for (const FitPoint& p : obj.points()) sum_sq += p.Ia * p.Ia;

  std::ostringstream console;
  const FitSummary r = Stage(ps.P, F, 5, 1e-6f, ps.slot.eps, console);
  for (int i = 1; i <= 5; ++i) {
    EXPECT_NEAR(ps.P[i], truth.P[i], 0.005f * truth.P[i]) << ps.name[i];
  }
  float R2 = obj(ps.P);
  EXPECT_LT(R2, 1e-8f * sum_sq);
  EXPECT_EQ(r.R2_after, R2);
  std::vector<std::string> lines = Lines(console.str());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind(" Before refinement R2 = ", 0), 0u);
  EXPECT_EQ(lines[1].rfind(" Iter:  1,  2,", 0), 0u);
  EXPECT_EQ(lines[1].back(), ' ');
  EXPECT_EQ(lines[2], " After refinement R2 = " + ListFloat(R2));
}

TEST(Fit, RecoversADiode) {
  ParamSet truth = SetFor(0);
  // A low-voltage rectifier: 0..20 V, up to 110 mA. (Over a wide voltage range eps and k are so strongly
  // correlated that the float objective stalls before they are found to 0.5%.)
  truth.P[truth.slot.k] = 500.0f;
  truth.P[truth.slot.ex] = 1.3f;
  truth.P[truth.slot.eps] = 2.0f;
  auto ms = Synthetic(0, truth, {0.0f}, 21, 1.0f, 0.0f);
  FitObjective obj(*ms, kHuge, kHuge, 0, truth.slot);
  ParamSet ps = truth;
  ps.P[ps.slot.k] = 600.0f;
  ps.P[ps.slot.ex] = 1.04f;
  ps.P[ps.slot.eps] = 2.4f;
  const FitFunction F = obj.ForFit();
  float sum_sq = 0.0f;
  for (const FitPoint& p : obj.points()) sum_sq += p.Ia * p.Ia;
  std::ostringstream console;
  const FitSummary r = Stage(ps.P, F, 3, 1e-6f, ps.slot.eps, console);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_NEAR(ps.P[i], truth.P[i], 0.005f * truth.P[i]) << ps.name[i];
  }
  EXPECT_LT(obj(ps.P), 1e-8f * sum_sq);
  EXPECT_EQ(r.R2_after, obj(ps.P));
}

// Started at the exact parameters of noise-free data, the point-by-point objective (the default) is exactly 0 (the data
// were made by the same Model): the first powell run converges in one iteration and Fit reports a single
// pass.
TEST(Fit, StartAtTheMinimumIsOnePass) {
  ParamSet truth = TriodeParams();
  auto ms = Synthetic(1, truth, NineGrids(), 31, 10.0f, 0.0f);
  FitObjective obj(*ms, kHuge, kHuge, 1, truth.slot);
  obj.UseSimd(SimdLevel::kNone);
  const FitFunction F = obj.ForFit();
  ParamSet ps = truth;
  std::ostringstream console;
  const FitSummary r = Stage(ps.P, F, 5, 1e-6f, ps.slot.eps, console);
  EXPECT_EQ(console.str(),
            " Before refinement R2 =    0.000000E+00\n"
            " Iter:  1, \n"
            " After refinement R2 =    0.000000E+00\n");
  EXPECT_EQ(r.iter, 1);
  EXPECT_EQ(r.fret, 0.0f);
  // Line searches may step to neighbouring vectors where the float objective is also exactly 0.
  for (int i = 1; i <= 5; ++i) EXPECT_NEAR(ps.P[i], truth.P[i], 1e-5f * truth.P[i]);
  EXPECT_EQ(r.passes, 1);
  EXPECT_FALSE(r.pass_limit);
  EXPECT_EQ(r.R2_before, 0.0f);
  EXPECT_EQ(r.R2_after, 0.0f);
}

// The same with the block evaluation, whose few-ulp differences leave a minimum just above 0: still one
// pass, and R2 before and after the same.
TEST(Fit, StartAtTheMinimumIsOnePassWithBlocks) {
  ParamSet truth = TriodeParams();
  auto ms = Synthetic(1, truth, NineGrids(), 31, 10.0f, 0.0f);
  FitObjective obj(*ms, kHuge, kHuge, 1, truth.slot);
  obj.UseSimd(SimdLevel::kAvx512);
  const FitFunction F = obj.ForFit();
  ParamSet ps = truth;
  std::ostringstream console;
  const FitSummary r = Stage(ps.P, F, 5, 1e-6f, ps.slot.eps, console);
  std::vector<std::string> lines = Lines(console.str());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], " Iter:  1, ");
  EXPECT_EQ(lines[0].substr(0, 24), " Before refinement R2 = ");
  EXPECT_EQ(lines[0].substr(24), lines[2].substr(23));
  EXPECT_LT(r.fret, 1e-15f);
  for (int i = 1; i <= 5; ++i) EXPECT_NEAR(ps.P[i], truth.P[i], 1e-5f * truth.P[i]);
}

// With one fitted slot every powell run uses its whole budget of 1 iteration, so Fit runs 200 passes.
TEST(Fit, OneSlotRunsTwoHundredPassesAndWarns) {
  int calls = 0;
  Objective F = [&calls](const ParamVector& P) {
    ++calls;
    float a = P[1] - 3.0f;
    return a * a + 0.25f;
  };
  ParamVector P{};
  P[1] = 1.0f;
  std::ostringstream console;
  const FitSummary r = Stage(P, F, 1, 1e-6f, 0, console);
  EXPECT_EQ(console.str(), " Before refinement R2 =        4.250000\n" + IterLine(kMaxFitPasses) +
                               " **** WARNING it = 100 ****\n"
                               " MaxIt reached, no convergence\n"
                               " \n"
                               " After refinement R2 =    2.500000E-01\n");
  EXPECT_EQ(r.iter, 1);
  EXPECT_NEAR(P[1], 3.0f, 1e-3f);
  EXPECT_GT(calls, 2 * kMaxFitPasses);
  EXPECT_EQ(r.passes, kMaxFitPasses);
  EXPECT_TRUE(r.pass_limit);
}

// The minimum lies at negative values: after the fit every slot but eps is positive, also slots that the
// fit does not vary; "After refinement R2" is the objective at the sign-normalised vector.
TEST(Fit, NegativeValuesMadePositiveExceptEps) {
  Objective F = [](const ParamVector& P) {
    float a = P[1] + 2.0f, b = P[2] + 1.0f, c = P[3] - 0.5f;
    return a * a + b * b + c * c;
  };
  ParamVector P{};
  P[1] = -1.0f;
  P[2] = -0.5f;
  P[3] = 1.0f;
  P[10] = -5.0f;
  std::ostringstream console;
  const int32_t eps_slot = 2;
  const FitSummary r = Stage(P, F, 3, 1e-6f, eps_slot, console);
  EXPECT_NEAR(P[1], 2.0f, 1e-3f);
  EXPECT_NEAR(P[2], -1.0f, 1e-3f);
  EXPECT_NEAR(P[3], 0.5f, 1e-3f);
  EXPECT_EQ(P[10], 5.0f);
  EXPECT_LT(r.fret, 1e-6f);  // the minimum of the last run, before the sign change
  std::vector<std::string> lines = Lines(console.str());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], " Before refinement R2 =        1.500000");  // 1 + 0.25 + 0.25
  EXPECT_EQ(lines.back(), " After refinement R2 = " + ListFloat(F(P)));
  // (2 + 2)^2 = 16 from the first slot dominates the objective after the sign change.
  EXPECT_NEAR(F(P), 16.0f, 1e-2f);
}

// ---------------------------------------------------------------- Levenberg-Marquardt stages

// The triode of Fit.RecoversATriodeFromStartValuesTwentyPercentOff with `mu_true` as its mu, started 20 %
// off, fitted by Levenberg-Marquardt.
struct LmTriodeRun {
  ParamSet truth = TriodeParams();
  ParamVector P{};
  LmSummary summary;
  std::vector<std::string> lines;
  float R2 = 0.0f;
};

LmTriodeRun RunLmTriode(float mu_true, const ParamVector* start = nullptr, const LmOptions& options = {}) {
  LmTriodeRun r;
  r.truth.P[r.truth.slot.mu] = mu_true;
  auto ms = Synthetic(1, r.truth, NineGrids(), 31, 10.0f, 0.0f);
  FitObjective obj(*ms, kHuge, kHuge, 1, r.truth.slot);
  const float factor[6] = {0.0f, 1.2f, 0.8f, 1.2f, 0.8f, 1.2f};
  for (int i = 1; i <= 5; ++i) r.P[i] = r.truth.P[i] * factor[i];
  if (start != nullptr) r.P = *start;
  std::ostringstream console;
  r.summary = RunLmStage(r.P, 5, obj, console, options);
  r.lines = Lines(console.str());
  r.R2 = obj(r.P);
  return r;
}

TEST(FitLm, RecoversATriodeInAFewIterations) {
  const LmTriodeRun r = RunLmTriode(100.0f);
  EXPECT_EQ(r.summary.outcome, LmOutcome::kImproved);
  for (int i = 1; i <= 5; ++i) EXPECT_NEAR(r.P[i], r.truth.P[i], 1e-3f * r.truth.P[i]) << r.truth.name[i];
  EXPECT_LT(r.summary.iterations, 30);
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[0], " Before refinement R2 = " + ListFloat(r.summary.R2_before));
  EXPECT_EQ(r.lines[1], " Levenberg-Marquardt: " + std::to_string(r.summary.iterations) + " iterations, " +
                            r.summary.reason + ".");
  EXPECT_EQ(r.summary.reason.rfind("converged (", 0), 0u);
  EXPECT_EQ(r.lines[2], " After refinement R2 = " + ListFloat(r.R2));
  EXPECT_LT(r.R2, 1e-6f * r.summary.R2_before);
}

// Data made at the cap mu = 150: the minimum lies on the bound, which the solver reaches and keeps.
TEST(FitLm, KeepsTheTriodeMuOnItsCap) {
  const LmTriodeRun r = RunLmTriode(150.0f);
  EXPECT_EQ(r.summary.outcome, LmOutcome::kImproved);
  EXPECT_LE(r.P[r.truth.slot.mu], 150.0f);
  for (int i = 1; i <= 5; ++i) EXPECT_NEAR(r.P[i], r.truth.P[i], 1e-3f * r.truth.P[i]) << r.truth.name[i];
}

// A failed solve leaves the start values and says so: non-finite residuals at the start (kG1 = 0 divides
// by zero), and a solver that runs out of iterations.
TEST(FitLm, FailedSolveKeepsTheStartValues) {
  ParamSet ps = TriodeParams();
  ParamVector start = ps.P;
  start[ps.slot.kG1] = 0.0f;
  testing::internal::CaptureStderr();
  const LmTriodeRun inf = RunLmTriode(100.0f, &start);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // the solver's own log stays silent
  EXPECT_EQ(inf.summary.outcome, LmOutcome::kFailed);
  EXPECT_EQ(inf.P, start);
  ASSERT_EQ(inf.lines.size(), 3u);
  EXPECT_EQ(inf.lines[1], " Levenberg-Marquardt: 0 iterations, non-finite residuals; the start values are kept.");

  start = ps.P;
  start[ps.slot.kp] = 480.0f;
  LmOptions one;
  one.max_iterations = 1;
  const LmTriodeRun cut = RunLmTriode(100.0f, &start, one);
  EXPECT_EQ(cut.summary.outcome, LmOutcome::kFailed);
  EXPECT_EQ(cut.P, start);
  ASSERT_EQ(cut.lines.size(), 3u);
  EXPECT_EQ(cut.lines[1],
            " Levenberg-Marquardt: 1 iteration, no convergence within 1 iterations; the start values are kept.");
  EXPECT_EQ(cut.lines[2], " After refinement R2 = " + ListFloat(cut.summary.R2_before));
}

// A fit sequence that ends with a non-finite R2 stops the run, with both minimisers: a triode start with
// kG1 not a number, from which neither finds a way out.
TEST(FitSequence, NonFiniteFinalR2Stops) {
  auto state = std::make_unique<RunState>();
  const ParamSet truth = TriodeParams();
  state->meas = *Synthetic(1, truth, NineGrids(), 31, 10.0f, 0.0f);
  state->settings.iModel = 1;
  const FitObjective F(state->meas, kHuge, kHuge, 1, truth.slot);
  const FitFunction f = F.ForFit();
  const struct {
    Minimiser minimiser;
    int32_t slot;
    float value;
    const char* R2;
  } cases[] = {{Minimiser::kPowell, truth.slot.kG1, std::nanf(""), "NaN"},
               {Minimiser::kLm, truth.slot.kG1, std::nanf(""), "NaN"}};
  for (const auto& c : cases) {
    state->settings.minimiser = c.minimiser;
    state->params = truth;
    state->params.P[c.slot] = c.value;
    std::ostringstream console;
    try {
      RunFitSequence(*state, f, console, &F);
      ADD_FAILURE() << "no stop: " << console.str();
    } catch (const Stop& stop) {
      EXPECT_EQ(stop.text(), "Execution halts");
      ASSERT_EQ(stop.lines().size(), 1u);
      EXPECT_EQ(stop.lines()[0], std::string(" The fit ended with R2 = ") + c.R2 +
                                     ": the model currents are not finite there. Try other start values.");
    }
  }
}

}  // namespace
}  // namespace tubefit
