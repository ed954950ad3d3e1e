#include "driver/fit_sequence.h"

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
  void Run(int32_t n) {
    ParamSet& ps = state_.params;
    if (terms_ != nullptr && state_.settings.minimiser == Minimiser::kLm) {
      FitLm(ps.P, n, *terms_, ps.slot.eps, console_);
      return;
    }
    int iter = 0;
    float fret = 0.0f;
    Fit(ps.P, state_.xi, n, tol_, iter, fret, F_, ps.slot.eps, console_);
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

bool HasFitSequence(int32_t iModel) { return !ModelInfoFor(iModel).stages.empty(); }

void RunFitSequence(RunState& state, const Objective& F, std::ostream& console, const FitObjective* terms) {
  const TableView<FitStage> stages = ModelInfoFor(state.settings.iModel).stages;
  if (stages.empty()) {
    PlainStop({ListDirected({std::string("Tube type ") + state.settings.TubeType + " not known!"})});
  }
  Stages s(state, F, terms, console);
  for (const FitStage& stage : stages) {
    for (int32_t i = 0; i < stage.blank_lines; ++i) s.Blank();
    if (stage.heading != nullptr) s.Heading(stage.heading);
    s.SetTol(stage.tol);
    s.Run(stage.Free(s.NFit()));
  }
}

}  // namespace tubefit
