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

// The points of the fit window, in file, curve, point order. A point is left out when its measured anode
// dissipation Va * Ia is at or above Pmax (W) or its measured cathode current Ia + Is is at or above Icmax
// (A). The window depends on measured values only, so it is fixed for the whole run.
std::vector<FitPoint> SelectFitWindow(const MeasurementSet& ms, float Pmax, float Icmax);

// Vector instruction sets the objective can evaluate its models with, in increasing width.
enum class SimdLevel : int32_t { kNone = 0, kAvx2 = 1, kAvx512 = 2 };

// The widest level that both this build and this processor support.
SimdLevel SupportedSimdLevel();
const char* SimdLevelName(SimdLevel level);

// FitObjective(P): the sum over the window of (Ia - Ia')^2, plus (Is - Is')^2 for every model but the diode
// and the triode (codes 0 and 1), in A^2. The model may write its clamps back into P, as it does point by
// point. The window is resolved once at construction; an evaluation allocates nothing.
//
// For the diode, the triode and the Nolt-family pentodes and beam tetrodes (codes 0, 1, 12, 22, 32, 13, 23,
// 33) the model can be evaluated for blocks of points with vector instructions (UseSimd).
// Their write-backs into P do not depend on the point, so they are made once before the points are
// evaluated, exactly as the first point would make them (and not at all for an empty window). The errors
// are still added one by one in file, curve, point order; the block currents differ from Model's only by
// the few ulps of the vector exp, log, pow and tanh. Every other code is evaluated point by point.
class FitObjective {
 public:
  FitObjective(const MeasurementSet& ms, float Pmax, float Icmax, int32_t iModel, const Slots& slots);

  float operator()(ParamVector& P) const;
  // The same sum evaluated point by point through Model: the reference for the block evaluation.
  float Pointwise(ParamVector& P) const;

  // Selects the block evaluation up to `level` (never above SupportedSimdLevel()); kNone evaluates point
  // by point. Returns the level now in use. The default is the widest supported level. The vector
  // routines are deterministic, so every vector width gives the same sums bit for bit; a processor without
  // any of them evaluates point by point, whose few-ulp differences can move the point where a fit in a
  // flat valley stops.
  SimdLevel UseSimd(SimdLevel level);
  SimdLevel simd() const { return blocks_ ? level_ : SimdLevel::kNone; }

  int32_t iModel() const { return iModel_; }
  const Slots& slots() const { return slots_; }
  const std::vector<FitPoint>& points() const { return points_; }

 private:
  float BlockSum(ParamVector& P) const;

  std::vector<FitPoint> points_;
  int32_t iModel_;
  Slots slots_;
  bool screen_;  // the screen current enters the sum
  // The window as columns (Va, Vs, Vg1, Ia, Is), each padded with zeros to a multiple of 16 points.
  std::vector<float> columns_;
  size_t stride_ = 0;        // length of one padded column
  bool blocks_ = false;      // the code has a block evaluation and its slots allow it
  SimdLevel level_ = SimdLevel::kNone;
};

}  // namespace tubefit
