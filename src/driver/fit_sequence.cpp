#include "driver/fit_sequence.h"

#include <cmath>
#include <string>

#include "fit/fit.h"
#include "fit/lm.h"
#include "models/model_info.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {

namespace {

class Stages {
 public:
  Stages(RunState& state, const Objective& F, const FitObjective* terms, std::ostream& console)
      : state_(state), F_(F), terms_(terms), console_(console) {}

  // One stage varying the first n slots: Fit with the current tolerance, or Levenberg-Marquardt on the
  // objective's terms.
  // Returns the R2 after the stage.
  float Run(int32_t n) {
    ParamSet& ps = state_.params;
    if (terms_ != nullptr && state_.settings.minimiser == Minimiser::kLm) {
      return RunLmStage(ps.P, n, *terms_, ps.slot.eps, console_).R2_after;
    }
    FitOptions options;
    options.NFit = n;
    options.ftol = tol_;
    options.eps_slot = ps.slot.eps;
    return RunFitStage(ps.P, F_, options, console_).R2_after;
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
  const FitObjective* terms_;
  std::ostream& console_;
  float tol_ = 0.001f;  // the tolerance of the current stage
};

}  // namespace

FitSummary RunFitStage(ParamVector& P, const Objective& F, FitOptions options, std::ostream& console) {
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

LmSummary RunLmStage(ParamVector& P, int32_t n, const FitObjective& F, int32_t eps_slot, std::ostream& console,
                     const LmOptions& options) {
  const LmSummary summary = FitLm(P, n, F, eps_slot, options);
  WriteList(console, {"Before refinement R2 = ", summary.R2_before});
  const std::string line = "Levenberg-Marquardt: " + RenderI(summary.iterations, 0) +
                           (summary.iterations == 1 ? " iteration, " : " iterations, ") + summary.reason;
  if (summary.outcome == LmOutcome::kFailed) {
    WriteList(console, {line + "; the start values are kept."});
  } else {
    WriteList(console, {line + "."});
    if (summary.outcome == LmOutcome::kWorse) {
      WriteList(console, {"The result has a higher R2 than the start; the start values are kept."});
    }
  }
  WriteList(console, {"After refinement R2 = ", summary.R2_after});
  return summary;
}

void RunFitSequence(RunState& state, const Objective& F, std::ostream& console, const FitObjective* terms) {
  const TableView<FitStage> stages = ModelInfoFor(state.settings.iModel).stages;
  if (stages.empty()) {
    PlainStop({ListDirected({std::string("Tube type ") + state.settings.TubeType + " not known!"})});
  }
  Stages s(state, F, terms, console);
  float R2 = 0.0f;
  for (const FitStage& stage : stages) {
    for (int32_t i = 0; i < stage.blank_lines; ++i) s.Blank();
    if (stage.heading != nullptr) s.Heading(stage.heading);
    s.SetTol(stage.tol);
    R2 = s.Run(stage.Free(s.NFit()));
  }
  // A fit that ends where the model's currents are not finite has no model to write.
  if (!std::isfinite(R2)) {
    const std::string value = std::isnan(R2) ? "NaN" : R2 > 0.0f ? "Infinity" : "-Infinity";
    StopWithText("Execution halts", {ListDirected({"The fit ended with R2 = " + value +
                                                   ": the model currents are not finite there. "
                                                   "Try other start values."})});
  }
}

}  // namespace tubefit
