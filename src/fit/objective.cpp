#include "fit/objective.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "fit/objective_blocks.h"
#include "models/law.h"
#include "models/model_info.h"
#include "models/models.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {

std::vector<FitPoint> SelectFitWindow(const MeasurementSet& ms, float Pmax, float Icmax,
                                      std::vector<int32_t>* per_curve) {
  std::vector<FitPoint> points;
  for (int f = 1; f <= ms.NFiles; ++f) {
    const MeasFile& file = ms.file[f];
    for (int c = 1; c <= file.NVg; ++c) {
      const MeasCurve& curve = file.curve[c];
      const size_t before = points.size();
      for (int p = 1; p <= curve.NPts; ++p) {
        const MeasPoint& m = curve.pt[p];
        if (!InFitWindow(m, Pmax, Icmax)) continue;
        points.push_back(FitPoint{m.Va, m.Vs, curve.Vg1, curve.Vg3, m.Ia, m.Is});
      }
      if (per_curve) per_curve->push_back(static_cast<int32_t>(points.size() - before));
    }
  }
  return points;
}

SimdLevel SupportedSimdLevel() {
#if defined(TUBEFIT_HAVE_X86_KERNELS)
  static const SimdLevel level = [] {
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("fma")) return SimdLevel::kNone;
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

SimdLevel DefaultSimdLevel() {
  const char* value = std::getenv("TUBEFIT_SIMD");
  if (value == nullptr || *value == '\0') return SupportedSimdLevel();
  const std::string name = value;
  for (SimdLevel level : {SimdLevel::kNone, SimdLevel::kAvx2, SimdLevel::kAvx512}) {
    if (name != SimdLevelName(level)) continue;
    if (static_cast<int32_t>(level) > static_cast<int32_t>(SupportedSimdLevel())) {
      StopWithText("Execution halts",
                   {ListDirected({"TUBEFIT_SIMD=" + name + ": this processor or build has no " + name + " path."})});
    }
    return level;
  }
  StopWithText("Execution halts",
               {ListDirected({"TUBEFIT_SIMD=" + name + " is unknown: use scalar, avx2 or avx512."})});
}

namespace {

// True when every slot the law uses is a real slot (1..MxNP) and no two coincide: then its write-backs
// are independent of each other and of the order in which the law reads the vector, and forming its
// effective parameters once is the same as forming them at every point.
template <class Law>
bool DistinctSlots(const Slots& s) {
  bool used[MxNP + 1] = {};
  for (SlotKey field : Law::kSlots) {
    if (field.empty()) break;
    const int32_t slot = field.Of(s);
    if (slot < 1 || slot > MxNP || used[slot]) return false;
    used[slot] = true;
  }
  return true;
}

}  // namespace

FitObjective::FitObjective(const MeasurementSet& ms, float Pmax, float Icmax, int32_t iModel, const Slots& slots)
    : ms_(ms),
      points_(SelectFitWindow(ms, Pmax, Icmax, &curve_points_)),
      iModel_(iModel),
      slots_(slots),
      screen_(ModelInfoFor(iModel).screen_in_objective) {
  // The block sum and controls of each law, by law index.
  struct LawSum {
    bool (*distinct)(const Slots&);
    float (FitObjective::*block_sum)(ParamVector&) const;
    int32_t controls;
  };
  static const auto kSums = law::LawTable<LawSum>([](auto lw) {
    using Law = decltype(lw);
    return LawSum{&DistinctSlots<Law>, &FitObjective::BlockSum<Law>, law::ControlCount<Law>::value};
  });
  const int32_t law_index = ModelInfoFor(iModel).law;
  if (law_index >= 0) {
    const LawSum& sum = kSums[static_cast<size_t>(law_index)];
    if (sum.distinct(slots_)) block_sum_ = sum.block_sum;
    controls_ = sum.controls;
  }
  if (!block_sum_) return;
  level_ = DefaultSimdLevel();
  const size_t n = points_.size();
  stride_ = (n + blocks::kPad - 1) / blocks::kPad * blocks::kPad + blocks::kPad;
  columns_.assign(6 * stride_, 0.0f);
  for (size_t i = 0; i < n; ++i) {
    const FitPoint& p = points_[i];
    columns_[i] = p.Va;
    columns_[stride_ + i] = p.Vs;
    columns_[2 * stride_ + i] = p.Vg1;
    columns_[3 * stride_ + i] = p.Vg3;
    columns_[4 * stride_ + i] = p.Ia;
    columns_[5 * stride_ + i] = p.Is;
  }
  if (controls_ == 0) return;
  // (voltages compared bit for bit, so that -0 and 0 stay apart as the point-by-point pass has them)
  auto bits = [](float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
  };
  std::map<std::array<uint32_t, 3>, uint32_t> index;
  std::vector<std::array<float, 3>> keys;
  key_of_.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const FitPoint& p = points_[i];
    const auto found =
        index.emplace(std::array<uint32_t, 3>{bits(p.Vs), bits(p.Vg1), bits(p.Vg3)}, static_cast<uint32_t>(keys.size()));
    if (found.second) keys.push_back({p.Vs, p.Vg1, p.Vg3});
    key_of_[i] = found.first->second;
    if (key_runs_.empty() || key_runs_.back().key != key_of_[i]) key_runs_.push_back({i, i, key_of_[i]});
    key_runs_.back().end = i + 1;
  }
  if (key_runs_.size() * kRunLength > n) key_runs_.clear();
  if (keys.size() == n) {  // nothing shared: the kernel forms the controls at every point
    key_of_.clear();
    return;
  }
  nkeys_ = keys.size();
  key_stride_ = (nkeys_ + blocks::kPad - 1) / blocks::kPad * blocks::kPad + blocks::kPad;
  keys_.assign(3 * key_stride_, 0.0f);
  for (size_t k = 0; k < nkeys_; ++k) {
    keys_[k] = keys[k][0];
    keys_[key_stride_ + k] = keys[k][1];
    keys_[2 * key_stride_ + k] = keys[k][2];
  }
  key_ctrl_.assign(static_cast<size_t>(controls_) * key_stride_, 0.0f);
  ctrl_.assign(static_cast<size_t>(controls_) * stride_, 0.0f);
}

SimdLevel FitObjective::UseSimd(SimdLevel level) {
  SimdLevel best = SupportedSimdLevel();
  level_ = static_cast<int32_t>(level) < static_cast<int32_t>(best) ? level : best;
  return simd();
}

float FitObjective::operator()(const ParamVector& P) const {
  ParamVector Q = P;
  if (block_sum_ && !points_.empty()) return (this->*block_sum_)(Q);
  return Pointwise(Q);
}

float FitObjective::operator()(const ParamVector& P, ParamVector& written_back) const {
  written_back = P;
  if (block_sum_ && !points_.empty()) return (this->*block_sum_)(written_back);
  return Pointwise(written_back);
}

FitFunction FitObjective::ForFit() const {
  return FitFunction::WithWriteBack(
      [this](const ParamVector& P, ParamVector& written_back) { return (*this)(P, written_back); });
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

// Each point's controls are its key's: copied run by run (the first run found by its end), or point by point.
void FitObjective::SpreadControls(size_t begin, size_t end) const {
  if (key_runs_.empty()) {
    for (int32_t j = 0; j < controls_; ++j) {
      const float* from = key_ctrl_.data() + static_cast<size_t>(j) * key_stride_;
      float* to = ctrl_.data() + static_cast<size_t>(j) * stride_;
      for (size_t i = begin; i < end; ++i) to[i] = from[key_of_[i]];
    }
    return;
  }
  auto run = std::upper_bound(key_runs_.begin(), key_runs_.end(), begin,
                              [](size_t point, const KeyRun& r) { return point < r.end; });
  for (; run != key_runs_.end() && run->begin < end; ++run) {
    const size_t first = std::max(run->begin, begin), last = std::min(run->end, end);
    for (int32_t j = 0; j < controls_; ++j) {
      float* to = ctrl_.data() + static_cast<size_t>(j) * stride_;
      std::fill(to + first, to + last, key_ctrl_[static_cast<size_t>(j) * key_stride_ + run->key]);
    }
  }
}

template <class Law>
float FitObjective::Sum(size_t begin, size_t end, float S, const typename Law::template Params<float>& e) const {
  blocks::Columns c;
  c.Va = columns_.data();
  c.Vs = c.Va + stride_;
  c.Vg1 = c.Vs + stride_;
  c.Vg3 = c.Vg1 + stride_;
  c.Ia = c.Vg3 + stride_;
  c.Is = c.Ia + stride_;
  c.n = points_.size();
  // Shared controls pay once a range holds more points than the window has distinct voltages.
  if (nkeys_ > 0 && end - begin > nkeys_) {
    blocks::Columns keys;
    keys.Vs = keys_.data();
    keys.Vg1 = keys.Vs + key_stride_;
    keys.Vg3 = keys.Vg1 + key_stride_;
    keys.n = nkeys_;
    float* out = key_ctrl_.data();
#if defined(TUBEFIT_HAVE_X86_KERNELS)
    if (level_ == SimdLevel::kAvx512) {
      blocks::ControlsAvx512<Law>(keys, e, out, key_stride_);
    } else if (level_ == SimdLevel::kAvx2) {
      blocks::ControlsAvx2<Law>(keys, e, out, key_stride_);
    } else {
      blocks::ControlsScalar<Law>(keys, e, out, key_stride_);
    }
#else
    blocks::ControlsScalar<Law>(keys, e, out, key_stride_);
#endif
    SpreadControls(begin, end);
    c.ctrl = ctrl_.data();
    c.ctrl_stride = stride_;
  }
#if defined(TUBEFIT_HAVE_X86_KERNELS)
  if (level_ == SimdLevel::kAvx512) return blocks::SumAvx512<Law>(c, begin, end, screen_, S, e);
  if (level_ == SimdLevel::kAvx2) return blocks::SumAvx2<Law>(c, begin, end, screen_, S, e);
#endif
  return blocks::SumScalar<Law>(c, begin, end, screen_, S, e);
}

// The point-by-point pass forms the effective parameters at each point from the vector as the previous
// point left it. Each law's write-back is idempotent (it writes effective values, which the next forming
// gives back unchanged, or absolute values), so once a point sees the same values as the one before,
// every later point sees them too: only the points before that are evaluated one at a time.
template <class Law>
float FitObjective::BlockSum(ParamVector& P) const {
  using Params = typename Law::template Params<float>;
  const size_t n = points_.size();
  Params e = Law::Effective(P.data(), slots_);
  Law::WriteBack(e, P, slots_);
  float S = 0.0f;
  for (size_t i = 0;; ++i) {
    const Params next = Law::Effective(P.data(), slots_);
    if (i + 1 >= n || std::memcmp(&next, &e, sizeof e) == 0) return Sum<Law>(i, n, S, e);
    S = Sum<Law>(i, i + 1, S, e);
    e = next;
    Law::WriteBack(e, P, slots_);
  }
}

}  // namespace tubefit
