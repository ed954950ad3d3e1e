// The model laws with ceres::Jet, the automatic-derivative number type of Ceres Solver: a law evaluated
// with Jet<double, N> gives the currents and their exact derivatives with respect to N parameters.
// Include only where Ceres is available.
#pragma once

#include <ceres/jet.h>

#include <cmath>
#include <limits>

#include "models/law_math.h"

namespace tubefit {
namespace law {

template <class S, int N>
struct Math<ceres::Jet<S, N>> {
  using J = ceres::Jet<S, N>;
  using Mask = bool;
  // The value and the derivative factors from the laws' own functions (Math<S>), as the double laws.
  static J Exp(const J& x) {
    const S e = Math<S>::Exp(x.a);
    return J(e, e * x.v);
  }
  static J Log(const J& x) { return J(Math<S>::Log(x.a), x.v / x.a); }
  // x^y for a positive base with one power and one logarithm; zero and negative bases as ceres::pow
  // takes them (a zero base with y >= 1, and a negative one with an integer y, whose y derivative is NaN).
  static J Pow(const J& x, const J& y) {
    if (x.a > S(0)) {
      const S r = Math<S>::Pow(x.a, y.a);
      return J(r, (y.a * r / x.a) * x.v + (r * Math<S>::Log(x.a)) * y.v);
    }
    if (x.a == S(0) && y.a >= S(1)) return y.a > S(1) ? J(S(0)) : x;
    const S r = Math<S>::Pow(x.a, y.a);
    const S dx = y.a * Math<S>::Pow(x.a, y.a - S(1));
    if (x.a < S(0) && y.a == std::floor(y.a)) {
      J result(r, dx * x.v);
      for (int i = 0; i < N; ++i) {
        if (y.v[i] != S(0)) result.v[i] = std::numeric_limits<S>::quiet_NaN();
      }
      return result;
    }
    return J(r, dx * x.v + (r * Math<S>::Log(x.a)) * y.v);
  }
  static J Tanh(const J& x) {
    const S t = Math<S>::Tanh(x.a);
    return J(t, (S(1) - t * t) * x.v);
  }
  static J Atan(const J& x) { return J(Math<S>::Atan(x.a), (S(1) / (S(1) + x.a * x.a)) * x.v); }
  static J Sqrt(const J& x) { return ceres::sqrt(x); }
  static J Abs(const J& x) { return ceres::abs(x); }
  // The laws write Max(x, limit) and Min(x, limit). Where x stands on its limit the derivative is x's own:
  // the one-sided derivative into the allowed range, so a fit held on the limit can leave it again.
  // NaNs count as missing, as in fmax and fmin.
  static J Max(const J& x, const J& y) {
    if (ceres::isnan(x)) return y;
    return ceres::isnan(y) || !(x.a < y.a) ? x : y;
  }
  static J Min(const J& x, const J& y) {
    if (ceres::isnan(x)) return y;
    return ceres::isnan(y) || !(x.a > y.a) ? x : y;
  }
  static bool IsInf(const J& x) { return ceres::isinf(x); }
  static J Select(bool m, const J& a, const J& b) { return m ? a : b; }
  static bool Any(bool m) { return m; }
};

}  // namespace law
}  // namespace tubefit
