// Start values of the model parameters: the estimation driver and the estimators that invert the model
// equations on parts of the measured curves.
//
// Voltages in V, currents in A. The estimators read the measurement set file by file (files 1..NFiles,
// curves 1..NVg, points 1..NPts) and store their results in the output arguments, which may be slots of
// the parameter vector P they also read: every output is written once, after the inputs have been read.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <vector>

#include "core/measurement_set.h"
#include "core/param_set.h"
#include "core/run_state.h"
#include "core/settings.h"

namespace tubefit {

// What every estimator reads besides the parameters: the measurement set and the files of it to look at
// (1..NFiles: all of them, or for the screen-grid codes the Vs=Cst files, which come first), the console,
// the model code (its family selects the variant) and the debug level.
struct EstData {
  EstData(const MeasurementSet& ms, std::ostream& console, int32_t iModel = 0, int32_t DebugLevel = 0)
      : EstData(ms, console, iModel, DebugLevel, ms.NFiles) {}
  EstData(const MeasurementSet& ms, std::ostream& console, int32_t iModel, int32_t DebugLevel, int32_t NFiles)
      : ms(ms), console(console), iModel(iModel), DebugLevel(DebugLevel), NFiles(NFiles) {}

  const MeasurementSet& ms;
  std::ostream& console;
  int32_t iModel;
  int32_t DebugLevel;
  int32_t NFiles;
};

// The derivative table of one curve's screen current as EstKnee forms it: per point Va (V), Is (A),
// dIs/dVa and d2Is/dVa2 (0 at the first two and the last two points).
using KneeTable = std::vector<std::array<float, 4>>;

// Gives every slot 1..NFit of ps a start value: from the start file when settings.RdStart is on, else
// from the estimators, the earlier parameter files and fixed values chosen by settings.iModel; then
// prints "Initial estimates:" and writes the parameter files. For the screen-grid codes the estimators
// see only the Vs=Cst files 1..ms.NVsCst. At DebugLevel 2 or more the knee tables of EstSec go to "s.dat",
// every curve in turn, an empty line between two curves.
// Stops: a parameter file that cannot be opened or holds a value that is not a number; a triode or
// pentode parameter file without one of the names it must supply; a screen-grid code without a Vs=Cst
// file; and the stops of the estimators.
void EstStart(const Settings& settings, const MeasurementSet& ms, ParamSet& ps, std::ostream& console);
void EstStart(RunState& st, std::ostream& console);

// Diode law Ia = Va^ex / k fitted on the upper half of each file's last curve: k and ex out (means over
// the files that have two points with positive Va and Ia there), eps = 0. Stops when no file has.
void EstDiode(const EstData& d, float& k, float& ex, float& eps);

// The exponent shift of the triode-connected subcircuit of a pentode: dex = ln(1 + 500 A) / ln(500 / mu).
// Where the formula is undefined (mu <= 0, mu = 500, A <= -1/500, or a value that is not finite) dex = 0
// with a console note.
void CalcDex(const ParamVector& P, const Slots& s, float& dex, std::ostream& console);

// --- triode estimators (Koren triode, code 1) ---

// mu from the anode voltages at which the curves of each file cross one current level. Files with fewer
// than two crossing curves are skipped; without any estimate (or with one that is not positive) mu = 10.
void EstMu(const EstData& d, float& mu);

// kG1 and ex from ln Ia against ln(Vg1 + Va/mu) on the upper part of the curve next to the highest one.
// Files whose curve gives fewer than two usable points are skipped; without any, kG1 = 1000, ex = 1.5.
void EstkGExp(const EstData& d, const ParamVector& P, const Slots& s, float& kG1, float& ex);

// kp from the cut-off tail of each file's most negative curve (at least 50 per file, 100 for a file
// without three usable points), mean capped at 2000.
void Estkp(const EstData& d, const ParamVector& P, const Slots& s, float& kp);

// kVB from the first conducting point of each file's highest curve; 500 (and no further file examined)
// when that curve never conducts or its point gives no finite value.
void EstkVB(const EstData& d, const ParamVector& P, const Slots& s, float& kVB);

// --- screen-grid estimators (they evaluate KorenTerm, which writes |kVB| back into P) ---

// kG2 from Is = KorenTerm / kG2 at the last point of every curve. Stops when no curve has a screen
// current above 1e-6 A there.
void EstkG2(const EstData& d, ParamVector& P, const Slots& s, float& kG2);

// A from the slope of the last four points of every curve. A curve with fewer than 4 points, or no curve
// with a Koren term of at least 0.01, gives A = 0.
void EstA(const EstData& d, ParamVector& P, const Slots& s, float& A);

// alpha_s and beta of the rational division law (Nolt, NoltI) from the first three points of every curve.
// Stops for a curve with fewer than 3 points. Files without a usable curve are skipped; without any,
// alpha_s = 1 and beta = 0.05 (10 for NoltI, whose beta multiplies Va/Vs).
void Estalsbe(const EstData& d, ParamVector& P, const Slots& s, float& alpha_s, float& beta);

// alpha_s and beta of the exponential division law (NoltE). Stops for a curve with fewer than 3 points
// and for a negative logarithm argument ("Execution halts"). Files without a usable curve are skipped;
// without any, alpha_s = 1 and beta = 0.05.
void EstalsbePe(const EstData& d, ParamVector& P, const Slots& s, float& alpha_s, float& beta);

// The knee of the screen current of curve c of file f from local quadratic fits: Vk (V) and Ik (A) out,
// j the point index out. Ik < 0 marks a curve without a usable knee (then Vk and j are left as given).
// The derivative table of the curve goes to *table when table is given.
void EstKnee(const EstData& d, int f, int c, float& Vk, float& Ik, int& j, KneeTable* table = nullptr);

// Secondary-emission parameters of the beam tetrodes (codes 13, 23, 33): Sc, alpha', w, nu, lambda out.
// When tables is given, the knee table of every curve examined is appended to it.
void EstSec(const EstData& d, ParamVector& P, const Slots& s, float& Sc, float& alpha_p, float& w, float& nu,
            float& lambda, std::vector<KneeTable>* tables = nullptr);

// kG1' of the hexode/heptode g3 section: its Koren term at zero grid voltage and the highest screen voltage
// of the first curves. A value that is not finite and positive gives kG1' = 1 with a console note.
void EstkG1g3(const EstData& d, const ParamVector& P, const Slots& s, float& kG1_p);

}  // namespace tubefit
