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
FitSummary RunFitStage(ParamVector& P, const FitFunction& F, FitOptions options, std::ostream& console);

// The Levenberg-Marquardt stages of a fit sequence: a stage that frees all but a trailing block of slots
// is solved to the looser kLmPolishedTolerance and then polished by one direction-set refinement (Fit
// with tolerance kLmPolishTol); a stage that fits the first few slots alone (from rough estimates, with
// the rest held) is solved as it stands. The polish finds the bottom of the flat valleys where the solver
// stops early, and costs less than the solver's last iterations there.
// The polished stages have no second solve from the start, and a solve again with parameters held on
// their bounds stops after kLmPolishedHeldIterations with its last point if lower: the polish crosses the
// valley in less time than the solver crawls along it.
constexpr double kLmPolishedTolerance = 1e-4;
constexpr int32_t kLmPolishedIterations = 150;  // then the polish goes on from the solver's last point
constexpr int32_t kLmPolishedHeldIterations = 20;
constexpr float kLmPolishTol = 1e-4f;
constexpr int32_t kLmFinalIterations = 20;     // of the solve to the full tolerance after the polish
constexpr double kLmFinalMinGain = 1e-5;        // which runs when the polish lowered R2 by this fraction
LmOptions PolishedLmOptions();
// The stages that fit the first few slots alone: the default options with at most kLmFirstIterations
// steps (the one that runs longer, the hexode's, does not converge within 500 either and keeps the start
// values).
constexpr int32_t kLmFirstIterations = 100;
LmOptions FirstLmOptions();

// One Levenberg-Marquardt stage on the first n slots with its console lines: "Before refinement R2 = ",
// the solver's iteration count and termination, a line when the start values are kept, with polish_tol > 0
// (and a finite R2) "Direction-set polish: " and the passes of Fit from the solver's result, and
// "Levenberg-Marquardt from the polished point: " with the last solve (or that it was not run, when the
// polish lowered R2 by less than kLmFinalMinGain of it), then "After refinement R2 = ".
LmSummary RunLmStage(ParamVector& P, int32_t n, const FitObjective& F, std::ostream& console,
                     const LmOptions& options = LmOptions(), float polish_tol = 0.0f);

// Runs the stages of state.settings.iModel on state.params.P through RunFitStage or, with `Minimiser = lm`
// and the objective's terms given, through RunLmStage. Stops ("Tube type " + letter + " not known!", plain
// stop) for a code without a fit sequence.
void RunFitSequence(RunState& state, const FitFunction& F, std::ostream& console,
                    const FitObjective* terms = nullptr);

}  // namespace tubefit
