// The objective of the fit: the plain sum of squared differences between measured and modelled currents
// over the measured points inside the fit window. This is where the measurement set and the model meet the
// minimiser.
#pragma once

#include <cstdint>
#include <vector>

#include "core/measurement_set.h"
#include "core/param_set.h"

namespace tubefit {

// One measured point inside the fit window, with its curve's grid voltages.
struct FitPoint {
  float Va = 0.0f, Vs = 0.0f, Vg1 = 0.0f, Vg3 = 0.0f;  // V
  float Ia = 0.0f, Is = 0.0f;                          // A, measured
};

// True when the measured point lies inside the fit window (see SelectFitWindow).
inline bool InFitWindow(const MeasPoint& m, float Pmax, float Icmax) {
  return !(m.Va * m.Ia >= Pmax) && !(m.Ia + m.Is >= Icmax);
}

// The points of the fit window, in file, curve, point order. A point is left out when its measured anode
// dissipation Va * Ia is at or above Pmax (W) or its measured cathode current Ia + Is is at or above Icmax
// (A). The window depends on measured values only, so it is fixed for the whole run.
std::vector<FitPoint> SelectFitWindow(const MeasurementSet& ms, float Pmax, float Icmax);

// FitObjective(P): the sum over the window of (Ia - Ia')^2, plus (Is - Is')^2 for every model but the diode
// and the triode (codes 0 and 1), in A^2. The model may write its clamps back into P, as it does point by
// point. The window is resolved once at construction; an evaluation allocates nothing.
class FitObjective {
 public:
  FitObjective(const MeasurementSet& ms, float Pmax, float Icmax, int32_t iModel, const Slots& slots);

  float operator()(ParamVector& P) const;

  int32_t iModel() const { return iModel_; }
  const Slots& slots() const { return slots_; }
  const std::vector<FitPoint>& points() const { return points_; }

 private:
  std::vector<FitPoint> points_;
  int32_t iModel_;
  Slots slots_;
  bool screen_;  // the screen current enters the sum
};

}  // namespace tubefit
