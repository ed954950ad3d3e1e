// The laws' functions on the AVX2 lanes of the fit objective, for tubefit-mathcheck.
#include "fit/lanes_avx2.h"
#include "mathcheck.h"

namespace tubefit {
namespace mathcheck {

void RunAvx2(Function f, const float* x, const float* y, float* out, size_t n) {
  using blocks::V8;
  for (size_t i = 0; i < n; i += 8) {
    const V8 a(_mm256_loadu_ps(x + i));
    V8 r;
    switch (f) {
      case Function::kExp: r = law::Exp(a); break;
      case Function::kLog: r = law::Log(a); break;
      case Function::kPow: r = law::Pow(a, V8(_mm256_loadu_ps(y + i))); break;
      case Function::kTanh: r = law::Tanh(a); break;
      case Function::kAtan: r = law::Atan(a); break;
    }
    _mm256_storeu_ps(out + i, r.v);
  }
}

}  // namespace mathcheck
}  // namespace tubefit
