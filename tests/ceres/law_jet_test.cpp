// The model laws compile and evaluate with ceres::Jet, as the Levenberg-Marquardt fit evaluates them: the
// value of the currents is the double-precision law's (to rounding), and each derivative matches a central
// difference of the double-precision law.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>

#include "models/law.h"
#include "models/law_jet.h"
#include "models/models.h"

namespace tubefit {
namespace {

constexpr int kN = 15;  // the largest parameter set (hexode)
using J = ceres::Jet<double, kN>;

// Ia + 3 Is of the law at one point, for any number type (not the cathode current Ia + Is, which the
// secondary emission of the beam tetrodes leaves unchanged).
template <class Law, class T>
T Mix(const T* P, const Slots& s, const law::Point<T>& x) {
  T Ia = T(0.0), Is = T(0.0);
  Law::Currents(Law::Effective(P, s), x, Ia, Is);
  return Ia + T(3.0) * Is;
}

template <class Law>
void CheckDerivatives(int32_t iModel, const ParamVector& start) {
  ParamSet ps;
  ParamIdent(iModel, ps);
  const law::Point<double> x{180.0, 150.0, -2.5, -1.0};
  const law::Point<J> xj{J(x.Va), J(x.Vs), J(x.Vg1), J(x.Vg3)};
  double P[MxNP + 1];
  J Pj[MxNP + 1];
  for (int i = 0; i <= MxNP; ++i) {
    P[i] = start[i];
    Pj[i] = i >= 1 && i <= ps.NFit ? J(P[i], i - 1) : J(P[i]);
  }
  const J I = Mix<Law>(static_cast<const J*>(Pj), ps.slot, xj);
  const double value = Mix<Law>(static_cast<const double*>(P), ps.slot, x);
  EXPECT_NEAR(I.a, value, 1e-12 * std::fabs(value)) << iModel;
  for (int i = 1; i <= ps.NFit; ++i) {
    const double h = 1e-6 * std::fabs(P[i]);
    double up[MxNP + 1], down[MxNP + 1];
    for (int k = 0; k <= MxNP; ++k) up[k] = down[k] = P[k];
    up[i] += h;
    down[i] -= h;
    const double diff = (Mix<Law>(static_cast<const double*>(up), ps.slot, x) -
                         Mix<Law>(static_cast<const double*>(down), ps.slot, x)) / (2.0 * h);
    EXPECT_NEAR(I.v[i - 1], diff, 1e-5 * std::fabs(diff) + 1e-12) << iModel << " " << ps.name[i];
  }
}

// Every law, at parameters in the slot order of ParamIdent, away from its caps and limits (where a
// derivative is 0 on one side).
template <class Law>
void Check(int32_t iModel, std::initializer_list<float> values) {
  ParamVector P{};
  int i = 0;
  for (float v : values) P[++i] = v;
  CheckDerivatives<Law>(iModel, P);
}

TEST(LawJet, DerivativesOfTheLawsMatchDifferences) {
  Check<law::Diode>(0, {1500.0f, 1.5f, 0.5f});                            // k ex eps
  Check<law::Triode>(1, {300.0f, 1060.0f, 600.0f, 1.4f, 100.0f});         // kVB kG1 kp ex mu
  Check<law::KorenPentode>(2, {20.0f, 1.35f, 600.0f, 40.0f, 20.0f, 3000.0f});  // mu ex kG1 kp kVB kG2
  // alpha_s beta A kG2 kG1 mu ex kp kVB
  const std::initializer_list<float> pentode = {2.0f, 0.05f, 5e-4f, 3000.0f, 600.0f, 20.0f, 1.4f, 40.0f, 20.0f};
  // (the NoltE laws with beta Va near 1, where exp(-(beta Va)^1.5) is not vanishingly small)
  const std::initializer_list<float> pentode_e = {2.0f, 0.005f, 5e-4f, 3000.0f, 600.0f, 20.0f, 1.4f, 40.0f, 20.0f};
  Check<law::NoltPentode>(12, pentode);
  Check<law::NoltEPentode>(22, pentode_e);
  Check<law::NoltIPentode>(32, pentode);
  // Sc nu lambda w alpha' alpha_s beta A kVB kG1 ex kp mu kG2 (23: beta A alpha_s in slots 6 to 8)
  const std::initializer_list<float> tetrode = {0.002f, 2.0f,  1.5f,   5.0f,  0.05f, 2.0f,  0.05f,
                                                5e-4f,  20.0f, 600.0f, 1.4f, 40.0f, 20.0f, 3000.0f};
  Check<law::NoltBeamTetrode>(13, tetrode);
  Check<law::NoltIBeamTetrode>(33, tetrode);
  Check<law::NoltEBeamTetrode>(23, {0.002f, 2.0f, 1.5f, 5.0f, 0.05f, 0.005f, 5e-4f, 2.0f, 20.0f, 600.0f, 1.4f,
                                    40.0f, 20.0f, 3000.0f});
  // mu' ex' kG1' kp' kVB' mu3 alpha_s beta A kG2 kVB kp kG1 mu ex
  Check<law::Hexode>(14, {8.0f, 1.2f, 0.5f, 30.0f, 100.0f, 15.0f, 2.0f, 0.05f, 5e-4f, 3000.0f, 20.0f, 40.0f,
                          600.0f, 20.0f, 1.4f});
  // mu' ex' kG1' V0 mu3 ex alpha_s beta A kG2 kVB kp kG1 mu
  const std::initializer_list<float> g3 = {8.0f,  1.3f,  30.0f,   2.0f,   15.0f,  1.35f,  4.0f,
                                           0.1f, 2e-4f, 2000.0f, 300.0f, 120.0f, 200.0f, 19.0f};
  Check<law::G3PentodeNolt>(15, g3);
  Check<law::G3PentodeNoltE>(25, g3);
  // alpha_s beta A kG2 kG1 mu ex mu_b ex_b kp kVB svar
  const std::initializer_list<float> varmu = {2.0f, 0.05f, 5e-4f, 3000.0f, 600.0f, 20.0f,
                                              1.4f, 8.0f,  1.2f,  40.0f,   20.0f,  0.4f};
  Check<law::VarMuNolt>(16, varmu);
  Check<law::VarMuNoltE>(26, {2.0f, 0.005f, 5e-4f, 3000.0f, 600.0f, 20.0f, 1.4f, 8.0f, 1.2f, 40.0f, 20.0f, 0.4f});
}

// On a lower limit of the law (V0 = 0.1 of the g3 pentode: the law takes max(|V0|, 0.1)) the derivative is
// the one into the allowed range, the forward difference, and not 0: a fit held on the limit can leave it.
TEST(LawJet, DerivativeOnALimitPointsIntoTheAllowedRange) {
  ParamSet ps;
  ParamIdent(25, ps);
  const law::Point<double> x{180.0, 150.0, -2.5, -1.0};
  const law::Point<J> xj{J(x.Va), J(x.Vs), J(x.Vg1), J(x.Vg3)};
  const double values[] = {0, 8.0, 1.3, 30.0, 0.1, 15.0, 1.35, 4.0, 0.1, 2e-4, 2000.0, 300.0, 120.0, 200.0, 19.0};
  double P[MxNP + 1] = {}, up[MxNP + 1] = {};
  J Pj[MxNP + 1];
  for (int i = 0; i <= MxNP; ++i) {
    P[i] = up[i] = i < 15 ? values[i] : 0.0;
    if (i == ps.slot.V0) P[i] = up[i] = static_cast<double>(0.1f);  // the limit as the law states it
    Pj[i] = i == ps.slot.V0 ? J(P[i], 0) : J(P[i]);
  }
  const double h = 1e-7;
  up[ps.slot.V0] += h;
  const double forward = (Mix<law::G3PentodeNoltE>(static_cast<const double*>(up), ps.slot, x) -
                          Mix<law::G3PentodeNoltE>(static_cast<const double*>(P), ps.slot, x)) / h;
  ASSERT_NE(forward, 0.0);
  EXPECT_NEAR(Mix<law::G3PentodeNoltE>(static_cast<const J*>(Pj), ps.slot, xj).v[0], forward,
              1e-5 * std::fabs(forward));
}

// The double pow and tanh of the lm path give the correctly rounded result (worked out to 300 bits) where
// a plain e^(y ln x) is 100 ulp off and 1 - 2 / (e^2x + 1) 5 ulp, and follow C's pow at the special values.
TEST(LawJet, DoublePowAndTanhRoundCorrectly) {
  using M = law::Math<double>;
  EXPECT_EQ(M::Pow(0x1.dc5806d8433c6p-24, 0x1.232d592a22f97p+2), 0x1.d8945295929a1p-106);
  EXPECT_EQ(M::Pow(0x1.c3d2d7afd259bp-24, 0x1.2d0e6c9be965ap+2), 0x1.f1c639fe5e507p-110);
  EXPECT_EQ(M::Pow(10.0, -2.5), 0x1.9e7c6e43390b7p-9);
  EXPECT_EQ(M::Pow(3.0, 1.5), 0x1.4c8dc2e42398p+2);
  EXPECT_EQ(M::Tanh(0x1.638ea3ff18363p-3), 0x1.600706ac8621ap-3);
  EXPECT_EQ(M::Tanh(-0x1.77c2e0140fdafp-3), -0x1.7399c8d265e52p-3);
  EXPECT_EQ(M::Tanh(0.75), 0x1.45323e552f228p-1);
  const double inf = HUGE_VAL;
  for (const auto& c : {std::initializer_list<double>{-inf, 0.5, inf}, {-inf, -3.0, -0.0}, {-0.0, -1.0, -inf},
                        {0.0, 0.5, 0.0}, {1.0, 1e300, 1.0}, {1.0, NAN, 1.0}, {-1.0, inf, 1.0}, {-2.0, 3.0, -8.0},
                        {0.5, 1100.0, 0.0}, {2.0, 1024.0, inf}, {2.0, -1074.0, 0x1p-1074}}) {
    const double* v = c.begin();
    EXPECT_EQ(M::Pow(v[0], v[1]), v[2]) << v[0] << " " << v[1];
    EXPECT_EQ(std::signbit(M::Pow(v[0], v[1])), std::signbit(v[2])) << v[0] << " " << v[1];
  }
  EXPECT_TRUE(std::isnan(M::Pow(-8.0, 1.0 / 3.0)));
  EXPECT_EQ(M::Tanh(1e-300), 1e-300);
  EXPECT_EQ(M::Tanh(-30.0), -1.0);
  EXPECT_TRUE(std::isnan(M::Tanh(NAN)));
}

}  // namespace
}  // namespace tubefit
