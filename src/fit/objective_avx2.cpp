// The block kernels of the fit objective for AVX2 (8 floats per vector), with SLEEF's 1-ulp routines.
// This file is compiled with -mavx2 and called only after the processor has been found to support AVX2.
#include <immintrin.h>
#include <sleef.h>

#include "fit/objective_blocks.h"

namespace tubefit {
namespace blocks {

namespace {

struct V8 {
  using T = __m256;
  static constexpr size_t N = 8;
  static T Set(float x) { return _mm256_set1_ps(x); }
  static T Load(const float* p) { return _mm256_loadu_ps(p); }
  static void Store(float* p, T x) { _mm256_store_ps(p, x); }
  static T Add(T a, T b) { return _mm256_add_ps(a, b); }
  static T Sub(T a, T b) { return _mm256_sub_ps(a, b); }
  static T Mul(T a, T b) { return _mm256_mul_ps(a, b); }
  static T Div(T a, T b) { return _mm256_div_ps(a, b); }
  static T Sqrt(T a) { return _mm256_sqrt_ps(a); }
  static T Neg(T a) { return _mm256_xor_ps(a, _mm256_set1_ps(-0.0f)); }
  static T Abs(T a) { return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), a); }
  static T Less(T a, T b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
  static T Greater(T a, T b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
  static bool None(T mask) { return _mm256_movemask_ps(mask) == 0; }
  // a where the mask is set, else b.
  static T Select(T mask, T a, T b) { return _mm256_blendv_ps(b, a, mask); }
  static T Exp(T a) { return Sleef_finz_expf8_u10avx2(a); }
  static T Log(T a) { return Sleef_finz_logf8_u10avx2(a); }
  static T Pow(T a, T b) { return Sleef_finz_powf8_u10avx2(a, b); }
  static T Tanh(T a) { return Sleef_finz_tanhf8_u10avx2(a); }
};

#include "fit/objective_kernels.inc"

}  // namespace

float DiodeSumAvx2(const Columns& c, const DiodeValues& v) { return DiodeSum<V8>(c, v); }
float TriodeSumAvx2(const Columns& c, const TriodeValues& v) { return TriodeSum<V8>(c, v); }
float NoltSumAvx2(const Columns& c, const NoltValues& v) { return NoltSum<V8>(c, v); }

}  // namespace blocks
}  // namespace tubefit
