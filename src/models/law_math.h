// The arithmetic the model laws are written in, for every number type they are evaluated with.
//
// A law (models/law.h) is a template over its number type T and uses only: the operators + - * / and
// unary -, the comparisons < > (giving a mask: bool for one number, a lane mask for a vector), T(x) for
// a float constant, and the functions below. Math<T> supplies them; it is specialised here for float
// (one point, the `Model` of the program) and double, by the vector objective for its lanes, and by
// models/law_jet.h for ceres::Jet (automatic derivatives).
//
// Branches are written as Select(mask, a, b): both sides are computed and each lane takes its side, so a
// law reads the same for one point and for 16; the comparisons are the ordered ones, so a NaN takes the
// side it would take in an if statement.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace tubefit {
namespace law {

template <class T>
struct Math;

// Math<float> and Math<double> take exp, log, pow, tanh and atan from models/law_functions.h: the same
// bits as the vector lanes, on every processor and C library. (Defined in law_math.cpp, so that no code
// built for a wider instruction set is shared with the baseline.)
//
// A float type also names its double type Wide, with Widen and Narrow (round to nearest); a double type
// gives what the functions of law_functions.h use: == and the mask operators & and |, and Int, the 64-bit
// representation with Bits and FromBits.
template <>
struct Math<float> {
  using Mask = bool;
  using Wide = double;
  static float Exp(float x);
  static float Log(float x);
  static float Pow(float x, float y);
  static float Tanh(float x);
  static float Atan(float x);
  static float Sqrt(float x) { return std::sqrt(x); }
  static float Abs(float x) { return std::fabs(x); }
  static float Max(float x, float y) { return std::fmax(x, y); }
  static float Min(float x, float y) { return std::fmin(x, y); }
  static bool IsInf(float x) { return std::isinf(x); }
  static float Select(bool m, float a, float b) { return m ? a : b; }
  static bool Any(bool m) { return m; }
  static double Widen(float x) { return static_cast<double>(x); }
  static float Narrow(double x) { return static_cast<float>(x); }
};

template <>
struct Math<double> {
  using Mask = bool;
  using Int = uint64_t;
  static double Exp(double x);
  static double Log(double x);
  static double Pow(double x, double y);
  static double Tanh(double x);
  static double Atan(double x);
  static double Sqrt(double x) { return std::sqrt(x); }
  static double Abs(double x) { return std::fabs(x); }
  static double Max(double x, double y) { return std::fmax(x, y); }
  static double Min(double x, double y) { return std::fmin(x, y); }
  static bool IsInf(double x) { return std::isinf(x); }
  static double Select(bool m, double a, double b) { return m ? a : b; }
  static bool Any(bool m) { return m; }
  static Int Bits(double x) {
    Int b;
    std::memcpy(&b, &x, sizeof b);
    return b;
  }
  static double FromBits(Int b) {
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
  }
};

template <class T>
T Exp(const T& x) {
  return Math<T>::Exp(x);
}
template <class T>
T Log(const T& x) {
  return Math<T>::Log(x);
}
template <class T>
T Pow(const T& x, const T& y) {
  return Math<T>::Pow(x, y);
}
template <class T>
T Tanh(const T& x) {
  return Math<T>::Tanh(x);
}
template <class T>
T Atan(const T& x) {
  return Math<T>::Atan(x);
}
template <class T>
T Sqrt(const T& x) {
  return Math<T>::Sqrt(x);
}
template <class T>
T Abs(const T& x) {
  return Math<T>::Abs(x);
}
// max(x, y) and min(x, y); a NaN x gives y (as std::fmax and std::fmin, and the vector max and min with
// the limit second).
template <class T>
T Max(const T& x, const T& y) {
  return Math<T>::Max(x, y);
}
template <class T>
T Min(const T& x, const T& y) {
  return Math<T>::Min(x, y);
}
template <class T>
typename Math<T>::Mask IsInf(const T& x) {
  return Math<T>::IsInf(x);
}
// a where the mask is set, else b.
template <class T>
T Select(const typename Math<T>::Mask& m, const T& a, const T& b) {
  return Math<T>::Select(m, a, b);
}
// True when the mask is set for some lane; T names the number type the mask came from.
template <class T>
bool Any(const typename Math<T>::Mask& m) {
  return Math<T>::Any(m);
}

}  // namespace law
}  // namespace tubefit
