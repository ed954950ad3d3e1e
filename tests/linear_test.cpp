// Expected values are worked out by hand (closed forms, small integer sums) or by construction.
#include "fit/linear.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "text/format.h"
#include "text/stop.h"

namespace tubefit {
namespace {

constexpr float kRelTol = 2e-5f;
constexpr float kAbsTol = 1e-5f;

// Relative closeness that falls back to an absolute tolerance near zero.
::testing::AssertionResult Near(float actual, float expected, float rel = kRelTol, float abs = kAbsTol) {
  const float diff = std::fabs(actual - expected);
  if (diff <= abs || diff <= rel * std::fabs(expected)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual << " is not near " << expected;
}

Matrix FromRows(int n, int cols, std::initializer_list<float> values) {
  Matrix m(n, cols);
  int k = 0;
  for (float v : values) {
    m(k / cols + 1, k % cols + 1) = v;
    ++k;
  }
  return m;
}

const std::string kSingular = " singular matrix in gaussj\n";

// A warning sink that prints each warning as a console line, as the callers of gaussj and lfit do.
WarningSink To(std::ostream& console) {
  return [&console](const std::string& text) { WriteList(console, {text}); };
}

// ---- gaussj ----

TEST(Gaussj, SwapMatrixIsItsOwnInverse) {
  Matrix a = FromRows(2, 2, {0, 1, 1, 0});
  Matrix b = FromRows(2, 1, {3, 5});
  std::ostringstream console;
  gaussj(a, 2, b, 1, To(console));
  EXPECT_EQ(a(1, 1), 0.0f);
  EXPECT_EQ(a(1, 2), 1.0f);
  EXPECT_EQ(a(2, 1), 1.0f);
  EXPECT_EQ(a(2, 2), 0.0f);
  EXPECT_EQ(b(1, 1), 5.0f);
  EXPECT_EQ(b(2, 1), 3.0f);
  EXPECT_EQ(console.str(), "");
}

TEST(Gaussj, OneByOne) {
  Matrix a = FromRows(1, 1, {4});
  Matrix b = FromRows(1, 2, {2, -1});
  std::ostringstream console;
  gaussj(a, 1, b, 2, To(console));
  EXPECT_EQ(a(1, 1), 0.25f);
  EXPECT_EQ(b(1, 1), 0.5f);
  EXPECT_EQ(b(1, 2), -0.25f);
}

void ExpectInverse(const Matrix& original, const Matrix& inverse, int n) {
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      double sum = 0.0;
      for (int k = 1; k <= n; ++k) sum += static_cast<double>(original(i, k)) * inverse(k, j);
      EXPECT_TRUE(Near(static_cast<float>(sum), i == j ? 1.0f : 0.0f, 1e-5f, 1e-5f)) << i << "," << j;
    }
  }
}

TEST(Gaussj, InverseOfThreeByThreeTimesMatrixIsIdentity) {
  const Matrix original = FromRows(3, 3, {4, 1, 2, 1, 5, 3, 2, 3, 6});
  Matrix a = original;
  Matrix b(3, 1);
  std::ostringstream console;
  gaussj(a, 3, b, 1, To(console));
  ExpectInverse(original, a, 3);
  EXPECT_EQ(console.str(), "");
}

TEST(Gaussj, InverseOfUnsymmetricFourByFourTimesMatrixIsIdentity) {
  const Matrix original = FromRows(4, 4, {2, -1, 0, 3, 1, 4, -2, 0, 0, 3, 5, -1, -2, 0, 1, 6});
  Matrix a = original;
  Matrix b(4, 1);
  std::ostringstream console;
  gaussj(a, 4, b, 1, To(console));
  ExpectInverse(original, a, 4);
}

TEST(Gaussj, SolvesSystemWithTwoRightHandSides) {
  // Columns of b are A*(1,-2,3) = (8,0,14) and A*(0,1,0) = (1,5,3).
  const Matrix original = FromRows(3, 3, {4, 1, 2, 1, 5, 3, 2, 3, 6});
  Matrix a = original;
  Matrix b = FromRows(3, 2, {8, 1, 0, 5, 14, 3});
  std::ostringstream console;
  gaussj(a, 3, b, 2, To(console));
  EXPECT_TRUE(Near(b(1, 1), 1.0f));
  EXPECT_TRUE(Near(b(2, 1), -2.0f));
  EXPECT_TRUE(Near(b(3, 1), 3.0f));
  EXPECT_TRUE(Near(b(1, 2), 0.0f));
  EXPECT_TRUE(Near(b(2, 2), 1.0f));
  EXPECT_TRUE(Near(b(3, 2), 0.0f));
}

TEST(Gaussj, ZeroRowWarnsOnceAndGivesFiniteResult) {
  // Pivot (1,2) = 2 first, then the zero pivot: its reciprocal is taken as 0, which clears that row and
  // column; after unscrambling the columns the result is [[0,0],[0.5,0]].
  Matrix a = FromRows(2, 2, {1, 2, 0, 0});
  Matrix b = FromRows(2, 1, {4, 0});
  std::ostringstream console;
  gaussj(a, 2, b, 1, To(console));
  EXPECT_EQ(console.str(), kSingular);
  EXPECT_EQ(a(1, 1), 0.0f);
  EXPECT_EQ(a(1, 2), 0.0f);
  EXPECT_EQ(a(2, 1), 0.5f);
  EXPECT_EQ(a(2, 2), 0.0f);
  EXPECT_EQ(b(1, 1), 0.0f);
  EXPECT_EQ(b(2, 1), 2.0f);
}

TEST(Gaussj, EqualMagnitudesTakeTheLastPivotInScanOrder) {
  // All four entries tie: the last one met, (2,2), is the first pivot. The second pivot is then zero.
  // Taking (1,1) first would give [[1,0],[0,0]] instead.
  Matrix a = FromRows(2, 2, {1, 1, 1, 1});
  Matrix b = FromRows(2, 1, {1, 1});
  std::ostringstream console;
  gaussj(a, 2, b, 1, To(console));
  EXPECT_EQ(console.str(), kSingular);
  EXPECT_EQ(a(1, 1), 0.0f);
  EXPECT_EQ(a(1, 2), 0.0f);
  EXPECT_EQ(a(2, 1), 0.0f);
  EXPECT_EQ(a(2, 2), 1.0f);
  EXPECT_EQ(b(1, 1), 0.0f);
  EXPECT_EQ(b(2, 1), 1.0f);
}

TEST(Gaussj, ZeroMatrixWarnsForEveryPassWithoutNaN) {
  Matrix a(3, 3);
  Matrix b = FromRows(3, 1, {1, 2, 3});
  std::ostringstream console;
  gaussj(a, 3, b, 1, To(console));
  EXPECT_EQ(console.str(), kSingular + kSingular + kSingular);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(b(i, 1), 0.0f);
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(a(i, j), 0.0f);
  }
}

// ---- lfit ----

void Parabola(float x, float afunc[], int ma) {
  ASSERT_EQ(ma, 3);
  afunc[1] = 1.0f;
  afunc[2] = x;
  afunc[3] = x * x;
}

struct ParabolaData {
  // x = 0..4 and y = 1 + 2x - 0.5x^2, index 0 unused.
  float x[6] = {0, 0, 1, 2, 3, 4};
  float y[6] = {0, 1.0f, 2.5f, 3.0f, 2.5f, 1.0f};
  float sig[6] = {0, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
};

TEST(Lfit, RecoversParabolaAndCovariance) {
  ParabolaData d;
  float a[4] = {0, 0, 0, 0};
  const int ia[4] = {0, 1, 1, 1};
  Matrix covar(3, 3);
  float chisq = -1.0f;
  std::ostringstream console;
  lfit(d.x, d.y, d.sig, 5, a, ia, 3, covar, chisq, Parabola, To(console));
  EXPECT_TRUE(Near(a[1], 1.0f, 1e-4f, 1e-4f));
  EXPECT_TRUE(Near(a[2], 2.0f, 1e-4f, 1e-4f));
  EXPECT_TRUE(Near(a[3], -0.5f, 1e-4f, 1e-4f));
  EXPECT_TRUE(Near(chisq, 0.0f, 0.0f, 1e-6f));
  // covar is the inverse of the weighted normal matrix 4 * [[5,10,30],[10,30,100],[30,100,354]].
  const double normal[3][3] = {{20, 40, 120}, {40, 120, 400}, {120, 400, 1416}};
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 3; ++j) {
      double sum = 0.0;
      for (int k = 1; k <= 3; ++k) sum += normal[i - 1][k - 1] * covar(k, j);
      EXPECT_TRUE(Near(static_cast<float>(sum), i == j ? 1.0f : 0.0f, 1e-4f, 1e-4f)) << i << "," << j;
    }
  }
  EXPECT_EQ(console.str(), "");
}

TEST(Lfit, HeldMiddleCoefficientKeepsValueAndZeroCovariance) {
  ParabolaData d;
  float a[4] = {0, 7.0f, 2.0f, 9.0f};
  const int ia[4] = {0, 1, 0, 1};
  Matrix covar(3, 3);
  covar.Fill(99.0f);
  float chisq = -1.0f;
  std::ostringstream console;
  lfit(d.x, d.y, d.sig, 5, a, ia, 3, covar, chisq, Parabola, To(console));
  EXPECT_EQ(a[2], 2.0f);
  EXPECT_TRUE(Near(a[1], 1.0f, 1e-5f, 1e-5f));
  EXPECT_TRUE(Near(a[3], -0.5f, 1e-5f, 1e-5f));
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(covar(2, k), 0.0f);
    EXPECT_EQ(covar(k, 2), 0.0f);
  }
  // Normal matrix of (1, x^2) weighted by 4: 4 * [[5,30],[30,354]], det of the bracket 870.
  EXPECT_TRUE(Near(covar(1, 1), 354.0f / 870.0f / 4.0f));
  EXPECT_TRUE(Near(covar(1, 3), -30.0f / 870.0f / 4.0f));
  EXPECT_TRUE(Near(covar(3, 1), -30.0f / 870.0f / 4.0f));
  EXPECT_TRUE(Near(covar(3, 3), 5.0f / 870.0f / 4.0f));
}

TEST(Lfit, HeldFirstCoefficientMovesCovarianceToOwnPositions) {
  ParabolaData d;
  float a[4] = {0, 1.0f, 0.0f, 0.0f};
  const int ia[4] = {0, 0, 1, 1};
  Matrix covar(3, 3);
  float chisq = -1.0f;
  std::ostringstream console;
  lfit(d.x, d.y, d.sig, 5, a, ia, 3, covar, chisq, Parabola, To(console));
  EXPECT_EQ(a[1], 1.0f);
  EXPECT_TRUE(Near(a[2], 2.0f, 1e-5f, 1e-5f));
  EXPECT_TRUE(Near(a[3], -0.5f, 1e-5f, 1e-5f));
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(covar(1, k), 0.0f);
    EXPECT_EQ(covar(k, 1), 0.0f);
  }
  // Normal matrix of (x, x^2) weighted by 4: 4 * [[30,100],[100,354]], det of the bracket 620.
  EXPECT_TRUE(Near(covar(2, 2), 354.0f / 620.0f / 4.0f));
  EXPECT_TRUE(Near(covar(2, 3), -100.0f / 620.0f / 4.0f));
  EXPECT_TRUE(Near(covar(3, 2), -100.0f / 620.0f / 4.0f));
  EXPECT_TRUE(Near(covar(3, 3), 30.0f / 620.0f / 4.0f));
}

TEST(Lfit, ConstantFitGivesMeanChisqAndVariance) {
  const float x[3] = {0, 5.0f, 6.0f};
  const float y[3] = {0, 1.0f, 3.0f};
  const float sig[3] = {0, 1.0f, 1.0f};
  float a[2] = {0, 0};
  const int ia[2] = {0, 1};
  Matrix covar(1, 1);
  float chisq = -1.0f;
  std::ostringstream console;
  lfit(x, y, sig, 2, a, ia, 1, covar, chisq, [](float, float afunc[], int) { afunc[1] = 1.0f; }, To(console));
  EXPECT_EQ(a[1], 2.0f);
  EXPECT_EQ(chisq, 2.0f);
  EXPECT_EQ(covar(1, 1), 0.5f);
}

TEST(Lfit, NothingToFitStopsWithText) {
  ParabolaData d;
  float a[4] = {0, 1, 2, 3};
  const int ia[4] = {0, 0, 0, 0};
  Matrix covar(3, 3);
  float chisq = 0.0f;
  std::ostringstream console;
  try {
    lfit(d.x, d.y, d.sig, 5, a, ia, 3, covar, chisq, Parabola, To(console));
    FAIL() << "lfit returned";
  } catch (const Stop& stop) {
    EXPECT_EQ(stop.kind(), Stop::Kind::kWithText);
    EXPECT_EQ(stop.text(), "lfit: no parameters to be fitted");
    EXPECT_TRUE(stop.lines().empty());
  }
  EXPECT_EQ(a[1], 1.0f);
  EXPECT_EQ(console.str(), "");
}

// ---- FitLine ----

TEST(FitLine, ExactLineIsRecoveredExactly) {
  const float x[5] = {0, 1, 2, 3, 4};
  const float y[5] = {0, 1, -1, -3, -5};  // y = 3 - 2x
  float slope = 0.0f;
  float intercept = 0.0f;
  FitLine(x, y, 4, slope, intercept);
  EXPECT_EQ(slope, -2.0f);
  EXPECT_EQ(intercept, 3.0f);
}

TEST(FitLine, TwoPointsGiveTheLineThroughThem) {
  const float x[3] = {0, 10, 20};
  const float y[3] = {0, 1.5f, 2.5f};  // slope 0.1, intercept 0.5
  float slope = 0.0f;
  float intercept = 0.0f;
  FitLine(x, y, 2, slope, intercept);
  EXPECT_TRUE(Near(slope, 0.1f));
  EXPECT_TRUE(Near(intercept, 0.5f));
}

TEST(FitLine, ScatteredPointsGiveLeastSquaresLine) {
  // (0,0), (1,1), (2,1): Sx 3, Sy 2, Sxx 5, Sxy 3, D 6: slope 3/6, intercept 1/6.
  const float x[4] = {0, 0, 1, 2};
  const float y[4] = {0, 0, 1, 1};
  float slope = 0.0f;
  float intercept = 0.0f;
  FitLine(x, y, 3, slope, intercept);
  EXPECT_EQ(slope, 0.5f);
  EXPECT_EQ(intercept, 1.0f / 6.0f);
}

TEST(FitLine, SingleAbscissaGivesFlatLineThroughMeanOfY) {
  const float x[4] = {0, 2, 2, 2};
  const float y[4] = {0, 1, 2, 6};
  float slope = 5.0f;
  float intercept = 5.0f;
  FitLine(x, y, 3, slope, intercept);
  EXPECT_EQ(slope, 0.0f);
  EXPECT_EQ(intercept, 3.0f);
}

TEST(FitLine, RepeatedInexactAbscissaStillGivesFlatLine) {
  // 0.1 is not exact in binary, so D need not round to exactly 0; the slope must still be 0.
  const float x[4] = {0, 0.1f, 0.1f, 0.1f};
  const float y[4] = {0, 1, 2, 3};
  float slope = 5.0f;
  float intercept = 5.0f;
  FitLine(x, y, 3, slope, intercept);
  EXPECT_EQ(slope, 0.0f);
  EXPECT_EQ(intercept, 2.0f);
}

TEST(FitLine, OnePointAndNoPoints) {
  const float x[2] = {0, 4};
  const float y[2] = {0, 7};
  float slope = 5.0f;
  float intercept = 5.0f;
  FitLine(x, y, 1, slope, intercept);
  EXPECT_EQ(slope, 0.0f);
  EXPECT_EQ(intercept, 7.0f);
  FitLine(x, y, 0, slope, intercept);
  EXPECT_EQ(slope, 0.0f);
  EXPECT_EQ(intercept, 0.0f);
}

}  // namespace
}  // namespace tubefit
