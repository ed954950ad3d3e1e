// The block evaluation of the fit objective: the models of the commonest codes evaluated for 8 or 16 points
// at once with vector instructions, for FitObjective.
//
// This header is shared by objective.cpp (built for the baseline processor) and by the kernel files that
// are built for AVX2 and AVX-512; it therefore holds only plain data and declarations, no inline code, so
// that no function compiled for a wider instruction set can be picked up by baseline code.
//
// The kernels compute the same float operations in the same order as the point-by-point equations; only
// exp, log, pow and tanh come from SLEEF's 1-ulp vector routines instead of the C library, so a per-point
// current differs from Model's by a few ulps at most. The squared errors are added one by one in window
// order, exactly as the point-by-point sum does.
#pragma once

#include <cstddef>

namespace tubefit {
namespace blocks {

// The fit window as columns, each padded with zeros to a whole number of kPad points.
constexpr size_t kPad = 16;
struct Columns {
  const float* Va = nullptr;
  const float* Vs = nullptr;
  const float* Vg1 = nullptr;
  const float* Ia = nullptr;  // measured
  const float* Is = nullptr;  // measured
  size_t n = 0;               // points in the window (without the padding)
};

// The point-independent values of the Koren term, read after the model's write-backs.
struct Koren {
  float kp, inv_mu, kVB, ex;  // inv_mu = 1/mu, ex = |ex|
};

// Diode (code 0).
struct DiodeValues {
  float eps, ex, k;
};

// Koren triode (code 1).
struct TriodeValues {
  Koren koren;
  float kG1;
};

// Division law of the Nolt-family codes.
enum Division : int {
  kRational = 0,    // D = 1 + beta Va             (12, 13)
  kRationalVs = 1,  // D = 1 + beta Va / Vs        (32, 33)
  kExpPow = 2,      // g = exp(-(beta Va)^1.5)     (22)
  kExpSqrt = 3,     // g = exp(-x sqrt(x)), x = beta Va (23)
};

// Nolt-family pentodes and beam tetrodes (12, 22, 32, 13, 23, 33).
struct NoltValues {
  Koren koren;
  int division;       // Division
  bool tetrode;       // secondary-emission term T
  float beta;         // |beta|
  float base, S, A;   // 1/kG1 - 1/kG2, alpha_s/kG2 + alpha/kG1, |A|
  float kG1, kG2, alpha_s;
  float Sc, nu, lambda, w, neg_a_p;  // tetrode: |Sc|, |nu|, |lambda|, |w|, -alpha'
};

// The sums over the window, in window order. Defined only when the build has SLEEF and an x86-64 target.
float DiodeSumAvx2(const Columns& c, const DiodeValues& v);
float TriodeSumAvx2(const Columns& c, const TriodeValues& v);
float NoltSumAvx2(const Columns& c, const NoltValues& v);
float DiodeSumAvx512(const Columns& c, const DiodeValues& v);
float TriodeSumAvx512(const Columns& c, const TriodeValues& v);
float NoltSumAvx512(const Columns& c, const NoltValues& v);

}  // namespace blocks
}  // namespace tubefit
