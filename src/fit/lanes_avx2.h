// The vector lanes of the fit objective for AVX2: 8 floats (V8) with the arithmetic the laws use, and
// their wide type of 8 doubles as two vectors of 4 (D8), on which the laws' own exp, log, pow, tanh and
// atan (models/law_functions.h) run. Include only in files compiled with -mavx2 -mfma; -ffp-contract=off
// keeps every multiply and add apart, as in the other paths.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "models/law.h"
#include "models/law_functions.h"

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

// Eight doubles as two vectors of 4 (the wide type of V8), their masks and their 64-bit representations.
struct D8 {
  __m256d lo, hi;
  D8() = default;
  explicit D8(double x) : lo(_mm256_set1_pd(x)), hi(lo) {}
  D8(__m256d l, __m256d h) : lo(l), hi(h) {}
};
struct DM8 {
  __m256d lo, hi;
};
struct I8 {
  __m256i lo, hi;
  I8() = default;
  explicit I8(uint64_t x) : lo(_mm256_set1_epi64x(static_cast<long long>(x))), hi(lo) {}
  I8(__m256i l, __m256i h) : lo(l), hi(h) {}
};

inline D8 operator+(D8 a, D8 b) { return {_mm256_add_pd(a.lo, b.lo), _mm256_add_pd(a.hi, b.hi)}; }
inline D8 operator-(D8 a, D8 b) { return {_mm256_sub_pd(a.lo, b.lo), _mm256_sub_pd(a.hi, b.hi)}; }
inline D8 operator*(D8 a, D8 b) { return {_mm256_mul_pd(a.lo, b.lo), _mm256_mul_pd(a.hi, b.hi)}; }
inline D8 operator/(D8 a, D8 b) { return {_mm256_div_pd(a.lo, b.lo), _mm256_div_pd(a.hi, b.hi)}; }
inline D8 operator-(D8 a) {
  const __m256d sign = _mm256_set1_pd(-0.0);
  return {_mm256_xor_pd(a.lo, sign), _mm256_xor_pd(a.hi, sign)};
}
inline DM8 operator<(D8 a, D8 b) { return {_mm256_cmp_pd(a.lo, b.lo, _CMP_LT_OQ), _mm256_cmp_pd(a.hi, b.hi, _CMP_LT_OQ)}; }
inline DM8 operator>(D8 a, D8 b) { return {_mm256_cmp_pd(a.lo, b.lo, _CMP_GT_OQ), _mm256_cmp_pd(a.hi, b.hi, _CMP_GT_OQ)}; }
inline DM8 operator==(D8 a, D8 b) { return {_mm256_cmp_pd(a.lo, b.lo, _CMP_EQ_OQ), _mm256_cmp_pd(a.hi, b.hi, _CMP_EQ_OQ)}; }
inline DM8 operator!=(D8 a, D8 b) {
  return {_mm256_cmp_pd(a.lo, b.lo, _CMP_NEQ_UQ), _mm256_cmp_pd(a.hi, b.hi, _CMP_NEQ_UQ)};
}
inline DM8 operator&(DM8 a, DM8 b) { return {_mm256_and_pd(a.lo, b.lo), _mm256_and_pd(a.hi, b.hi)}; }
inline DM8 operator|(DM8 a, DM8 b) { return {_mm256_or_pd(a.lo, b.lo), _mm256_or_pd(a.hi, b.hi)}; }
inline I8 operator+(I8 a, I8 b) { return {_mm256_add_epi64(a.lo, b.lo), _mm256_add_epi64(a.hi, b.hi)}; }
inline I8 operator-(I8 a, I8 b) { return {_mm256_sub_epi64(a.lo, b.lo), _mm256_sub_epi64(a.hi, b.hi)}; }
inline I8 operator&(I8 a, I8 b) { return {_mm256_and_si256(a.lo, b.lo), _mm256_and_si256(a.hi, b.hi)}; }
inline I8 operator|(I8 a, I8 b) { return {_mm256_or_si256(a.lo, b.lo), _mm256_or_si256(a.hi, b.hi)}; }
inline I8 operator^(I8 a, I8 b) { return {_mm256_xor_si256(a.lo, b.lo), _mm256_xor_si256(a.hi, b.hi)}; }
inline I8 operator<<(I8 a, int n) { return {_mm256_slli_epi64(a.lo, n), _mm256_slli_epi64(a.hi, n)}; }
inline I8 operator>>(I8 a, int n) { return {_mm256_srli_epi64(a.lo, n), _mm256_srli_epi64(a.hi, n)}; }

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
struct Math<blocks::D8> {
  using D8 = blocks::D8;
  using Mask = blocks::DM8;
  using Int = blocks::I8;
  static D8 Abs(D8 x) {
    const __m256d sign = _mm256_set1_pd(-0.0);
    return {_mm256_andnot_pd(sign, x.lo), _mm256_andnot_pd(sign, x.hi)};
  }
  static D8 Select(Mask m, D8 a, D8 b) { return {_mm256_blendv_pd(b.lo, a.lo, m.lo), _mm256_blendv_pd(b.hi, a.hi, m.hi)}; }
  static bool Any(Mask m) { return _mm256_movemask_pd(_mm256_or_pd(m.lo, m.hi)) != 0; }
  static Int Bits(D8 x) { return {_mm256_castpd_si256(x.lo), _mm256_castpd_si256(x.hi)}; }
  static D8 FromBits(Int b) { return {_mm256_castsi256_pd(b.lo), _mm256_castsi256_pd(b.hi)}; }
};

template <>
struct Math<blocks::V8> {
  using V8 = blocks::V8;
  using Mask = blocks::M8;
  using Wide = blocks::D8;
  static V8 Exp(V8 x) { return fn::FloatExp(x); }
  static V8 Log(V8 x) { return fn::FloatLog(x); }
  static V8 Pow(V8 x, V8 y) { return fn::FloatPow(x, y); }
  static V8 Tanh(V8 x) { return fn::FloatTanh(x); }
  static V8 Atan(V8 x) { return fn::FloatAtan(x); }
  static Wide Widen(V8 x) {
    return {_mm256_cvtps_pd(_mm256_castps256_ps128(x.v)), _mm256_cvtps_pd(_mm256_extractf128_ps(x.v, 1))};
  }
  static V8 Narrow(Wide x) {
    return V8(_mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(x.lo)), _mm256_cvtpd_ps(x.hi), 1));
  }
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

}  // namespace tubefit
