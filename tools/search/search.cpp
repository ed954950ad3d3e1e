// tubefit-search: a multi-start search for the best minimum of a fit, to see how close the program's own
// fit comes to it. Run it in a folder prepared for a fit (configuration, measurement files, hand-over
// parameter files):
//
//   tubefit-search [CONFIG] [--name NAME] [--starts N] [--seed S] [--polish N] [--time-limit SECONDS]
//
// It reads the configuration and the measurements as the program does and finds the program's start
// values. Then it runs the whole fit sequence of the model with both minimisers (powell and lm): from the
// program's own start, and from N perturbed starts (default 100), in which every fitted parameter is
// multiplied by exp(g s) with g a standard normal number (seed S, default 1) and s running geometrically
// from 0.03 to 1 over the starts. Last, the best point found is polished N times (default 20): a copy
// perturbed by s from 0.001 to 0.1 is fitted by lm, the result by powell, then by lm again. Every fit runs
// in a child process with a time limit (default 60 s), which counts as a failure when it runs out.
//
// Prints one line per set: the best R2 found, lm and powell from the program's own start with their excess
// over the best in %, and how many of the perturbed starts of each minimiser ended within 1 % of the best.
// The same arguments give the same numbers on every run: the perturbations come from std::mt19937 through
// a Box-Muller transform written out here.
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <ostream>
#include <random>
#include <streambuf>
#include <string>
#include <vector>

#include "core/run_state.h"
#include "driver/config.h"
#include "driver/fit_sequence.h"
#include "driver/measurements.h"
#include "estimate/estimate.h"
#include "fit/objective.h"
#include "models/models.h"
#include "text/stop.h"

namespace {

using tubefit::Minimiser;
using tubefit::ParamVector;

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

struct Result {
  float R2 = std::numeric_limits<float>::infinity();
  ParamVector P{};
};

struct Options {
  std::string config = "Model.ini";
  std::string name = ".";
  int starts = 100;
  unsigned seed = 1;
  int polish = 20;
  int time_limit = 60;
};

// A standard normal number from two outputs of the generator (Box-Muller).
double Gauss(std::mt19937& rng) {
  const double u1 = (static_cast<double>(rng()) + 1.0) / 4294967297.0;
  const double u2 = static_cast<double>(rng()) / 4294967296.0;
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

// start with each of the first n slots multiplied by exp(g s).
ParamVector Perturbed(const ParamVector& start, int32_t n, double s, std::mt19937& rng) {
  ParamVector P = start;
  for (int32_t i = 1; i <= n; ++i) P[i] = static_cast<float>(P[i] * std::exp(Gauss(rng) * s));
  return P;
}

class Search {
 public:
  explicit Search(const Options& o) : options_(o), null_(&null_buffer_) {}

  bool Load() {
    try {
      state_.settings.IniFile = options_.config;
      tubefit::ReadIni(state_.settings, null_);
      tubefit::ReadMeasurements(state_.settings, state_.meas, null_);
      if (tubefit::IsScreenGridTube(state_.settings.TubeType)) tubefit::DetSweep(state_.settings, state_.meas, null_);
      tubefit::ParamIdent(state_.settings.iModel, state_.params);
      tubefit::EstStart(state_, null_);
    } catch (const tubefit::Stop& stop) {
      std::fprintf(stderr, "tubefit-search: %s: the run stops before the fit (%s)\n", options_.name.c_str(),
                   stop.text().c_str());
      return false;
    }
    const tubefit::Settings& s = state_.settings;
    objective_.reset(new tubefit::FitObjective(state_.meas, s.Pmax, s.Icmax, s.iModel, state_.params.slot));
    start_ = state_.params.P;
    return true;
  }

  // The whole fit sequence from P with the minimiser, in a child process with the time limit.
  Result Run(const ParamVector& P, Minimiser minimiser) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      alarm(static_cast<unsigned>(options_.time_limit));
      Result r;
      try {
        state_.settings.minimiser = minimiser;
        state_.params.P = P;
        const tubefit::FitObjective& F = *objective_;
        tubefit::RunFitSequence(state_, F.ForFit(), null_, &F);
        r.P = state_.params.P;
        r.R2 = F(r.P);
      } catch (const tubefit::Stop&) {
        r.R2 = std::numeric_limits<float>::infinity();
      }
      if (!std::isfinite(r.R2)) r.R2 = std::numeric_limits<float>::infinity();
      const ssize_t written = write(fds[1], &r, sizeof r);
      _exit(written == static_cast<ssize_t>(sizeof r) ? 0 : 1);
    }
    close(fds[1]);
    Result r;
    if (pid > 0) {
      Result got;
      const ssize_t n = read(fds[0], &got, sizeof got);
      int status = 0;
      waitpid(pid, &status, 0);
      if (n == static_cast<ssize_t>(sizeof got) && WIFEXITED(status) && WEXITSTATUS(status) == 0) r = got;
    }
    close(fds[0]);
    return r;
  }

  void Keep(const Result& r) {
    if (r.R2 < best_.R2) best_ = r;
  }

  int Main() {
    if (!Load()) return 1;
    const int32_t n = state_.params.NFit;
    const Result lm0 = Run(start_, Minimiser::kLm);
    const Result powell0 = Run(start_, Minimiser::kPowell);
    Keep(lm0);
    Keep(powell0);
    std::mt19937 rng(options_.seed);
    std::vector<float> lm_ends, powell_ends;
    for (int k = 0; k < options_.starts; ++k) {
      const double s = options_.starts > 1 ? 0.03 * std::pow(1.0 / 0.03, k / (options_.starts - 1.0)) : 0.03;
      const ParamVector P = Perturbed(start_, n, s, rng);
      const Result lm = Run(P, Minimiser::kLm);
      const Result powell = Run(P, Minimiser::kPowell);
      lm_ends.push_back(lm.R2);
      powell_ends.push_back(powell.R2);
      Keep(lm);
      Keep(powell);
    }
    for (int k = 0; k < options_.polish && std::isfinite(best_.R2); ++k) {
      const double s = options_.polish > 1 ? 0.001 * std::pow(100.0, k / (options_.polish - 1.0)) : 0.001;
      Result r = Run(Perturbed(best_.P, n, s, rng), Minimiser::kLm);
      Keep(r);
      if (!std::isfinite(r.R2)) continue;
      r = Run(r.P, Minimiser::kPowell);
      Keep(r);
      if (std::isfinite(r.R2)) Keep(Run(r.P, Minimiser::kLm));
    }
    auto excess = [this](float R2) { return 100.0 * (static_cast<double>(R2) / best_.R2 - 1.0); };
    auto hits = [this](const std::vector<float>& ends) {
      int h = 0;
      for (float R2 : ends) h += R2 <= best_.R2 * 1.01f ? 1 : 0;
      return h;
    };
    std::printf("%-24s best %.6E  lm %.6E (%+8.3f %%)  powell %.6E (%+8.3f %%)  within 1 %%: lm %d, powell %d of %d\n",
                options_.name.c_str(), best_.R2, lm0.R2, excess(lm0.R2), powell0.R2, excess(powell0.R2),
                hits(lm_ends), hits(powell_ends), options_.starts);
    return 0;
  }

 private:
  Options options_;
  NullBuffer null_buffer_;
  std::ostream null_;
  tubefit::RunState state_;
  std::unique_ptr<tubefit::FitObjective> objective_;
  ParamVector start_{};
  Result best_;
};

int Usage() {
  std::fprintf(stderr,
               "usage: tubefit-search [CONFIG] [--name NAME] [--starts N] [--seed S] [--polish N] "
               "[--time-limit SECONDS]\n");
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--name" && has_value) {
      o.name = argv[++i];
    } else if (a == "--starts" && has_value) {
      o.starts = std::atoi(argv[++i]);
    } else if (a == "--seed" && has_value) {
      o.seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (a == "--polish" && has_value) {
      o.polish = std::atoi(argv[++i]);
    } else if (a == "--time-limit" && has_value) {
      o.time_limit = std::atoi(argv[++i]);
    } else if (!a.empty() && a[0] != '-') {
      o.config = a;
    } else {
      return Usage();
    }
  }
  if (o.starts < 0 || o.polish < 0 || o.time_limit < 1) return Usage();
  // RunState holds the fixed measurement tables: too large for the stack.
  std::unique_ptr<Search> search(new Search(o));
  return search->Main();
}
