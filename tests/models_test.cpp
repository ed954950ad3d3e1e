// Expected values are worked out independently: by hand where the numbers are round, otherwise from the
// closed-form equations evaluated in double precision (a short Python transcription of each law), stored
// here as literals.
#include "models/models.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "models/law_math.h"
#include "models/model_info.h"
#include "test_support.h"
#include "text/stop.h"

namespace tubefit {
namespace {

constexpr double kRelTol = 2e-5;  // float evaluation against a double reference
constexpr double kSumTol = 1e-6;  // two float sums that agree algebraically

// The shared relative check, with this file's tolerance unless one is given.
::testing::AssertionResult RelNear(double actual, double expected, double tol = kRelTol) {
  return testsupport::RelNear(actual, expected, tol);
}

ParamSet SetFor(int32_t iModel) {
  ParamSet ps;
  ParamIdent(iModel, ps);
  return ps;
}

struct Currents {
  float Ia, Is;
};

Currents Eval(int32_t iModel, ParamSet& ps, float Va, float Vs, float Vg1, float Vg3 = 0.0f) {
  Currents c{-99.0f, -99.0f};
  Model(iModel, Va, Vs, Vg1, Vg3, ps.P, ps.slot, c.Ia, c.Is);
  return c;
}

// The text blank-padded to 20 characters, built without the formatter.
std::string Padded(const std::string& name) { return name + std::string(20 - name.size(), ' '); }

// ---------------------------------------------------------------- diode, KorenTerm, triode

TEST(ModelDiode, AbsoluteBaseGivesMirrorCurrent) {
  ParamSet ps = SetFor(0);
  ps.P[ps.slot.eps] = 0.0f;
  ps.P[ps.slot.ex] = 1.5f;
  ps.P[ps.slot.k] = 1000.0f;
  float Ia = -1.0f, Is = 7.0f;
  // 100^1.5 / 1000 = 1000 / 1000 = 1.
  Model(0, 100.0f, 0.0f, 0.0f, 0.0f, ps.P, ps.slot, Ia, Is);
  EXPECT_FLOAT_EQ(Ia, 1.0f);
  EXPECT_EQ(Is, 7.0f);
  Model(0, -100.0f, 0.0f, 0.0f, 0.0f, ps.P, ps.slot, Ia, Is);
  EXPECT_FLOAT_EQ(Ia, 1.0f);
  EXPECT_EQ(Is, 7.0f);
}

TEST(ModelDiode, OffsetShiftsTheVoltage) {
  ParamSet ps = SetFor(0);
  ps.P[ps.slot.eps] = 2.0f;
  ps.P[ps.slot.ex] = 2.0f;
  ps.P[ps.slot.k] = 4.0f;
  // |-6 + 2|^2 / 4 = 16 / 4 = 4.
  EXPECT_FLOAT_EQ(Eval(0, ps, -6.0f, 0.0f, 0.0f).Ia, 4.0f);
}

// A triode-shaped vector whose Koren term is simple: kp = 10, mu = 1, so t = 10 at Vg = 0.
ParamSet LinearBranchTriode() {
  ParamSet ps = SetFor(1);
  ps.P[ps.slot.kp] = 10.0f;
  ps.P[ps.slot.mu] = 1.0f;
  ps.P[ps.slot.kVB] = 300.0f;
  ps.P[ps.slot.ex] = 1.0f;
  ps.P[ps.slot.kG1] = 1.0f;
  return ps;
}

TEST(KorenTerm, TExactlyTenTakesTheLinearBranch) {
  ParamSet ps = LinearBranchTriode();
  // Linear branch: E1 = 100 * 10 / 10 = 100 exactly. The softplus would give 100 ln(1 + e^10) / 10 =
  // 100.00045398899218, which is many float steps away.
  EXPECT_EQ(KorenTerm(ps.P, ps.slot, 0.0f, 100.0f), 100.0f);
  EXPECT_EQ(Eval(1, ps, 100.0f, 0.0f, 0.0f).Ia, 100.0f);
}

TEST(KorenTerm, JustBelowTenTakesTheSoftplus) {
  ParamSet ps = LinearBranchTriode();
  ps.P[ps.slot.kp] = 9.0f;
  // t = 9 exactly: E1 = 100 ln(1 + e^9) / 9 = 100.00137113544137; ex = 1. The linear form would give 100.
  EXPECT_TRUE(RelNear(KorenTerm(ps.P, ps.slot, 0.0f, 100.0f), 100.00137113544137, 1e-6));
}

TEST(KorenTerm, AtOrBelowThresholdIsExactlyZeroWhateverTheExponent) {
  ParamSet ps = SetFor(1);
  // kp = 1, mu = 1/16: t = 16 >= 10 at Vg = 0, so E1 = 16 Va exactly (a power of two).
  ps.P[ps.slot.kp] = 1.0f;
  ps.P[ps.slot.mu] = 0.0625f;
  ps.P[ps.slot.kVB] = 1.0f;
  ps.P[ps.slot.ex] = 0.0f;  // E1^0 would be 1 if the power were taken
  const float at = 1e-6f / 16.0f;
  const float above = std::nextafter(1e-6f, 1.0f) / 16.0f;
  EXPECT_EQ(KorenTerm(ps.P, ps.slot, 0.0f, at), 0.0f);
  EXPECT_EQ(KorenTerm(ps.P, ps.slot, 0.0f, above), 1.0f);
  EXPECT_EQ(KorenTerm(ps.P, ps.slot, 0.0f, 0.0f), 0.0f);
  EXPECT_EQ(KorenTerm(ps.P, ps.slot, 0.0f, -50.0f), 0.0f);
}

TEST(KorenTerm, DeepCutOffGivesExactZeroAndNoNaN) {
  ParamSet ps = SetFor(1);
  ps.P[ps.slot.mu] = 100.0f;
  ps.P[ps.slot.ex] = 1.4f;
  ps.P[ps.slot.kG1] = 1060.0f;
  ps.P[ps.slot.kp] = 600.0f;
  ps.P[ps.slot.kVB] = 300.0f;
  for (float Vg1 : {-10.0f, -50.0f, -1000.0f}) {
    Currents c = Eval(1, ps, 100.0f, 0.0f, Vg1);
    EXPECT_EQ(c.Ia, 0.0f) << Vg1;
  }
  EXPECT_EQ(Eval(1, ps, 0.0f, 0.0f, -1.0f).Ia, 0.0f);
}

TEST(KorenTerm, NegativeKVBIsWrittenBackPositive) {
  ParamSet ps = SetFor(1);
  ps.P[ps.slot.mu] = 100.0f;
  ps.P[ps.slot.ex] = 1.4f;
  ps.P[ps.slot.kp] = 600.0f;
  ps.P[ps.slot.kVB] = 300.0f;
  const float positive = KorenTerm(ps.P, ps.slot, -2.0f, 250.0f);
  ps.P[ps.slot.kVB] = -300.0f;
  EXPECT_EQ(KorenTerm(ps.P, ps.slot, -2.0f, 250.0f), positive);
  EXPECT_EQ(ps.P[ps.slot.kVB], 300.0f);
}

TEST(ModelTriode, KorenLawAtAWorkingPoint) {
  ParamSet ps = SetFor(1);
  ps.P[ps.slot.mu] = 100.0f;
  ps.P[ps.slot.ex] = 1.4f;
  ps.P[ps.slot.kG1] = 1060.0f;
  ps.P[ps.slot.kp] = 600.0f;
  ps.P[ps.slot.kVB] = 300.0f;
  float Ia = 0.0f, Is = 3.0f;
  Model(1, 250.0f, 0.0f, -2.0f, 0.0f, ps.P, ps.slot, Ia, Is);
  // t = 600 (1/100 - 2/sqrt(300 + 250^2)), E1 = 250 ln(1 + e^t) / 600, Ia = E1^1.4 / 1060.
  EXPECT_TRUE(RelNear(Ia, 0.00047590160494579553));
  EXPECT_EQ(Is, 3.0f);
}

TEST(ModelTriode, NegativeExponentActsByItsMagnitude) {
  ParamSet ps = SetFor(1);
  ps.P[ps.slot.mu] = 100.0f;
  ps.P[ps.slot.ex] = -1.4f;
  ps.P[ps.slot.kG1] = 1060.0f;
  ps.P[ps.slot.kp] = 600.0f;
  ps.P[ps.slot.kVB] = 300.0f;
  EXPECT_TRUE(RelNear(Eval(1, ps, 250.0f, 0.0f, -2.0f).Ia, 0.00047590160494579553));
  EXPECT_EQ(ps.P[ps.slot.ex], -1.4f);
}

TEST(ModelTriode, MuAbove150IsCappedInTheVector) {
  ParamSet capped = SetFor(1);
  capped.P[capped.slot.ex] = 1.4f;
  capped.P[capped.slot.kG1] = 1060.0f;
  capped.P[capped.slot.kp] = 600.0f;
  capped.P[capped.slot.kVB] = 300.0f;
  ParamSet at_cap = capped;
  capped.P[capped.slot.mu] = 200.0f;
  at_cap.P[at_cap.slot.mu] = 150.0f;
  const float Ia = Eval(1, capped, 250.0f, 0.0f, -1.5f).Ia;
  EXPECT_EQ(capped.P[capped.slot.mu], 150.0f);
  EXPECT_EQ(Ia, Eval(1, at_cap, 250.0f, 0.0f, -1.5f).Ia);
  EXPECT_GT(Ia, 0.0f);
}

TEST(ModelTriode, NegativeKVBBecomesPositive) {
  ParamSet ps = SetFor(1);
  ps.P[ps.slot.mu] = 100.0f;
  ps.P[ps.slot.ex] = 1.4f;
  ps.P[ps.slot.kG1] = 1060.0f;
  ps.P[ps.slot.kp] = 600.0f;
  ps.P[ps.slot.kVB] = -300.0f;
  EXPECT_TRUE(RelNear(Eval(1, ps, 250.0f, 0.0f, -2.0f).Ia, 0.00047590160494579553));
  EXPECT_EQ(ps.P[ps.slot.kVB], 300.0f);
}

// ---------------------------------------------------------------- Koren pentode

ParamSet KorenPentodeSet(float kp) {
  ParamSet ps = SetFor(2);
  ps.P[ps.slot.mu] = 8.0f;
  ps.P[ps.slot.ex] = 1.3f;
  ps.P[ps.slot.kG1] = 500.0f;
  ps.P[ps.slot.kp] = kp;
  ps.P[ps.slot.kVB] = 20.0f;
  ps.P[ps.slot.kG2] = 2500.0f;
  return ps;
}

TEST(ModelKorenPentode, AnodeAndScreenAtAWorkingPoint) {
  ParamSet ps = KorenPentodeSet(40.0f);
  Currents c = Eval(2, ps, 200.0f, 250.0f, -10.0f);
  // Ia = (250/40 ln(1 + exp(40 (1/8 - 10/250))))^1.3 / 500 atan(200/20); Is = (-10 + 250/8)^1.3 / 2500.
  EXPECT_TRUE(RelNear(c.Ia, 0.15836970872676712));
  EXPECT_TRUE(RelNear(c.Is, 0.021263101192619097));
}

TEST(ModelKorenPentode, KpIsLimitedLocally) {
  ParamSet low = KorenPentodeSet(0.001f);
  ParamSet floor = KorenPentodeSet(0.01f);
  EXPECT_EQ(Eval(2, low, 200.0f, 250.0f, -10.0f).Ia, Eval(2, floor, 200.0f, 250.0f, -10.0f).Ia);
  EXPECT_EQ(low.P[low.slot.kp], 0.001f);

  ParamSet high = KorenPentodeSet(5000.0f);
  ParamSet ceiling = KorenPentodeSet(2000.0f);
  EXPECT_EQ(Eval(2, high, 200.0f, 250.0f, -10.0f).Ia, Eval(2, ceiling, 200.0f, 250.0f, -10.0f).Ia);
  EXPECT_EQ(high.P[high.slot.kp], 5000.0f);
}

TEST(ModelKorenPentode, LargeSoftplusArgumentStaysFinite) {
  // kp = 2000: t = 2000 (1/8 - 10/250) = 170, beyond the float range of e^t; ln(1 + e^t) = t, so
  // Ia = (250/2000 * 170)^1.3 / 500 atan(10) = 0.15640368302991345.
  ParamSet ps = KorenPentodeSet(2000.0f);
  EXPECT_TRUE(RelNear(Eval(2, ps, 200.0f, 250.0f, -10.0f).Ia, 0.15640368302991345));
  // kp = 1000 at Vg1 = 0: t = 125, Ia = (250/1000 * 125)^1.3 / 500 atan(10) = 0.2582173318078207.
  ParamSet open = KorenPentodeSet(1000.0f);
  EXPECT_TRUE(RelNear(Eval(2, open, 200.0f, 250.0f, 0.0f).Ia, 0.2582173318078207));
}

TEST(ModelKorenPentode, ScreenCutsOffAtMinusVsOverMu) {
  ParamSet ps = KorenPentodeSet(40.0f);
  // Vs / mu = 100 / 8 = 12.5 exactly.
  EXPECT_EQ(Eval(2, ps, 200.0f, 100.0f, -12.5f).Is, 0.0f);
  EXPECT_EQ(Eval(2, ps, 200.0f, 100.0f, -20.0f).Is, 0.0f);
  // 0.5^1.3 / 2500 = 1.6245047927124710e-4.
  EXPECT_TRUE(RelNear(Eval(2, ps, 200.0f, 100.0f, -12.0f).Is, 1.6245047927124710e-4));
}

TEST(ModelKorenPentode, WritesNothingBack) {
  ParamSet ps = KorenPentodeSet(40.0f);
  ps.P[ps.slot.kVB] = -20.0f;
  ps.P[ps.slot.mu] = 400.0f;
  const ParamVector before = ps.P;
  Eval(2, ps, 200.0f, 250.0f, -10.0f);
  EXPECT_EQ(ps.P, before);
}

// ---------------------------------------------------------------- Nolt-family pentodes

void SetPentode(ParamSet& ps) {
  ps.P[ps.slot.alpha_s] = 2.0f;
  ps.P[ps.slot.beta] = 0.05f;
  ps.P[ps.slot.A] = 0.0005f;
  ps.P[ps.slot.kG2] = 3000.0f;
  ps.P[ps.slot.kG1] = 600.0f;
  ps.P[ps.slot.mu] = 20.0f;
  ps.P[ps.slot.ex] = 1.35f;
  ps.P[ps.slot.kp] = 40.0f;
  ps.P[ps.slot.kVB] = 20.0f;
}

ParamSet Pentode(int32_t iModel) {
  ParamSet ps = SetFor(iModel);
  SetPentode(ps);
  return ps;
}

struct GoldenPoint {
  int32_t iModel;
  float Va, Vs, Vg1;
  double Ia, Is;
};

TEST(ModelNoltPentode, CurrentsAtAWorkingPoint) {
  // alpha = 1 - 600 * 3 / 3000 = 0.4, S = 2/3000 + 0.4/600; E = KorenTerm(Vg1, Vs) = 19.845884342862387.
  const GoldenPoint points[] = {
      {12, 200.0f, 250.0f, -5.0f, 0.027363264775764812, 0.007818075650218517},
      {32, 200.0f, 250.0f, -5.0f, 0.004325385049085391, 0.019337015513558223},
      {22, 200.0f, 250.0f, -5.0f, 0.029768826514293096, 0.006615294780954373},
  };
  for (const GoldenPoint& g : points) {
    ParamSet ps = Pentode(g.iModel);
    Currents c = Eval(g.iModel, ps, g.Va, g.Vs, g.Vg1);
    EXPECT_TRUE(RelNear(c.Ia, g.Ia)) << g.iModel;
    EXPECT_TRUE(RelNear(c.Is, g.Is)) << g.iModel;
  }
}

TEST(ModelNoltPentode, ZeroAnodeVoltageSendsEverythingToTheScreen) {
  ParamSet ps = Pentode(12);
  Currents c = Eval(12, ps, 0.0f, 250.0f, -5.0f);
  // F = (1/kG1 - 1/kG2) - S = 0 algebraically; Is = E (1 + 2) / 3000 with E = 19.845884342862387.
  EXPECT_TRUE(RelNear(c.Is, 0.019845884342862385));
  EXPECT_LE(std::fabs(c.Ia), 1e-5 * c.Is);
}

TEST(ModelNoltPentode, BetaSignIsNotWrittenBack) {
  for (int32_t code : {12, 22, 32}) {
    ParamSet plus = Pentode(code);
    ParamSet minus = Pentode(code);
    minus.P[minus.slot.beta] = -0.05f;
    Currents a = Eval(code, plus, 200.0f, 250.0f, -5.0f);
    Currents b = Eval(code, minus, 200.0f, 250.0f, -5.0f);
    EXPECT_EQ(a.Ia, b.Ia) << code;
    EXPECT_EQ(a.Is, b.Is) << code;
    EXPECT_EQ(minus.P[minus.slot.beta], -0.05f) << code;
  }
}

TEST(ModelNoltPentode, NegativeAActsByMagnitudeAndNegativeKVBIsWrittenBack) {
  ParamSet plus = Pentode(12);
  ParamSet minus = Pentode(12);
  minus.P[minus.slot.A] = -0.0005f;
  minus.P[minus.slot.kVB] = -20.0f;
  Currents a = Eval(12, plus, 200.0f, 250.0f, -5.0f);
  Currents b = Eval(12, minus, 200.0f, 250.0f, -5.0f);
  EXPECT_EQ(a.Ia, b.Ia);
  EXPECT_EQ(a.Is, b.Is);
  EXPECT_EQ(minus.P[minus.slot.A], -0.0005f);
  EXPECT_EQ(minus.P[minus.slot.kVB], 20.0f);
}

TEST(ModelNoltPentode, CutOffGivesZeroCurrents) {
  ParamSet ps = Pentode(22);
  Currents c = Eval(22, ps, 200.0f, 250.0f, -200.0f);
  EXPECT_EQ(c.Ia, 0.0f);
  EXPECT_EQ(c.Is, 0.0f);
}

// ---------------------------------------------------------------- beam tetrodes

ParamSet Tetrode(int32_t iModel) {
  ParamSet ps = SetFor(iModel);
  SetPentode(ps);
  ps.P[ps.slot.Sc] = 0.002f;
  ps.P[ps.slot.nu] = 2.0f;
  ps.P[ps.slot.lambda] = 1.5f;
  ps.P[ps.slot.w] = 5.0f;
  ps.P[ps.slot.alpha_p] = 0.05f;
  return ps;
}

TEST(ModelBeamTetrode, CurrentsAtAWorkingPoint) {
  // T = 0.002 Va (1 + tanh(-0.05 (Va - Vs/1.5 + 2 Vg1 + 5))).
  const GoldenPoint points[] = {
      {13, 150.0f, 250.0f, -8.0f, 0.015338454892501924, 0.008265567170973846},
      {23, 150.0f, 250.0f, -8.0f, 0.01749962427252046, 0.007184982480964578},
      {33, 250.0f, 200.0f, -8.0f, 0.0022280311534238584, 0.007465146757879763},
  };
  for (const GoldenPoint& g : points) {
    ParamSet ps = Tetrode(g.iModel);
    Currents c = Eval(g.iModel, ps, g.Va, g.Vs, g.Vg1);
    EXPECT_TRUE(RelNear(c.Ia, g.Ia)) << g.iModel;
    EXPECT_TRUE(RelNear(c.Is, g.Is)) << g.iModel;
  }
}

TEST(ModelBeamTetrode, AlphaPrimeCappedForNoltAndNoltIOnly) {
  for (int32_t code : {13, 33}) {
    ParamSet ps = Tetrode(code);
    ps.P[ps.slot.alpha_p] = 0.5f;
    ParamSet capped = Tetrode(code);
    capped.P[capped.slot.alpha_p] = 0.1f;
    Currents a = Eval(code, ps, 150.0f, 250.0f, -8.0f);
    Currents b = Eval(code, capped, 150.0f, 250.0f, -8.0f);
    EXPECT_EQ(ps.P[ps.slot.alpha_p], 0.1f) << code;
    EXPECT_EQ(a.Ia, b.Ia) << code;
    EXPECT_EQ(a.Is, b.Is) << code;
  }
  ParamSet ps = Tetrode(23);
  ps.P[ps.slot.alpha_p] = 0.5f;
  ParamSet at_cap = Tetrode(23);
  at_cap.P[at_cap.slot.alpha_p] = 0.1f;
  Currents a = Eval(23, ps, 150.0f, 250.0f, -8.0f);
  Currents b = Eval(23, at_cap, 150.0f, 250.0f, -8.0f);
  EXPECT_EQ(ps.P[ps.slot.alpha_p], 0.5f);
  EXPECT_NE(a.Ia, b.Ia);
}

TEST(ModelBeamTetrode, NegativeBetaIsWrittenBack) {
  for (int32_t code : {13, 23, 33}) {
    ParamSet plus = Tetrode(code);
    ParamSet minus = Tetrode(code);
    minus.P[minus.slot.beta] = -0.05f;
    Currents a = Eval(code, plus, 150.0f, 250.0f, -8.0f);
    Currents b = Eval(code, minus, 150.0f, 250.0f, -8.0f);
    EXPECT_EQ(minus.P[minus.slot.beta], 0.05f) << code;
    EXPECT_EQ(a.Ia, b.Ia) << code;
    EXPECT_EQ(a.Is, b.Is) << code;
  }
}

TEST(ModelBeamTetrode, SecondaryEmissionOnlyMovesCurrent) {
  // Ia + Is = E (1/kG1 + A Va / kG1 - S/D + (1 + alpha_s/D) / kG2) without T.
  const struct {
    int32_t iModel;
    double sum;
  } cases[] = {{13, 0.02360402206347577}, {23, 0.02468460675348504}, {33, 0.015767160202490936}};
  for (const auto& k : cases) {
    ParamSet with = Tetrode(k.iModel);
    ParamSet without = Tetrode(k.iModel);
    without.P[without.slot.Sc] = 0.0f;
    Currents a = Eval(k.iModel, with, 150.0f, 250.0f, -8.0f);
    Currents b = Eval(k.iModel, without, 150.0f, 250.0f, -8.0f);
    EXPECT_TRUE(RelNear(a.Ia + a.Is, k.sum)) << k.iModel;
    EXPECT_TRUE(RelNear(a.Ia + a.Is, b.Ia + b.Is, kSumTol)) << k.iModel;
    EXPECT_LT(a.Ia, b.Ia) << k.iModel;  // the term is really there
  }
}

TEST(ModelBeamTetrode, SecondaryEmissionParametersActByMagnitude) {
  ParamSet plus = Tetrode(13);
  ParamSet minus = Tetrode(13);
  minus.P[minus.slot.Sc] = -0.002f;
  minus.P[minus.slot.nu] = -2.0f;
  minus.P[minus.slot.lambda] = -1.5f;
  minus.P[minus.slot.w] = -5.0f;
  Currents a = Eval(13, plus, 150.0f, 250.0f, -8.0f);
  Currents b = Eval(13, minus, 150.0f, 250.0f, -8.0f);
  EXPECT_EQ(a.Ia, b.Ia);
  EXPECT_EQ(a.Is, b.Is);
  EXPECT_EQ(minus.P[minus.slot.Sc], -0.002f);
  EXPECT_EQ(minus.P[minus.slot.w], -5.0f);
}

// ---------------------------------------------------------------- hexode and g3 pentodes

TEST(ModelHexode, CurrentsAndCathodeCurrent) {
  ParamSet ps = Pentode(14);
  ps.P[ps.slot.mu_p] = 5.0f;
  ps.P[ps.slot.ex_p] = 1.2f;
  ps.P[ps.slot.kG1_p] = 30.0f;
  ps.P[ps.slot.kp_p] = 8.0f;
  ps.P[ps.slot.kVB_p] = 50.0f;
  ps.P[ps.slot.mu3] = 20.0f;
  const ParamVector before = ps.P;
  Currents c = Eval(14, ps, 200.0f, 100.0f, -2.0f, -3.0f);
  EXPECT_TRUE(RelNear(c.Ia, 0.009162988957420189));
  EXPECT_TRUE(RelNear(c.Is, 0.0006247850034432241));
  EXPECT_TRUE(RelNear(c.Ia + c.Is, 0.009787773960863413));
  EXPECT_EQ(ps.P, before);
}

TEST(ModelHexode, LimitsActOnLocalCopies) {
  ParamSet ps = Pentode(14);
  ps.P[ps.slot.mu_p] = -5.0f;
  ps.P[ps.slot.ex_p] = -1.2f;
  ps.P[ps.slot.kG1_p] = 30.0f;
  ps.P[ps.slot.kp_p] = -8.0f;
  ps.P[ps.slot.kVB_p] = -50.0f;
  ps.P[ps.slot.mu3] = -20.0f;
  ps.P[ps.slot.kVB] = -20.0f;
  ps.P[ps.slot.ex] = -1.35f;
  const ParamVector before = ps.P;
  Currents c = Eval(14, ps, 200.0f, 100.0f, -2.0f, -3.0f);
  EXPECT_TRUE(RelNear(c.Ia, 0.009162988957420189));
  EXPECT_EQ(ps.P, before);
}

TEST(ModelHexode, ZeroG3AtMu3CapIsTheKorenTermWithoutThreshold) {
  ParamSet ps = Pentode(14);
  ps.P[ps.slot.mu_p] = 5.0f;
  ps.P[ps.slot.ex_p] = 1.0f;
  ps.P[ps.slot.kG1_p] = 30.0f;
  ps.P[ps.slot.kp_p] = 8.0f;
  ps.P[ps.slot.kVB_p] = 50.0f;
  ps.P[ps.slot.mu3] = 1.0e6f;  // capped at 10000
  ps.P[ps.slot.beta] = 0.0f;
  ps.P[ps.slot.A] = 0.0f;
  // With beta = A = 0: Ik = Ea (1 - alpha) / kG1 = Ea (1 + alpha_s) / kG2 = Ea / 1000, and Ea is the Koren
  // term of (Vg1, Vs): 19.845884342862387 at Vg1 = -5, Vs = 250.
  Currents c = Eval(14, ps, 200.0f, 250.0f, -5.0f, 0.0f);
  EXPECT_TRUE(RelNear(c.Ia + c.Is, 0.019845884342862387));
}

ParamSet G3Pentode(int32_t iModel) {
  ParamSet ps = Pentode(iModel);
  ps.P[ps.slot.mu_p] = 20.0f;
  ps.P[ps.slot.ex_p] = 1.5f;
  ps.P[ps.slot.kG1_p] = 40.0f;
  ps.P[ps.slot.V0] = 10.0f;
  ps.P[ps.slot.mu3] = 50.0f;
  return ps;
}

TEST(ModelG3Pentode, CurrentsAndCathodeCurrent) {
  const struct {
    int32_t iModel;
    double Ia, Is, Ik;
  } cases[] = {{25, 0.019135846562169018, 0.016019406167492596, 0.035155252729661614},
               {15, 0.01707753703474791, 0.016538771678002613, 0.03361630871275052}};
  for (const auto& k : cases) {
    ParamSet ps = G3Pentode(k.iModel);
    const ParamVector before = ps.P;
    Currents c = Eval(k.iModel, ps, 150.0f, 250.0f, -5.0f, -5.0f);
    EXPECT_TRUE(RelNear(c.Ia, k.Ia)) << k.iModel;
    EXPECT_TRUE(RelNear(c.Is, k.Is)) << k.iModel;
    EXPECT_TRUE(RelNear(c.Ia + c.Is, k.Ik)) << k.iModel;
    EXPECT_EQ(ps.P, before) << k.iModel;
  }
}

TEST(ModelG3Pentode, SuppressorCutOffSendsCathodeCurrentToScreen) {
  ParamSet ps = G3Pentode(25);
  // u = 150/20 - 30 + 10 = -12.5 <= 0.
  Currents c = Eval(25, ps, 150.0f, 250.0f, -5.0f, -30.0f);
  EXPECT_EQ(c.Ia, 0.0f);
  EXPECT_TRUE(RelNear(c.Is, 0.03318586174681839));
  // u exactly 0: 100/20 - 15 + 10.
  EXPECT_EQ(Eval(25, ps, 100.0f, 250.0f, -5.0f, -15.0f).Ia, 0.0f);
}

TEST(ModelG3Pentode, NoltSignedBetaDiffersFromItsMagnitude) {
  ParamSet plus = G3Pentode(15);
  ParamSet minus = G3Pentode(15);
  minus.P[minus.slot.beta] = -0.001f;
  plus.P[plus.slot.beta] = 0.001f;
  EXPECT_NE(Eval(15, plus, 150.0f, 250.0f, -5.0f, -5.0f).Ia, Eval(15, minus, 150.0f, 250.0f, -5.0f, -5.0f).Ia);
}

// ---------------------------------------------------------------- variable-mu pentodes

ParamSet VarMu(int32_t iModel) {
  ParamSet ps = Pentode(iModel);
  ps.P[ps.slot.mu_b] = 5.0f;
  ps.P[ps.slot.ex_b] = 1.6f;
  ps.P[ps.slot.svar] = 0.3f;
  return ps;
}

TEST(ModelVarMu, CurrentsAtAWorkingPoint) {
  // E = 0.7 KorenTerm(mu = 20, ex = 1.35) + 0.3 KorenTerm(mu = 5, ex = 1.6), both at (-8 V, 250 V).
  const struct {
    int32_t iModel;
    double Ia, Is;
  } cases[] = {{16, 0.1769651871139651, 0.05056148203256146}, {26, 0.1925225662009039, 0.04278279248909203}};
  for (const auto& k : cases) {
    ParamSet ps = VarMu(k.iModel);
    Currents c = Eval(k.iModel, ps, 200.0f, 250.0f, -8.0f);
    EXPECT_TRUE(RelNear(c.Ia, k.Ia)) << k.iModel;
    EXPECT_TRUE(RelNear(c.Is, k.Is)) << k.iModel;
  }
}

TEST(ModelVarMu, ZeroShareReducesToTheNoltPentode) {
  ParamSet varmu = VarMu(16);
  varmu.P[varmu.slot.svar] = 0.0f;
  ParamSet pentode = Pentode(12);
  for (float Va : {0.0f, 20.0f, 150.0f, 300.0f}) {
    for (float Vg1 : {-12.0f, -4.0f, 0.0f}) {
      Currents a = Eval(16, varmu, Va, 250.0f, Vg1);
      Currents b = Eval(12, pentode, Va, 250.0f, Vg1);
      EXPECT_EQ(a.Ia, b.Ia) << Va << " " << Vg1;
      EXPECT_EQ(a.Is, b.Is) << Va << " " << Vg1;
    }
  }
}

TEST(ModelVarMu, NoltMakesTheWholeVectorNonNegative) {
  ParamSet ps = VarMu(16);
  for (int32_t i = 1; i <= 12; ++i) ps.P[i] = -ps.P[i];
  ps.P[ps.slot.mu_b] = -200.0f;
  Eval(16, ps, 200.0f, 250.0f, -8.0f);
  for (int32_t i = 1; i <= 12; ++i) EXPECT_GT(ps.P[i], 0.0f) << ps.name[i];
  EXPECT_EQ(ps.P[ps.slot.mu_b], 150.0f);
  EXPECT_EQ(ps.P[ps.slot.kG1], 600.0f);
  EXPECT_EQ(ps.P[ps.slot.svar], 0.3f);
}

TEST(ModelVarMu, NoltUsesSignedValuesOnTheFirstEvaluation) {
  // With kG2 negative the first evaluation uses it signed; the second sees |kG2|.
  ParamSet ps = VarMu(16);
  ps.P[ps.slot.kG2] = -3000.0f;
  Currents first = Eval(16, ps, 200.0f, 250.0f, -8.0f);
  Currents second = Eval(16, ps, 200.0f, 250.0f, -8.0f);
  EXPECT_NE(first.Is, second.Is);
  EXPECT_TRUE(RelNear(second.Ia, 0.1769651871139651));
}

TEST(ModelVarMu, NoltECapsTheSecondSection) {
  ParamSet ps = VarMu(26);
  ps.P[ps.slot.ex_b] = 5.0f;
  ps.P[ps.slot.mu_b] = 500.0f;
  ps.P[ps.slot.A] = -0.0005f;
  ps.P[ps.slot.kVB] = -20.0f;
  Eval(26, ps, 200.0f, 250.0f, -8.0f);
  EXPECT_EQ(ps.P[ps.slot.ex_b], 3.0f);
  EXPECT_EQ(ps.P[ps.slot.mu_b], 300.0f);
  EXPECT_EQ(ps.P[ps.slot.kVB], 20.0f);
  EXPECT_EQ(ps.P[ps.slot.A], -0.0005f);  // no absolute values of the whole vector
}

TEST(ModelVarMu, NoltEKeepsMuBelow300) {
  ParamSet ps = VarMu(26);
  ps.P[ps.slot.mu_b] = 250.0f;
  Eval(26, ps, 200.0f, 250.0f, -8.0f);
  EXPECT_EQ(ps.P[ps.slot.mu_b], 250.0f);
}

// ---------------------------------------------------------------- dispatch

TEST(ModelDispatch, UnknownCodeStopsWithTheLine) {
  for (int32_t code : {3, 24, 4, 35, -1, 99}) {
    ParamSet ps = SetFor(12);
    float Ia = 0.0f, Is = 0.0f;
    try {
      Model(code, 100.0f, 100.0f, -1.0f, 0.0f, ps.P, ps.slot, Ia, Is);
      ADD_FAILURE() << "no stop for code " << code;
    } catch (const Stop& stop) {
      EXPECT_EQ(stop.kind(), Stop::Kind::kPlain);
      ASSERT_EQ(stop.lines().size(), 1u);
      EXPECT_EQ(stop.lines()[0], " SUBROUTINE Model: iModel unknown.");
    }
  }
}

// ---------------------------------------------------------------- ParamIdent

struct Field {
  int32_t Slots::*field;
  const char* name;
};

// Every named parameter with its printed name.
const Field kAllFields[] = {
    {&Slots::k, "k"},         {&Slots::ex, "ex"},         {&Slots::eps, "eps"},       {&Slots::kVB, "kVB"},
    {&Slots::kG1, "kG1"},     {&Slots::kp, "kp"},         {&Slots::mu, "mu"},         {&Slots::kG2, "kG2"},
    {&Slots::alpha_s, "alpha_s"}, {&Slots::beta, "beta"}, {&Slots::A, "A"},           {&Slots::Sc, "Sc"},
    {&Slots::nu, "nu"},       {&Slots::lambda, "lambda"}, {&Slots::w, "w"},           {&Slots::alpha_p, "alpha'"},
    {&Slots::mu_p, "mu'"},    {&Slots::ex_p, "ex'"},      {&Slots::kG1_p, "kG1'"},    {&Slots::kp_p, "kp'"},
    {&Slots::kVB_p, "kVB'"},  {&Slots::mu3, "mu3"},       {&Slots::V0, "V0"},         {&Slots::mu_b, "mu_b"},
    {&Slots::ex_b, "ex_b"},   {&Slots::svar, "svar"}};

const std::map<int32_t, std::vector<std::string>>& ExpectedTables() {
  static const std::vector<std::string> nolt_pentode = {"alpha_s", "beta", "A",  "kG2", "kG1",
                                                        "mu",      "ex",   "kp", "kVB"};
  static const std::vector<std::string> nolt_tetrode = {"Sc",  "nu",  "lambda", "w",  "alpha'", "alpha_s", "beta",
                                                        "A",   "kVB", "kG1",    "ex", "kp",     "mu",      "kG2"};
  static const std::vector<std::string> g3 = {"mu'",  "ex'", "kG1'", "V0",  "mu3", "ex",  "alpha_s",
                                              "beta", "A",   "kG2",  "kVB", "kp",  "kG1", "mu"};
  static const std::vector<std::string> varmu = {"alpha_s", "beta", "A",    "kG2", "kG1", "mu",
                                                 "ex",      "mu_b", "ex_b", "kp",  "kVB", "svar"};
  static const std::map<int32_t, std::vector<std::string>> tables = {
      {0, {"k", "ex", "eps"}},
      {1, {"kVB", "kG1", "kp", "ex", "mu"}},
      {2, {"mu", "ex", "kG1", "kp", "kVB", "kG2"}},
      {12, nolt_pentode},
      {22, nolt_pentode},
      {32, nolt_pentode},
      {13, nolt_tetrode},
      {33, nolt_tetrode},
      {23, {"Sc", "nu", "lambda", "w", "alpha'", "beta", "A", "alpha_s", "kVB", "kG1", "ex", "kp", "mu", "kG2"}},
      {14, {"mu'", "ex'", "kG1'", "kp'", "kVB'", "mu3", "alpha_s", "beta", "A", "kG2", "kVB", "kp", "kG1", "mu",
            "ex"}},
      {15, g3},
      {25, g3},
      {16, varmu},
      {26, varmu},
  };
  return tables;
}

TEST(ParamIdent, EveryRowOfTheTable) {
  for (const auto& [code, names] : ExpectedTables()) {
    ParamSet ps = SetFor(code);
    const int32_t n = static_cast<int32_t>(names.size());
    EXPECT_EQ(ps.NFit, n) << code;
    for (int32_t i = 1; i <= n; ++i) EXPECT_EQ(ps.name[i], Padded(names[i - 1])) << code << " slot " << i;
    for (int32_t i = n + 1; i <= MxNP; ++i) EXPECT_EQ(ps.name[i], "") << code << " slot " << i;
    for (const Field& f : kAllFields) {
      int32_t expected = 0;
      for (int32_t i = 1; i <= n; ++i) {
        if (names[i - 1] == f.name) expected = i;
      }
      EXPECT_EQ(ps.slot.*(f.field), expected) << code << " " << f.name;
    }
  }
}

TEST(ParamIdent, SlotsAreDistinctAndGapless) {
  for (const auto& entry : ExpectedTables()) {
    ParamSet ps = SetFor(entry.first);
    std::vector<int32_t> seen(MxNP + 1, 0);
    int32_t named = 0;
    for (const Field& f : kAllFields) {
      const int32_t slot = ps.slot.*(f.field);
      if (slot == 0) continue;
      ++named;
      ASSERT_LE(slot, MxNP);
      ++seen[slot];
    }
    EXPECT_EQ(named, ps.NFit) << entry.first;
    for (int32_t i = 1; i <= ps.NFit; ++i) EXPECT_EQ(seen[i], 1) << entry.first << " slot " << i;
    for (int32_t i = 1; i <= ps.NFit; ++i) {
      for (int32_t j = i + 1; j <= ps.NFit; ++j) EXPECT_NE(ps.name[i], ps.name[j]) << entry.first;
    }
  }
}

// A parameter that no field of Slots names takes an own slot and is found by its printed name; a law
// with more such parameters than there are own slots stops.
TEST(ParamIdent, ALawsOwnParametersAreFoundByName) {
  static_assert(SlotKey::Own("kc") == SlotKey::Own("kc") && SlotKey::Own("kc") != SlotKey::Own("kd") &&
                SlotKey::Own("kc") != SlotKey(&Slots::mu) && SlotKey(nullptr).empty());
  const SlotName table[] = {{&Slots::kVB, "kVB"}, {SlotKey::Own("kc"), "kc", Sign::kSigned}, {&Slots::mu, "mu"},
                            {SlotKey::Own("kd"), "kd"}};
  ParamSet ps;
  ParamIdentFrom({table, 4}, ps);
  EXPECT_EQ(ps.NFit, 4);
  EXPECT_EQ(ps.slot.kVB, 1);
  EXPECT_EQ(ps.slot.mu, 3);
  EXPECT_EQ(SlotKey::Own("kc").Of(ps.slot), 2);
  EXPECT_EQ(SlotKey::Own("kd").Of(ps.slot), 4);
  EXPECT_EQ(ps.slot.OwnSlot("ke"), 0);
  EXPECT_EQ(ps.name[2], Padded("kc"));

  const SlotName crowded[] = {{SlotKey::Own("a"), "a"}, {SlotKey::Own("b"), "b"}, {SlotKey::Own("c"), "c"},
                              {SlotKey::Own("d"), "d"}, {SlotKey::Own("e"), "e"}};
  ParamSet full;
  try {
    ParamIdentFrom({crowded, 5}, full);
    ADD_FAILURE() << "five own parameters fitted into four own slots";
  } catch (const Stop& stop) {
    EXPECT_EQ(stop.lines().at(0), " Internal error in Subroutine ParamIdent, too many parameters of a law's own");
  }
}

TEST(ParamIdent, G3NoltCarriesExInSlotSix) {
  ParamSet ps = SetFor(15);
  EXPECT_EQ(ps.NFit, 14);
  EXPECT_EQ(ps.slot.ex, 6);
  EXPECT_EQ(ps.name[6], "ex                  ");
}

TEST(ParamIdent, CodeOutsideTheTableAssignsNothing) {
  for (int32_t code : {3, 4, 5, 6, 10, 11, 24, 31, 34, 36, -1}) {
    ParamSet ps;
    ps.NFit = 7;
    ps.name[1] = "untouched";
    ParamIdent(code, ps);
    EXPECT_EQ(ps.NFit, 7) << code;
    EXPECT_EQ(ps.name[1], "untouched") << code;
    for (const Field& f : kAllFields) EXPECT_EQ(ps.slot.*(f.field), 0) << code << " " << f.name;
  }
}

TEST(ParamIdent, LeavesUnusedNamesAsTheyWere) {
  ParamSet ps;
  ps.name[7] = "old";
  ParamIdent(1, ps);
  EXPECT_EQ(ps.name[7], "old");
  EXPECT_EQ(ps.name[5], "mu                  ");
}

// The laws' float exp, log, pow, tanh and atan against the C library's double results rounded to float,
// over the arguments the laws reach: at most 1 ulp apart, and nearly always equal (tubefit-mathcheck counts
// over every float).
int32_t UlpsApart(float a, float b) {
  int32_t ia, ib;
  std::memcpy(&ia, &a, sizeof a);
  std::memcpy(&ib, &b, sizeof b);
  if ((ia < 0) != (ib < 0)) return (ia & 0x7fffffff) + (ib & 0x7fffffff);
  return ia > ib ? ia - ib : ib - ia;
}

TEST(LawFunctions, FloatResultsAreTheRoundedCLibraryOnesWithinOneUlp) {
  constexpr int kSamples = 200000;
  int32_t worst[5] = {}, differ[5] = {};
  auto tally = [&](int f, float got, double ref) {
    const int32_t d = UlpsApart(got, static_cast<float>(ref));
    worst[f] = std::max(worst[f], d);
    differ[f] += d != 0;
  };
  for (int i = 0; i < kSamples; ++i) {
    const double u = (i + 0.5) / kSamples;
    const float x = static_cast<float>(std::pow(10.0, -8.0 + 16.0 * u)) * (i % 2 ? -1.0f : 1.0f);
    const float pos = std::fabs(x), small = pos * 1e-4f;
    const float e = static_cast<float>(-80.0 + 160.0 * u), y = static_cast<float>(0.001 + 5.0 * u);
    tally(0, law::Exp(e), std::exp(double{e}));
    tally(1, law::Log(pos), std::log(double{pos}));
    tally(2, law::Pow(small, y), std::pow(double{small}, double{y}));
    tally(3, law::Tanh(e / 8.0f), std::tanh(double{e / 8.0f}));
    tally(4, law::Atan(x), std::atan(double{x}));
  }
  for (int f = 0; f < 5; ++f) {
    SCOPED_TRACE(testing::Message() << "function " << f << " of exp, log, pow, tanh, atan");
    EXPECT_LE(worst[f], 1);
    EXPECT_LE(differ[f], kSamples / 10000);
  }
}
}  // namespace
}  // namespace tubefit
