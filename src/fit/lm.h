// A fit stage by Levenberg-Marquardt (Ceres Solver): the terms of the fit objective, the measured minus the
// modelled anode current (and screen current where the objective counts it) at every point of its window,
// minimised as a least-squares problem with exact derivatives of the model law (automatic differentiation
// in double precision). The alternative to Fit's direction-set refinement, chosen by `Minimiser = lm`.
#pragma once

#include <cstdint>
#include <string>

#include "core/param_set.h"
#include "fit/objective.h"

namespace tubefit {

// Fixed solver options: the same for every stage and every run, so the same input gives the same result.
struct LmOptions {
  int32_t max_iterations = 500;        // more is reported as no convergence
  int32_t max_held_iterations = 100;   // a solve again with parameters held on their bounds
  double function_tolerance = 1e-10;   // relative decrease of the sum of squares per step
  double parameter_tolerance = 1e-10;  // relative step length (parameters scaled by their start values)
  double gradient_tolerance = 1e-20;   // projected gradient, residuals in mA
  double initial_radius = 1e3;         // first trust region, in parameters scaled by their start values
  double second_radius = 1.0;          // first trust region of a second solve from the start (0: none),
  double retry_fraction = 0.1;         // run when the first ends above this fraction of the start's R2
  bool keep_unconverged = false;       // a solve that runs out of iterations counts with its last point
};

enum class LmOutcome {
  kImproved,  // the solver converged and its result is kept
  kWorse,     // its result has a higher objective than the start, which is kept
  kFailed,    // numerical failure, no convergence or non-finite residuals: the start is kept
};

struct LmSummary {
  LmOutcome outcome = LmOutcome::kFailed;
  int32_t iterations = 0;  // solver steps, accepted and rejected
  std::string reason;      // termination, in words
  float R2_before = 0.0f;  // FitObjective at the start and at the end of the stage
  float R2_after = 0.0f;
};

// Fits the first n slots of P (In/Out) to the terms of F, slots n+1..NFit staying constant. Where the law
// caps a value (mu <= 150 of the triode, alpha' <= 0.1 of the Nolt beam tetrodes, ...) or limits it, the
// solver keeps the parameter within those bounds, so the parameters handed back are those the model then
// evaluates. On success every slot 1..MxNP is made positive but those the model entry's sign rule leaves
// signed, as Fit does; a failed or worse
// result leaves P as F left it at the start. Writes nothing: the summary says what happened.
LmSummary FitLm(ParamVector& P, int32_t n, const FitObjective& F, const LmOptions& options = LmOptions());

}  // namespace tubefit
