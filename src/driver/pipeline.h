// The run after the configuration has been read, in its fixed order.
#pragma once

#include "core/console.h"
#include "core/run_state.h"

namespace tubefit {

// Measurement files and sweep classification, data checks, parameter set and start values, the fit stages
// of the model code, the subcircuit files and the closing steps (elapsed time, final estimates, fit
// analysis, mu check, plots).
void RunPipeline(RunState& state, Console& console);

}  // namespace tubefit
