// The fit stages of every model code: how many leading parameters each stage varies, with which tolerance
// and under which heading.
#pragma once

#include <ostream>

#include "core/param_set.h"
#include "core/run_state.h"
#include "fit/fit.h"
#include "fit/lm.h"
#include "fit/objective.h"

namespace tubefit {

// One call of Fit with its console lines: "Before refinement R2 = ", the "Iter:" line with a counter for
// every pass as it starts (a line-search warning breaks it where it happens), the warning after
// kMaxFitPasses passes, an empty line and "After refinement R2 = ". options.on_pass and options.warn are
// replaced by the printing ones.
FitSummary RunFitStage(ParamVector& P, const Objective& F, FitOptions options, std::ostream& console);

// One Levenberg-Marquardt stage on the first n slots with its console lines: "Before refinement R2 = ",
// the solver's iteration count and termination, a line when the start values are kept, "After
// refinement R2 = ".
LmSummary RunLmStage(ParamVector& P, int32_t n, const FitObjective& F, std::ostream& console,
                     const LmOptions& options = LmOptions());

// Runs the stages of state.settings.iModel on state.params.P through RunFitStage or, with `Minimiser = lm`
// and the objective's terms given, through RunLmStage. Stops ("Tube type " + letter + " not known!", plain
// stop) for a code without a fit sequence.
void RunFitSequence(RunState& state, const Objective& F, std::ostream& console,
                    const FitObjective* terms = nullptr);

}  // namespace tubefit
