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
  Stages(RunState& state, const FitFunction& F, const FitObjective* terms, std::ostream& console)
      : state_(state), F_(F), terms_(terms), console_(console) {}

  // One stage varying the first n slots: Fit with the current tolerance, or Levenberg-Marquardt on the
  // objective's terms (polished where the stage frees all but a trailing block, see LmStagePolish).
  // Returns the R2 after the stage.
  float Run(int32_t n, FitStage::Count count) {
    ParamSet& ps = state_.params;
    if (terms_ != nullptr && state_.settings.minimiser == Minimiser::kLm) {
      const bool polish = count == FitStage::Count::kAllBut;
      return RunLmStage(ps.P, n, *terms_, console_, polish ? PolishedLmOptions() : FirstLmOptions(),
                        polish ? kLmPolishTol : 0.0f)
          .R2_after;
    }
    FitOptions options;
    options.NFit = n;
    options.ftol = tol_;
    options.kept_sign = SignedSlots(ModelInfoFor(state_.settings.iModel));
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
  const FitFunction& F_;
  const FitObjective* terms_;
  std::ostream& console_;
  float tol_ = 0.001f;  // the tolerance of the current stage
};

}  // namespace

FitSummary RunFitStage(ParamVector& P, const FitFunction& F, FitOptions options, std::ostream& console) {
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

LmOptions PolishedLmOptions() {
  LmOptions o;
  o.function_tolerance = kLmPolishedTolerance;
  o.parameter_tolerance = kLmPolishedTolerance;
  o.max_iterations = kLmPolishedIterations;
  o.max_held_iterations = kLmPolishedHeldIterations;
  // The stage starts from a fitted point (or from the hand-over of a fitted triode): a narrow second solve
  // from there reaches the same valley and the polish goes on from the first.
  o.second_radius = 0.0;
  o.keep_unconverged = true;
  return o;
}

LmOptions FirstLmOptions() {
  LmOptions o;
  o.max_iterations = kLmFirstIterations;
  return o;
}

namespace {

// The last solve from the polished point: the full tolerance, a few steps, its last point if better.
LmOptions FinalLmOptions() {
  LmOptions o;
  o.max_iterations = kLmFinalIterations;
  o.max_held_iterations = kLmFinalIterations;
  o.second_radius = 0.0;
  o.keep_unconverged = true;
  return o;
}

}  // namespace

LmSummary RunLmStage(ParamVector& P, int32_t n, const FitObjective& F, std::ostream& console,
                     const LmOptions& options, float polish_tol) {
  LmSummary summary = FitLm(P, n, F, options);
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
  if (polish_tol > 0.0f && std::isfinite(summary.R2_after)) {
    // Levenberg-Marquardt crawls along the flat valleys of the screen-grid laws (where two parameters trade
    // against each other) and stops on a slow decrease; one refinement by direction sets, whose directions
    // learn the valley, carries the point on to the bottom. Fit never ends higher than it starts.
    FitOptions o;
    o.NFit = n;
    o.ftol = polish_tol;
    o.kept_sign = SignedSlots(ModelInfoFor(F.iModel()));
    const FitSummary polish = Fit(P, F.ForFit(), o);
    WriteList(console, {"Direction-set polish: " + RenderI(polish.passes, 0) + (polish.passes == 1 ? " pass." : " passes.")});
    // The solver again, to the full tolerance: from the bottom of the valley it takes a few steps to the
    // exact minimum, which the polish leaves at its tolerance. Where the polish found no valley (it lowered
    // R2 by less than kLmFinalMinGain of it), the solver had stopped at the minimum already.
    const float gain = summary.R2_after - polish.R2_after;
    summary.R2_after = polish.R2_after;
    if (!(gain > static_cast<float>(kLmFinalMinGain) * (summary.R2_after + gain))) {
      WriteList(console, {"Levenberg-Marquardt from the polished point: not run, the polish lowered R2 by less "
                          "than 1E-05 of it."});
      WriteList(console, {"After refinement R2 = ", summary.R2_after});
      return summary;
    }
    const LmSummary last = FitLm(P, n, F, FinalLmOptions());
    WriteList(console, {"Levenberg-Marquardt from the polished point: " + RenderI(last.iterations, 0) +
                        (last.iterations == 1 ? " iteration, " : " iterations, ") + last.reason +
                        (last.outcome == LmOutcome::kImproved ? "." : "; the polished values are kept.")});
    summary.iterations += last.iterations;
    summary.R2_after = last.R2_after;
  }
  WriteList(console, {"After refinement R2 = ", summary.R2_after});
  return summary;
}

void RunFitSequence(RunState& state, const FitFunction& F, std::ostream& console, const FitObjective* terms) {
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
    R2 = s.Run(stage.Free(s.NFit()), stage.count);
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
