// Small helpers shared by the estimators.
#pragma once

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>

#include "fit/linear.h"
#include "text/format.h"

namespace tubefit::est {

// The straight line y = intercept + slope * x through x[1..n], y[1..n], only when it is determined: at
// least two points, x values not all equal, every value and the result finite. Returns false otherwise
// (slope and intercept then unchanged).
inline bool FitLineChecked(const float x[], const float y[], int n, float& slope, float& intercept) {
  if (n < 2) return false;
  bool distinct = false;
  for (int i = 1; i <= n; ++i) {
    if (!std::isfinite(x[i]) || !std::isfinite(y[i])) return false;
    if (x[i] != x[1]) distinct = true;
  }
  if (!distinct) return false;
  float b1 = 0.0f;
  float b0 = 0.0f;
  FitLine(x, y, n, b1, b0);
  if (!std::isfinite(b1) || !std::isfinite(b0)) return false;
  slope = b1;
  intercept = b0;
  return true;
}

// An integer in its minimum width, for the estimators' own console notes.
inline std::string Num(int32_t v) { return RenderI(v, 0); }

// One console line of text.
inline void Note(std::ostream& console, const std::string& text) { WriteList(console, {text}); }

}  // namespace tubefit::est
