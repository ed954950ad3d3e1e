// Time per point of `Model` over a grid of 9 curves x 31 points, as the fit objective walks it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "models/models.h"

namespace tubefit {
namespace {

struct GridPoint {
  float Va, Vs, Vg1;
};

// 9 grid voltages from 0 to -8 V, anode voltage 0 to 300 V in 10 V steps, screen at Vs.
std::vector<GridPoint> Grid(float Vs, float Vg_step) {
  std::vector<GridPoint> grid;
  for (int32_t c = 0; c < 9; ++c) {
    for (int32_t p = 0; p < 31; ++p) grid.push_back({10.0f * static_cast<float>(p), Vs, -Vg_step * c});
  }
  return grid;
}

void RunModel(benchmark::State& state, int32_t iModel, ParamSet ps, const std::vector<GridPoint>& grid) {
  float sum = 0.0f;
  for (auto _ : state) {
    for (const GridPoint& g : grid) {
      float Ia = 0.0f, Is = 0.0f;
      Model(iModel, g.Va, g.Vs, g.Vg1, 0.0f, ps.P, ps.slot, Ia, Is);
      sum += Ia + Is;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(grid.size()));
  // Seconds per point, printed with an SI prefix ("29n" is 29 ns).
  state.counters["per_point"] = benchmark::Counter(static_cast<double>(grid.size()),
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

void BM_ModelTriode(benchmark::State& state) {
  ParamSet ps;
  ParamIdent(1, ps);
  ps.P[ps.slot.mu] = 100.0f;
  ps.P[ps.slot.ex] = 1.4f;
  ps.P[ps.slot.kG1] = 1060.0f;
  ps.P[ps.slot.kp] = 600.0f;
  ps.P[ps.slot.kVB] = 300.0f;
  RunModel(state, 1, ps, Grid(0.0f, 0.5f));
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

void BM_ModelNoltPentode(benchmark::State& state) {
  ParamSet ps;
  ParamIdent(12, ps);
  SetPentode(ps);
  RunModel(state, 12, ps, Grid(250.0f, 1.0f));
}

void BM_ModelNoltEBeamTetrode(benchmark::State& state) {
  ParamSet ps;
  ParamIdent(23, ps);
  SetPentode(ps);
  ps.P[ps.slot.Sc] = 0.002f;
  ps.P[ps.slot.nu] = 2.0f;
  ps.P[ps.slot.lambda] = 1.5f;
  ps.P[ps.slot.w] = 5.0f;
  ps.P[ps.slot.alpha_p] = 0.05f;
  RunModel(state, 23, ps, Grid(250.0f, 1.0f));
}

BENCHMARK(BM_ModelTriode);
BENCHMARK(BM_ModelNoltPentode);
BENCHMARK(BM_ModelNoltEBeamTetrode);

}  // namespace
}  // namespace tubefit
