#include "models/law_math.h"

// sleef.h declares its FMA routines only to code compiled for a processor with FMA; this file is built
// for the baseline and calls them only after finding FMA at run time.
#ifndef FP_FAST_FMA
#define FP_FAST_FMA 1
#endif
#ifndef FP_FAST_FMAF
#define FP_FAST_FMAF 1
#endif
#include <sleef.h>

namespace tubefit {
namespace law {

namespace {

// SLEEF's deterministic routines with fused multiply-adds ("finz") give the same result bit for bit on
// every instruction set, one point at a time as in the vector kernels; they need a processor with FMA.
// Without it the deterministic routines without FMA ("cinz") run, which can differ in the last bit.
bool HasFma() {
#if defined(__x86_64__)
  static const bool fma = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("fma") != 0;
  }();
  return fma;
#else
  return false;
#endif
}

}  // namespace

bool ScalarMathHasFma() { return HasFma(); }

#if defined(__x86_64__)
float SleefExp(float x) { return HasFma() ? Sleef_finz_expf1_u10purecfma(x) : Sleef_cinz_expf1_u10purec(x); }
float SleefLog(float x) { return HasFma() ? Sleef_finz_logf1_u10purecfma(x) : Sleef_cinz_logf1_u10purec(x); }
float SleefPow(float x, float y) {
  return HasFma() ? Sleef_finz_powf1_u10purecfma(x, y) : Sleef_cinz_powf1_u10purec(x, y);
}
float SleefTanh(float x) { return HasFma() ? Sleef_finz_tanhf1_u10purecfma(x) : Sleef_cinz_tanhf1_u10purec(x); }
float SleefAtan(float x) { return HasFma() ? Sleef_finz_atanf1_u10purecfma(x) : Sleef_cinz_atanf1_u10purec(x); }
#else
float SleefExp(float x) { return Sleef_expf_u10(x); }
float SleefLog(float x) { return Sleef_logf_u10(x); }
float SleefPow(float x, float y) { return Sleef_powf_u10(x, y); }
float SleefTanh(float x) { return Sleef_tanhf_u10(x); }
float SleefAtan(float x) { return Sleef_atanf_u10(x); }
#endif

}  // namespace law
}  // namespace tubefit
