// The fit stages of every model code: how many leading parameters each stage varies, with which tolerance
// and under which heading.
#pragma once

#include <ostream>

#include "core/param_set.h"
#include "core/run_state.h"
#include "fit/objective.h"

namespace tubefit {

// Runs the stages of state.settings.iModel through Fit, on state.params.P with the direction set state.xi,
// or, with `Minimiser = lm` and the objective's terms given, through FitLm. Stops ("Tube type " + letter +
// " not known!", plain stop) for a code without a fit sequence.
void RunFitSequence(RunState& state, const Objective& F, std::ostream& console,
                    const FitObjective* terms = nullptr);

// Whether the code has a fit sequence (and therefore a subcircuit writer).
bool HasFitSequence(int32_t iModel);

}  // namespace tubefit
