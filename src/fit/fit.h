// The fit driver: restarts the direction-set minimiser from fresh unit directions until a run converges
// within its budget, then makes the parameters positive and reports the objective before and after.
#pragma once

#include <cstdint>
#include <ostream>

#include "core/matrix.h"
#include "core/param_set.h"

namespace tubefit {

constexpr int kMaxFitPasses = 200;

// Fits the first NFit slots of P (In/Out) by minimising F. xi (Out) is the direction set, reset to the unit
// matrix at every pass; ftol (In) the fractional tolerance; iter (Out) the iteration count of the last
// powell run; fret (Out) the objective that run reached. Every slot 1..MxNP but eps_slot (the diode's
// offset, 0 when the model has none) is replaced by its absolute value at the end. Console: "Before
// refinement R2 = ", the "Iter:" line of pass counters, the warning after 200 passes, "After refinement
// R2 = ".
void Fit(ParamVector& P, Matrix& xi, int32_t NFit, float ftol, int& iter, float& fret, const Objective& F,
         int32_t eps_slot, std::ostream& console);

}  // namespace tubefit
