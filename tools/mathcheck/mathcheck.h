// The function evaluations of tubefit-mathcheck on each path; n is a multiple of 16.
#pragma once

#include <cstddef>

namespace tubefit {
namespace mathcheck {

enum class Function { kExp, kLog, kPow, kTanh, kAtan };

void RunScalar(Function f, const float* x, const float* y, float* out, size_t n);
void RunAvx2(Function f, const float* x, const float* y, float* out, size_t n);
void RunAvx512(Function f, const float* x, const float* y, float* out, size_t n);

}  // namespace mathcheck
}  // namespace tubefit
