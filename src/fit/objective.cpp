#include "fit/objective.h"

#include <cmath>
#include <initializer_list>

#include "fit/objective_blocks.h"
#include "models/equations.h"
#include "models/models.h"

namespace tubefit {

std::vector<FitPoint> SelectFitWindow(const MeasurementSet& ms, float Pmax, float Icmax) {
  std::vector<FitPoint> points;
  for (int f = 1; f <= ms.NFiles; ++f) {
    const MeasFile& file = ms.file[f];
    for (int c = 1; c <= file.NVg; ++c) {
      const MeasCurve& curve = file.curve[c];
      for (int p = 1; p <= curve.NPts; ++p) {
        const MeasPoint& m = curve.pt[p];
        if (!InFitWindow(m, Pmax, Icmax)) continue;
        points.push_back(FitPoint{m.Va, m.Vs, curve.Vg1, curve.Vg3, m.Ia, m.Is});
      }
    }
  }
  return points;
}

SimdLevel SupportedSimdLevel() {
#if defined(TUBEFIT_HAVE_SLEEF)
  static const SimdLevel level = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return SimdLevel::kAvx512;
    if (__builtin_cpu_supports("avx2")) return SimdLevel::kAvx2;
    return SimdLevel::kNone;
  }();
  return level;
#else
  return SimdLevel::kNone;
#endif
}

const char* SimdLevelName(SimdLevel level) {
  switch (level) {
    case SimdLevel::kAvx2:
      return "avx2";
    case SimdLevel::kAvx512:
      return "avx512";
    default:
      return "scalar";
  }
}

namespace {

// True when every slot is a real slot (1..MxNP) and no two coincide: then the write-backs of the model
// are independent of each other and of the order in which the equations read the vector, and making them
// once per evaluation is the same as making them at every point.
bool DistinctSlots(std::initializer_list<int32_t> slots) {
  bool used[MxNP + 1] = {};
  for (int32_t s : slots) {
    if (s < 1 || s > MxNP || used[s]) return false;
    used[s] = true;
  }
  return true;
}

bool HasBlocks(int32_t iModel, const Slots& s) {
  switch (iModel) {
    case 0:
      return DistinctSlots({s.k, s.ex, s.eps});
    case 1:
      return DistinctSlots({s.kVB, s.kG1, s.kp, s.ex, s.mu});
    case 12:
    case 22:
    case 32:
      return DistinctSlots({s.kVB, s.kG1, s.kp, s.ex, s.mu, s.kG2, s.alpha_s, s.beta, s.A});
    case 13:
    case 23:
    case 33:
      return DistinctSlots(
          {s.kVB, s.kG1, s.kp, s.ex, s.mu, s.kG2, s.alpha_s, s.beta, s.A, s.Sc, s.nu, s.lambda, s.w, s.alpha_p});
    default:
      return false;
  }
}

// The Koren term's point-independent values; P("kVB") = |kVB| is written back first, as KorenTerm does.
blocks::Koren KorenValues(ParamVector& P, const Slots& s) {
  P[s.kVB] = std::fabs(P[s.kVB]);
  blocks::Koren k;
  k.kp = P[s.kp];
  k.inv_mu = 1.0f / P[s.mu];
  k.kVB = P[s.kVB];
  k.ex = std::fabs(P[s.ex]);
  return k;
}

}  // namespace

FitObjective::FitObjective(const MeasurementSet& ms, float Pmax, float Icmax, int32_t iModel, const Slots& slots)
    : points_(SelectFitWindow(ms, Pmax, Icmax)), iModel_(iModel), slots_(slots), screen_(iModel != 0 && iModel != 1) {
  blocks_ = HasBlocks(iModel_, slots_);
  if (!blocks_) return;
  level_ = SupportedSimdLevel();
  const size_t n = points_.size();
  stride_ = (n + blocks::kPad - 1) / blocks::kPad * blocks::kPad;
  columns_.assign(5 * stride_, 0.0f);
  for (size_t i = 0; i < n; ++i) {
    const FitPoint& p = points_[i];
    columns_[i] = p.Va;
    columns_[stride_ + i] = p.Vs;
    columns_[2 * stride_ + i] = p.Vg1;
    columns_[3 * stride_ + i] = p.Ia;
    columns_[4 * stride_ + i] = p.Is;
  }
}

SimdLevel FitObjective::UseSimd(SimdLevel level) {
  SimdLevel best = SupportedSimdLevel();
  level_ = static_cast<int32_t>(level) < static_cast<int32_t>(best) ? level : best;
  return simd();
}

float FitObjective::operator()(ParamVector& P) const {
  if (simd() != SimdLevel::kNone && !points_.empty()) return BlockSum(P);
  return Pointwise(P);
}

float FitObjective::Pointwise(ParamVector& P) const {
  float S = 0.0f;
  for (const FitPoint& pt : points_) {
    float Ia = 0.0f;
    float Is = 0.0f;
    Model(iModel_, pt.Va, pt.Vs, pt.Vg1, pt.Vg3, P, slots_, Ia, Is);
    float d = pt.Ia - Ia;
    S = S + d * d;
    if (screen_) {
      d = pt.Is - Is;
      S = S + d * d;
    }
  }
  return S;
}

float FitObjective::BlockSum(ParamVector& P) const {
#if defined(TUBEFIT_HAVE_SLEEF)
  const Slots& s = slots_;
  blocks::Columns c;
  c.Va = columns_.data();
  c.Vs = c.Va + stride_;
  c.Vg1 = c.Vs + stride_;
  c.Ia = c.Vg1 + stride_;
  c.Is = c.Ia + stride_;
  c.n = points_.size();
  const bool wide = level_ == SimdLevel::kAvx512;
  switch (iModel_) {
    case 0: {
      blocks::DiodeValues v{P[s.eps], P[s.ex], P[s.k]};
      return wide ? blocks::DiodeSumAvx512(c, v) : blocks::DiodeSumAvx2(c, v);
    }
    case 1: {
      if (P[s.mu] > equations::kMuCap) P[s.mu] = equations::kMuCap;
      blocks::TriodeValues v;
      v.koren = KorenValues(P, s);
      v.kG1 = P[s.kG1];
      return wide ? blocks::TriodeSumAvx512(c, v) : blocks::TriodeSumAvx2(c, v);
    }
    default: {
      // The Nolt family, with the write-backs of its code in the order the equations make them.
      blocks::NoltValues v;
      v.tetrode = iModel_ == 13 || iModel_ == 23 || iModel_ == 33;
      float a_p = 0.0f;
      if (v.tetrode) {
        P[s.beta] = std::fabs(P[s.beta]);
        if (iModel_ != 23 && P[s.alpha_p] > 0.1f) P[s.alpha_p] = 0.1f;
        a_p = P[s.alpha_p];
      }
      v.koren = KorenValues(P, s);
      switch (iModel_) {
        case 12:
        case 13:
          v.division = blocks::kRational;
          break;
        case 32:
        case 33:
          v.division = blocks::kRationalVs;
          break;
        case 22:
          v.division = blocks::kExpPow;
          break;
        default:
          v.division = blocks::kExpSqrt;
          break;
      }
      v.beta = std::fabs(P[s.beta]);
      equations::NoltDivision d = equations::NoltCommon(P, s);
      v.base = d.base;
      v.S = d.S;
      v.A = d.A;
      v.kG1 = d.kG1;
      v.kG2 = d.kG2;
      v.alpha_s = d.alpha_s;
      v.Sc = std::fabs(P[s.Sc]);
      v.nu = std::fabs(P[s.nu]);
      v.lambda = std::fabs(P[s.lambda]);
      v.w = std::fabs(P[s.w]);
      v.neg_a_p = -a_p;
      return wide ? blocks::NoltSumAvx512(c, v) : blocks::NoltSumAvx2(c, v);
    }
  }
#else
  return Pointwise(P);
#endif
}

}  // namespace tubefit
