// The whole fit sequence on the shipped triode example (examples/triode), read as the program reads it
// (ReadIni, ReadMeasurements, ParamIdent, EstStart), from the same start values: by the direction-set fit
// (BM_FitPowell) and by Levenberg-Marquardt (BM_FitLm). Each iteration restores the start values; the
// console lines go nowhere. The counter R2 is the objective at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "core/run_state.h"
#include "driver/config.h"
#include "driver/fit_sequence.h"
#include "driver/measurements.h"
#include "estimate/estimate.h"
#include "fit/objective.h"
#include "models/models.h"

namespace tubefit {
namespace {

namespace fs = std::filesystem;

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

// The triode example read into a run state with its start values, in a scratch copy of the folder whose
// gnuplot line names /bin/true (ReadIni requires the path to exist). The working directory is restored.
std::unique_ptr<RunState> ReadTriodeExample() {
  const fs::path scratch = fs::temp_directory_path() / ("tubefit_bench_" + std::to_string(getpid()));
  fs::create_directories(scratch);
  const fs::path example = fs::path(TUBEFIT_SOURCE_DIR) / "examples" / "triode";
  fs::copy_file(example / "ecc83.utd", scratch / "ecc83.utd", fs::copy_options::overwrite_existing);
  std::ifstream in(example / "Model.ini", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string ini = text.str();
  std::ofstream(scratch / "Model.ini", std::ios::binary) << "/bin/true" << ini.substr(ini.find('\n'));

  const fs::path here = fs::current_path();
  fs::current_path(scratch);
  NullBuffer null_buffer;
  std::ostream null(&null_buffer);
  auto state = std::make_unique<RunState>();
  ReadIni(state->settings, null);
  ReadMeasurements(state->settings, state->meas, null);
  ParamIdent(state->settings.iModel, state->params);
  EstStart(*state, null);
  fs::current_path(here);
  fs::remove_all(scratch);
  return state;
}

void RunSequence(benchmark::State& bench, Minimiser minimiser) {
  std::unique_ptr<RunState> state = ReadTriodeExample();
  state->settings.minimiser = minimiser;
  const Settings& s = state->settings;
  const FitObjective objective(state->meas, s.Pmax, s.Icmax, s.iModel, state->params.slot);
  const Objective F = [&objective](ParamVector& P) { return objective(P); };
  const ParamVector start = state->params.P;
  NullBuffer null_buffer;
  std::ostream null(&null_buffer);
  for (auto _ : bench) {
    state->params.P = start;
    RunFitSequence(*state, F, null, &objective);
    benchmark::DoNotOptimize(state->params.P);
  }
  bench.counters["R2"] = objective(state->params.P);
  bench.counters["points"] = static_cast<double>(objective.points().size());
}

void BM_FitPowell(benchmark::State& bench) { RunSequence(bench, Minimiser::kPowell); }
void BM_FitLm(benchmark::State& bench) { RunSequence(bench, Minimiser::kLm); }

BENCHMARK(BM_FitPowell)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FitLm)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tubefit
