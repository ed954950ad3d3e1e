// The model laws compile and evaluate with ceres::Jet, as the Levenberg-Marquardt fit evaluates them: the
// value of the currents is the double-precision law's (to rounding), and each derivative matches a central
// difference of the double-precision law.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "models/law.h"
#include "models/law_jet.h"
#include "models/model_info.h"
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
    const double h = 1e-4 * std::fabs(P[i]);
    double up[MxNP + 1], down[MxNP + 1];
    for (int k = 0; k <= MxNP; ++k) up[k] = down[k] = P[k];
    up[i] += h;
    down[i] -= h;
    const double diff = (Mix<Law>(static_cast<const double*>(up), ps.slot, x) -
                         Mix<Law>(static_cast<const double*>(down), ps.slot, x)) / (2.0 * h);
    EXPECT_NEAR(I.v[i - 1], diff, 1e-5 * std::fabs(diff) + 1e-12) << iModel << " " << ps.name[i];
  }
}

// A typical value of each parameter, by its name, away from the laws' caps and limits (where a derivative
// is 0 on one side); the NoltE laws get beta Va near 1, where exp(-(beta Va)^1.5) is not vanishingly small.
// A name not listed gets 1e-3.
double TypicalValue(const std::string& name, Family family) {
  static const std::map<std::string, double> kTypical = {
      {"k", 1500.0},   {"ex", 1.4},     {"eps", 0.5},    {"kVB", 20.0},  {"kG1", 600.0},  {"kp", 40.0},
      {"mu", 20.0},    {"kG2", 3000.0}, {"alpha_s", 2.0}, {"beta", 0.05}, {"A", 5e-4},     {"Sc", 0.002},
      {"nu", 2.0},     {"lambda", 1.5}, {"w", 5.0},      {"alpha'", 0.05}, {"mu'", 8.0},   {"ex'", 1.2},
      {"kG1'", 3.0},   {"kp'", 30.0},   {"kVB'", 100.0}, {"mu3", 15.0},   {"V0", 2.0},     {"mu_b", 8.0},
      {"ex_b", 1.2},   {"svar", 0.4}};
  if (name == "beta" && family == Family::kNoltE) return 0.005;
  const auto it = kTypical.find(name);
  return it == kTypical.end() ? 1e-3 : it->second;
}

TEST(LawJet, DerivativesOfTheLawsMatchDifferences) {
  using Check = void (*)(int32_t, const ParamVector&);
  const auto checks = law::LawTable<Check>([](auto law) -> Check { return &CheckDerivatives<decltype(law)>; });
  int checked = 0;
  for (const ModelInfo& m : AllModels()) {
    if (m.law < 0) continue;
    ParamSet ps;
    ParamIdent(m.code, ps);
    ParamVector P{};
    for (const SlotName& slot : m.slots) P[slot.field.Of(ps.slot)] = static_cast<float>(TypicalValue(slot.name, m.family));
    checks[m.law](m.code, P);
    ++checked;
  }
  EXPECT_EQ(checked, law::kLawCount);
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
