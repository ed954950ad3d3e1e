// Reading the measurement files into the measurement set, and the sweep classification of screen-grid tubes.
#pragma once

#include <ostream>

#include "core/measurement_set.h"
#include "core/settings.h"

namespace tubefit {

// Reads the files s.DataFile[1..count()] (1 to 20 of them, as ReadIni ensures; each name + ".utd") into ms: currents converted from mA to A,
// s.VaOffset added to every Va, s.VgOffset to the grid column of every curve. For tube type X the stored anode
// current is Ia + Is; for H and F the file name gives the constant grid voltage ("_g3_x" or "_g1_x", -x V).
// A reading of at most 0.1 mA that lies 10 mA or more below the last stored point of its curve is dropped;
// the points kept fill slots 1..NPts of their curve without gaps.
// Out: ms.NFiles (the number of names), and for every file NVg, G3File and the curves (Vg1, Vg3, NPts, points); SweepType, NVsCst
// and VsVaSeen are left to DetSweep. The Vg3=Cst / Vg1=Cst lines of H and F files go to the console.
// Stops (with the console lines carried by the stop): a file that cannot be opened or has no header record,
// a malformed point record (not eight numbers, text or a non-finite value where a number belongs, a point
// number outside 1..500, a point before the first point 1, more than 500 points in a curve, a reading of
// magnitude above 1e6), a file without curves, more than 20 curves in a file, an H/F name without a
// readable grid voltage.
void ReadMeasurements(const Settings& s, MeasurementSet& ms, std::ostream& console);

// Stops ("File x.utd: curve k holds only one point.") at the first curve of the set with fewer than two
// points: a sweep that was started and recorded nothing has no characteristic to fit.
void CheckCurveLengths(const Settings& s, const MeasurementSet& ms);

// Classifies every file of the set as a sweep with the screen tied to the anode (SweepType 1, Vs=Va) or at
// constant screen voltage (SweepType 2, Vs=Cst), from the mean squares over all points of the file of
// Va - Vs and of Vs less the curve's first screen voltage; prints one line per file between two empty lines.
// Out: ms.file[f].SweepType, ms.NVsCst, ms.VsVaSeen (both reset first).
// Stops: a Vs=Cst file after a Vs=Va file ("Execution halts"), a file that is neither
// ("*** Internal error in DetSweep"), a file without points.
void DetSweep(const Settings& s, MeasurementSet& ms, std::ostream& console);

}  // namespace tubefit
