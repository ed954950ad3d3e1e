// The measurement set: every measured point of every file, in amperes and volts.
//
// Indices are 1-based throughout the program: file f = 1..NFiles, curve c = 1..NVg, point p = 1..NPts;
// slot 0 of every table is unused and stays zero.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "param.h"

namespace tubefit {

struct MeasPoint {
  float Ia = 0.0f;  // anode current, A
  float Is = 0.0f;  // screen current, A
  float Va = 0.0f;  // anode voltage, V (offset applied)
  float Vs = 0.0f;  // screen voltage, V
};

// True when the measured point lies inside the fit window: anode dissipation Va * Ia below Pmax (W) and
// cathode current Ia + Is below Icmax (A). The objective, the data check that counts the points in the fit
// and the fit report all select their points with it.
inline bool InFitWindow(const MeasPoint& m, float Pmax, float Icmax) {
  return !(m.Va * m.Ia >= Pmax) && !(m.Ia + m.Is >= Icmax);
}

// The points of one curve, held in storage sized to the slots written: writing slot i makes slots 0..i
// exist (new ones zero), and reading a slot that was never written gives a zero point, as in a table of
// kMaxPoints + 1 slots. The reader keeps a curve within kMaxPoints.
class PointTable {
 public:
  const MeasPoint& operator[](int i) const {
    return static_cast<size_t>(i) < slots_.size() ? slots_[static_cast<size_t>(i)] : kZero;
  }
  MeasPoint& operator[](int i) {
    if (static_cast<size_t>(i) >= slots_.size()) slots_.resize(static_cast<size_t>(i) + 1);
    return slots_[static_cast<size_t>(i)];
  }
  // Room for points 1..n without growing again.
  void reserve(int n) { slots_.reserve(static_cast<size_t>(n) + 1); }

 private:
  static inline const MeasPoint kZero{};
  std::vector<MeasPoint> slots_;
};

struct MeasCurve {
  float Vg1 = 0.0f;  // control-grid voltage, V
  float Vg3 = 0.0f;  // third-grid voltage, V (tube types H and F)
  int32_t NPts = 0;
  PointTable pt;
};

enum SweepKind : int32_t { kSweepNone = 0, kSweepVsVa = 1, kSweepVsCst = 2 };

struct MeasFile {
  int32_t NVg = 0;
  int32_t G3File = 1;     // 1: grid column gives Vg1; 0: an H/F file at constant Vg1 whose column gives Vg3
  int32_t SweepType = kSweepNone;
  std::array<MeasCurve, kMaxCurves + 1> curve{};
};

struct MeasurementSet {
  int32_t NFiles = 0;
  int32_t NVsCst = 0;     // files classified Vs=Cst (they come first)
  bool VsVaSeen = false;  // some file is classified Vs=Va
  std::array<MeasFile, kMaxFiles + 1> file{};

  const MeasCurve& curve(int f, int c) const { return file[f].curve[c]; }
  MeasCurve& curve(int f, int c) { return file[f].curve[c]; }
  const MeasPoint& point(int f, int c, int p) const { return file[f].curve[c].pt[p]; }
  MeasPoint& point(int f, int c, int p) { return file[f].curve[c].pt[p]; }
};

}  // namespace tubefit
