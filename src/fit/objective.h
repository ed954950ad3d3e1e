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
// (A). The window depends on measured values only, so it is fixed for the whole run. With per_curve, it
// also receives the number of window points of every curve of every file, in file, curve order.
std::vector<FitPoint> SelectFitWindow(const MeasurementSet& ms, float Pmax, float Icmax,
                                      std::vector<int32_t>* per_curve = nullptr);

// Vector instruction sets the objective can evaluate its models with, in increasing width.
enum class SimdLevel : int32_t { kNone = 0, kAvx2 = 1, kAvx512 = 2 };

// The widest level that both this build and this processor support.
SimdLevel SupportedSimdLevel();
const char* SimdLevelName(SimdLevel level);  // "scalar", "avx2", "avx512"

// The level the objective uses unless told otherwise: the one the environment variable TUBEFIT_SIMD names
// ("scalar", "avx2" or "avx512"; every level gives the same results, the variable is for tests and for
// timing), else the widest supported one. Stops ("Execution halts") when the variable names no level or a
// level this build or processor lacks.
SimdLevel DefaultSimdLevel();

// FitObjective(P): the sum over the window of (Ia - Ia')^2, plus (Is - Is')^2 for every model but the diode
// and the triode (codes 0 and 1), in A^2. The model applies some of its clamps to the parameter vector as
// it evaluates it point by point; P itself stays as it is, and FitObjective(P, written_back) hands back the
// vector as the model leaves it. The window is resolved once at construction; an evaluation allocates
// nothing.
//
// Every model code is evaluated for blocks of points (one, 8 or 16 at a time, UseSimd) through its law
// (models/law.h): the effective parameters and the write-back into P are made once, as the first point
// would make them (and not at all for an empty window). Where a write-back changes what a later point
// sees (the variable-mu Nolt pentode makes its parameters non-negative after its first point has used
// them signed), the points are evaluated one by one with the values each of them sees until nothing
// changes any more. The errors are added one by one in file, curve, point order, and every path gives
// the same sum bit for bit. The screen-grid laws' Koren terms depend on the grid and screen voltages only:
// they are formed once per distinct (Vs, Vg1, Vg3) of the window, with the same operations, and shared by
// the points of a curve at a constant screen voltage. A slot table in which two parameters of the law share a slot is evaluated
// point by point through Model.
class FitObjective {
 public:
  FitObjective(const MeasurementSet& ms, float Pmax, float Icmax, int32_t iModel, const Slots& slots);

  float operator()(const ParamVector& P) const;
  // The sum at P, and in written_back (which may be P) P with the model's clamps written back.
  float operator()(const ParamVector& P, ParamVector& written_back) const;
  // The objective for the direction-set fit, with its write-back.
  FitFunction ForFit() const;
  // The same sum evaluated point by point through Model, which writes its clamps into P: the reference for
  // the block evaluation.
  float Pointwise(ParamVector& P) const;

  // Selects the block evaluation up to `level` (never above SupportedSimdLevel()); kNone evaluates one
  // point at a time. Returns the level now in use. The default is DefaultSimdLevel().
  SimdLevel UseSimd(SimdLevel level);
  SimdLevel simd() const { return block_sum_ ? level_ : SimdLevel::kNone; }

  int32_t iModel() const { return iModel_; }
  const Slots& slots() const { return slots_; }
  const std::vector<FitPoint>& points() const { return points_; }
  // The number of points() of every curve of every file, in file, curve order.
  const std::vector<int32_t>& curve_points() const { return curve_points_; }
  const MeasurementSet& measurements() const { return ms_; }

 private:
  template <class Law>
  float BlockSum(ParamVector& P) const;
  template <class Law>
  float Sum(size_t begin, size_t end, float S, const typename Law::template Params<float>& e) const;
  // Copies the controls of every key (key_ctrl_) to the points [begin, end) of ctrl_.
  void SpreadControls(size_t begin, size_t end) const;

  const MeasurementSet& ms_;
  std::vector<int32_t> curve_points_;  // (before points_, which its constructor fills with it)
  std::vector<FitPoint> points_;
  int32_t iModel_;
  Slots slots_;
  bool screen_;  // the screen current enters the sum
  // The window as columns (Va, Vs, Vg1, Vg3, Ia, Is), each padded with zeros (see blocks::Columns).
  std::vector<float> columns_;
  size_t stride_ = 0;  // length of one padded column
  float (FitObjective::*block_sum_)(ParamVector&) const = nullptr;  // the law's block sum, if any
  SimdLevel level_ = SimdLevel::kNone;
  // The distinct (Vs, Vg1, Vg3) of the window, in order of first appearance, as padded columns; key_of_
  // gives each point's. Empty when the law has no controls or no two points share their voltages.
  // Where consecutive points share a key for kRunLength points or more on average (the points of a curve
  // taken at constant grid and screen voltages), key_runs_ holds those runs, so that a curve's points take
  // their controls in one fill; where the measured voltages vary along a curve, it is empty.
  struct KeyRun {
    size_t begin, end;  // the points [begin, end)
    uint32_t key;
  };
  static constexpr size_t kRunLength = 8;
  std::vector<float> keys_;
  size_t nkeys_ = 0, key_stride_ = 0;
  std::vector<uint32_t> key_of_;
  std::vector<KeyRun> key_runs_;
  int32_t controls_ = 0;  // controls of the law
  // Scratch of one evaluation: the controls of every key, and of every point.
  mutable std::vector<float> key_ctrl_;
  mutable std::vector<float> ctrl_;
};

}  // namespace tubefit
