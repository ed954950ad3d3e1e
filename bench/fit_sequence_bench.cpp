// The whole fit sequence on shipped examples, read as the program reads them (ReadIni, ReadMeasurements,
// DetSweep, ParamIdent, EstStart), from the same start values: the triode (examples/triode) by the
// direction-set fit (BM_FitPowell) and by Levenberg-Marquardt (BM_FitLm), and the NoltE beam tetrode
// (examples/beam_tetrode, three stages) by both (BM_FitPowellBeamTetrode, BM_FitLmBeamTetrode). Each
// iteration restores the start values; the console lines go nowhere. The counter R2 is the objective at
// the end.
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

// An example folder read into a run state with its start values, in a scratch copy whose gnuplot line
// names /bin/true (ReadIni requires the path to exist). The working directory is restored.
std::unique_ptr<RunState> ReadExample(const std::string& name) {
  const fs::path scratch = fs::temp_directory_path() / ("tubefit_bench_" + std::to_string(getpid()));
  fs::create_directories(scratch);
  const fs::path example = fs::path(TUBEFIT_SOURCE_DIR) / "examples" / name;
  for (const auto& entry : fs::directory_iterator(example)) {
    if (entry.path().extension() == ".ini") continue;
    fs::copy_file(entry.path(), scratch / entry.path().filename(), fs::copy_options::overwrite_existing);
  }
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
  if (IsScreenGridTube(state->settings.TubeType)) DetSweep(state->settings, state->meas, null);
  ParamIdent(state->settings.iModel, state->params);
  EstStart(*state, null);
  fs::current_path(here);
  fs::remove_all(scratch);
  return state;
}

void RunSequence(benchmark::State& bench, const std::string& example, Minimiser minimiser) {
  std::unique_ptr<RunState> state = ReadExample(example);
  state->settings.minimiser = minimiser;
  const Settings& s = state->settings;
  const FitObjective objective(state->meas, s.Pmax, s.Icmax, s.iModel, state->params.slot);
  const ParamVector start = state->params.P;
  NullBuffer null_buffer;
  std::ostream null(&null_buffer);
  for (auto _ : bench) {
    state->params.P = start;
    RunFitSequence(*state, objective.ForFit(), null, &objective);
    benchmark::DoNotOptimize(state->params.P);
  }
  bench.counters["R2"] = objective(state->params.P);
  bench.counters["points"] = static_cast<double>(objective.points().size());
}

void BM_FitPowell(benchmark::State& bench) { RunSequence(bench, "triode", Minimiser::kPowell); }
void BM_FitLm(benchmark::State& bench) { RunSequence(bench, "triode", Minimiser::kLm); }
void BM_FitPowellBeamTetrode(benchmark::State& bench) { RunSequence(bench, "beam_tetrode", Minimiser::kPowell); }
void BM_FitLmBeamTetrode(benchmark::State& bench) { RunSequence(bench, "beam_tetrode", Minimiser::kLm); }

BENCHMARK(BM_FitPowell)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FitLm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FitPowellBeamTetrode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FitLmBeamTetrode)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tubefit
