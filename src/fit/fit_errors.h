// The fit errors: how far the fitted currents are from the measured ones, curve by curve.
//
// They walk the window of the run's objective (same points, same order, same 32-bit differences), so the
// sum of their squares is the R2 the fit reports, and the sum is the objective's own.
#pragma once

#include <cstdint>
#include <vector>

#include "core/param_set.h"
#include "fit/objective.h"

namespace tubefit {

// The errors of one curve (or of all curves together): differences measured minus modelled, in A.
struct CurveErrors {
  int32_t file = 0;   // 1-based; 0 for the total
  int32_t curve = 0;  // 1-based; 0 for the total
  float Vg1 = 0.0f, Vg3 = 0.0f;
  int32_t points = 0;                   // points of the curve inside the fit window
  double sum_ia = 0.0, sum_is = 0.0;    // sums of squared differences, A^2
  float max_ia = 0.0f, max_is = 0.0f;   // largest absolute differences, A
};

struct FitErrors {
  std::vector<CurveErrors> curves;  // every curve of every file, in file, curve order
  CurveErrors total;
  float R2 = 0.0f;       // the objective at P: the sum over the same points
  bool screen = false;   // the screen current is part of the fit
};

// The errors of the model with parameters P against every curve of the objective's measurement set.
FitErrors ComputeFitErrors(const FitObjective& objective, const ParamVector& P);

}  // namespace tubefit
