// tubefit-mathcheck: accuracy and speed of the laws' own exp, log, pow, tanh and atan
// (models/law_functions.h).
//
// Float functions, against the double-precision C library rounded to float (the correctly rounded result
// but for rare double roundings): exp, log, tanh and atan over every float, pow over random pairs in the
// ranges the laws reach. Every input is also run through the AVX2 and AVX-512 lanes, which must give the
// same bits as the one-point path. Double functions: random samples against the long-double C library,
// error in double ulps. Then the time per call on each path.
//
//   tubefit-mathcheck [pow-pairs [time | double]]     (default 10^8; only the timing or the double functions)
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "mathcheck.h"
#include "models/law_math.h"

namespace tubefit {
namespace mathcheck {

void RunScalar(Function f, const float* x, const float* y, float* out, size_t n) {
  using M = law::Math<float>;
  for (size_t i = 0; i < n; ++i) {
    switch (f) {
      case Function::kExp: out[i] = M::Exp(x[i]); break;
      case Function::kLog: out[i] = M::Log(x[i]); break;
      case Function::kPow: out[i] = M::Pow(x[i], y[i]); break;
      case Function::kTanh: out[i] = M::Tanh(x[i]); break;
      case Function::kAtan: out[i] = M::Atan(x[i]); break;
    }
  }
}

namespace {

const char* const kNames[] = {"exp", "log", "pow", "tanh", "atan"};

bool HasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
bool HasAvx512() { return __builtin_cpu_supports("avx512f"); }

double Reference(Function f, double x, double y) {
  switch (f) {
    case Function::kExp: return std::exp(x);
    case Function::kLog: return std::log(x);
    case Function::kPow: return std::pow(x, y);
    case Function::kTanh: return std::tanh(x);
    case Function::kAtan: return std::atan(x);
  }
  return 0.0;
}

uint32_t FloatBits(float x) {
  uint32_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}
float FromFloatBits(uint32_t b) {
  float x;
  std::memcpy(&x, &b, sizeof x);
  return x;
}

// Floats in order as integers (-0 and +0 next to each other), for distances in ulps.
int64_t Ordinal(float x) {
  const int64_t b = FloatBits(x);
  return b & 0x80000000 ? -(b & 0x7fffffff) : b;
}

struct Stats {
  uint64_t count = 0, wrong = 0, mismatch = 0;  // mismatch: a vector path gave other bits
  int64_t max_ulp = 0;
  double max_real = 0.0;  // the largest error in ulps of the exact (double) result
  float worst_x = 0.0f, worst_y = 0.0f;
};

void Account(Stats& s, Function f, const float* x, const float* y, const float* got, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const double exact = Reference(f, x[i], y ? y[i] : 0.0);
    const float cr = static_cast<float>(exact);
    ++s.count;
    if (std::isnan(cr) && std::isnan(got[i])) continue;
    if (FloatBits(cr) == FloatBits(got[i])) continue;
    ++s.wrong;
    const int64_t d = std::llabs(Ordinal(cr) - Ordinal(got[i]));
    if (std::isfinite(cr) && std::isfinite(got[i]) && cr != 0.0f) {
      const double ulp = std::ldexp(1.0, std::ilogb(cr) - 23 < -149 ? -149 : std::ilogb(cr) - 23);
      const double real = std::fabs(got[i] - exact) / ulp;
      if (real > s.max_real) s.max_real = real;
    }
    if (d > s.max_ulp) {
      s.max_ulp = d;
      s.worst_x = x[i];
      s.worst_y = y ? y[i] : 0.0f;
    }
  }
}

void CompareBits(Stats& s, const float* a, const float* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (FloatBits(a[i]) != FloatBits(b[i]) && !(std::isnan(a[i]) && std::isnan(b[i]))) ++s.mismatch;
  }
}

// One batch through every path: accuracy of the one-point path, bits of the vector paths.
void Batch(Stats& s, Function f, const float* x, const float* y, size_t n, std::vector<float>& out,
           std::vector<float>& vec) {
  const float* yy = y ? y : x;
  RunScalar(f, x, yy, out.data(), n);
  Account(s, f, x, y, out.data(), n);
  if (HasAvx2()) {
    RunAvx2(f, x, yy, vec.data(), n);
    CompareBits(s, out.data(), vec.data(), n);
  }
  if (HasAvx512()) {
    RunAvx512(f, x, yy, vec.data(), n);
    CompareBits(s, out.data(), vec.data(), n);
  }
}

void Print(const char* name, const char* domain, const Stats& s) {
  std::printf("%-5s %-44s %12" PRIu64 "  max %" PRId64 " ulp (%.4f)  not CR %.3g  path mismatches %" PRIu64,
              name, domain, s.count, s.max_ulp, s.max_real, s.count ? double(s.wrong) / double(s.count) : 0.0,
              s.mismatch);
  if (s.max_ulp > 0) std::printf("  worst at %a %a", s.worst_x, s.worst_y);
  std::printf("\n");
  std::fflush(stdout);
}

constexpr size_t kBatch = 1 << 16;

// Every float through f.
void Exhaustive(Function f) {
  Stats s;
  std::vector<float> x(kBatch), out(kBatch), vec(kBatch);
  for (uint64_t b = 0; b < (1ull << 32); b += kBatch) {
    for (size_t i = 0; i < kBatch; ++i) x[i] = FromFloatBits(static_cast<uint32_t>(b + i));
    Batch(s, f, x.data(), nullptr, kBatch, out, vec);
  }
  Print(kNames[static_cast<int>(f)], "every float", s);
}

// n random pairs: x = 10^u, u uniform in [lx, hx], y uniform in [ly, hy] (or y fixed when ly == hy).
void RandomPow(uint64_t n, double lx, double hx, double ly, double hy, const char* domain, unsigned seed) {
  Stats s;
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> ux(lx, hx), uy(ly, hy);
  std::vector<float> x(kBatch), y(kBatch), out(kBatch), vec(kBatch);
  for (uint64_t done = 0; done < n; done += kBatch) {
    for (size_t i = 0; i < kBatch; ++i) {
      x[i] = static_cast<float>(std::pow(10.0, ux(rng)));
      y[i] = ly == hy ? static_cast<float>(ly) : static_cast<float>(uy(rng));
    }
    Batch(s, Function::kPow, x.data(), y.data(), kBatch, out, vec);
  }
  Print("pow", domain, s);
}

// Double functions: the largest error in double ulps against the long-double library (whose own error is
// about 2^-11 double ulps), over n random arguments: x = +-10^u, u uniform in [lx, hx] (negative x for
// half of them when sign), y uniform in [ly, hy] for pow.
struct DoubleDomain {
  const char* name;
  double lx, hx;
  bool sign;
  double ly, hy;
  const char* text;
};

void DoubleCheck(const DoubleDomain& d, uint64_t n, unsigned seed) {
  using M = law::Math<double>;
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> ux(d.lx, d.hx), uy(d.ly, d.hy), u01(0.0, 1.0);
  double worst = 0.0, worst_x = 0.0, worst_y = 0.0;
  uint64_t wrong = 0;
  for (uint64_t i = 0; i < n; ++i) {
    double x = std::pow(10.0, ux(rng)), y = 0.0, got = 0.0;
    if (d.sign && u01(rng) < 0.5) x = -x;
    long double ref = 0.0L;
    switch (d.name[0]) {
      case 'e':
        x = d.lx + (d.hx - d.lx) * u01(rng);
        got = M::Exp(x), ref = expl(x);
        break;
      case 'l': got = M::Log(x), ref = logl(x); break;
      case 'p':
        y = d.ly == d.hy ? d.ly : uy(rng);
        got = M::Pow(x, y), ref = powl(x, y);
        break;
      case 't': got = M::Tanh(x), ref = tanhl(x); break;
      default: got = M::Atan(x), ref = atanl(x); break;
    }
    const double cr = static_cast<double>(ref);
    if (got != cr) ++wrong;
    const double ulp = std::ldexp(1.0, std::ilogb(cr) - 52 < -1074 ? -1074 : std::ilogb(cr) - 52);
    const double err = static_cast<double>(std::fabs(static_cast<long double>(got) - ref) / ulp);
    if (err > worst) worst = err, worst_x = x, worst_y = y;
  }
  std::printf("double %-5s %-44s %11" PRIu64 "  max %.3f ulp  not CR %.3g  worst at %a %a\n", d.name, d.text, n,
              worst, double(wrong) / double(n), worst_x, worst_y);
  std::fflush(stdout);
}

// The double functions over the arguments of the lm path (double and automatic derivatives), n pow pairs.
void DoubleChecks(uint64_t n) {
  std::printf("\ndouble functions against the long-double C library\n");
  const DoubleDomain domains[] = {
      {"exp", -745.0, 710.0, false, 0, 0, "x in [-745, 710] uniform"},
      {"exp", -30.0, 30.0, false, 0, 0, "x in [-30, 30] uniform"},
      {"log", -300.0, 300.0, false, 0, 0, "x in [1e-300, 1e300] log-uniform"},
      {"log", -7.0, 4.0, false, 0, 0, "x in [1e-7, 1e4] log-uniform"},
      {"pow", -7.0, 4.0, false, 0.001, 5.0, "x in [1e-7, 1e4] log-uniform, y in [0.001, 5]"},
      {"pow", -7.0, 4.0, false, -1.0, 4.0, "x in [1e-7, 1e4] log-uniform, y in [-1, 4]"},
      {"pow", -7.0, 2.5, false, 1.5, 1.5, "x in [1e-7, 316] log-uniform, y = 1.5"},
      {"pow", -3.0, 3.0, false, -30.0, 30.0, "x in [1e-3, 1e3] log-uniform, y in [-30, 30]"},
      {"tanh", -8.0, 1.5, true, 0, 0, "x in +-[1e-8, 31.6] log-uniform"},
      {"tanh", -1.0, 0.5, true, 0, 0, "x in +-[0.1, 3.16] log-uniform"},
      {"atan", -8.0, 8.0, true, 0, 0, "x in +-[1e-8, 1e8] log-uniform"},
  };
  unsigned seed = 11u;
  for (const DoubleDomain& d : domains) DoubleCheck(d, d.name[0] == 'p' ? n : n / 10, seed++);
}

// Nanoseconds per call on each path, over 4096 inputs in the ranges the laws use.
void Timing() {
  constexpr size_t n = 4096;
  std::mt19937 rng(5u);
  std::uniform_real_distribution<float> u01(0.0f, 1.0f);
  std::vector<float> x(n), y(n), out(n);
  std::printf("\nns per call        scalar     AVX2  AVX-512\n");
  for (int fi = 0; fi < 5; ++fi) {
    const Function f = static_cast<Function>(fi);
    for (size_t i = 0; i < n; ++i) {
      switch (f) {
        case Function::kExp: x[i] = -20.0f + 40.0f * u01(rng); break;
        case Function::kLog: x[i] = std::pow(10.0f, -6.0f + 10.0f * u01(rng)); break;
        case Function::kPow: x[i] = std::pow(10.0f, -6.0f + 9.0f * u01(rng)), y[i] = 0.5f + 4.5f * u01(rng); break;
        case Function::kTanh: x[i] = -5.0f + 10.0f * u01(rng); break;
        case Function::kAtan: x[i] = -20.0f + 40.0f * u01(rng); break;
      }
    }
    std::printf("%-14s", kNames[fi]);
    for (int path = 0; path < 3; ++path) {
      if ((path == 1 && !HasAvx2()) || (path == 2 && !HasAvx512())) {
        std::printf("        -");
        continue;
      }
      double best = 1e30;
      for (int rep = 0; rep < 15; ++rep) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int k = 0; k < 20; ++k) {
          if (path == 0) RunScalar(f, x.data(), y.data(), out.data(), n);
          if (path == 1) RunAvx2(f, x.data(), y.data(), out.data(), n);
          if (path == 2) RunAvx512(f, x.data(), y.data(), out.data(), n);
        }
        const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
        if (ns < best) best = ns;
      }
      std::printf(" %8.2f", best / (20.0 * n));
    }
    std::printf("\n");
  }
}

}  // namespace
}  // namespace mathcheck
}  // namespace tubefit

int main(int argc, char** argv) {
  using namespace tubefit::mathcheck;
  const uint64_t pairs = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000000ull;
  if (argc > 2 && std::strcmp(argv[2], "time") == 0) {
    Timing();
    return 0;
  }
  if (argc > 2 && std::strcmp(argv[2], "double") == 0) {
    DoubleChecks(pairs);
    return 0;
  }
  std::printf("float functions against the double C library rounded to float; vector paths against the one-point path\n");
  Exhaustive(Function::kExp);
  Exhaustive(Function::kLog);
  Exhaustive(Function::kTanh);
  Exhaustive(Function::kAtan);
  // Bases: softplus values and voltages from 1e-7 to 1e4 V; exponents 0.001 to 5 (ex, ex', ex_b), and the
  // NoltE law's fixed 1.5.
  RandomPow(pairs, -7.0, 4.0, 0.001, 5.0, "x in [1e-7, 1e4] log-uniform, y in [0.001, 5]", 1u);
  RandomPow(pairs / 10, -7.0, 2.5, 1.5, 1.5, "x in [1e-7, 316] log-uniform, y = 1.5", 2u);
  RandomPow(pairs / 10, -3.0, 3.0, -1.0, 0.0, "x in [1e-3, 1e3] log-uniform, y in [-1, 0]", 3u);
  DoubleChecks(pairs);
  Timing();
  return 0;
}
