// Fit analysis: how well each fitted parameter is determined.
//
// The Hessian of the objective at the fitted parameters by central differences, the covariance estimate
// C = s^2 H^-1 with the residual variance s^2 = F(P) / (N - n), and the standard deviation of every fitted
// parameter as a percentage of its value, and an eigen analysis of the Hessian (cyclic Jacobi rotations,
// eigenpairs sorted by magnitude). The routines compute and return; the texts of "Hinv.dat" and
// "Eigen.dat" are built here for the driver, which writes them. Vectors are 1-based (element 0 unused);
// matrices are Matrix with 1-based (row, column) access.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

#include "core/matrix.h"
#include "core/param_set.h"
#include "fit/warning_sink.h"

namespace tubefit {

// Relative step of the central differences (single precision).
constexpr float kHessianStep = 0.016660577f;

using ParamNameTable = std::array<std::string, MxNP + 1>;

// The step of parameter i: h * P(i), or h itself (an absolute step, as for a value of 1) where h * P(i)
// is 0, so that a fitted value of exactly 0 still gets a finite difference.
float HessianStepOf(float h, float Pi);

// Central-difference Hessian of F at P over slots 1..n, with the relative step kHessianStep. F is
// evaluated on a working copy of P, in the order: for i = 1..n, first for every j = i+1..n the four
// corners (+,+), (+,-), (-,-), (-,+) of (X(i), X(j)), then X(i) + hi, X(i) - hi and X(i) = P(i).
// 2 n (n-1) + 3 n evaluations.
// In: P (unchanged), n (at most the size of H). Out: H(1..n, 1..n).
void Hessian(const Objective& F, const ParamVector& P, int32_t n, Matrix& H);

// Replaces every element of the n x n block with |H(i,j)| <= 1e-16 by (i + 0.1 j) 1e-16, so that exact
// zeros become distinct tiny values.
void FloorTinyEntries(Matrix& H, int32_t n);

// Writes the n x n block of M, one line per row: the first six characters of the name of slot i, then
// M(i,1..n), with "(A6,100E10.2:)" for FMT 'E' and "(A6,100F10.4:)" for FMT 'F'. Any other FMT prints
// "WrtMat: unknown FMT specifier." and stops the run (plain stop).
void WrtMat(std::ostream& os, char FMT, const Matrix& M, int32_t n, const ParamNameTable& names);

// Eigenvalues d(1..n) and eigenvectors (columns of v) of the real symmetric n x n matrix a by cyclic Jacobi
// rotations: at most 50 sweeps, a threshold of 0.2 sm / n^2 in the first three sweeps, negligible
// off-diagonal elements cleared after the fourth. Only the strict upper triangle of a is read, and it is
// destroyed; the diagonal stays. Out: nrot, the number of rotations. Returns false when 50 sweeps did not
// converge (d and v then hold the current state), which the caller reports as "too many iterations in
// jacobi".
bool jacobi(Matrix& a, int32_t n, float d[], Matrix& v, int32_t& nrot);

// Selection sort of d(1..n) into descending order of absolute value, moving the columns of v along. On
// equal absolute values the later index is taken first.
void eigsrt(float d[], Matrix& v, int32_t n);

// What the analysis finds.
struct FitAnalysisResult {
  Matrix H{MxNP, MxNP};  // the Hessian with the floor on tiny entries (n x n block)
  Matrix C{MxNP, MxNP};  // covariance s^2 H^-1 (n x n block)
  ParamVector SV{};      // standard variances in percent, slots 1..n; NaN where undefined
  Matrix V{MxNP, MxNP};  // eigenvectors of H in columns
  std::array<float, MxNP + 1> d{};  // eigenvalues, by descending magnitude
  float s2 = 0.0f;       // residual variance; NaN when N <= n
  int32_t nrot = 0;      // Jacobi rotations
  bool jacobi_converged = true;
};

// The fit analysis of slots 1..n of P, with N points in the fit.
// In: F (the objective), P (unchanged), n (1..MxNP, the fitted count), N. SV(i) = 100 sqrt|C(i,i)| / P(i),
// with the sign of P(i); it is NaN when N <= n (no degrees of freedom for s^2) and for a parameter whose
// fitted value is 0. gaussj's singular-matrix warnings go to warn as they happen.
FitAnalysisResult FitAnalysis(const Objective& F, const ParamVector& P, int32_t n, int32_t N,
                              const WarningSink& warn = {});

// The text of "Hinv.dat": a heading, the names of slots 1..n (ten characters each) and the covariance.
std::string HinvText(const Matrix& C, int32_t n, const ParamNameTable& names);

// The text of "Eigen.dat": the eigenvalues, the eigenvalues relative to the first, and the eigenvectors.
std::string EigenText(const float d[], const Matrix& V, int32_t n, const ParamNameTable& names);

}  // namespace tubefit
