// Everything one run owns, from the settings to the fit statistics. The driver creates it once; each routine
// takes only the piece it needs.
#pragma once

#include <array>
#include <cstdint>

#include "core/matrix.h"
#include "core/measurement_set.h"
#include "core/param_set.h"
#include "core/settings.h"

namespace tubefit {

constexpr float kVersion = 3.0f;

struct RunState {
  Settings settings;
  MeasurementSet meas;
  ParamSet params;
  int32_t NPointsInFit = 0;
  Matrix xi{MxNP, MxNP};       // direction set of the minimiser
  Matrix hessian{MxNP, MxNP};  // Hessian work matrix of the fit analysis
  std::array<float, MxNP + 1> SV{};  // standard variances in percent, slots 1..NFit
  double start_time = 0.0;     // whole seconds since 1970
};

}  // namespace tubefit
