#include "fit/lm.h"

#include <ceres/ceres.h>
#include <glog/logging.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <type_traits>
#include <vector>

#include "models/law.h"
#include "models/law_jet.h"
#include "models/model_info.h"
#include "text/format.h"

namespace tubefit {

namespace {

using law::kInf;
// Not in sanitizer builds: there the flattened loops of every lane count take GCC more than half an hour.
#if defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__)
#define TUBEFIT_FLATTEN __attribute__((flatten))
#else
#define TUBEFIT_FLATTEN
#endif
constexpr double kPerMilliampere = 1000.0;  // residuals in mA, so the sums the solver sees are of order 1

// The number of parameters a law reads (its slot list up to the null entry).
template <class Law>
constexpr int LawSlotCount() {
  int n = 0;
  for (SlotKey field : Law::kSlots) {
    if (field.empty()) break;
    ++n;
  }
  return n;
}

bool Finite(double x) { return std::isfinite(x); }

// A Jet with a finite value: derivatives that are not finite come from removable singularities of the law
// (x sqrt(x) of the NoltE beam tetrode at Va = 0, whose derivative is 0) and count as 0.
template <int N>
bool Finite(ceres::Jet<double, N>& x) {
  if (!std::isfinite(x.a)) return false;
  for (int i = 0; i < N; ++i) {
    if (!std::isfinite(x.v[i])) x.v[i] = 0.0;
  }
  return true;
}

// The residuals of the fit objective for a law with N parameters in slots 1..N: at every point of the
// window, in its order, the measured minus the modelled anode current and, where the objective counts it,
// the screen current, in mA. The solver's variables are M of the parameters (lanes[0..M), lanes past the
// free ones are -1 and change nothing), each divided by its scale; the others keep the values of y0. The
// derivatives are carried for those M alone: a stage that holds most parameters pays for the few it frees.
template <class Law, int N, int M>
class Residuals {
 public:
  Residuals(const FitObjective& F, bool screen, const double* base, const double* scale, const double* y0,
            const int* lanes)
      : points_(F.points()), slots_(F.slots()), screen_(screen) {
    for (int i = 0; i <= MxNP; ++i) base_[i] = base[i];
    for (int i = 0; i < N; ++i) {
      scale_[i] = scale[i];
      fixed_[i] = y0[i] * scale[i];
    }
    for (int j = 0; j < M; ++j) lanes_[j] = lanes[j];
    if (kControls == 0) return;
    // The distinct (Vs, Vg1, Vg3) of the window: the law's grid-and-screen controls are formed once for
    // each, and the points of a curve at a constant screen voltage share them.
    // (compared bit for bit, so that -0 and 0 stay apart as the point-by-point law has them)
    auto bits = [](float v) {
      uint32_t b;
      std::memcpy(&b, &v, sizeof b);
      return b;
    };
    std::map<std::array<uint32_t, 3>, int32_t> index;
    key_of_.reserve(points_.size());
    for (const FitPoint& pt : points_) {
      const auto found = index.emplace(std::array<uint32_t, 3>{bits(pt.Vs), bits(pt.Vg1), bits(pt.Vg3)},
                                       static_cast<int32_t>(keys_.size()));
      if (found.second) keys_.push_back({pt.Vs, pt.Vg1, pt.Vg3});
      key_of_.push_back(found.first->second);
    }
  }

  // The residuals at y; with derivatives (Jets), the last result again where y is the last y. The solver
  // asks twice for the derivatives at most points it moves to: in its line search along the step, and
  // again when it takes the step.
  template <class T>
  bool operator()(const T* y, T* r) const {
    if constexpr (std::is_same<T, double>::value) {
      return Evaluate(y, r);
    } else {
      const size_t count = points_.size() * (screen_ ? 2 : 1);
      auto same = [](const T& a, const T& b) {
        return std::memcmp(&a.a, &b.a, sizeof a.a) == 0 &&
               std::memcmp(a.v.data(), b.v.data(), sizeof(double) * M) == 0;
      };
      bool hit = last_.size() == count;
      for (int j = 0; hit && j < M; ++j) hit = same(y[j], last_y_[j]);
      if (hit) {
        std::copy(last_.begin(), last_.end(), r);
        return last_ok_;
      }
      last_ok_ = Evaluate(y, r);
      last_.assign(r, r + count);
      std::copy(y, y + M, last_y_.begin());
      return last_ok_;
    }
  }

 private:
  // (flattened: the Jet arithmetic of the law inlined into one loop is about twice as fast as its calls)
  template <class T>
  TUBEFIT_FLATTEN bool Evaluate(const T* y, T* r) const {
    T P[MxNP + 1];
    for (int i = 0; i <= MxNP; ++i) P[i] = T(base_[i]);
    for (int i = 0; i < N; ++i) P[i + 1] = T(fixed_[i]);
    for (int j = 0; j < M; ++j) {
      if (lanes_[j] >= 0) P[lanes_[j] + 1] = y[j] * scale_[lanes_[j]];
    }
    const typename Law::template Params<T> e = Law::Effective(static_cast<const T*>(P), slots_);
    std::vector<T> controls(keys_.size() * static_cast<size_t>(kControls));
    for (size_t k = 0; k < keys_.size(); ++k) {
      const law::Point<T> x{T(0.0), T(keys_[k][0]), T(keys_[k][1]), T(keys_[k][2])};
      if constexpr (kControls > 0) Law::Controls(e, x, &controls[k * kControls]);
    }
    T* out = r;
    for (size_t i = 0; i < points_.size(); ++i) {
      const FitPoint& pt = points_[i];
      const law::Point<T> x{T(pt.Va), T(pt.Vs), T(pt.Vg1), T(pt.Vg3)};
      T Ia(0.0), Is(0.0);
      if constexpr (kControls > 0) {
        Law::CurrentsWith(e, static_cast<const T*>(&controls[key_of_[i] * kControls]), x, Ia, Is);
      } else {
        Law::Currents(e, x, Ia, Is);
      }
      *out = (T(pt.Ia) - Ia) * kPerMilliampere;
      if (!Finite(*out++)) return false;
      if (screen_) {
        *out = (T(pt.Is) - Is) * kPerMilliampere;
        if (!Finite(*out++)) return false;
      }
    }
    return true;
  }

  using Jet = ceres::Jet<double, M>;
  static constexpr int kControls = law::ControlCount<Law>::value;
  const std::vector<FitPoint>& points_;
  Slots slots_;
  bool screen_;
  double base_[MxNP + 1];
  double scale_[N];
  double fixed_[N];  // the parameters at y0
  int lanes_[M];
  std::vector<std::array<float, 3>> keys_;  // distinct (Vs, Vg1, Vg3), with kControls > 0
  std::vector<int32_t> key_of_;             // each point's
  mutable std::vector<Jet> last_;           // the last residuals with derivatives (none before the first)
  mutable std::array<Jet, M> last_y_;       // and their variables
  mutable bool last_ok_ = false;
};

struct Solution {
  bool converged = false;
  int32_t iterations = 0;
  std::string reason;
  ParamVector P{};  // the result (slots 1..n changed), when converged
};

std::string Reason(const ceres::Solver::Summary& s, const LmOptions& options) {
  auto starts = [&s](const char* text) { return s.message.rfind(text, 0) == 0; };
  switch (s.termination_type) {
    case ceres::CONVERGENCE:
      if (starts("Function tolerance")) return "converged (change of R2 below tolerance)";
      if (starts("Gradient tolerance")) return "converged (gradient below tolerance)";
      if (starts("Parameter tolerance")) return "converged (step below tolerance)";
      return "converged";
    case ceres::NO_CONVERGENCE:
      return "no convergence within " + RenderI(options.max_iterations, 0) + " iterations";
    case ceres::USER_FAILURE:
      return "non-finite residuals";
    default:
      if (s.message.find("evaluation failed") != std::string::npos) return "non-finite residuals";
      return "numerical failure";
  }
}

ceres::Solver::Options SolverOptions(const LmOptions& options) {
  // The solver's own log (glog, on standard error, with time stamps and process ids) stays silent: its
  // termination reaches the console through the summary. Ceres's minimal logging (the Windows build) has
  // no run-time level: tools/deps-windows.sh builds it to log fatal errors only.
#ifndef TUBEFIT_CERES_MINIGLOG
  FLAGS_minloglevel = google::GLOG_FATAL;
#endif
  ceres::Solver::Options o;
  o.minimizer_type = ceres::TRUST_REGION;
  o.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
  o.linear_solver_type = ceres::DENSE_QR;
  o.num_threads = 1;
  o.max_num_iterations = options.max_iterations;
  o.function_tolerance = options.function_tolerance;
  o.parameter_tolerance = options.parameter_tolerance;
  o.gradient_tolerance = options.gradient_tolerance;
  o.initial_trust_region_radius = options.initial_radius;
  o.logging_type = ceres::SILENT;
  o.minimizer_progress_to_stdout = false;
  return o;
}

// One solve of the free parameters (fixed[i] false) of y, with derivatives in M lanes (M >= their count).
template <class Law, int N, int M>
void SolveLanes(const FitObjective& F, bool screen, int residuals, const double* base, const double* scale,
                const double* lo, const double* hi, const std::vector<bool>& fixed,
                const ceres::Solver::Options& o, double* y, ceres::Solver::Summary* summary) {
  int lanes[M];
  double x[M];
  int c = 0;
  for (int i = 0; i < N; ++i) {
    if (fixed[i]) continue;
    lanes[c] = i;
    x[c++] = y[i];
  }
  for (int j = c; j < M; ++j) {
    lanes[j] = -1;
    x[j] = 0.0;
  }
  ceres::Problem problem;
  problem.AddResidualBlock(new ceres::AutoDiffCostFunction<Residuals<Law, N, M>, ceres::DYNAMIC, M>(
                               new Residuals<Law, N, M>(F, screen, base, scale, y, lanes), residuals),
                           nullptr, x);
  if (c < M) {
    std::vector<int> unused;
    for (int j = c; j < M; ++j) unused.push_back(j);
    problem.SetManifold(x, new ceres::SubsetManifold(M, unused));
  }
  for (int j = 0; j < c; ++j) {
    const int i = lanes[j];
    if (lo[i + 1] > -kInf) problem.SetParameterLowerBound(x, j, lo[i + 1] / scale[i]);
    if (hi[i + 1] < kInf) problem.SetParameterUpperBound(x, j, hi[i + 1] / scale[i]);
  }
  ceres::Solve(o, &problem, summary);
  for (int j = 0; j < c; ++j) y[lanes[j]] = x[j];
}

// The lane counts compiled for a law of N parameters: 4 and 6 (the first stages of the screen-grid laws
// free a few parameters), 9 (those that hold the triode part) and N.
template <class Law, int N>
void SolveRound(int free_count, const FitObjective& F, bool screen, int residuals, const double* base,
                const double* scale, const double* lo, const double* hi, const std::vector<bool>& fixed,
                const ceres::Solver::Options& o, double* y, ceres::Solver::Summary* summary) {
  if constexpr (N > 4) {
    if (free_count <= 4) {
      return SolveLanes<Law, N, 4>(F, screen, residuals, base, scale, lo, hi, fixed, o, y, summary);
    }
  }
  if constexpr (N > 6) {
    if (free_count <= 6) {
      return SolveLanes<Law, N, 6>(F, screen, residuals, base, scale, lo, hi, fixed, o, y, summary);
    }
  }
  if constexpr (N > 9) {
    if (free_count <= 9) {
      return SolveLanes<Law, N, 9>(F, screen, residuals, base, scale, lo, hi, fixed, o, y, summary);
    }
  }
  SolveLanes<Law, N, N>(F, screen, residuals, base, scale, lo, hi, fixed, o, y, summary);
}

// Solves the stage for one law: slots 1..n free, n+1..N constant.
template <class Law>
Solution SolveWith(const FitObjective& F, const ParamVector& start, int32_t n, const LmOptions& options) {
  constexpr int N = LawSlotCount<Law>();
  Solution sol;
  // The law's parameters must be slots 1..N (as ParamIdent numbers them), each once.
  bool used[MxNP + 1] = {};
  for (SlotKey field : Law::kSlots) {
    if (field.empty()) break;
    const int32_t slot = field.Of(F.slots());
    if (slot < 1 || slot > N || used[slot]) {
      sol.reason = "numerical failure (parameter slots do not match the model)";
      return sol;
    }
    used[slot] = true;
  }
  if (n < 1 || n > N) {
    sol.reason = "numerical failure (free parameters not in the model)";
    return sol;
  }

  double base[MxNP + 1];
  for (int i = 0; i <= MxNP; ++i) base[i] = start[i];
  std::vector<double> lo(N + 1, -kInf), hi(N + 1, kInf);
  for (const law::Bound& b : Law::Bounds()) {
    const int32_t slot = b.field.Of(F.slots());
    if (b.magnitude) base[slot] = std::fabs(base[slot]);
    base[slot] = std::fmin(std::fmax(base[slot], b.lo), b.hi);
    lo[slot] = b.lo;
    hi[slot] = b.hi;
  }
  double scale[N];
  double y[N];
  for (int i = 0; i < N; ++i) {
    const double v = base[i + 1];
    scale[i] = v != 0.0 ? std::fabs(v) : 1.0;
    y[i] = v / scale[i];
  }

  const bool screen = ModelInfoFor(F.iModel()).screen_in_objective;
  const int residuals = static_cast<int>(F.points().size()) * (screen ? 2 : 1);
  if (residuals == 0) {
    sol.reason = "numerical failure (no points in the fit)";
    return sol;
  }
  // Ceres keeps the bounds by projecting each step onto them; a parameter that the fit drives against its
  // bound then cuts every step short and the solver stalls beside the minimum. So a parameter that ends a
  // solve on its bound is held there, and the others are solved again, until no more parameter is held.
  std::vector<bool> fixed(N, false);
  for (int i = n; i < N; ++i) fixed[i] = true;
  ceres::Solver::Summary summary;
  double converged_y[N] = {};
  for (int round = 0; round < N; ++round) {
    int free_count = 0;
    for (int i = 0; i < N; ++i) free_count += fixed[i] ? 0 : 1;
    if (free_count == 0) break;
    ceres::Solver::Summary round_summary;
    ceres::Solver::Options o = SolverOptions(options);
    if (round > 0) o.max_num_iterations = options.max_held_iterations;
    SolveRound<Law, N>(free_count, F, screen, residuals, base, scale, lo.data(), hi.data(), fixed, o, y,
                       &round_summary);
    // (the summary lists iteration 0, the evaluation at the start, as well)
    sol.iterations += std::max(static_cast<int32_t>(round_summary.iterations.size()) - 1, 0);
    if (round > 0 && round_summary.termination_type != ceres::CONVERGENCE) {
      // the solve with parameters held did not converge: the result of the one before stands, unless
      // unconverged results count and this one is lower
      if (options.keep_unconverged && round_summary.termination_type == ceres::NO_CONVERGENCE &&
          round_summary.final_cost < summary.final_cost) {
        summary = round_summary;
      } else {
        for (int i = 0; i < N; ++i) y[i] = converged_y[i];
      }
      break;
    }
    summary = round_summary;
    if (summary.termination_type != ceres::CONVERGENCE) break;
    for (int i = 0; i < N; ++i) converged_y[i] = y[i];
    bool held = false;
    for (int i = 0; i < N; ++i) {
      if (fixed[i]) continue;
      if (y[i] == lo[i + 1] / scale[i] || y[i] == hi[i + 1] / scale[i]) fixed[i] = held = true;
    }
    if (!held) break;
  }

  sol.reason = Reason(summary, options);
  sol.converged = summary.termination_type == ceres::CONVERGENCE ||
                  (options.keep_unconverged && summary.termination_type == ceres::NO_CONVERGENCE);
  sol.P = start;
  for (int i = 0; i < n; ++i) sol.P[i + 1] = static_cast<float>(y[i] * scale[i]);
  for (int i = 1; i <= n; ++i) {
    if (!std::isfinite(sol.P[i])) sol.converged = false;
  }
  if (!sol.converged && summary.termination_type == ceres::CONVERGENCE) sol.reason = "numerical failure";
  return sol;
}

}  // namespace

LmSummary FitLm(ParamVector& P, int32_t n, const FitObjective& F, const LmOptions& options) {
  using Solve = Solution (*)(const FitObjective&, const ParamVector&, int32_t, const LmOptions&);
  static const auto kSolvers = law::LawTable<Solve>([](auto lw) { return &SolveWith<decltype(lw)>; });
  const ModelInfo& model = ModelInfoFor(F.iModel());
  const int32_t law_index = model.law;
  const SlotMask kept = SignedSlots(model);
  LmSummary out;
  out.R2_before = F(P, P);
  const ParamVector start = P;

  // A solve from the start with a wide first trust region, which reaches far minima in few steps. A wide
  // first step can also leave the basin of the start for a worse minimum (or one where the model has no
  // slope, below cut-off): when the solve converges above retry_fraction of the start's objective, a second
  // solve from the start with a narrow first region runs too, and the better converged result counts.
  bool have = false;
  ParamVector best{};
  float best_R2 = 0.0f;
  Solution reported;
  reported.reason = "numerical failure (no model law)";
  int32_t iterations = 0;
  for (const double radius : {options.initial_radius, options.second_radius}) {
    if (!(radius > 0.0)) continue;
    if (radius != options.initial_radius && (!have || best_R2 <= options.retry_fraction * out.R2_before)) break;
    LmOptions o = options;
    o.initial_radius = radius;
    Solution sol;
    sol.reason = "numerical failure (no model law)";
    if (law_index >= 0) sol = kSolvers[static_cast<size_t>(law_index)](F, start, n, o);
    iterations += sol.iterations;
    if (!sol.converged) {
      if (!have) reported = sol;
      continue;
    }
    ParamVector result = sol.P;
    for (int i = 1; i <= MxNP; ++i) {
      if (!kept[i]) result[i] = std::fabs(result[i]);
    }
    const float R2 = F(result, result);
    if (!have || R2 < best_R2 || (!std::isfinite(best_R2) && std::isfinite(R2))) {
      have = true;
      best = result;
      best_R2 = R2;
      reported = sol;
    }
  }

  if (!have) {
    out.outcome = LmOutcome::kFailed;
  } else if (best_R2 <= out.R2_before || (!std::isfinite(out.R2_before) && std::isfinite(best_R2))) {
    out.outcome = LmOutcome::kImproved;
    P = best;
  } else {
    out.outcome = LmOutcome::kWorse;
  }
  if (out.outcome != LmOutcome::kImproved) P = start;
  out.iterations = iterations;
  out.reason = reported.reason;
  out.R2_after = F(P, P);
  return out;
}

}  // namespace tubefit
