// The model laws compile and evaluate with ceres::Jet: the value of the currents is the double-precision
// law's (to rounding), and each derivative matches a central difference of the double-precision law.
#include <gtest/gtest.h>

#include <cmath>

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

TEST(LawJet, DerivativesOfTheLawsMatchDifferences) {
  ParamVector tetrode{}, hexode{}, varmu{};
  // Slot order of ParamIdent: 23 Sc nu lambda w alpha' beta A alpha_s kVB kG1 ex kp mu kG2; 14 mu' ex' kG1'
  // kp' kVB' mu3 alpha_s beta A kG2 kVB kp kG1 mu ex; 16 alpha_s beta A kG2 kG1 mu ex mu_b ex_b kp kVB svar.
  const float t[] = {0.002f, 2.0f, 1.5f, 5.0f, 0.05f, 0.005f, 5e-4f, 2.0f, 20.0f, 600.0f, 1.4f, 40.0f, 20.0f, 3000.0f};
  const float h[] = {8.0f, 1.2f, 0.5f, 30.0f, 100.0f, 15.0f, 2.0f, 0.05f, 5e-4f, 3000.0f, 20.0f, 40.0f, 600.0f, 20.0f, 1.4f};
  const float v[] = {2.0f, 0.05f, 5e-4f, 3000.0f, 600.0f, 20.0f, 1.4f, 8.0f, 1.2f, 40.0f, 20.0f, 0.4f};
  for (int i = 0; i < 14; ++i) tetrode[i + 1] = t[i];
  for (int i = 0; i < 15; ++i) hexode[i + 1] = h[i];
  for (int i = 0; i < 12; ++i) varmu[i + 1] = v[i];
  CheckDerivatives<law::NoltEBeamTetrode>(23, tetrode);
  CheckDerivatives<law::Hexode>(14, hexode);
  CheckDerivatives<law::VarMuNolt>(16, varmu);
}

}  // namespace
}  // namespace tubefit
