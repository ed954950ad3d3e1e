// The fit driver: restarts the direction-set minimiser from fresh unit directions until a run converges
// within its budget, then makes the parameters positive. It reports what happened in its summary and
// prints nothing; the caller shows the passes as they start through FitOptions::on_pass.
#pragma once

#include <cstdint>
#include <functional>

#include "core/param_set.h"
#include "fit/warning_sink.h"

namespace tubefit {

constexpr int kMaxFitPasses = 200;

struct FitSummary {
  float R2_before = 0.0f;  // the objective at the start values
  float R2_after = 0.0f;   // the objective at the returned parameters (after the sign normalisation)
  float fret = 0.0f;       // the objective the last powell run reached (before the sign normalisation)
  int32_t iter = 0;        // iterations of the last powell run
  int32_t passes = 0;      // powell runs made, 1..kMaxFitPasses
  bool pass_limit = false;  // the fit ran all kMaxFitPasses passes
};

struct FitOptions {
  int32_t NFit = 0;       // the leading slots 1..NFit are varied
  float ftol = 0.001f;    // fractional tolerance handed to powell
  SlotMask kept_sign{};   // the slots left signed (the model entry's sign rule); none by default
  // Called as every pass starts, with R2_before and passes (the number of the starting pass) filled in.
  std::function<void(const FitSummary& so_far)> on_pass;
  WarningSink warn;       // the line searches' warnings, as they happen
};

// Fits the first options.NFit slots of P (In/Out) by minimising F, from P as F writes it back: powell from the unit directions, again
// and again until a run needs fewer than NFit iterations or kMaxFitPasses runs are made. Every slot
// 1..MxNP but those in options.kept_sign is then replaced by its absolute value.
FitSummary Fit(ParamVector& P, const FitFunction& F, const FitOptions& options);

}  // namespace tubefit
