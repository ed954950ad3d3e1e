// The model laws with ceres::Jet, the automatic-derivative number type of Ceres Solver: a law evaluated
// with Jet<double, N> gives the currents and their exact derivatives with respect to N parameters.
// Include only where Ceres is available.
#pragma once

#include <ceres/jet.h>

#include <cmath>

#include "models/law_math.h"

namespace tubefit {
namespace law {

template <class S, int N>
struct Math<ceres::Jet<S, N>> {
  using J = ceres::Jet<S, N>;
  using Mask = bool;
  static J Exp(const J& x) { return ceres::exp(x); }
  static J Log(const J& x) { return ceres::log(x); }
  // x^y for a positive base with one power and one logarithm (ceres::pow takes two powers); other bases
  // by ceres::pow, which handles zero and negative ones.
  static J Pow(const J& x, const J& y) {
    if (!(x.a > S(0))) return ceres::pow(x, y);
    const S r = std::pow(x.a, y.a);
    return J(r, (y.a * r / x.a) * x.v + (r * std::log(x.a)) * y.v);
  }
  static J Tanh(const J& x) { return ceres::tanh(x); }
  static J Atan(const J& x) { return ceres::atan(x); }
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
