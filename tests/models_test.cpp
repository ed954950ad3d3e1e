// Expected values are worked out independently: by hand where the numbers are round, otherwise from the
// closed-form equations evaluated in double precision (Python), stored here as literals.
#include "models/models.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "text/stop.h"

namespace tubefit {
namespace {

constexpr double kRelTol = 2e-5;  // float evaluation against a double reference

// |actual - expected| <= tol * |expected|, falling back to an absolute tol at zero.
::testing::AssertionResult RelNear(double actual, double expected, double tol = kRelTol) {
  double scale = std::fabs(expected) > 0.0 ? std::fabs(expected) : 1.0;
  if (std::fabs(actual - expected) <= tol * scale) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual << " differs from " << expected << " by more than " << tol
                                       << " relative";
}

ParamSet SetFor(int32_t iModel) {
  ParamSet ps;
  ParamIdent(iModel, ps);
  return ps;
}

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

TEST(ModelDispatch, UnknownCodeStopsWithTheLine) {
  for (int32_t code : {3, 24, -1, 99}) {
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

TEST(ParamIdent, TriodeTable) {
  ParamSet ps = SetFor(1);
  EXPECT_EQ(ps.NFit, 5);
  EXPECT_EQ(ps.slot.kVB, 1);
  EXPECT_EQ(ps.slot.kG1, 2);
  EXPECT_EQ(ps.slot.kp, 3);
  EXPECT_EQ(ps.slot.ex, 4);
  EXPECT_EQ(ps.slot.mu, 5);
  EXPECT_EQ(ps.name[1], "kVB                 ");
  EXPECT_EQ(ps.name[5], "mu                  ");
}

}  // namespace
}  // namespace tubefit
