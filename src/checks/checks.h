// Plausibility checks of the measurement set before the fit, and the check of the fitted mu after it.
// Every check first looks at the tube type and does nothing for types it does not handle; none changes data.
#pragma once

#include <cstdint>
#include <ostream>

#include "core/console.h"
#include "core/measurement_set.h"
#include "core/param_set.h"
#include "core/settings.h"

namespace tubefit {

// All tube types: counts the points in the fit (Va*Ia < s.Pmax W and Ia + Is < s.Icmax A) and prints the count
// and its share of all points. Tube T, X: warns below 5 curves in all. Tube P, B, V: warns below 3 files and
// below 9 curves in all; tube V also for every file below 8 curves. Returns the points in the fit.
// Stops for a set without any point, for a set without any point in the fit, and when no more points in
// the fit carry a non-zero current than the model of s.iModel fits parameters (messages name s.IniFile).
int32_t CheckSufficientData(const Settings& s, const MeasurementSet& ms, std::ostream& console);

// Tube P, B: warns when the anode currents at the highest anode voltage of the constant-screen curves span
// more than a factor 10 (or the smallest of them is zero or below). No pause.
void CheckDynamicRange(const Settings& s, const MeasurementSet& ms, std::ostream& console);

// Tube P, B: stops at the first constant-screen curve whose screen current is below 1e-6 A at both of its
// first two points.
void CheckScreenCurrent(const Settings& s, const MeasurementSet& ms, std::ostream& console);

// Tube T, X: at the first curve with Ia(first point) / Ia(last point) > 0.005, or with no positive current at
// its last point, warns that the cut-off region is not reached and waits for the return key.
void CheckTriodeCutOff(const Settings& s, const MeasurementSet& ms, Console& console);

// Tube T, X: a parabola through the last five points of every curve (Ia against Va) that bends down above
// 1 mA; tube P, B: a parabola through the first five points (Is against Va) that bends down below a quarter
// of the screen voltage. Prints one line per such curve, then a warning and waits for the return key.
// Curves of fewer than five points are not looked at.
void CheckSaturation(const Settings& s, const MeasurementSet& ms, Console& console);

// Tube X, V: warns when the fitted mu (P[slot.mu]) ended at its upper limit 150.
void CheckMuAtMaximum(char TubeType, const ParamVector& P, const Slots& s, std::ostream& console);

}  // namespace tubefit
