// Fit analysis: the finite-difference Hessian, covariance and standard variances against closed forms,
// the Jacobi eigen analysis on matrices with known eigenpairs, and the exact text of the analysis files.
#include "analysis/analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "driver/pipeline.h"
#include "estimate/parfiles.h"
#include "plot_test_support.h"
#include "test_support.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {
namespace {

using plottest::Lines;
using plottest::ReadFile;
using plottest::TempDir;

// Central differences of an exact quadratic are exact but for rounding: the objective values carry one
// rounding each (relative 6e-8 of values of the size of the steps' quadratic terms), and P +- h P is
// rounded to float, which changes a step of relative size h = 0.0167 by up to ulp(P)/2, about 4e-6 of the
// step. 5e-5 covers both with room to spare.
constexpr double kFiniteDifferenceTol = 5e-5;
// Quantities computed in float from a few such values.
constexpr double kFloatTol = 1e-5;
// The covariance inherits the Hessian's relative error times the condition number of H (about 15 for the
// quadratic below, 70 for the straight line).
constexpr double kCovarianceTol = 1e-3;

using testsupport::RelNear;

ParamNameTable Names(const std::vector<std::string>& list) {
  ParamNameTable names{};
  for (size_t i = 0; i < list.size(); ++i) names[i + 1] = PadTo(list[i], kNameLength);
  return names;
}

// Console fixture: output captured, keyboard fed from a string.
struct Io {
  std::ostringstream out;
  std::istringstream in;
  Console console{out, in};
  explicit Io(const std::string& keyboard = "") : in(keyboard) {}
};

// F = sum a_i (X_i - c_i)^2 + sum_{i<j} b_ij (X_i - c_i)(X_j - c_j) over three parameters, evaluated in
// double and rounded once. Its Hessian is H_ii = 2 a_i, H_ij = b_ij everywhere.
struct Quadratic {
  double a[4] = {0, 2.0, 0.5, 3.0};
  double b[4][4] = {{0, 0, 0, 0}, {0, 0, 0.75, -0.5}, {0, 0, 0, 0.25}, {0, 0, 0, 0}};
  double c[4] = {0, 1.0, -2.0, 0.5};
  float operator()(const ParamVector& X) const {
    double f = 0.0;
    for (int i = 1; i <= 3; ++i) f += a[i] * (X[i] - c[i]) * (X[i] - c[i]);
    for (int i = 1; i <= 3; ++i)
      for (int j = i + 1; j <= 3; ++j) f += b[i][j] * (X[i] - c[i]) * (X[j] - c[j]);
    return static_cast<float>(f);
  }
  double H(int i, int j) const { return i == j ? 2.0 * a[i] : (i < j ? b[i][j] : b[j][i]); }
};

// Straight line y = P1 + P2 x fitted to five points; F is the sum of squared residuals. The residuals
// e = (0.1, -0.2, 0, 0.2, -0.1) are orthogonal to 1 and x, so (P1, P2) = (a0, 2) is the least-squares
// solution with F = 0.1. Closed forms: J^T J = [[5, 15], [15, 55]], H = 2 J^T J, s^2 = 0.1 / 3 and
// C = s^2 H^-1 = s^2 / 100 [[55, -15], [-15, 5]].
struct LineFit {
  double y[6] = {0, 0, 0, 0, 0, 0};
  explicit LineFit(double a0) {
    const double e[6] = {0, 0.1, -0.2, 0.0, 0.2, -0.1};
    for (int k = 1; k <= 5; ++k) y[k] = static_cast<float>(a0 + 2.0 * k + e[k]);
  }
  float operator()(const ParamVector& X) const {
    double f = 0.0;
    for (int k = 1; k <= 5; ++k) {
      const double r = y[k] - X[1] - X[2] * k;
      f += r * r;
    }
    return static_cast<float>(f);
  }
  static constexpr double kS2 = 0.1 / 3.0;
  static double C(int i, int j) {
    const double inv[3][3] = {{0, 0, 0}, {0, 55, -15}, {0, -15, 5}};
    return kS2 / 100.0 * inv[i][j];
  }
};

ParamVector Vec(std::initializer_list<float> values) {
  ParamVector P{};
  int i = 1;
  for (float v : values) P[i++] = v;
  return P;
}

// Rounding bound of a central-difference entry: the objective values carry half an ulp of the largest
// value Fmax each and their sums about as much again, all divided by the product of the steps (4 hi hj for
// the mixed terms, hi^2 on the diagonal); 8 eps Fmax / |hi hj| covers both. On top comes the relative
// error of the rounded steps, kFiniteDifferenceTol.
void ExpectHessianNear(const Matrix& H, int n, const ParamVector& P, float Fmax,
                       const std::function<double(int, int)>& expected) {
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      const double hi = HessianStepOf(kHessianStep, P[i]);
      const double hj = HessianStepOf(kHessianStep, P[j]);
      const double e = expected(i, j);
      const double bound = 8.0 * FLT_EPSILON * Fmax / std::fabs(hi * hj) + kFiniteDifferenceTol * std::fabs(e);
      EXPECT_NEAR(H(i, j), e, bound) << "H(" << i << "," << j << ")";
    }
  }
}

// The objective, remembering the largest magnitude it returned.
struct Tracked {
  std::function<float(const ParamVector&)> f;
  float fmax = 0.0f;
  Objective Obj() {
    return [this](const ParamVector& X) {
      const float v = f(X);
      fmax = std::max(fmax, std::fabs(v));
      return v;
    };
  }
};

// ---------------------------------------------------------------------------------------------------------
// Hessian

TEST(Hessian, MatchesQuadraticClosedForm) {
  const Quadratic q;
  Tracked t{[&q](const ParamVector& X) { return q(X); }};
  for (const ParamVector& P : {Vec({1.05f, -2.1f, 0.52f}), Vec({1.5f, -2.5f, 0.75f}), Vec({-3.0f, 6.0f, 0.1f})}) {
    Matrix H(MxNP, MxNP);
    t.fmax = 0.0f;
    Hessian(t.Obj(), P, 3, H);
    ExpectHessianNear(H, 3, P, t.fmax, [&q](int i, int j) { return q.H(i, j); });
  }
}

TEST(Hessian, EvaluatesInTheStatedOrder) {
  const ParamVector P = Vec({1.0f, -4.0f, 8.0f, 0.25f});
  std::vector<ParamVector> seen;
  Matrix H(MxNP, MxNP);
  Hessian([&seen](const ParamVector& X) { seen.push_back(X); return 0.0f; }, P, 3, H);
  const float h = kHessianStep;
  const float st[4] = {0, h * 1.0f, h * -4.0f, h * 8.0f};
  std::vector<ParamVector> expected;
  auto at = [&P](int i, float xi, int j, float xj) {
    ParamVector X = P;
    X[i] = xi;
    if (j > 0) X[j] = xj;
    return X;
  };
  for (int i = 1; i <= 3; ++i) {
    for (int j = i + 1; j <= 3; ++j) {
      expected.push_back(at(i, P[i] + st[i], j, P[j] + st[j]));
      expected.push_back(at(i, P[i] + st[i], j, P[j] - st[j]));
      expected.push_back(at(i, P[i] - st[i], j, P[j] - st[j]));
      expected.push_back(at(i, P[i] - st[i], j, P[j] + st[j]));
    }
    expected.push_back(at(i, P[i] + st[i], 0, 0));
    expected.push_back(at(i, P[i] - st[i], 0, 0));
    expected.push_back(at(i, P[i], 0, 0));
  }
  // 2 n (n - 1) + 3 n evaluations; slot 4 (not analysed) is never moved.
  ASSERT_EQ(seen.size(), 21u);
  ASSERT_EQ(expected.size(), 21u);
  for (size_t k = 0; k < seen.size(); ++k) EXPECT_EQ(seen[k], expected[k]) << "evaluation " << k + 1;
}

TEST(Hessian, ZeroParameterUsesAnAbsoluteStep) {
  EXPECT_EQ(HessianStepOf(kHessianStep, 0.0f), kHessianStep);
  EXPECT_EQ(HessianStepOf(kHessianStep, -0.0f), kHessianStep);
  EXPECT_EQ(HessianStepOf(kHessianStep, 3.0f), kHessianStep * 3.0f);
  // Zero parameters among others: the Hessian is still the quadratic's, finite everywhere.
  Quadratic q;
  q.c[1] = 0.05;
  q.c[3] = 0.02;
  Tracked t{[&q](const ParamVector& X) { return q(X); }};
  const ParamVector P = Vec({0.0f, -2.05f, 0.0f});
  Matrix H(MxNP, MxNP);
  Hessian(t.Obj(), P, 3, H);
  ExpectHessianNear(H, 3, P, t.fmax, [&q](int i, int j) { return q.H(i, j); });
}

// ---------------------------------------------------------------------------------------------------------
// Floor on tiny entries

TEST(FloorTinyEntries, ReplacesOnlyEntriesAtOrBelowTheFloor) {
  Matrix H(MxNP, MxNP);
  H(1, 1) = 4.0f;
  H(1, 2) = H(2, 1) = 0.0f;
  H(2, 2) = -1.0e-16f;  // at the floor: replaced
  H(1, 3) = H(3, 1) = 2.0e-16f;  // above it: kept
  H(2, 3) = H(3, 2) = -5.0e-17f;
  H(3, 3) = 1.0f;
  H(4, 4) = 0.0f;  // outside the block: untouched
  FloorTinyEntries(H, 3);
  EXPECT_EQ(H(1, 1), 4.0f);
  EXPECT_FLOAT_EQ(H(1, 2), 1.2e-16f);
  EXPECT_FLOAT_EQ(H(2, 1), 2.1e-16f);
  EXPECT_FLOAT_EQ(H(2, 2), 2.2e-16f);
  EXPECT_EQ(H(1, 3), 2.0e-16f);
  EXPECT_EQ(H(3, 1), 2.0e-16f);
  EXPECT_FLOAT_EQ(H(2, 3), 2.3e-16f);
  EXPECT_FLOAT_EQ(H(3, 2), 3.2e-16f);
  EXPECT_EQ(H(3, 3), 1.0f);
  EXPECT_EQ(H(4, 4), 0.0f);
}

// ---------------------------------------------------------------------------------------------------------
// jacobi and eigsrt

// Checks V D V^T = A and V^T V = I for the n x n block.
void ExpectDecomposition(const double A[][5], int n, const float d[], const Matrix& v, double tol) {
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      double r = 0.0, o = 0.0;
      for (int k = 1; k <= n; ++k) {
        r += static_cast<double>(v(i, k)) * d[k] * v(j, k);
        o += static_cast<double>(v(k, i)) * v(k, j);
      }
      EXPECT_NEAR(r, A[i][j], tol) << "V D V^T at " << i << "," << j;
      EXPECT_NEAR(o, i == j ? 1.0 : 0.0, tol) << "V^T V at " << i << "," << j;
    }
  }
}

TEST(Jacobi, TwoByTwo) {
  Matrix a(MxNP, MxNP), v(MxNP, MxNP);
  a(1, 1) = 2.0f;
  a(1, 2) = 1.0f;
  a(2, 1) = 1.0f;
  a(2, 2) = 2.0f;
  float d[MxNP + 1] = {};
  int32_t nrot = -1;
  Io io;
  EXPECT_TRUE(jacobi(a, 2, d, v, nrot));
  eigsrt(d, v, 2);
  EXPECT_EQ(nrot, 1);
  EXPECT_TRUE(RelNear(d[1], 3.0, kFloatTol));
  EXPECT_TRUE(RelNear(d[2], 1.0, kFloatTol));
  const double r = 1.0 / std::sqrt(2.0);
  EXPECT_TRUE(RelNear(std::fabs(v(1, 1)), r, kFloatTol));
  EXPECT_TRUE(RelNear(v(2, 1) / v(1, 1), 1.0, kFloatTol));
  EXPECT_TRUE(RelNear(v(2, 2) / v(1, 2), -1.0, kFloatTol));
  // The upper triangle is destroyed, diagonal and lower triangle stay.
  EXPECT_EQ(a(1, 2), 0.0f);
  EXPECT_EQ(a(2, 1), 1.0f);
  EXPECT_EQ(a(1, 1), 2.0f);
  EXPECT_EQ(io.out.str(), "");
}

TEST(Jacobi, NegativeEigenvalueOfLargestMagnitudeComesFirst) {
  // I - T with T the tridiagonal (-1, 2, -1) matrix: eigenvalues -1 - sqrt2, -1, -1 + sqrt2, with
  // eigenvectors (1, -sqrt2, 1)/2, (1, 0, -1)/sqrt2, (1, sqrt2, 1)/2.
  const double A[4][5] = {{0}, {0, -1, 1, 0}, {0, 1, -1, 1}, {0, 0, 1, -1}};
  Matrix a(MxNP, MxNP), v(MxNP, MxNP);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) a(i, j) = static_cast<float>(A[i][j]);
  float d[MxNP + 1] = {};
  int32_t nrot = 0;
  Io io;
  EXPECT_TRUE(jacobi(a, 3, d, v, nrot));
  eigsrt(d, v, 3);
  const double s2 = std::sqrt(2.0);
  EXPECT_TRUE(RelNear(d[1], -1.0 - s2, kFloatTol));
  EXPECT_TRUE(RelNear(d[2], -1.0, kFloatTol));
  EXPECT_TRUE(RelNear(d[3], -1.0 + s2, kFloatTol));
  const double vec[4][4] = {{0}, {0, 0.5, -s2 / 2, 0.5}, {0, 1 / s2, 0, -1 / s2}, {0, 0.5, s2 / 2, 0.5}};
  for (int k = 1; k <= 3; ++k) {
    const double sign = v(1, k) < 0 ? -1.0 : 1.0;
    for (int i = 1; i <= 3; ++i) EXPECT_NEAR(sign * v(i, k), vec[k][i], 1e-6) << "vector " << k;
  }
  ExpectDecomposition(A, 3, d, v, 1e-6);
  EXPECT_GT(nrot, 0);
}

TEST(Jacobi, FourByFourReconstructs) {
  const double A[5][5] = {{0}, {0, 4, 1, -2, 2}, {0, 1, 2, 0, 1}, {0, -2, 0, 3, -2}, {0, 2, 1, -2, -1}};
  Matrix a(MxNP, MxNP), v(MxNP, MxNP);
  for (int i = 1; i <= 4; ++i)
    for (int j = 1; j <= 4; ++j) a(i, j) = static_cast<float>(A[i][j]);
  float d[MxNP + 1] = {};
  int32_t nrot = 0;
  Io io;
  EXPECT_TRUE(jacobi(a, 4, d, v, nrot));
  eigsrt(d, v, 4);
  ExpectDecomposition(A, 4, d, v, 1e-5);
  for (int k = 1; k < 4; ++k) EXPECT_GE(std::fabs(d[k]), std::fabs(d[k + 1]));
  // Sum and sum of squares of the eigenvalues: trace 8 and the squared Frobenius norm 25 + 6 + 17 + 10.
  double tr = 0, fro = 0;
  for (int k = 1; k <= 4; ++k) {
    tr += d[k];
    fro += static_cast<double>(d[k]) * d[k];
  }
  EXPECT_NEAR(tr, 8.0, 1e-5);
  EXPECT_NEAR(fro, 58.0, 1e-4);
  EXPECT_EQ(io.out.str(), "");
}

TEST(Jacobi, DiagonalMatrixNeedsNoRotation) {
  Matrix a(MxNP, MxNP), v(MxNP, MxNP);
  a(1, 1) = 5.0f;
  a(2, 2) = -7.0f;
  float d[MxNP + 1] = {};
  int32_t nrot = -1;
  EXPECT_TRUE(jacobi(a, 2, d, v, nrot));
  EXPECT_EQ(nrot, 0);
  EXPECT_EQ(d[1], 5.0f);
  EXPECT_EQ(d[2], -7.0f);
  EXPECT_EQ(v(1, 1), 1.0f);
  EXPECT_EQ(v(1, 2), 0.0f);
  EXPECT_EQ(v(2, 2), 1.0f);
}

TEST(Jacobi, NaNNeverConverges) {
  // A NaN off the diagonal makes every sweep's sum NaN: no rotation, no convergence.
  Matrix a(MxNP, MxNP), v(MxNP, MxNP);
  a(1, 1) = 1.0f;
  a(1, 2) = std::numeric_limits<float>::quiet_NaN();
  a(2, 2) = 2.0f;
  float d[MxNP + 1] = {};
  int32_t nrot = -1;
  EXPECT_FALSE(jacobi(a, 2, d, v, nrot));
  EXPECT_EQ(nrot, 0);
  EXPECT_EQ(d[1], 1.0f);
  EXPECT_EQ(d[2], 2.0f);
}

TEST(Eigsrt, LaterIndexWinsATie) {
  Matrix v(MxNP, MxNP);
  for (int i = 1; i <= 3; ++i) v(i, i) = 1.0f;
  float d[MxNP + 1] = {0, 2.0f, -2.0f, 1.0f};
  eigsrt(d, v, 3);
  EXPECT_EQ(d[1], -2.0f);
  EXPECT_EQ(d[2], 2.0f);
  EXPECT_EQ(d[3], 1.0f);
  const int from[4] = {0, 2, 1, 3};
  for (int k = 1; k <= 3; ++k)
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(v(i, k), i == from[k] ? 1.0f : 0.0f) << i << "," << k;
}

TEST(Eigsrt, SelectionSortByMagnitude) {
  Matrix v(MxNP, MxNP);
  for (int i = 1; i <= 4; ++i) v(i, i) = 1.0f;
  float d[MxNP + 1] = {0, 1.0f, -1.0f, 0.5f, -3.0f};
  eigsrt(d, v, 4);
  // Step 1 swaps -3 to the front: (-3, -1, 0.5, 1). Step 2: -1 and 1 tie, the later position (4) wins:
  // (-3, 1, 0.5, -1). Step 3: (-3, 1, -1, 0.5).
  EXPECT_EQ(d[1], -3.0f);
  EXPECT_EQ(d[2], 1.0f);
  EXPECT_EQ(d[3], -1.0f);
  EXPECT_EQ(d[4], 0.5f);
  // Column k of v is the unit vector of the original position of d[k].
  const int from[5] = {0, 4, 1, 2, 3};
  for (int k = 1; k <= 4; ++k)
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(v(i, k), i == from[k] ? 1.0f : 0.0f) << i << "," << k;
}

TEST(Eigsrt, SingleElementIsLeftAlone) {
  Matrix v(MxNP, MxNP);
  v(1, 1) = 1.0f;
  float d[MxNP + 1] = {0, -4.0f};
  eigsrt(d, v, 1);
  EXPECT_EQ(d[1], -4.0f);
  EXPECT_EQ(v(1, 1), 1.0f);
}

// ---------------------------------------------------------------------------------------------------------
// WrtMat

TEST(WrtMat, RowsCarryTheCutNameAndTheValues) {
  Matrix M(MxNP, MxNP);
  M(1, 1) = 123.4f;
  M(1, 2) = -0.5f;
  M(2, 1) = 0.000123f;
  M(2, 2) = 1.0e12f;
  const ParamNameTable names = Names({"kG1", "alpha_s_long"});
  std::ostringstream e, f;
  WrtMat(e, 'E', M, 2, names);
  WrtMat(f, 'F', M, 2, names);
  EXPECT_EQ(e.str(), "kG1      .12E+03  -.50E+00\nalpha_   .12E-03   .10E+13\n");
  EXPECT_EQ(f.str(), "kG1     123.4000   -0.5000\nalpha_    0.0001**********\n");
}

TEST(WrtMat, UnknownSelectorIsAPlainStop) {
  Matrix M(MxNP, MxNP);
  std::ostringstream os;
  try {
    WrtMat(os, 'G', M, 2, Names({"a", "b"}));
    FAIL() << "no stop";
  } catch (const Stop& stop) {
    EXPECT_EQ(stop.kind(), Stop::Kind::kPlain);
    ASSERT_EQ(stop.lines().size(), 1u);
    EXPECT_EQ(stop.lines()[0], " WrtMat: unknown FMT specifier.");
  }
  EXPECT_EQ(os.str(), "");
}

// ---------------------------------------------------------------------------------------------------------
// FitAnalysis

// The analysis as the driver runs it, with its console lines and files.
struct LineAnalysis {
  LineFit line;
  ParamVector P;
  ParamNameTable names = Names({"kG1", "alpha_s_longer"});
  Io io;
  FitAnalysisResult r;
  int evaluations = 0;
  explicit LineAnalysis(float a0, const std::string& keyboard = "") : line(a0), P(Vec({a0, 2.0f})), io(keyboard) {}
  void Run(int32_t N, int32_t debug) {
    Objective F = [this](const ParamVector& X) {
      ++evaluations;
      return line(X);
    };
    Settings settings;
    settings.DebugLevel = debug;
    ParamSet ps;
    ps.P = P;
    ps.name = names;
    ps.NFit = 2;
    r = AnalyseFit(settings, ps, F, N, io.console);
  }
};

TEST(FitAnalysis, LinearModelCovarianceAndStandardVariances) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  LineAnalysis t(3.0f);
  const ParamVector before = t.P;
  t.Run(5, 0);
  EXPECT_EQ(t.P, before);
  // 2 n (n-1) + 3 n = 10 evaluations for the Hessian and one for s^2.
  EXPECT_EQ(t.evaluations, 11);
  const double H[3][3] = {{0}, {0, 10, 30}, {0, 30, 110}};
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 2; ++j) {
      EXPECT_TRUE(RelNear(t.r.H(i, j), H[i][j], kFiniteDifferenceTol)) << i << "," << j;
      EXPECT_TRUE(RelNear(t.r.C(i, j), LineFit::C(i, j), kFiniteDifferenceTol)) << i << "," << j;
    }
  EXPECT_TRUE(RelNear(t.r.s2, LineFit::kS2, kFloatTol));
  // SV = 100 sqrt(C_ii) / P_i: 100 sqrt(s^2 55/100) / 3 and 100 sqrt(s^2 5/100) / 2.
  EXPECT_TRUE(RelNear(t.r.SV[1], 100.0 * std::sqrt(LineFit::kS2 * 0.55) / 3.0, kFiniteDifferenceTol));
  EXPECT_TRUE(RelNear(t.r.SV[2], 100.0 * std::sqrt(LineFit::kS2 * 0.05) / 2.0, kFiniteDifferenceTol));
  EXPECT_NEAR(t.r.SV[1], 4.51335, 3e-4);
  EXPECT_NEAR(t.r.SV[2], 2.04124, 3e-4);
  EXPECT_EQ(t.io.out.str(), "");
  // Debug level 0 writes no files.
  EXPECT_FALSE(std::filesystem::exists("Hinv.dat"));
  EXPECT_FALSE(std::filesystem::exists("Eigen.dat"));
}

TEST(FitAnalysis, CovarianceOfQuadraticIsS2TimesInverseHessian) {
  // s^2 = F(P) / (N - n) with N = 13, n = 3; C against the inverse of the analytic Hessian, in double.
  const Quadratic q;
  const ParamVector P = Vec({1.05f, -2.1f, 0.52f});
  const FitAnalysisResult r = FitAnalysis([&q](const ParamVector& X) { return q(X); }, P, 3, 13);
  const ParamVector& SV = r.SV;
  const double s2 = static_cast<double>(q(P)) / 10.0;
  EXPECT_TRUE(RelNear(r.s2, s2, kFloatTol));
  // Inverse of the symmetric 3 x 3 analytic Hessian by cofactors.
  double A[4][4];
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) A[i][j] = q.H(i, j);
  auto cof = [&A](int i, int j) {
    int r0 = i == 1 ? 2 : 1, r1 = i == 3 ? 2 : 3, c0 = j == 1 ? 2 : 1, c1 = j == 3 ? 2 : 3;
    const double m = A[r0][c0] * A[r1][c1] - A[r0][c1] * A[r1][c0];
    return ((i + j) % 2 == 0) ? m : -m;
  };
  const double det = A[1][1] * cof(1, 1) + A[1][2] * cof(1, 2) + A[1][3] * cof(1, 3);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) EXPECT_TRUE(RelNear(r.C(i, j), s2 * cof(j, i) / det, kCovarianceTol));
  for (int i = 1; i <= 3; ++i)
    EXPECT_TRUE(RelNear(SV[i], 100.0 * std::sqrt(s2 * cof(i, i) / det) / P[i], kCovarianceTol));
  EXPECT_LT(SV[2], 0.0f);
}

TEST(FitAnalysis, NegativeParameterGivesNegativePercentage) {
  LineAnalysis t(-3.0f);
  t.Run(5, 0);
  EXPECT_TRUE(RelNear(t.r.SV[1], -100.0 * std::sqrt(LineFit::kS2 * 0.55) / 3.0, kFiniteDifferenceTol));
  EXPECT_GT(t.r.SV[2], 0.0f);
}

TEST(FitAnalysis, ZeroRowGetsTheFloorAndAHugeVariance) {
  // The objective does not depend on slot 2: its row and column are zero and take the floor values.
  Quadratic q;
  q.a[2] = 0.0;
  q.b[1][2] = 0.0;
  q.b[2][3] = 0.0;
  const ParamVector P = Vec({1.5f, 4.0f, 0.75f});
  const FitAnalysisResult r = FitAnalysis([&q](const ParamVector& X) { return q(X); }, P, 3, 10);
  const Matrix& H = r.H;
  const ParamVector& SV = r.SV;
  EXPECT_FLOAT_EQ(H(1, 2), 1.2e-16f);
  EXPECT_FLOAT_EQ(H(2, 1), 2.1e-16f);
  EXPECT_FLOAT_EQ(H(2, 2), 2.2e-16f);
  EXPECT_FLOAT_EQ(H(2, 3), 2.3e-16f);
  EXPECT_FLOAT_EQ(H(3, 2), 3.2e-16f);
  EXPECT_TRUE(RelNear(H(1, 1), 4.0, 1e-3));
  // C(2,2) is about s^2 / 2.2e-16, so SV(2) = 100 sqrt(C(2,2)) / 4 is of the order of 1e8 to 1e9.
  EXPECT_TRUE(std::isfinite(SV[2]));
  EXPECT_GT(SV[2], 1.0e7f);
  EXPECT_LT(std::fabs(SV[1]), 100.0f);
}

TEST(FitAnalysis, ZeroParameterHasAnUndefinedPercentage) {
  LineAnalysis t(0.0f);
  t.Run(5, 0);
  // The absolute step keeps the Hessian right; only the percentage of the zero value is undefined.
  const double H[3][3] = {{0}, {0, 10, 30}, {0, 30, 110}};
  for (int i = 1; i <= 2; ++i)
    for (int j = 1; j <= 2; ++j) EXPECT_TRUE(RelNear(t.r.H(i, j), H[i][j], kFiniteDifferenceTol)) << i << "," << j;
  EXPECT_TRUE(RelNear(t.r.C(1, 1), LineFit::C(1, 1), kFiniteDifferenceTol));
  EXPECT_TRUE(std::isnan(t.r.SV[1]));
  EXPECT_TRUE(RelNear(t.r.SV[2], 100.0 * std::sqrt(LineFit::kS2 * 0.05) / 2.0, kFiniteDifferenceTol));
  EXPECT_EQ(t.io.out.str(), " Standard variance of kG1 undefined: its fitted value is 0.\n");
}

TEST(FitAnalysis, TooFewPointsLeaveEveryPercentageUndefined) {
  for (int32_t N : {2, 1, 0}) {
    LineAnalysis t(3.0f);
    t.Run(N, 0);
    EXPECT_TRUE(std::isnan(t.r.s2)) << N;
    EXPECT_TRUE(std::isnan(t.r.SV[1])) << N;
    EXPECT_TRUE(std::isnan(t.r.SV[2])) << N;
    EXPECT_EQ(t.io.out.str(), " Standard variances undefined: " + std::to_string(N) +
                                  " points in the fit for 2 fitted parameters.\n");
  }
}

TEST(FitAnalysis, UndefinedValuesPrintAsNaNInTheTable) {
  LineAnalysis t(0.0f);
  t.Run(5, 0);
  std::ostringstream table;
  WriteParTable(table, 2, t.r.SV, t.names);
  const std::vector<std::string> lines = Lines(table.str());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], " kG1            =            NaN");
  // 100 sqrt(s^2 / 20) / 2 = 2.0412414...; the last digits carry the finite-difference error.
  EXPECT_EQ(lines[1].size(), 32u);
  EXPECT_EQ(lines[1].substr(0, 29), " alpha_s_longer =       2.041");
}

TEST(FitAnalysis, DebugFilesHoldTheExactLayout) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  LineAnalysis t(3.0f);
  t.Run(5, 1);
  // C = s^2/100 [[55, -15], [-15, 5]] with s^2 = 1/30: .0183, -.0050, .00167.
  const std::vector<std::string> hinv = {
      " ",
      " Inverse Hessian matrix:",
      " ",
      "          kG1       alpha_s_lo",
      "kG1      .18E-01  -.50E-02",
      "alpha_  -.50E-02   .17E-02",
  };
  EXPECT_EQ(Lines(ReadFile("Hinv.dat")), hinv);
  // H = [[10, 30], [30, 110]]: eigenvalues 60 +- sqrt(3400) = 118.31 and 1.6905; eigenvectors
  // (0.2669, 0.9637) and (0.9637, -0.2669), the signs as one rotation with theta = 5/3 leaves them.
  const std::vector<std::string> eigen = {
      " ",
      " Eigen analysis of Hessian matrix:",
      " ",
      " Eigenvalues:",
      "          .12E+03   .17E+01",
      " Eigenvalues normalized:",
      "          .10E+01   .14E-01",
      " ",
      " Eigenvectors:",
      "",
      "kG1       0.2669    0.9637",
      "alpha_    0.9637   -0.2669",
  };
  EXPECT_EQ(Lines(ReadFile("Eigen.dat")), eigen);
  EXPECT_EQ(t.r.nrot, 1);
  EXPECT_TRUE(RelNear(t.r.d[1], 60.0 + std::sqrt(3400.0), kFiniteDifferenceTol));
  EXPECT_TRUE(RelNear(t.r.d[2], 60.0 - std::sqrt(3400.0), 1e-3));
  // The eigen analysis works on a copy: H keeps both triangles.
  EXPECT_TRUE(RelNear(t.r.H(1, 2), 30.0, kFiniteDifferenceTol));
  EXPECT_TRUE(RelNear(t.r.H(2, 1), 30.0, kFiniteDifferenceTol));
  EXPECT_TRUE(RelNear(t.r.H(2, 2), 110.0, kFiniteDifferenceTol));
  EXPECT_EQ(t.io.out.str(), "");
}

TEST(FitAnalysis, DebugFilesAreOverwritten) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  {
    std::ofstream("Hinv.dat") << "old contents that are longer than the new file\n" << std::string(4000, 'x');
  }
  LineAnalysis t(3.0f);
  t.Run(5, 2);
  EXPECT_EQ(Lines(ReadFile("Hinv.dat")).size(), 6u);
  EXPECT_EQ(Lines(ReadFile("Eigen.dat")).size(), 12u);
}

// Runs AnalyseFit at debug level 1 on an objective that is NaN everywhere.
FitAnalysisResult AnalyseNaN(Io& io) {
  Settings settings;
  settings.DebugLevel = 1;
  ParamSet ps;
  ps.P = Vec({1.0f, 2.0f});
  ps.name = Names({"a", "b"});
  ps.NFit = 2;
  return AnalyseFit(settings, ps, [](const ParamVector&) { return std::numeric_limits<float>::quiet_NaN(); }, 5,
                    io.console);
}

TEST(FitAnalysis, NaNObjectiveStillEndsWithBothFiles) {
  // An objective that is NaN everywhere makes H NaN: gaussj, jacobi's pause on an exhausted keyboard and
  // the writers must all go through.
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  Io io("");
  io.in.setstate(std::ios::eofbit);
  const FitAnalysisResult r = AnalyseNaN(io);
  EXPECT_TRUE(std::isnan(r.SV[1]));
  EXPECT_FALSE(r.jacobi_converged);
  EXPECT_NE(io.out.str().find(" too many iterations in jacobi\n"), std::string::npos);
  const std::vector<std::string> hinv = Lines(ReadFile("Hinv.dat"));
  ASSERT_EQ(hinv.size(), 6u);
  EXPECT_EQ(hinv[4], "a     ********************");
  EXPECT_EQ(Lines(ReadFile("Eigen.dat")).size(), 12u);
}

TEST(FitAnalysis, UnconvergedEigenAnalysisPausesForOneLine) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  Io io("first\nsecond\n");
  AnalyseNaN(io);
  const std::string out = io.out.str();
  const std::string pause = " too many iterations in jacobi\n";
  ASSERT_NE(out.find(pause), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - pause.size()), pause);  // the last console line of the analysis
  std::string rest;
  std::getline(io.in, rest);
  EXPECT_EQ(rest, "second");  // exactly one line was taken
}

}  // namespace
}  // namespace tubefit
