// The block evaluation of FitObjective (one point at a time, AVX2, AVX-512) against the point-by-point one
// through Model: the same sum bit for bit, the same write-backs into the parameter vector, and fits that
// end in the same place.
// The data are seeded random grids that reach the clamps, the linear softplus branch and the cut-off.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

#include "core/matrix.h"
#include "core/measurement_set.h"
#include "fit/fit.h"
#include "fit/objective.h"
#include "models/model_info.h"
#include "models/models.h"

namespace tubefit {
namespace {

constexpr float kHuge = 1e30f;

// The block paths this build and processor support.
std::vector<SimdLevel> Levels() {
  std::vector<SimdLevel> levels{SimdLevel::kNone};
  if (SupportedSimdLevel() >= SimdLevel::kAvx2) levels.push_back(SimdLevel::kAvx2);
  if (SupportedSimdLevel() >= SimdLevel::kAvx512) levels.push_back(SimdLevel::kAvx512);
  return levels;
}

Tube TubeOf(int32_t iModel) { return ModelInfoFor(iModel).tube; }

// Typical parameters of each code (the generating values of the data), by tube type and parameter.
ParamSet Typical(int32_t iModel) {
  ParamSet ps;
  ParamIdent(iModel, ps);
  const Slots& s = ps.slot;
  const Tube tube = TubeOf(iModel);
  if (tube == Tube::kDiode) {
    ps.P[s.k] = 500.0f;
    ps.P[s.ex] = 1.4f;
    ps.P[s.eps] = 1.5f;
    return ps;
  }
  auto set = [&ps](int32_t slot, float value) {
    if (slot) ps.P[slot] = value;
  };
  const bool triode = tube == Tube::kTriode;
  ps.P[s.mu] = triode ? 100.0f : 20.0f;
  ps.P[s.ex] = 1.4f;
  ps.P[s.kG1] = triode ? 1060.0f : 600.0f;
  ps.P[s.kp] = triode ? 600.0f : 40.0f;
  ps.P[s.kVB] = triode ? 300.0f : 20.0f;
  if (triode) return ps;
  ps.P[s.kG2] = 3000.0f;
  set(s.alpha_s, 2.0f);
  set(s.beta, 0.05f);
  set(s.A, 0.0005f);
  set(s.mu_b, 8.0f);  // variable mu
  set(s.ex_b, 1.2f);
  set(s.svar, 0.4f);
  set(s.mu_p, 8.0f);  // hexode and g3
  set(s.ex_p, 1.2f);
  set(s.kG1_p, tube == Tube::kHexode ? 0.5f : 3.0f);
  set(s.kp_p, 30.0f);
  set(s.kVB_p, 100.0f);
  set(s.mu3, 15.0f);
  set(s.V0, 2.0f);
  if (tube == Tube::kBeamTetrode) {
    ps.P[s.Sc] = 0.002f;
    ps.P[s.nu] = 2.0f;
    ps.P[s.lambda] = 1.5f;
    ps.P[s.w] = 5.0f;
    ps.P[s.alpha_p] = 0.05f;
  }
  return ps;
}

// A set of `curves` curves of `points` random points: Va in [0, 400] V, the screen at a random fixed
// voltage or (a `tied` share of the curves) tied to the anode, Vg1 down to deep cut-off and a little above
// 0 V. The measured currents are the model's at the typical parameters with 2% multiplicative noise.
std::unique_ptr<MeasurementSet> RandomSet(int32_t iModel, unsigned seed, int curves, int points,
                                          float noise = 0.02f, float tied_share = 0.3f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u01(0.0f, 1.0f);
  ParamSet ps = Typical(iModel);
  auto ms = std::make_unique<MeasurementSet>();
  ms->NFiles = 2;
  for (int c = 0; c < curves; ++c) {
    MeasFile& file = ms->file[1 + c % 2];
    MeasCurve& curve = file.curve[++file.NVg];
    curve.Vg1 = -12.0f * u01(rng) + 0.5f;
    curve.Vg3 = -10.0f * u01(rng);
    const bool tied = u01(rng) < tied_share;
    const float Vs = 50.0f + 250.0f * u01(rng);
    curve.NPts = points;
    for (int p = 1; p <= points; ++p) {
      MeasPoint& m = curve.pt[p];
      m.Va = p == 1 ? 0.0f : 400.0f * u01(rng);
      m.Vs = tied ? std::fmax(m.Va, 1.0f) : Vs;
      float Ia = 0.0f, Is = 0.0f;
      Model(iModel, m.Va, m.Vs, curve.Vg1, curve.Vg3, ps.P, ps.slot, Ia, Is);
      m.Ia = Ia * (1.0f + noise * (u01(rng) - 0.5f));
      m.Is = Is * (1.0f + noise * (u01(rng) - 0.5f));
    }
  }
  return ms;
}

// Trial vectors: the typical one scaled at random by 0.5..1.5 with random signs on some slots, and the
// clamp cases of the code pushed past their limits.
ParamVector Trial(int32_t iModel, std::mt19937& rng, int k) {
  std::uniform_real_distribution<float> scale(0.5f, 1.5f);
  ParamSet ps = Typical(iModel);
  const Slots& s = ps.slot;
  const Tube tube = TubeOf(iModel);
  const Family family = ModelInfoFor(iModel).family;
  for (int i = 1; i <= ps.NFit; ++i) {
    ps.P[i] *= scale(rng);
    // Negative values where the equations take or make an absolute value.
    // (The variable-mu Nolt pentode uses a signed alpha_s at its first point and then its magnitude.)
    if (k % 3 == 1 && (i == s.kVB || i == s.beta || i == s.A || i == s.Sc || i == s.nu || i == s.w ||
                       (tube == Tube::kVarMu && family == Family::kNolt && i == s.alpha_s))) {
      ps.P[i] = -ps.P[i];
    }
  }
  if (k % 4 == 2) {
    if (s.mu && tube == Tube::kTriode) ps.P[s.mu] = 230.0f;  // triode cap 150
    if (s.alpha_p) ps.P[s.alpha_p] = 0.4f;        // cap 0.1 for 13 and 33, kept by 23
    if (s.mu_b) ps.P[s.mu_b] = 400.0f;            // cap 150 (16) or 300 (26)
    if (s.ex_b) ps.P[s.ex_b] = 3.5f;              // cap 3 (26)
  }
  if (k % 5 == 3 && s.kp) ps.P[s.kp] *= 8.0f;  // more points on the linear softplus branch
  if (k % 7 == 5 && tube == Tube::kDiode) ps.P[s.ex] = -0.7f;
  return ps.P;
}

class BlockObjective : public ::testing::TestWithParam<int32_t> {};

TEST_P(BlockObjective, EqualsThePointByPointSumAndWriteBacks) {
  const int32_t iModel = GetParam();
  // 7 curves of 23 points: 161 points, not a multiple of either block width. Curves with the screen tied
  // to the anode give each point voltages of its own; without them every curve shares its voltages along
  // its length.
  for (const float tied : {0.3f, 0.0f}) {
    auto ms = RandomSet(iModel, 1234u + static_cast<unsigned>(iModel), 7, 23, 0.02f, tied);
    ParamSet ps = Typical(iModel);
    for (SimdLevel level : Levels()) {
      FitObjective F(*ms, kHuge, kHuge, iModel, ps.slot);
      ASSERT_EQ(F.UseSimd(level), level);
      std::mt19937 rng(99u);
      for (int k = 0; k < 60; ++k) {
        ParamVector Pv = Trial(iModel, rng, k);
        ParamVector Ps = Pv;
        const float v = F(Pv, Pv);
        const float r = F.Pointwise(Ps);
        ASSERT_TRUE(std::isfinite(r)) << "trial " << k;
        EXPECT_EQ(v, r) << SimdLevelName(level) << " trial " << k;
        for (int i = 0; i <= MxNP; ++i) {
          ASSERT_EQ(Pv[i], Ps[i]) << SimdLevelName(level) << " trial " << k << " slot " << i;
        }
      }
    }
  }
}

// The vector routines are the deterministic ones, so every vector width gives the same sum bit for bit:
// a fit runs the same way on every processor that has a vector evaluation.
TEST_P(BlockObjective, EveryVectorWidthGivesTheSameSum) {
  const int32_t iModel = GetParam();
  if (SupportedSimdLevel() < SimdLevel::kAvx512) GTEST_SKIP() << "fewer than two vector widths on this processor";
  auto ms = RandomSet(iModel, 4321u + static_cast<unsigned>(iModel), 7, 23);
  ParamSet ps = Typical(iModel);
  FitObjective narrow(*ms, kHuge, kHuge, iModel, ps.slot);
  FitObjective wide(*ms, kHuge, kHuge, iModel, ps.slot);
  ASSERT_EQ(narrow.UseSimd(SimdLevel::kAvx2), SimdLevel::kAvx2);
  ASSERT_EQ(wide.UseSimd(SimdLevel::kAvx512), SimdLevel::kAvx512);
  std::mt19937 rng(7u);
  for (int k = 0; k < 60; ++k) {
    ParamVector Pn = Trial(iModel, rng, k);
    ParamVector Pw = Pn;
    const float a = narrow(Pn, Pn);
    const float b = wide(Pw, Pw);
    EXPECT_EQ(a, b) << "trial " << k;
    EXPECT_EQ(Pn, Pw) << "trial " << k;
  }
}

// One point per objective with measured currents 0: the objective is Ia'^2 (+ Is'^2), so each point's
// model currents are compared on their own, including points in cut-off (both exactly 0).
TEST_P(BlockObjective, PerPointCurrentsAgreeBitForBit) {
  const int32_t iModel = GetParam();
  auto data = RandomSet(iModel, 77u, 4, 40);
  ParamSet ps = Typical(iModel);
  int zeros = 0;
  for (int f = 1; f <= data->NFiles; ++f) {
    for (int c = 1; c <= data->file[f].NVg; ++c) {
      const MeasCurve& curve = data->file[f].curve[c];
      for (int p = 1; p <= curve.NPts; ++p) {
        auto one = std::make_unique<MeasurementSet>();
        one->NFiles = 1;
        one->file[1].NVg = 1;
        MeasCurve& oc = one->file[1].curve[1];
        oc.Vg1 = curve.Vg1;
        oc.Vg3 = curve.Vg3;
        oc.NPts = 1;
        oc.pt[1] = curve.pt[p];
        oc.pt[1].Ia = 0.0f;
        oc.pt[1].Is = 0.0f;
        for (SimdLevel level : Levels()) {
          FitObjective F(*one, kHuge, kHuge, iModel, ps.slot);
          F.UseSimd(level);
          ParamVector Pv = ps.P, Ps = ps.P;
          const float v = F(Pv);
          const float r = F.Pointwise(Ps);
          zeros += r == 0.0f ? 1 : 0;
          EXPECT_EQ(v, r) << SimdLevelName(level) << " Va " << oc.pt[1].Va << " Vg1 " << oc.Vg1;
        }
      }
    }
  }
  const Tube tube = TubeOf(iModel);
  if (tube == Tube::kTriode || tube == Tube::kPentode || tube == Tube::kBeamTetrode) {
    EXPECT_GT(zeros, 0);  // some points lie in cut-off
  }
}

// Every entry of the model registry.
std::vector<int32_t> EveryCode() {
  std::vector<int32_t> codes;
  for (const ModelInfo& m : AllModels()) codes.push_back(m.code);
  return codes;
}
INSTANTIATE_TEST_SUITE_P(Codes, BlockObjective, ::testing::ValuesIn(EveryCode()));

TEST(BlockObjective, EveryCodeHasBlocksAndTheScalarLimitHolds) {
  auto ms = RandomSet(1, 5u, 2, 10);
  for (int32_t code : EveryCode()) {
    ParamSet ps;
    ParamIdent(code, ps);
    FitObjective F(*ms, kHuge, kHuge, code, ps.slot);
    EXPECT_EQ(F.UseSimd(SimdLevel::kAvx512), SupportedSimdLevel()) << code;
  }
  ParamSet ps = Typical(1);
  FitObjective F(*ms, kHuge, kHuge, 1, ps.slot);
  EXPECT_EQ(F.simd(), SupportedSimdLevel());  // the widest level unless told otherwise
  EXPECT_EQ(F.UseSimd(SimdLevel::kAvx512), SupportedSimdLevel());
  EXPECT_EQ(F.UseSimd(SimdLevel::kNone), SimdLevel::kNone);
  ParamVector a = ps.P, b = ps.P;
  EXPECT_EQ(F(a), F.Pointwise(b));
}

// A slot table where two parameters share a slot makes the write-backs order-dependent: such a table is
// evaluated point by point.
TEST(BlockObjective, SharedSlotsFallBackToPointByPoint) {
  auto ms = RandomSet(1, 6u, 2, 10);
  ParamSet ps = Typical(1);
  Slots s = ps.slot;
  s.kVB = s.mu;
  FitObjective F(*ms, kHuge, kHuge, 1, s);
  F.UseSimd(SimdLevel::kAvx512);
  EXPECT_EQ(F.simd(), SimdLevel::kNone);
}

// Whole fits through Fit from the same start, one point at a time and 16 at a time: the same fit, bit for
// bit. On noise-free data both recover the generating parameters (to 0.5%).
void FitBoth(int32_t iModel, int32_t NFit, float ftol, float start_factor, float noise) {
  auto ms = RandomSet(iModel, 4321u, 9, 31, noise);
  ParamSet truth = Typical(iModel);
  std::vector<ParamVector> results;
  std::vector<float> r2;
  float sum_sq = 0.0f;
  for (bool vector : {false, true}) {
    FitObjective obj(*ms, kHuge, kHuge, iModel, truth.slot);
    obj.UseSimd(vector ? SimdLevel::kAvx512 : SimdLevel::kNone);
    const FitFunction F = obj.ForFit();
    ParamVector P = truth.P;
    for (int i = 1; i <= NFit; ++i) P[i] *= (i % 2 ? start_factor : 2.0f - start_factor);
    FitOptions options;
    options.NFit = NFit;
    options.ftol = ftol;
    options.kept_sign[truth.slot.eps] = truth.slot.eps != 0;
    Fit(P, F, options);
    results.push_back(P);
    r2.push_back(obj.Pointwise(P));
    sum_sq = 0.0f;
    for (const FitPoint& p : obj.points()) sum_sq += p.Ia * p.Ia + p.Is * p.Is;
  }
  if (noise == 0.0f) {
    for (int i = 1; i <= NFit; ++i) {
      EXPECT_NEAR(results[0][i], truth.P[i], 5e-3 * std::fabs(truth.P[i])) << "point by point, slot " << i;
      EXPECT_NEAR(results[1][i], truth.P[i], 5e-3 * std::fabs(truth.P[i])) << "blocks, slot " << i;
    }
    EXPECT_LT(r2[0], 1e-8f * sum_sq);
  }
  EXPECT_EQ(results[1], results[0]) << "code " << iModel;
  EXPECT_EQ(r2[1], r2[0]) << "code " << iModel;
}

TEST(BlockObjective, TriodeFitsAgree) {
  FitBoth(1, 5, 1e-6f, 1.2f, 0.0f);
  FitBoth(1, 5, 1e-6f, 1.2f, 0.02f);
}

TEST(BlockObjective, NoltEPentodeFitsAgree) {
  FitBoth(22, 9, 1e-6f, 1.1f, 0.02f);
}

}  // namespace
}  // namespace tubefit
