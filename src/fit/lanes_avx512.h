// The vector lanes of the fit objective for AVX-512: 16 floats (V16) with the arithmetic the laws use,
// and their wide type of 16 doubles as two vectors of 8 (D16), on which the laws' own exp, log, pow, tanh
// and atan (models/law_functions.h) run. Include only in files compiled with -mavx512f.
// GCC 12 warns about the deliberately undefined pass-through operand inside its own _mm512_sqrt_ps.
#pragma once

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>
#include <cstdint>

#include "models/law.h"
#include "models/law_functions.h"

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

// Sixteen doubles as two vectors of 8 (the wide type of V16), their masks and their 64-bit representations.
struct D16 {
  __m512d lo, hi;
  D16() = default;
  explicit D16(double x) : lo(_mm512_set1_pd(x)), hi(lo) {}
  D16(__m512d l, __m512d h) : lo(l), hi(h) {}
};
struct DM16 {
  __mmask8 lo, hi;
};
struct I16 {
  __m512i lo, hi;
  I16() = default;
  explicit I16(uint64_t x) : lo(_mm512_set1_epi64(static_cast<long long>(x))), hi(lo) {}
  I16(__m512i l, __m512i h) : lo(l), hi(h) {}
};

inline D16 operator+(D16 a, D16 b) { return {_mm512_add_pd(a.lo, b.lo), _mm512_add_pd(a.hi, b.hi)}; }
inline D16 operator-(D16 a, D16 b) { return {_mm512_sub_pd(a.lo, b.lo), _mm512_sub_pd(a.hi, b.hi)}; }
inline D16 operator*(D16 a, D16 b) { return {_mm512_mul_pd(a.lo, b.lo), _mm512_mul_pd(a.hi, b.hi)}; }
inline D16 operator/(D16 a, D16 b) { return {_mm512_div_pd(a.lo, b.lo), _mm512_div_pd(a.hi, b.hi)}; }
inline D16 operator-(D16 a) {
  const __m512i sign = _mm512_set1_epi64(INT64_MIN);
  return {_mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(a.lo), sign)),
          _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(a.hi), sign))};
}
inline DM16 operator<(D16 a, D16 b) {
  return {_mm512_cmp_pd_mask(a.lo, b.lo, _CMP_LT_OQ), _mm512_cmp_pd_mask(a.hi, b.hi, _CMP_LT_OQ)};
}
inline DM16 operator>(D16 a, D16 b) {
  return {_mm512_cmp_pd_mask(a.lo, b.lo, _CMP_GT_OQ), _mm512_cmp_pd_mask(a.hi, b.hi, _CMP_GT_OQ)};
}
inline DM16 operator==(D16 a, D16 b) {
  return {_mm512_cmp_pd_mask(a.lo, b.lo, _CMP_EQ_OQ), _mm512_cmp_pd_mask(a.hi, b.hi, _CMP_EQ_OQ)};
}
inline DM16 operator!=(D16 a, D16 b) {
  return {_mm512_cmp_pd_mask(a.lo, b.lo, _CMP_NEQ_UQ), _mm512_cmp_pd_mask(a.hi, b.hi, _CMP_NEQ_UQ)};
}
inline DM16 operator&(DM16 a, DM16 b) {
  return {static_cast<__mmask8>(a.lo & b.lo), static_cast<__mmask8>(a.hi & b.hi)};
}
inline DM16 operator|(DM16 a, DM16 b) {
  return {static_cast<__mmask8>(a.lo | b.lo), static_cast<__mmask8>(a.hi | b.hi)};
}
inline I16 operator+(I16 a, I16 b) { return {_mm512_add_epi64(a.lo, b.lo), _mm512_add_epi64(a.hi, b.hi)}; }
inline I16 operator-(I16 a, I16 b) { return {_mm512_sub_epi64(a.lo, b.lo), _mm512_sub_epi64(a.hi, b.hi)}; }
inline I16 operator&(I16 a, I16 b) { return {_mm512_and_si512(a.lo, b.lo), _mm512_and_si512(a.hi, b.hi)}; }
inline I16 operator|(I16 a, I16 b) { return {_mm512_or_si512(a.lo, b.lo), _mm512_or_si512(a.hi, b.hi)}; }
inline I16 operator^(I16 a, I16 b) { return {_mm512_xor_si512(a.lo, b.lo), _mm512_xor_si512(a.hi, b.hi)}; }
inline I16 operator<<(I16 a, unsigned n) { return {_mm512_slli_epi64(a.lo, n), _mm512_slli_epi64(a.hi, n)}; }
inline I16 operator>>(I16 a, unsigned n) { return {_mm512_srli_epi64(a.lo, n), _mm512_srli_epi64(a.hi, n)}; }

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
struct Math<blocks::D16> {
  using D16 = blocks::D16;
  using Mask = blocks::DM16;
  using Int = blocks::I16;
  static D16 Abs(D16 x) { return {_mm512_abs_pd(x.lo), _mm512_abs_pd(x.hi)}; }
  static D16 Select(Mask m, D16 a, D16 b) {
    return {_mm512_mask_blend_pd(m.lo, b.lo, a.lo), _mm512_mask_blend_pd(m.hi, b.hi, a.hi)};
  }
  static bool Any(Mask m) { return (m.lo | m.hi) != 0; }
  static Int Bits(D16 x) { return {_mm512_castpd_si512(x.lo), _mm512_castpd_si512(x.hi)}; }
  static D16 FromBits(Int b) { return {_mm512_castsi512_pd(b.lo), _mm512_castsi512_pd(b.hi)}; }
};

template <>
struct Math<blocks::V16> {
  using V16 = blocks::V16;
  using Mask = blocks::M16;
  using Wide = blocks::D16;
  static V16 Exp(V16 x) { return fn::FloatExp(x); }
  static V16 Log(V16 x) { return fn::FloatLog(x); }
  static V16 Pow(V16 x, V16 y) { return fn::FloatPow(x, y); }
  static V16 Tanh(V16 x) { return fn::FloatTanh(x); }
  static V16 Atan(V16 x) { return fn::FloatAtan(x); }
  // The low and high 8 lanes through their 64-bit halves (AVX-512F has no 256-bit float extract).
  static Wide Widen(V16 x) {
    const __m512i b = _mm512_castps_si512(x.v);
    return {_mm512_cvtps_pd(_mm256_castsi256_ps(_mm512_castsi512_si256(b))),
            _mm512_cvtps_pd(_mm256_castsi256_ps(_mm512_extracti64x4_epi64(b, 1)))};
  }
  static V16 Narrow(Wide x) {
    const __m512i lo = _mm512_castsi256_si512(_mm256_castps_si256(_mm512_cvtpd_ps(x.lo)));
    const __m256i hi = _mm256_castps_si256(_mm512_cvtpd_ps(x.hi));
    return V16(_mm512_castsi512_ps(_mm512_inserti64x4(lo, hi, 1)));
  }
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

}  // namespace tubefit
