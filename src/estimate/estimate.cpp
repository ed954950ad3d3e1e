#include "estimate/estimate.h"

#include <array>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "estimate/est_common.h"
#include "models/law_math.h"
#include "estimate/parfiles.h"
#include "models/model_info.h"
#include "text/format.h"
#include "text/stop.h"
#include "text/textfile.h"

namespace tubefit {

namespace {

using est::FitLineChecked;
using est::Note;
using est::Num;

[[noreturn]] void StopMissing(const std::vector<std::string>& missing, const std::string& file) {
  std::vector<std::string> lines;
  for (const std::string& name : missing)
    lines.push_back(ListDirected({"Cannot find parameter " + name + " in File " + file + "."}));
  StopWithText("Execution halts", lines);
}

// Reads ex, mu, kG1, kp and kVB of a triode parameter file into the given slots. A triode file that
// lacks one of them cannot start the fit: the run stops naming the parameters.
void TriodeRead(const std::string& file, ParamVector& P, int32_t ex, int32_t mu, int32_t kG1, int32_t kp,
                int32_t kVB) {
  const TriodeParValues t = ReadTriodePar(file);
  if (!t.missing.empty()) StopMissing(t.missing, file);
  P[ex] = t.ex;
  P[mu] = t.mu;
  P[kG1] = t.kG1;
  P[kp] = t.kp;
  P[kVB] = t.kVB;
}

void TriodeRead(const std::string& file, ParamVector& P, const Slots& s) {
  TriodeRead(file, P, s.ex, s.mu, s.kG1, s.kp, s.kVB);
}

// alpha_s and beta of the family's current-division law: exponential for NoltE, rational otherwise.
void EstDivision(const EstData& d, ParamVector& P, const Slots& s, Family family) {
  if (family == Family::kNoltE) {
    EstalsbePe(d, P, s, P[s.alpha_s], P[s.beta]);
  } else {
    Estalsbe(d, P, s, P[s.alpha_s], P[s.beta]);
  }
}

void StartFromFile(const Settings& settings, ParamSet& ps, std::ostream& console) {
  const ParFile file = OpenParFile(settings.StartFile);
  WriteList(console, {"Reading start parametervalues from file " + TrimRight(settings.StartFile)});
  for (int32_t i = 1; i <= ps.NFit && i <= MxNP; ++i) {
    const float value = ReadParValue(file, ps.name[i]);
    if (value < 0.0f) {
      ps.P[i] = (ps.slot.lambda != 0 && i == ps.slot.lambda) ? 1000.0f : 0.0f;
      WriteList(console, {"Cannot find parameter " + TrimRight(ps.name[i]) + ". Set to zero."});
    } else {
      ps.P[i] = value;
    }
  }
}

// The knee tables of the secondary-emission estimator, every curve in turn, for a look at the estimator's
// work: one line of Va, Is and the two derivatives per point, an empty line between two curves.
void WriteKneeTables(const std::vector<KneeTable>& tables) {
  std::ostringstream text;
  for (size_t t = 0; t < tables.size(); ++t) {
    if (t > 0) text << '\n';
    for (const std::array<float, 4>& row : tables[t]) WriteList(text, {row[0], row[1], row[2], row[3]});
  }
  WriteTextFile("s.dat", text.str());
}

void Estimate(const Settings& settings, const MeasurementSet& ms, ParamSet& ps, std::ostream& console) {
  const ModelInfo& model = ModelInfoFor(settings.iModel);
  ParamVector& P = ps.P;
  const Slots& s = ps.slot;
  if (model.cst_files_only && ms.NVsCst < 1) {
    StopWithText("Execution halts",
                 {ListDirected({"No Vs=Cst file: the screen-grid parameters cannot be estimated."})});
  }
  const EstData d(ms, console, settings.iModel, settings.DebugLevel,
                  model.cst_files_only ? ms.NVsCst : ms.NFiles);
  switch (model.estimate) {
    case EstRoute::kNone:
      break;
    case EstRoute::kDiode:
      EstDiode(d, P[s.k], P[s.ex], P[s.eps]);
      break;
    case EstRoute::kTriode:
      EstMu(d, P[s.mu]);
      EstkGExp(d, P, s, P[s.kG1], P[s.ex]);
      Estkp(d, P, s, P[s.kp]);
      EstkVB(d, P, s, P[s.kVB]);
      break;
    case EstRoute::kKorenPentode:
      TriodeRead("Triode.par", P, s);
      P[s.kVB] = 100.0f;
      EstkG2(d, P, s, P[s.kG2]);
      break;
    case EstRoute::kNoltPentode:
    case EstRoute::kBeamTetrode:
      TriodeRead("Triode.par", P, s);
      EstkG2(d, P, s, P[s.kG2]);
      EstA(d, P, s, P[s.A]);
      EstDivision(d, P, s, model.family);
      if (model.estimate == EstRoute::kBeamTetrode) {
        std::vector<KneeTable> knees;
        EstSec(d, P, s, P[s.Sc], P[s.alpha_p], P[s.w], P[s.nu], P[s.lambda],
               settings.DebugLevel >= 2 ? &knees : nullptr);
        if (settings.DebugLevel >= 2) WriteKneeTables(knees);
      }
      break;
    case EstRoute::kVarMuNolt:
      TriodeRead("Triode.par", P, s);
      EstkG2(d, P, s, P[s.kG2]);
      EstA(d, P, s, P[s.A]);
      EstDivision(d, P, s, model.family);
      P[s.svar] = 0.5f;
      P[s.mu] = 1.5f * P[s.mu];
      P[s.mu_b] = 0.5f * P[s.mu];
      P[s.ex_b] = 0.8f * P[s.ex];
      break;
    case EstRoute::kVarMuNoltE:
      TriodeRead("Triode.par", P, s);
      P[s.svar] = 0.5f;
      P[s.mu_b] = 0.5f * P[s.mu];
      P[s.ex_b] = 0.8f * P[s.ex];
      EstkG2(d, P, s, P[s.kG2]);
      EstA(d, P, s, P[s.A]);
      EstDivision(d, P, s, model.family);
      break;
    case EstRoute::kHexode:
      TriodeRead("Triode.par", P, s);
      TriodeRead("Triode_g3.par", P, s.ex_p, s.mu_p, s.kG1_p, s.kp_p, s.kVB_p);
      EstkG2(d, P, s, P[s.kG2]);
      EstkG1g3(d, P, s, P[s.kG1_p]);
      EstA(d, P, s, P[s.A]);
      Estalsbe(d, P, s, P[s.alpha_s], P[s.beta]);
      P[s.mu3] = 100.0f;
      break;
    case EstRoute::kG3Pentode: {
      const std::vector<std::string> missing = ReadModelPar("Penthode.par", P, s);
      if (!missing.empty()) StopMissing(missing, "Penthode.par");
      P[s.V0] = 0.0f;
      P[s.mu3] = 1.0f;
      P[s.kG1_p] = 4.0f;
      P[s.ex_p] = 1.0f;
      P[s.mu_p] = 10.0f;
      break;
    }
  }
  P[0] = 0.0f;  // the spare slot of absent parameters stays zero
  WriteList(console, {"Initial estimates:"});
  WriteParFiles(settings.TubeType, ps, console, ParMoment::kStart);
}

}  // namespace

void EstStart(const Settings& settings, const MeasurementSet& ms, ParamSet& ps, std::ostream& console) {
  if (settings.RdStart) {
    StartFromFile(settings, ps, console);
  } else {
    Estimate(settings, ms, ps, console);
  }
}

void EstStart(RunState& st, std::ostream& console) { EstStart(st.settings, st.meas, st.params, console); }

void EstDiode(const EstData& d, float& k, float& ex, float& eps) {
  const MeasurementSet& ms = d.ms;
  float k_sum = 0.0f;
  float ex_sum = 0.0f;
  int32_t used = 0;
  float x[kMaxPoints + 1] = {};
  float y[kMaxPoints + 1] = {};
  for (int f = 1; f <= d.NFiles; ++f) {
    const int c = ms.file[f].NVg;
    const int n = c >= 1 ? ms.curve(f, c).NPts : 0;
    // The upper half of the curve, from point n/2 (at least point 1) to n; a logarithm needs positive
    // voltages and currents, so other points are left out.
    int m = 0;
    for (int p = n / 2 < 1 ? 1 : n / 2; p <= n; ++p) {
      const MeasPoint& pt = ms.point(f, c, p);
      if (pt.Va > 0.0f && pt.Ia > 0.0f) {
        ++m;
        x[m] = law::Log(pt.Va);
        y[m] = law::Log(pt.Ia);
      }
    }
    float b1 = 0.0f;
    float b0 = 0.0f;
    if (!FitLineChecked(x, y, m, b1, b0) || !std::isfinite(law::Exp(-b0))) {
      Note(d.console, "EstDiode: the last curve of file " + Num(f) +
                          " has fewer than two points with positive Va and Ia in its upper half; file skipped.");
      continue;
    }
    ex_sum += b1;
    const float kf = law::Exp(-b0);
    k_sum += kf;
    ++used;
  }
  if (used == 0) {
    StopWithText("Execution halts",
                 {ListDirected({"EstDiode: no file has two points with positive Va and Ia in the upper half of "
                                "its last curve."})});
  }
  k = k_sum / static_cast<float>(used);
  ex = ex_sum / static_cast<float>(used);
  eps = 0.0f;
}

void CalcDex(const ParamVector& P, const Slots& s, float& dex, std::ostream& console) {
  const float A = P[s.A];
  const float mu = P[s.mu];
  const float num_arg = 1.0f + 500.0f * A;
  const float den_arg = 500.0f / mu;
  float value = 0.0f;
  bool defined = mu > 0.0f && num_arg > 0.0f && std::isfinite(num_arg) && std::isfinite(den_arg);
  if (defined) {
    const float num = law::Log(num_arg);
    const float den = law::Log(den_arg);
    defined = den != 0.0f;
    if (defined) {
      value = num / den;
      defined = std::isfinite(value);
    }
  }
  if (!defined) {
    WriteList(console, {"CalcDex: dex is undefined for mu =", mu, " and A =", A, "; dex set to 0."});
    value = 0.0f;
  }
  dex = value;
}

}  // namespace tubefit
