#include "driver/pipeline.h"

#include <ctime>

#include "analysis/analysis.h"
#include "checks/checks.h"
#include "driver/fit_sequence.h"
#include "driver/measurements.h"
#include "estimate/estimate.h"
#include "estimate/parfiles.h"
#include "fit/objective.h"
#include "fit/report.h"
#include "models/model_info.h"
#include "models/models.h"
#include "plot/plot.h"
#include "spice/spice.h"
#include "text/format.h"

namespace tubefit {

namespace {

// The subcircuit file of the model code, and for pentodes and beam tetrodes whose last file ties the
// screen to the anode also a triode file with the exponent shifted by dex.
void WriteSubcircuits(RunState& state, std::ostream& out) {
  const Settings& settings = state.settings;
  ParamSet& ps = state.params;
  const std::string& first = settings.DataFile[1];
  const ModelInfo& model = ModelInfoFor(settings.iModel);
  WriteSpiceFile(model.writer, first, ps.P, ps.slot, settings.iModel, settings.Dialect, out);
  const int32_t last = settings.NFiles;
  if (!model.companion_triode || state.meas.file[last].SweepType != kSweepVsVa) return;
  float dex = 0.0f;
  CalcDex(ps.P, ps.slot, dex, out);
  if (settings.DebugLevel >= 1) WriteList(out, {"dex = ", dex});
  ps.P[ps.slot.ex] = ps.P[ps.slot.ex] + dex;
  SpiceTriode(settings.DataFile[last], ps.P, ps.slot, ModelCode(Tube::kTriode, Family::kKoren), settings.Dialect,
              out);
  ps.P[ps.slot.ex] = ps.P[ps.slot.ex] - dex;
}

}  // namespace

void RunPipeline(RunState& state, Console& console) {
  const Settings& settings = state.settings;
  std::ostream& out = console.out;

  ReadMeasurements(settings, state.meas, out);
  CheckCurveLengths(settings, state.meas);
  if (IsScreenGridTube(settings.TubeType)) DetSweep(settings, state.meas, out);

  state.NPointsInFit = CheckSufficientData(settings, state.meas, out);
  CheckDynamicRange(settings, state.meas, out);
  CheckScreenCurrent(settings, state.meas, out);
  CheckTriodeCutOff(settings, state.meas, console);
  CheckSaturation(settings, state.meas, console);

  ParamIdent(settings.iModel, state.params);
  EstStart(state, out);

  const FitObjective objective(state.meas, settings.Pmax, settings.Icmax, settings.iModel, state.params.slot);
  const Objective F = [&objective](ParamVector& P) { return objective(P); };
  RunFitSequence(state, F, out, &objective);
  WriteSubcircuits(state, out);

  ParamSet& ps = state.params;
  const double elapsed = static_cast<double>(std::time(nullptr)) - state.start_time;
  WriteList(out);
  WriteFormatted(out, "(' Elapsed time: ',F5.1,'s')", {elapsed});
  WriteList(out, {"Final estimates:"});
  WriteParFiles(ps.NFit, settings.TubeType, ps, out);
  FitAnalysis(F, ps.P, state.hessian, ps.NFit, state.NPointsInFit, state.SV, ps.name, settings.DebugLevel,
              console);
  WriteList(out, {"Standard variances (in %) for each parameter:"});
  WriteParTable(out, ps.NFit, state.SV, ps.name);

  if (settings.FitReport) WriteFitReport(settings, state.meas, ps.P, ps.slot, out);
  CheckMuAtMaximum(settings.TubeType, ps.P, ps.slot, out);
  WrtPlot(settings, state.meas, ps.P, ps.slot, out);
}

}  // namespace tubefit
