// The block kernels of the fit objective for AVX-512 (16 floats per vector), with SLEEF's 1-ulp routines.
// This file is compiled with -mavx512f and called only after the processor has been found to support it.
// GCC 12 warns about the deliberately undefined pass-through operand inside its own _mm512_sqrt_ps.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>
#include <cstdint>
#include <sleef.h>

#include "fit/objective_blocks.h"

namespace tubefit {
namespace blocks {

namespace {

struct V16 {
  using T = __m512;
  using M = __mmask16;
  static constexpr size_t N = 16;
  static T Set(float x) { return _mm512_set1_ps(x); }
  static T Load(const float* p) { return _mm512_loadu_ps(p); }
  static void Store(float* p, T x) { _mm512_store_ps(p, x); }
  static T Add(T a, T b) { return _mm512_add_ps(a, b); }
  static T Sub(T a, T b) { return _mm512_sub_ps(a, b); }
  static T Mul(T a, T b) { return _mm512_mul_ps(a, b); }
  static T Div(T a, T b) { return _mm512_div_ps(a, b); }
  static T Sqrt(T a) { return _mm512_sqrt_ps(a); }
  static T Neg(T a) {
    return _mm512_castsi512_ps(_mm512_xor_si512(_mm512_castps_si512(a), _mm512_set1_epi32(INT32_MIN)));
  }
  static T Abs(T a) { return _mm512_abs_ps(a); }
  static M Less(T a, T b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ); }
  static M Greater(T a, T b) { return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ); }
  static bool None(M mask) { return mask == 0; }
  // a where the mask is set, else b.
  static T Select(M mask, T a, T b) { return _mm512_mask_blend_ps(mask, b, a); }
  static T Exp(T a) { return Sleef_finz_expf16_u10avx512f(a); }
  static T Log(T a) { return Sleef_finz_logf16_u10avx512f(a); }
  static T Pow(T a, T b) { return Sleef_finz_powf16_u10avx512f(a, b); }
  static T Tanh(T a) { return Sleef_finz_tanhf16_u10avx512f(a); }
};

#include "fit/objective_kernels.inc"

}  // namespace

float DiodeSumAvx512(const Columns& c, const DiodeValues& v) { return DiodeSum<V16>(c, v); }
float TriodeSumAvx512(const Columns& c, const TriodeValues& v) { return TriodeSum<V16>(c, v); }
float NoltSumAvx512(const Columns& c, const NoltValues& v) { return NoltSum<V16>(c, v); }

}  // namespace blocks
}  // namespace tubefit
