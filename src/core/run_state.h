// Everything one run owns: its settings, the measurements, the parameters and the start time. The driver
// creates it once; each routine takes only the piece it needs.
#pragma once

#include "core/measurement_set.h"
#include "core/param_set.h"
#include "core/settings.h"

namespace tubefit {

constexpr float kVersion = 3.0f;

struct RunState {
  Settings settings;
  MeasurementSet meas;
  ParamSet params;
  double start_time = 0.0;  // whole seconds since 1970
};

}  // namespace tubefit
