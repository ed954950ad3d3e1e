#include "driver/fit_sequence.h"

#include <string>

#include "fit/fit.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {

namespace {

class Stages {
 public:
  Stages(RunState& state, const Objective& F, std::ostream& console) : state_(state), F_(F), console_(console) {}

  // One call of Fit varying the first n slots with the current tolerance.
  void Run(int32_t n) {
    ParamSet& ps = state_.params;
    FitOptions options;
    options.NFit = n;
    options.ftol = tol_;
    options.eps_slot = ps.slot.eps;
    FitStage(ps.P, F_, options, console_);
  }
  void Heading(const char* text) {
    WriteList(console_);
    WriteList(console_, {text});
  }
  void Blank() { WriteList(console_); }
  void SetTol(float tol) { tol_ = tol; }
  int32_t NFit() const { return state_.params.NFit; }

 private:
  RunState& state_;
  const Objective& F_;
  std::ostream& console_;
  float tol_ = 0.001f;  // keeps its value from stage to stage
};

}  // namespace

FitSummary FitStage(ParamVector& P, const Objective& F, FitOptions options, std::ostream& console) {
  options.on_pass = [&console](const FitSummary& so_far) {
    if (so_far.passes == 1) {
      WriteList(console, {"Before refinement R2 = ", so_far.R2_before});
      console << FormatLine("(A6)", {"Iter:"});
    }
    console << FormatLine("(I3,A)", {so_far.passes, ","});
    console.flush();
  };
  options.warn = [&console](const std::string& text) { WriteList(console, {text}); };
  const FitSummary summary = Fit(P, F, options);
  if (summary.pass_limit) {
    WriteList(console);
    WriteList(console, {"**** WARNING it = 100 ****"});
    WriteList(console, {"MaxIt reached, no convergence"});
  }
  WriteList(console);
  WriteList(console, {"After refinement R2 = ", summary.R2_after});
  return summary;
}

bool HasFitSequence(int32_t iModel) {
  switch (iModel) {
    case 0: case 1: case 2: case 12: case 22: case 32: case 13: case 23: case 33: case 16: case 26: case 14:
    case 25:
      return true;
    default:
      return false;
  }
}

void RunFitSequence(RunState& state, const Objective& F, std::ostream& console) {
  Stages s(state, F, console);
  const int32_t all = s.NFit();
  switch (state.settings.iModel) {
    case 0:
    case 2:
      s.Run(all);
      return;
    case 1:
      s.SetTol(1e-6f);
      s.Run(all);
      return;
    case 12:
    case 22:
    case 32:
      s.Heading("Fitting parameters except Koren parameters");
      s.Run(all - 5);
      s.Heading("Fitting parameters including Koren parameters");
      s.Run(all);
      return;
    case 23:
      s.Run(5);
      [[fallthrough]];
    case 13:
    case 33:
      s.Heading("Fitting parameters except Koren parameters");
      s.Run(all - 5);
      s.SetTol(1e-6f);
      s.Heading("Fitting parameters including Koren parameters");
      s.Run(all);
      return;
    case 16:
    case 26:
      s.Heading("Fitting screen current parameters");
      s.Run(all - 8);
      s.Blank();
      s.Heading("Fitting parameters excluding g1-ratio");
      s.Run(all - 1);
      s.SetTol(0.0002f);
      s.Heading("Fitting parameters including g1-ratio");
      s.Run(all);
      return;
    case 14:
      s.SetTol(0.01f);
      s.Run(4);
      s.SetTol(1e-6f);
      s.Run(all);
      return;
    case 25:
      s.SetTol(0.01f);
      s.Run(6);
      s.SetTol(1e-5f);
      s.Run(all);
      return;
    default:
      PlainStop({ListDirected({std::string("Tube type ") + state.settings.TubeType + " not known!"})});
  }
}

}  // namespace tubefit
