// The laws' own exp, log, pow, tanh and atan, written once over the number type.
//
// Each function is a template over D, a double-precision number: double itself, or the double lanes of a
// vector kernel. Math<D> supplies, besides the arithmetic of models/law_math.h, the comparisons == and !=
// (the unordered one: true for a NaN), the mask operators & and |, Int (the 64-bit representation of a lane, with + - & | ^ and the shifts << >> by
// a constant) and Bits / FromBits (the reinterpretation of a lane as Int and back).
//
// Rare inputs (NaN, infinities, zero and negative arguments, huge exponents) are mended in branches taken
// only when some lane has one (Any); the mending leaves every other lane as it is, so a lane's result does
// not depend on its neighbours.
//
// The functions use the IEEE operations + - * / on doubles, conversions and bit operations on the
// representation only, in one fixed order and without fused multiply-adds, so every number type gives the
// same result bit for bit, whatever the processor, compiler or C library.
//
// The 32-bit laws evaluate them in double and round the result once to float (FloatExp, ...; Math<T> of
// a float lane type supplies Widen and Narrow), with shorter forms of exp, log and atan where only float
// accuracy is needed (ExpForFloat, LogForFloat, AtanForFloat): their errors stay far below half a float
// ulp, so the float results are within 1 ulp of the correctly rounded ones, nearly always equal to them.
//
// The methods are those of the freely distributable fdlibm: exp by reduction with k ln 2 and a rational
// approximation, log by the reduced argument s = f / (2 + f), atan by reduction to four breakpoints (to
// two for float accuracy).
#pragma once

#include <cstdint>

#include "models/law_math.h"

namespace tubefit {
namespace law {
namespace fn {

constexpr double kLn2Hi = 6.93147180369123816490e-01;  // ln 2 to 32 bits: k kLn2Hi is exact for |k| < 2^20
constexpr double kLn2Lo = 1.90821492927058770002e-10;  // ln 2 - kLn2Hi
constexpr double kInvLn2 = 1.44269504088896338700e+00;
constexpr double kRound = 0x1.8p52;            // x + kRound - kRound rounds |x| < 2^51 to an integer
constexpr double kBiased = 0x1.8p52 + 1023.0;  // k + kBiased holds the biased exponent k + 1023 in its low bits
constexpr uint64_t kSign = 0x8000000000000000ull;

// exp(r) = 1 + r + r c / (2 - c) on |r| <= ln2 / 2, with c = r - r^2 (P1 + r^2 (P2 + ...)).
constexpr double kP1 = 1.66666666666666019037e-01;
constexpr double kP2 = -2.77777777770155933842e-03;
constexpr double kP3 = 6.61375632143793436117e-05;
constexpr double kP4 = -1.65339022054652515390e-06;
constexpr double kP5 = 4.13813679705723846039e-08;

template <class D>
D CopySign(const D& magnitude, const D& sign) {
  using M = Math<D>;
  using I = typename M::Int;
  return M::FromBits((M::Bits(magnitude) & I(~kSign)) | (M::Bits(sign) & I(kSign)));
}

// r^2 (P1 + r^2 (P2 + ...)) for t = r^2.
template <class D>
D ExpPoly(const D& t) {
  return t * (D(kP1) + t * (D(kP2) + t * (D(kP3) + t * (D(kP4) + t * D(kP5)))));
}

// e^x: x = k ln2 + r, e^r as above, times 2^k. Beyond |x| = 700 the factor is formed in two halves, so that
// overflow gives infinity and underflow rounds once, and x is held at +-1100 (the result is infinity or 0
// there already); NaN stays NaN.
template <class D>
D ExpOf(const D& x_in) {
  using M = Math<D>;
  const bool far = Any<D>((x_in > D(700.0)) | (x_in < D(-700.0)));
  D x = x_in;
  if (far) {
    x = Select<D>(x > D(1100.0), D(1100.0), x);
    x = Select<D>(x < D(-1100.0), D(-1100.0), x);
  }
  D k = (x * D(kInvLn2) + D(kRound)) - D(kRound);
  D hi = x - k * D(kLn2Hi);
  D lo = k * D(kLn2Lo);
  D r = hi - lo;
  D c = r - ExpPoly(r * r);
  D y = D(1.0) - ((lo - (r * c) / (D(2.0) - c)) - hi);
  if (!far) return y * M::FromBits(M::Bits(k + D(kBiased)) << 52);
  D k1 = (k * D(0.5) + D(kRound)) - D(kRound);
  D k2 = k - k1;
  D s1 = M::FromBits(M::Bits(k1 + D(kBiased)) << 52);
  D s2 = M::FromBits(M::Bits(k2 + D(kBiased)) << 52);
  return y * s1 * s2;
}

// e^x to about 2^-37 relative, for a result that is rounded to float: e^r by its Taylor polynomial of
// degree 9 (Estrin's scheme, no division). |x| > 110 gives infinity or 0 in float: x is held at +-110.
constexpr double kInvFactorial[] = {1.0,
                                    1.0,
                                    1.0 / 2.0,
                                    1.0 / 6.0,
                                    1.0 / 24.0,
                                    1.0 / 120.0,
                                    1.0 / 720.0,
                                    1.0 / 5040.0,
                                    1.0 / 40320.0,
                                    1.0 / 362880.0};

template <class D>
D ExpForFloat(const D& x_in) {
  using M = Math<D>;
  D x = x_in;
  if (Any<D>(Abs(x_in) > D(110.0))) {
    x = Select<D>(x > D(110.0), D(110.0), x);
    x = Select<D>(x < D(-110.0), D(-110.0), x);
  }
  const D k = (x * D(kInvLn2) + D(kRound)) - D(kRound);
  const D r = x - k * D(0.69314718055994530942);
  const D r2 = r * r;
  const D r4 = r2 * r2;
  const D p01 = D(1.0) + r;
  const D p23 = D(kInvFactorial[2]) + D(kInvFactorial[3]) * r;
  const D p45 = D(kInvFactorial[4]) + D(kInvFactorial[5]) * r;
  const D p67 = D(kInvFactorial[6]) + D(kInvFactorial[7]) * r;
  const D p89 = D(kInvFactorial[8]) + D(kInvFactorial[9]) * r;
  const D p = (p01 + r2 * p23) + r4 * ((p45 + r2 * p67) + r4 * p89);
  return p * M::FromBits(M::Bits(k + D(kBiased)) << 52);
}

// log(1 + f) = f - f^2/2 + s (f^2/2 + R(s^2)), s = f / (2 + f).
constexpr double kLg1 = 6.666666666666735130e-01;
constexpr double kLg2 = 3.999999999940941908e-01;
constexpr double kLg3 = 2.857142874366239149e-01;
constexpr double kLg4 = 2.222219843214978396e-01;
constexpr double kLg5 = 1.818357216161805012e-01;
constexpr double kLg6 = 1.531383769920937332e-01;
constexpr double kLg7 = 1.479819860511658591e-01;
constexpr double kSqrt2 = 1.41421356237309504880;

// ln x: x = 2^k m with m in [sqrt(2)/2, sqrt(2)), f = m - 1. ln 0 = -inf, ln of a negative number NaN.
template <class D>
D LogOf(const D& x_in) {
  using M = Math<D>;
  using I = typename M::Int;
  const D inf = M::FromBits(I(0x7ff0000000000000ull));
  // Zero, negative, subnormal, infinite or NaN in some lane.
  const bool rare = Any<D>((x_in < D(0x1p-1022)) | (x_in > D(0x1.fffffffffffffp1023)) | (x_in != x_in));
  D x = x_in, bias = D(1023.0);
  if (rare) {
    const auto tiny = x_in < D(0x1p-1022);  // subnormal: scaled into the normal range first
    x = Select<D>(tiny, x_in * D(0x1p54), x_in);
    bias = Select<D>(tiny, D(1077.0), bias);
  }
  const I b = M::Bits(x);
  D e = M::FromBits((b >> 52) | I(0x4330000000000000ull)) - D(0x1p52);
  D m = M::FromBits((b & I(0x000fffffffffffffull)) | I(0x3ff0000000000000ull));
  const auto high = m > D(kSqrt2);
  m = Select<D>(high, m * D(0.5), m);
  D k = e - Select<D>(high, bias - D(1.0), bias);
  D f = m - D(1.0);
  D hfsq = D(0.5) * f * f;
  D s = f / (D(2.0) + f);
  D z = s * s;
  D w = z * z;
  D t1 = w * (D(kLg2) + w * (D(kLg4) + w * D(kLg6)));
  D t2 = z * (D(kLg1) + w * (D(kLg3) + w * (D(kLg5) + w * D(kLg7))));
  D R = t2 + t1;
  D r = k * D(kLn2Hi) - ((hfsq - (s * (hfsq + R) + k * D(kLn2Lo))) - f);
  if (rare) {
    r = Select<D>(x_in == D(0.0), -inf, r);
    r = Select<D>(x_in < D(0.0), M::FromBits(I(0x7ff8000000000000ull)), r);
    r = Select<D>(x_in == inf, inf, r);
    r = Select<D>(x_in != x_in, x_in, r);  // NaN stays NaN
  }
  return r;
}

// ln x of a float x (widened; never subnormal in double) to about 2^-41 absolute, for a result that is
// rounded to float or multiplied by a float exponent: 2 atanh(s) = 2s + s z (2/3 + z (2/5 + ...)), z = s^2,
// zero, negative, infinite and NaN x as LogOf.
template <class D>
D LogForFloat(const D& x_in) {
  using M = Math<D>;
  using I = typename M::Int;
  // The offset carries a mantissa of sqrt(2) or more into the exponent: then b holds 2^(k + 1023) in
  // its exponent field and m / 2 ... m in its mantissa (a float's mantissa never equals sqrt(2)'s).
  const I b = M::Bits(x_in) + I(0x3ff0000000000000ull - 0x3fe6a09e667f3bcdull);
  const D k = M::FromBits((b >> 52) | I(0x4330000000000000ull)) - D(0x1p52 + 1023.0);
  const D m = M::FromBits((b & I(0x000fffffffffffffull)) + I(0x3fe6a09e667f3bcdull));
  const D f = m - D(1.0);
  const D s = f / (D(2.0) + f);
  const D z = s * s;
  const D p = D(2.0 / 3.0) + z * (D(2.0 / 5.0) + z * (D(2.0 / 7.0) + z * (D(2.0 / 9.0) + z * (D(2.0 / 11.0) +
                                                                                            z * D(2.0 / 13.0)))));
  D r = k * D(0.69314718055994530942) + ((s + s) + s * z * p);
  if (Any<D>((x_in < D(0x1p-1022)) | (x_in > D(0x1.fffffffffffffp1023)) | (x_in != x_in))) {
    const D inf = M::FromBits(I(0x7ff0000000000000ull));
    r = Select<D>(x_in == D(0.0), -inf, r);
    r = Select<D>(x_in < D(0.0), M::FromBits(I(0x7ff8000000000000ull)), r);
    r = Select<D>(x_in == inf, inf, r);
    r = Select<D>(x_in != x_in, x_in, r);
  }
  return r;
}

// The rules of C's pow applied to r = e^(y ln|x|): x^0 = 1 and 1^y = 1 for every y (even NaN),
// (-1)^+-inf = 1; a negative x gives r with the sign of x for an odd integer y, r for an even one, and NaN
// for any other y, except that kKeepNegativeInfinity leaves r (that is (-0)^-y) for x = -inf.
template <class D, bool kKeepNegativeInfinity>
D PowRules(const D& x, const D& y, const D& r) {
  using M = Math<D>;
  using I = typename M::Int;
  const D ax = Abs(x);
  const D ay = Abs(y);
  const D sr = (ay + D(0x1p52)) - D(0x1p52);
  const D h = ay * D(0.5);
  const D hr = (h + D(0x1p52)) - D(0x1p52);
  const auto huge = ay > D(0x1.fffffffffffffp51);  // |y| >= 2^52: an even integer
  const auto integer = huge | (sr == ay);
  const auto even = huge | (hr == h);
  const D nan = M::FromBits(I(0x7ff8000000000000ull));
  auto not_real = x < D(0.0);
  if (kKeepNegativeInfinity) not_real = not_real & (x > -M::FromBits(I(0x7ff0000000000000ull)));
  const D signed_r = Select<D>(integer, Select<D>(even, r, CopySign(r, x)), Select<D>(not_real, nan, r));
  return Select<D>((y == D(0.0)) | (x == D(1.0)) | ((ax == D(1.0)) & huge), D(1.0), signed_r);
}

// x^y = e^(y ln|x|) with the rules of C's pow: x^0 = 1 and 1^y = 1 for every y (even NaN), (-1)^+-inf = 1;
// a negative x gives |x|^y with the sign of x for an odd integer y, with a positive sign for an even one,
// and NaN for any other y.
// (kForFloat: x and y are floats and the result is rounded to float: LogForFloat and ExpForFloat.)
template <class D, bool kForFloat = false>
D PowOf(const D& x, const D& y) {
  const D ax = Abs(x);
  const D t = y * (kForFloat ? LogForFloat(ax) : LogOf(ax));
  D r = kForFloat ? ExpForFloat(t) : ExpOf(t);
  // x not positive and finite, or y not finite, in some lane: then x <= 0 or y ln|x| is not finite.
  if (!Any<D>((x < D(0x1p-1074)) | (Abs(t) > D(0x1.fffffffffffffp1023)) | (t != t))) return r;
  return PowRules<D, false>(x, y, r);
}

// tanh x = 2|x| / (2 + u^2 (P1 + ...)) with u = 2|x| for |x| < ln2 / 4 (from e^u - 1 in the form of ExpOf),
// 1 - 2 / (e^u + 1) above (kForFloat: e^u by ExpForFloat); with the sign of x.
template <class D, bool kForFloat = false>
D TanhOf(const D& x) {
  constexpr double kSmall = 0.17328679513998632;  // ln2 / 4
  const D ax = Abs(x);
  const D u = ax + ax;
  const auto small = ax < D(kSmall);
  D r = D(0.0);
  if (Any<D>((ax > D(kSmall)) | (ax == D(kSmall)) | (ax != ax))) r = D(1.0) - D(2.0) / ((kForFloat ? ExpForFloat(u) : ExpOf(u)) + D(1.0));
  if (Any<D>(small)) r = Select<D>(small, u / (D(2.0) + ExpPoly(u * u)), r);
  return CopySign(r, x);
}

// atan on [0, 7/16) as x - x (s1 + s2); the other ranges are reduced to it about the breakpoints 0.5, 1,
// 1.5 and infinity, whose atan is given in two parts.
constexpr double kAtanHi[] = {4.63647609000806093515e-01, 7.85398163397448278999e-01, 9.82793723247329054082e-01,
                              1.57079632679489655800e+00};
constexpr double kAtanLo[] = {2.26987774529616870924e-17, 3.06161699786838301793e-17, 1.39033110312309984516e-17,
                              6.12323399573676603587e-17};
constexpr double kAT[] = {3.33333333333329318027e-01,  -1.99999999998764832476e-01, 1.42857142725034663711e-01,
                          -1.11111104054623557880e-01, 9.09088713343650656196e-02,  -7.69187620504482999495e-02,
                          6.66107313738753120669e-02,  -5.83357013379057348645e-02, 4.97687799461593236017e-02,
                          -3.65315727442169155270e-02, 1.62858201153657823623e-02};

template <class D>
D AtanOf(const D& x) {
  const D ax = Abs(x);
  D num = D(-1.0), den = ax, hi = D(kAtanHi[3]), lo = D(kAtanLo[3]);
  auto in = ax < D(2.4375);
  num = Select<D>(in, ax - D(1.5), num);
  den = Select<D>(in, D(1.0) + D(1.5) * ax, den);
  hi = Select<D>(in, D(kAtanHi[2]), hi);
  lo = Select<D>(in, D(kAtanLo[2]), lo);
  in = ax < D(1.1875);
  num = Select<D>(in, ax - D(1.0), num);
  den = Select<D>(in, ax + D(1.0), den);
  hi = Select<D>(in, D(kAtanHi[1]), hi);
  lo = Select<D>(in, D(kAtanLo[1]), lo);
  in = ax < D(0.6875);
  num = Select<D>(in, D(2.0) * ax - D(1.0), num);
  den = Select<D>(in, D(2.0) + ax, den);
  hi = Select<D>(in, D(kAtanHi[0]), hi);
  lo = Select<D>(in, D(kAtanLo[0]), lo);
  in = ax < D(0.4375);
  num = Select<D>(in, ax, num);
  den = Select<D>(in, D(1.0), den);
  hi = Select<D>(in, D(0.0), hi);
  lo = Select<D>(in, D(0.0), lo);
  const D t = num / den;
  const D z = t * t;
  const D w = z * z;
  const D s1 = z * (D(kAT[0]) + w * (D(kAT[2]) + w * (D(kAT[4]) + w * (D(kAT[6]) + w * (D(kAT[8]) + w * D(kAT[10]))))));
  const D s2 = w * (D(kAT[1]) + w * (D(kAT[3]) + w * (D(kAT[5]) + w * (D(kAT[7]) + w * D(kAT[9])))));
  return CopySign(hi - ((t * (s1 + s2) - lo) - t), x);
}

// atan to float accuracy, for the 32-bit laws: reduced to |t| <= tan(pi/8) about 0, 1 and infinity, then
// t + t z P(z), z = t^2, a near-minimax P of degree 7 with a relative error below 2e-13. The reduction is
// exact but for the one division, as the argument is a float.
constexpr double kAtanMid = 2.41421356237309492343e+00;  // tan(3 pi/8)
constexpr double kAtanLow = 4.14213562373095089210e-01;  // tan(pi/8)
constexpr double kAF[] = {-3.33333333332661960000e-01, 1.99999999498547270000e-01, -1.42857081103536650000e-01,
                          1.11108197164854360000e-01,  -9.08410189060128000000e-02, 7.60480000199621600000e-02,
                          -6.02730725916849800000e-02, 3.29567918100320400000e-02};

template <class D>
D AtanForFloat(const D& x) {
  const D ax = Abs(x);
  auto in = ax > D(kAtanLow);
  D num = Select<D>(in, ax - D(1.0), ax);
  D den = Select<D>(in, ax + D(1.0), D(1.0));
  D base = Select<D>(in, D(kAtanHi[1]), D(0.0));  // pi/4 and pi/2 to double precision
  in = ax > D(kAtanMid);
  num = Select<D>(in, D(-1.0), num);
  den = Select<D>(in, ax, den);
  base = Select<D>(in, D(kAtanHi[3]), base);
  const D t = num / den;
  const D z = t * t;
  const D w = z * z;
  const D even = D(kAF[0]) + w * (D(kAF[2]) + w * (D(kAF[4]) + w * D(kAF[6])));
  const D odd = D(kAF[1]) + w * (D(kAF[3]) + w * (D(kAF[5]) + w * D(kAF[7])));
  return CopySign(base + (t + t * (z * (even + z * odd))), x);
}

// Double-double arithmetic for the double functions: a number as hi + lo, |lo| <= ulp(hi) / 2, from exact
// sums and products of doubles (Knuth's and Dekker's algorithms, + - * only).
template <class D>
struct Pair {
  D hi, lo;
};

// a + b exactly.
template <class D>
Pair<D> TwoSum(const D& a, const D& b) {
  const D s = a + b;
  const D bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}
// a + b exactly when |a| >= |b| or a = 0.
template <class D>
Pair<D> FastTwoSum(const D& a, const D& b) {
  const D s = a + b;
  return {s, b - (s - a)};
}
// a * b exactly (for |a|, |b| < 2^995): a and b split into halves of 26 bits (Veltkamp).
template <class D>
Pair<D> TwoProd(const D& a, const D& b) {
  const D p = a * b;
  const D ca = D(134217729.0) * a, cb = D(134217729.0) * b;
  const D ah = ca - (ca - a), bh = cb - (cb - b);
  const D al = a - ah, bl = b - bh;
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

// ln x as a pair, to about 2^-62 relative, for a positive normal finite x; bias 1023 + 54 for an x scaled
// by 2^54 (a subnormal). x = 2^k m, m in [sqrt(2)/2, sqrt(2)): ln m = 2 atanh(s) = 2s (1 + w),
// s = (m - 1) / (m + 1) as a pair, w = s^2/3 + s^4/5 + ... (the first term as a pair).
template <class D>
Pair<D> LogPair(const D& x, const D& bias) {
  using M = Math<D>;
  using I = typename M::Int;
  const I b = M::Bits(x);
  const D e = M::FromBits((b >> 52) | I(0x4330000000000000ull)) - D(0x1p52);
  D m = M::FromBits((b & I(0x000fffffffffffffull)) | I(0x3ff0000000000000ull));
  const auto high = m > D(kSqrt2);
  m = Select<D>(high, m * D(0.5), m);
  const D k = e - Select<D>(high, bias - D(1.0), bias);
  const D u = m - D(1.0);  // exact
  const Pair<D> v = TwoSum(m, D(1.0));
  const D inv = D(1.0) / v.hi;
  const D sh = u * inv;  // within an ulp or two; sl takes the rest
  const Pair<D> p = TwoProd(sh, v.hi);
  const D sl = (((u - p.hi) - p.lo) - sh * v.lo) * inv;
  const Pair<D> z = TwoProd(sh, sh);
  const D zl = z.lo + D(2.0) * sh * sl;
  const Pair<D> a = TwoProd(z.hi, D(1.0 / 3.0));
  const D zz = z.hi;
  const D tail =
      zz * zz *
      (D(1.0 / 5.0) +
       zz * (D(1.0 / 7.0) +
             zz * (D(1.0 / 9.0) +
                   zz * (D(1.0 / 11.0) +
                         zz * (D(1.0 / 13.0) +
                               zz * (D(1.0 / 15.0) +
                                     zz * (D(1.0 / 17.0) +
                                           zz * (D(1.0 / 19.0) + zz * (D(1.0 / 21.0) + zz * D(1.0 / 23.0))))))))));
  const Pair<D> w =
      FastTwoSum(a.hi, (a.lo + (z.hi * D(1.85037170770859413132e-17) + zl * D(1.0 / 3.0))) + tail);
  const Pair<D> q = TwoProd(sh, w.hi);
  const Pair<D> l = FastTwoSum(sh, q.hi);  // s (1 + w) / 2 ... halved: ln m / 2
  const D ll = l.lo + (sl + (q.lo + (sh * w.lo + sl * w.hi)));
  const Pair<D> r = TwoSum(k * D(kLn2Hi), D(2.0) * l.hi);  // k kLn2Hi exact
  return FastTwoSum(r.hi, r.lo + (D(2.0) * ll + k * D(kLn2Lo)));
}

// e^r - 1 as a pair for r = rh + rl, |r| <= 0.35: r + r^2/2 + r^3 (1/3! + r/4! + ... + r^12/15!), the
// first two terms as pairs; about 2^-58 absolute.
template <class D>
Pair<D> Expm1Pair(const D& rh, const D& rl) {
  const Pair<D> q = TwoProd(rh, rh);
  const D hh = D(0.5) * q.hi;  // exact
  const D hl = D(0.5) * q.lo + rh * rl;
  const D r2 = q.hi, r4 = r2 * r2, r8 = r4 * r4;
  const D c0 = (D(1.0 / 6.0) + rh * D(1.0 / 24.0)) + r2 * (D(1.0 / 120.0) + rh * D(1.0 / 720.0));
  const D c1 = (D(1.0 / 5040.0) + rh * D(1.0 / 40320.0)) + r2 * (D(1.0 / 362880.0) + rh * D(1.0 / 3628800.0));
  const D c2 = (D(1.0 / 39916800.0) + rh * D(1.0 / 479001600.0)) +
               r2 * (D(1.0 / 6227020800.0) + rh * D(1.0 / 87178291200.0));
  const D c3 = D(1.0 / 1307674368000.0);
  const D c = rh * r2 * ((c0 + r4 * c1) + r8 * (c2 + r4 * c3));
  const Pair<D> a = FastTwoSum(rh, hh);
  const Pair<D> s = FastTwoSum(a.hi, c);
  return FastTwoSum(s.hi, (a.lo + s.lo) + (rl + hl));
}

// x = n ln2 + r: n rounded, r as a pair (th - n kLn2Hi is exact).
template <class D>
D ReduceLn2(const D& th, const D& tl, D& rh, D& rl) {
  const D n = (th * D(kInvLn2) + D(kRound)) - D(kRound);
  const Pair<D> r = TwoSum(th - n * D(kLn2Hi), tl - n * D(kLn2Lo));
  rh = r.hi;
  rl = r.lo;
  return n;
}

// 2^n for an integer n in [-1022, 1023].
template <class D>
D TwoTo(const D& n) {
  using M = Math<D>;
  return M::FromBits(M::Bits(n + D(kBiased)) << 52);
}

// x^y for double: e^(y ln|x|) with ln|x| and the product as pairs, then e^(th + tl) = 2^n (1 + expm1 r);
// within about 0.53 ulp (0.6 where |y ln x| is in the hundreds). The rules of C's pow as PowOf, and
// (-inf)^y = (-0)^-y for a y that is not an integer.
template <class D>
D PowDouble(const D& x, const D& y) {
  using M = Math<D>;
  using I = typename M::Int;
  const D inf = M::FromBits(I(0x7ff0000000000000ull));
  const D ax = Abs(x);
  // Zero, negative, subnormal, infinite or NaN x in some lane.
  const bool rare = Any<D>((x < D(0x1p-1022)) | (ax > D(0x1.fffffffffffffp1023)) | (x != x));
  D xs = ax, bias = D(1023.0);
  if (rare) {
    const auto tiny = ax < D(0x1p-1022);  // subnormal: scaled into the normal range first
    xs = Select<D>(tiny, ax * D(0x1p54), ax);
    bias = Select<D>(tiny, D(1077.0), bias);
  }
  Pair<D> l = LogPair(xs, bias);
  if (rare) {
    l.hi = Select<D>(ax == D(0.0), -inf, l.hi);
    l.hi = Select<D>(ax == inf, inf, l.hi);
    l.hi = Select<D>(ax != ax, ax, l.hi);
    l.lo = Select<D>((ax == D(0.0)) | (ax == inf) | (ax != ax), D(0.0), l.lo);
  }
  const Pair<D> p = TwoProd(y, l.hi);
  D th = p.hi, tl = p.lo + y * l.lo;
  // Beyond |t| = 700, or a NaN (also the lost low part of a product with |y| >= 2^995).
  const bool far = Any<D>((th > D(700.0)) | (th < D(-700.0)) | (th != th) | (tl != tl));
  if (far) {
    const auto out = (th > D(1100.0)) | (th < D(-1100.0));
    tl = Select<D>(out | (th != th) | (tl != tl), D(0.0), tl);
    th = Select<D>(th > D(1100.0), D(1100.0), th);
    th = Select<D>(th < D(-1100.0), D(-1100.0), th);
  }
  const Pair<D> t = FastTwoSum(th, tl);
  D rh, rl;
  const D n = ReduceLn2(t.hi, t.lo, rh, rl);
  const Pair<D> e = Expm1Pair(rh, rl);
  const Pair<D> one = FastTwoSum(D(1.0), e.hi);
  const D z = one.hi + (one.lo + e.lo);
  D r;
  if (!far) {
    r = z * TwoTo(n);
  } else {
    const D n1 = (n * D(0.5) + D(kRound)) - D(kRound);
    r = z * TwoTo(n1) * TwoTo(n - n1);
    r = Select<D>(th != th, th, r);
  }
  if (!rare && !far) return r;
  return PowRules<D, true>(x, y, r);
}

// tanh x for double: (e^u - 1) / (e^u + 1), u = 2|x|, with e^u = 2^n (1 + expm1 r) and the quotient as
// pairs; within about 0.51 ulp. tanh x = x for |x| < 2^-27, 1 for |x| >= 22; with the sign of x.
template <class D>
D TanhDouble(const D& x) {
  const D ax = Abs(x);
  const D u = Min(ax, D(22.0)) * D(2.0);  // a NaN gives 44, mended below
  D rh, rl;
  const D n = ReduceLn2(u, D(0.0), rh, rl);
  const Pair<D> e = Expm1Pair(rh, rl);
  const D p = TwoTo(n);
  const D pe = p * e.hi, pl = p * e.lo;  // exact
  const Pair<D> a = TwoSum(p, D(-1.0)), b = TwoSum(a.hi, pe);
  const Pair<D> num = FastTwoSum(b.hi, (a.lo + b.lo) + pl);
  const Pair<D> c = TwoSum(p, D(1.0)), d = TwoSum(c.hi, pe);
  const Pair<D> den = FastTwoSum(d.hi, (c.lo + d.lo) + pl);
  const D inv = D(1.0) / den.hi;
  const D qh = num.hi * inv;
  const Pair<D> m = TwoProd(qh, den.hi);
  D r = qh + (((num.hi - m.hi) - m.lo) + (num.lo - qh * den.lo)) * inv;
  r = Select<D>(ax < D(0x1p-27), ax, r);
  r = Select<D>(ax < D(22.0), r, D(1.0));
  r = Select<D>(ax != ax, ax, r);
  return CopySign(r, x);
}

// The float functions of a float lane type T: evaluated in double (Math<T>::Wide) and rounded once.
template <class T>
T FloatExp(const T& x) {
  return Math<T>::Narrow(ExpForFloat(Math<T>::Widen(x)));
}
template <class T>
T FloatLog(const T& x) {
  return Math<T>::Narrow(LogForFloat(Math<T>::Widen(x)));
}
template <class T>
T FloatPow(const T& x, const T& y) {
  return Math<T>::Narrow(PowOf<typename Math<T>::Wide, true>(Math<T>::Widen(x), Math<T>::Widen(y)));
}
template <class T>
T FloatTanh(const T& x) {
  return Math<T>::Narrow(TanhOf<typename Math<T>::Wide, true>(Math<T>::Widen(x)));
}
template <class T>
T FloatAtan(const T& x) {
  return Math<T>::Narrow(AtanForFloat(Math<T>::Widen(x)));
}

}  // namespace fn
}  // namespace law
}  // namespace tubefit
