// The run after the configuration has been read, in its fixed order.
#pragma once

#include <ostream>

#include "analysis/analysis.h"
#include "core/console.h"
#include "core/run_state.h"
#include "fit/fit_errors.h"

namespace tubefit {

// The fit analysis of the ps.NFit fitted parameters with points in the fit, and its console lines: the
// singular-matrix warnings, a note for every standard variance that is undefined. At settings.DebugLevel
// 1 or more it writes "Hinv.dat", then, when the eigen analysis did not converge, prints "too many
// iterations in jacobi" and waits for the return key, and writes "Eigen.dat".
FitAnalysisResult AnalyseFit(const Settings& settings, const ParamSet& ps, const Objective& F, int32_t points,
                             Console& console);

// The subcircuit file of the model code, and for pentodes and beam tetrodes whose last file ties the
// screen to the anode also a triode file (named after that file) with the exponent ex + dex. The fitted
// parameters stay as they are. The subcircuit is named settings.ModelName (the companion triode after its
// file); the ngspice form names the fit with its R2 (negative: not known).
void WriteSubcircuits(const RunState& state, std::ostream& out, float R2 = -1.0f);

// Measurement files and sweep classification, data checks, parameter set and start values, the fit stages
// of the model code, the subcircuit files and the closing steps (elapsed time, final estimates, fit
// analysis, mu check, plots). Returns the errors of the fit.
FitErrors RunPipeline(RunState& state, Console& console);

}  // namespace tubefit
