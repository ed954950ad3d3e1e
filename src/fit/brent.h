// One-dimensional minimisation: bracketing a minimum (mnbrak) and Brent's parabolic/golden-section search
// (brent). Both work on any function of one 32-bit float; they know nothing of tubes or files.
#pragma once

#include <functional>

#include "fit/warning_sink.h"

namespace tubefit {

using LineFunction = std::function<float(float)>;

// Brackets a minimum of f starting from the abscissas ax, bx (In/Out): on return ax, bx, cx (Out) with
// function values fa, fb, fc (Out). The step from a to b goes downhill; golden-section steps grow the
// bracket, with parabolic extrapolation limited to 100 times the last step. Ends early when the line is
// flat (|fa - fb| / fa < 2e-6), including an objective that is exactly 0 at both points. Equal values
// fb = fc keep the bracketing going.
void mnbrak(float& ax, float& bx, float& cx, float& fa, float& fb, float& fc, const LineFunction& f);

// Brent's minimiser on the bracket (ax, bx, cx): returns the smallest value found and its abscissa in xmin
// (Out), to the fractional tolerance tol. After 100 iterations it hands "brent exceeds maximum iterations"
// to warn and returns the best point so far.
float brent(float ax, float bx, float cx, const LineFunction& f, float tol, float& xmin, const WarningSink& warn = {});

}  // namespace tubefit
