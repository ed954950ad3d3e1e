// The block kernels of the fit objective for AVX2 (8 floats per vector), with SLEEF's deterministic 1-ulp
// routines. This file is compiled with -mavx2 -mfma and called only after the processor has been found to
// support both.
#include <immintrin.h>
#include <tuple>
#include <sleef.h>

#include "fit/objective_blocks.h"

namespace tubefit {
namespace blocks {
namespace {

// Eight floats, with the operators the laws use.
struct V8 {
  __m256 v;
  V8() = default;
  explicit V8(float x) : v(_mm256_set1_ps(x)) {}
  explicit V8(__m256 x) : v(x) {}
};
struct M8 {
  __m256 m;
};

inline V8 operator+(V8 a, V8 b) { return V8(_mm256_add_ps(a.v, b.v)); }
inline V8 operator-(V8 a, V8 b) { return V8(_mm256_sub_ps(a.v, b.v)); }
inline V8 operator*(V8 a, V8 b) { return V8(_mm256_mul_ps(a.v, b.v)); }
inline V8 operator/(V8 a, V8 b) { return V8(_mm256_div_ps(a.v, b.v)); }
inline V8 operator-(V8 a) { return V8(_mm256_xor_ps(a.v, _mm256_set1_ps(-0.0f))); }
inline M8 operator<(V8 a, V8 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_LT_OQ)}; }
inline M8 operator>(V8 a, V8 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_GT_OQ)}; }

struct Lanes8 {
  using T = V8;
  static constexpr size_t N = 8;
  static V8 Load(const float* p) { return V8(_mm256_loadu_ps(p)); }
  static void Store(float* p, V8 x) { _mm256_store_ps(p, x.v); }
};

}  // namespace
}  // namespace blocks

namespace law {
template <>
struct Math<blocks::V8> {
  using V8 = blocks::V8;
  using Mask = blocks::M8;
  static V8 Exp(V8 x) { return V8(Sleef_finz_expf8_u10avx2(x.v)); }
  static V8 Log(V8 x) { return V8(Sleef_finz_logf8_u10avx2(x.v)); }
  static V8 Pow(V8 x, V8 y) { return V8(Sleef_finz_powf8_u10avx2(x.v, y.v)); }
  static V8 Tanh(V8 x) { return V8(Sleef_finz_tanhf8_u10avx2(x.v)); }
  static V8 Atan(V8 x) { return V8(Sleef_finz_atanf8_u10avx2(x.v)); }
  static V8 Sqrt(V8 x) { return V8(_mm256_sqrt_ps(x.v)); }
  static V8 Abs(V8 x) { return V8(_mm256_andnot_ps(_mm256_set1_ps(-0.0f), x.v)); }
  // With a NaN x the vector max and min return their second operand, as std::fmax and std::fmin do.
  static V8 Max(V8 x, V8 y) { return V8(_mm256_max_ps(x.v, y.v)); }
  static V8 Min(V8 x, V8 y) { return V8(_mm256_min_ps(x.v, y.v)); }
  static Mask IsInf(V8 x) {
    return {_mm256_cmp_ps(Abs(x).v, _mm256_set1_ps(__builtin_inff()), _CMP_EQ_OQ)};
  }
  static V8 Select(Mask m, V8 a, V8 b) { return V8(_mm256_blendv_ps(b.v, a.v, m.m)); }
  static bool Any(Mask m) { return _mm256_movemask_ps(m.m) != 0; }
};
}  // namespace law

namespace blocks {

#include "fit/objective_kernels.inc"

template <class Law>
float SumAvx2(const Columns& c, size_t begin, size_t end, bool screen, float S,
              const typename Law::template Params<float>& e) {
  return SumBlocks<Lanes8, Law>(c, begin, end, screen, S, e);
}

template <class Law>
void ControlsAvx2(const Columns& keys, const typename Law::template Params<float>& e, float* out,
                    size_t stride) {
  ControlBlocks<Lanes8, Law>(keys, e, out, stride);
}

// Both kernels of this path for every law, referenced so that they are compiled here (and only here).
template <class... Law>
constexpr auto KernelsAvx2(law::LawList<Law...>) {
  return std::make_tuple(&SumAvx2<Law>..., &ControlsAvx2<Law>...);
}
[[gnu::used]] const auto kKernelsAvx2 = KernelsAvx2(law::AllLaws{});

}  // namespace blocks
}  // namespace tubefit
