// Powell's direction-set minimisation without derivatives, over the leading n slots of a parameter vector.
// The objective is any callable on the whole vector; slots n+1..MxNP are passed to it unchanged.
#pragma once

#include "core/matrix.h"
#include "core/param_set.h"
#include "fit/warning_sink.h"

namespace tubefit {

// The objective along one line through the parameter space: base + x * direction. Slots beyond n of the
// direction are 0, so the fixed slots of the base reach the objective unchanged.
struct LineState {
  ParamVector base{};
  ParamVector direction{};
};

// The objective at base + x * direction.
float f1dim(float x, const LineState& line, const FitFunction& F);

// Moves P (In/Out) to the minimum along xi (In/Out, slots 1..n): on return xi holds the displacement
// actually taken (xi * step) and fret (Out) the objective there. Slots beyond n of P are held. The line
// search's warnings go to warn.
void linmin(ParamVector& P, ParamVector& xi, int n, float& fret, const FitFunction& F,
            const WarningSink& warn = {});

// Minimises F over P(1..n) (In/Out) from the directions in the columns of xi (In/Out, leading n x n block),
// to the fractional tolerance ftol, from P as F writes it back (so is the extrapolated point). A run is limited to n iterations: iter (Out) is the count used, and a
// run that needs all n has not converged. fret (Out) is the objective at the returned P. The line
// searches' warnings go to warn.
void powell(ParamVector& P, Matrix& xi, int n, float ftol, int& iter, float& fret, const FitFunction& F,
            const WarningSink& warn = {});

}  // namespace tubefit
