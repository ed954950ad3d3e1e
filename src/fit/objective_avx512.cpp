// The block kernels of the fit objective for AVX-512 (16 floats per vector), with SLEEF's deterministic
// 1-ulp routines. This file is compiled with -mavx512f and called only after the processor has been found
// to support it.
// GCC 12 warns about the deliberately undefined pass-through operand inside its own _mm512_sqrt_ps.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>
#include <tuple>
#include <cstdint>
#include <sleef.h>

#include "fit/objective_blocks.h"

namespace tubefit {
namespace blocks {
namespace {

// Sixteen floats, with the operators the laws use.
struct V16 {
  __m512 v;
  V16() = default;
  explicit V16(float x) : v(_mm512_set1_ps(x)) {}
  explicit V16(__m512 x) : v(x) {}
};
struct M16 {
  __mmask16 m;
};

inline V16 operator+(V16 a, V16 b) { return V16(_mm512_add_ps(a.v, b.v)); }
inline V16 operator-(V16 a, V16 b) { return V16(_mm512_sub_ps(a.v, b.v)); }
inline V16 operator*(V16 a, V16 b) { return V16(_mm512_mul_ps(a.v, b.v)); }
inline V16 operator/(V16 a, V16 b) { return V16(_mm512_div_ps(a.v, b.v)); }
inline V16 operator-(V16 a) {
  return V16(_mm512_castsi512_ps(_mm512_xor_si512(_mm512_castps_si512(a.v), _mm512_set1_epi32(INT32_MIN))));
}
inline M16 operator<(V16 a, V16 b) { return {_mm512_cmp_ps_mask(a.v, b.v, _CMP_LT_OQ)}; }
inline M16 operator>(V16 a, V16 b) { return {_mm512_cmp_ps_mask(a.v, b.v, _CMP_GT_OQ)}; }

struct Lanes16 {
  using T = V16;
  static constexpr size_t N = 16;
  static V16 Load(const float* p) { return V16(_mm512_loadu_ps(p)); }
  static void Store(float* p, V16 x) { _mm512_store_ps(p, x.v); }
};

}  // namespace
}  // namespace blocks

namespace law {
template <>
struct Math<blocks::V16> {
  using V16 = blocks::V16;
  using Mask = blocks::M16;
  static V16 Exp(V16 x) { return V16(Sleef_finz_expf16_u10avx512f(x.v)); }
  static V16 Log(V16 x) { return V16(Sleef_finz_logf16_u10avx512f(x.v)); }
  static V16 Pow(V16 x, V16 y) { return V16(Sleef_finz_powf16_u10avx512f(x.v, y.v)); }
  static V16 Tanh(V16 x) { return V16(Sleef_finz_tanhf16_u10avx512f(x.v)); }
  static V16 Atan(V16 x) { return V16(Sleef_finz_atanf16_u10avx512f(x.v)); }
  static V16 Sqrt(V16 x) { return V16(_mm512_sqrt_ps(x.v)); }
  static V16 Abs(V16 x) { return V16(_mm512_abs_ps(x.v)); }
  // With a NaN x the vector max and min return their second operand, as std::fmax and std::fmin do.
  static V16 Max(V16 x, V16 y) { return V16(_mm512_max_ps(x.v, y.v)); }
  static V16 Min(V16 x, V16 y) { return V16(_mm512_min_ps(x.v, y.v)); }
  static Mask IsInf(V16 x) { return {_mm512_cmp_ps_mask(Abs(x).v, _mm512_set1_ps(__builtin_inff()), _CMP_EQ_OQ)}; }
  static V16 Select(Mask m, V16 a, V16 b) { return V16(_mm512_mask_blend_ps(m.m, b.v, a.v)); }
  static bool Any(Mask m) { return m.m != 0; }
};
}  // namespace law

namespace blocks {

#include "fit/objective_kernels.inc"

template <class Law>
float SumAvx512(const Columns& c, size_t begin, size_t end, bool screen, float S,
                const typename Law::template Params<float>& e) {
  return SumBlocks<Lanes16, Law>(c, begin, end, screen, S, e);
}

template <class Law>
void ControlsAvx512(const Columns& keys, const typename Law::template Params<float>& e, float* out,
                    size_t stride) {
  ControlBlocks<Lanes16, Law>(keys, e, out, stride);
}

// Both kernels of this path for every law, referenced so that they are compiled here (and only here).
template <class... Law>
constexpr auto KernelsAvx512(law::LawList<Law...>) {
  return std::make_tuple(&SumAvx512<Law>..., &ControlsAvx512<Law>...);
}
[[gnu::used]] const auto kKernelsAvx512 = KernelsAvx512(law::AllLaws{});

}  // namespace blocks
}  // namespace tubefit
