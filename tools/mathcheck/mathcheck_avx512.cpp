// The laws' functions on the AVX-512 lanes of the fit objective, for tubefit-mathcheck.
#include "fit/lanes_avx512.h"
#include "mathcheck.h"

namespace tubefit {
namespace mathcheck {

void RunAvx512(Function f, const float* x, const float* y, float* out, size_t n) {
  using blocks::V16;
  for (size_t i = 0; i < n; i += 16) {
    const V16 a(_mm512_loadu_ps(x + i));
    V16 r;
    switch (f) {
      case Function::kExp: r = law::Exp(a); break;
      case Function::kLog: r = law::Log(a); break;
      case Function::kPow: r = law::Pow(a, V16(_mm512_loadu_ps(y + i))); break;
      case Function::kTanh: r = law::Tanh(a); break;
      case Function::kAtan: r = law::Atan(a); break;
    }
    _mm512_storeu_ps(out + i, r.v);
  }
}

}  // namespace mathcheck
}  // namespace tubefit
