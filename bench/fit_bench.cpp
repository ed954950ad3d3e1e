// Cost of the fit: one FitObjective evaluation (time per point in the window) for every model code on
// every path (one point at a time, AVX2, AVX-512), and a whole triode fit from fixed start values on a 9-curve x 31-point
// and a 20-curve x 200-point synthetic set.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <streambuf>
#include <utility>
#include <vector>

#include "core/matrix.h"
#include "core/measurement_set.h"
#include "fit/fit.h"
#include "fit/objective.h"
#include "models/models.h"

namespace tubefit {
namespace {

// Noise-free measurements of the model: `curves` grid voltages evenly from 0 down to -vg_span, `points`
// anode voltages from 0 to 300 V, screen at Vs, g3 at -2 V.
std::unique_ptr<MeasurementSet> Synthetic(int32_t iModel, ParamSet ps, int curves, int points, float vg_span,
                                          float Vs) {
  auto ms = std::make_unique<MeasurementSet>();
  ms->NFiles = 1;
  MeasFile& file = ms->file[1];
  file.NVg = curves;
  for (int c = 1; c <= curves; ++c) {
    MeasCurve& curve = file.curve[c];
    curve.Vg1 = -vg_span * static_cast<float>(c - 1) / static_cast<float>(curves - 1);
    curve.Vg3 = -2.0f;
    curve.NPts = points;
    for (int p = 1; p <= points; ++p) {
      MeasPoint& m = curve.pt[p];
      m.Va = 300.0f * static_cast<float>(p - 1) / static_cast<float>(points - 1);
      m.Vs = Vs;
      float Ia = 0.0f, Is = 0.0f;
      Model(iModel, m.Va, m.Vs, curve.Vg1, curve.Vg3, ps.P, ps.slot, Ia, Is);
      m.Ia = Ia;
      m.Is = Is;
    }
  }
  return ms;
}

ParamSet Triode() {
  ParamSet ps;
  ParamIdent(1, ps);
  ps.P[ps.slot.mu] = 100.0f;
  ps.P[ps.slot.ex] = 1.4f;
  ps.P[ps.slot.kG1] = 1060.0f;
  ps.P[ps.slot.kp] = 600.0f;
  ps.P[ps.slot.kVB] = 300.0f;
  return ps;
}

void SetPentode(ParamSet& ps) {
  ps.P[ps.slot.alpha_s] = 2.0f;
  ps.P[ps.slot.beta] = 0.05f;
  ps.P[ps.slot.A] = 0.0005f;
  ps.P[ps.slot.kG2] = 3000.0f;
  ps.P[ps.slot.kG1] = 600.0f;
  ps.P[ps.slot.mu] = 20.0f;
  ps.P[ps.slot.ex] = 1.35f;
  ps.P[ps.slot.kp] = 40.0f;
  ps.P[ps.slot.kVB] = 20.0f;
}

// Typical parameters of a screen-grid code: the pentode's, and those of the code's own parameters.
ParamSet ScreenGrid(int32_t iModel) {
  ParamSet ps;
  ParamIdent(iModel, ps);
  SetPentode(ps);
  const Slots& s = ps.slot;
  const std::pair<int32_t, float> extra[] = {
      {s.Sc, 0.002f},  {s.nu, 2.0f},    {s.lambda, 1.5f}, {s.w, 5.0f},     {s.alpha_p, 0.05f},
      {s.mu_b, 8.0f},  {s.ex_b, 1.2f},  {s.svar, 0.4f},   {s.mu_p, 8.0f},  {s.ex_p, 1.2f},
      {s.kG1_p, 3.0f}, {s.kp_p, 30.0f}, {s.kVB_p, 100.0f}, {s.mu3, 15.0f}, {s.V0, 2.0f}};
  for (const auto& [slot, value] : extra) {
    if (slot) ps.P[slot] = value;
  }
  ps.P[0] = 0.0f;
  return ps;
}

ParamSet Diode() {
  ParamSet ps;
  ParamIdent(0, ps);
  ps.P[ps.slot.k] = 500.0f;
  ps.P[ps.slot.ex] = 1.4f;
  ps.P[ps.slot.eps] = 1.5f;
  return ps;
}

// Time per point, shown with an SI prefix ("14n" is 14 ns); items_processed counts points.
void PerPoint(benchmark::State& state, size_t points) {
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(points));
  state.counters["per_point"] = benchmark::Counter(
      static_cast<double>(points), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// One objective evaluation at a vector 10% off the generating one (so the errors are not all 0). Arguments:
// curves, points per curve, and the widest vector level to use (0 point by point, 1 AVX2, 2 AVX-512; the
// label names the level actually used).
void RunObjective(benchmark::State& state, int32_t iModel, ParamSet truth, float Vs, float vg_span) {
  auto ms = Synthetic(iModel, truth, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                      vg_span, Vs);
  FitObjective F(*ms, 1e30f, 1e30f, iModel, truth.slot);
  SimdLevel level = F.UseSimd(static_cast<SimdLevel>(state.range(2)));
  if (static_cast<int64_t>(level) != state.range(2)) {
    state.SkipWithError("vector level not supported here");
    return;
  }
  state.SetLabel(SimdLevelName(level));
  ParamVector P = truth.P;
  for (int i = 1; i <= truth.NFit; ++i) P[i] *= 1.1f;
  for (auto _ : state) {
    float S = F(P);
    benchmark::DoNotOptimize(S);
  }
  PerPoint(state, F.points().size());
}

// One objective evaluation of a model code; arguments as for RunObjective.
void BM_Objective(benchmark::State& state, int32_t iModel) {
  if (iModel == 0) return RunObjective(state, 0, Diode(), 0.0f, 0.0f);
  if (iModel == 1) return RunObjective(state, 1, Triode(), 0.0f, 4.0f);
  RunObjective(state, iModel, ScreenGrid(iModel), 250.0f, 8.0f);
}

// A whole triode fit (one Fit call with NFit 5 and tolerance 1e-6, as the triode fit sequence runs it)
// from start values 20% off the generating ones. Arguments as for the objective.
void BM_FitTriode(benchmark::State& state) {
  ParamSet truth = Triode();
  auto ms = Synthetic(1, truth, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 4.0f, 0.0f);
  FitObjective obj(*ms, 1e30f, 1e30f, 1, truth.slot);
  SimdLevel level = obj.UseSimd(static_cast<SimdLevel>(state.range(2)));
  if (static_cast<int64_t>(level) != state.range(2)) {
    state.SkipWithError("vector level not supported here");
    return;
  }
  state.SetLabel(SimdLevelName(level));
  FitOptions options;
  options.NFit = 5;
  options.ftol = 1e-6f;
  options.kept_sign[truth.slot.eps] = truth.slot.eps != 0;
  const float factor[6] = {0.0f, 1.2f, 0.8f, 1.2f, 0.8f, 1.2f};
  int64_t evaluations = 0;
  const FitFunction counted =
      FitFunction::WithWriteBack([&obj, &evaluations](const ParamVector& P, ParamVector& written_back) {
        ++evaluations;
        return obj(P, written_back);
      });
  for (auto _ : state) {
    ParamVector P = truth.P;
    for (int i = 1; i <= 5; ++i) P[i] *= factor[i];
    Fit(P, counted, options);
    benchmark::DoNotOptimize(P);
  }
  state.counters["evaluations"] =
      benchmark::Counter(static_cast<double>(evaluations), benchmark::Counter::kAvgIterations);
  state.counters["points"] = static_cast<double>(obj.points().size());
}

BENCHMARK_CAPTURE(BM_Objective, Diode_0, 0)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}});
BENCHMARK_CAPTURE(BM_Objective, Triode_1, 1)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}});
BENCHMARK_CAPTURE(BM_Objective, KorenPentode_2, 2)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}});
BENCHMARK_CAPTURE(BM_Objective, NoltPentode_12, 12)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}});
BENCHMARK_CAPTURE(BM_Objective, NoltEPentode_22, 22)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}});
BENCHMARK_CAPTURE(BM_Objective, NoltIPentode_32, 32)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}});
BENCHMARK_CAPTURE(BM_Objective, NoltBeamTetrode_13, 13)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}});
BENCHMARK_CAPTURE(BM_Objective, NoltEBeamTetrode_23, 23)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}});
BENCHMARK_CAPTURE(BM_Objective, NoltIBeamTetrode_33, 33)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}});
BENCHMARK_CAPTURE(BM_Objective, Hexode_14, 14)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}});
BENCHMARK_CAPTURE(BM_Objective, G3PentodeNolt_15, 15)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}});
BENCHMARK_CAPTURE(BM_Objective, G3PentodeNoltE_25, 25)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}});
BENCHMARK_CAPTURE(BM_Objective, VarMuNolt_16, 16)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}});
BENCHMARK_CAPTURE(BM_Objective, VarMuNoltE_26, 26)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}});
BENCHMARK(BM_FitTriode)->ArgsProduct({{9, 20}, {31, 200}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tubefit
