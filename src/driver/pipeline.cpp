#include "driver/pipeline.h"

#include <ctime>

#include "analysis/analysis.h"
#include "checks/checks.h"
#include "driver/fit_sequence.h"
#include "driver/measurements.h"
#include "estimate/estimate.h"
#include "estimate/parfiles.h"
#include "fit/fit_errors.h"
#include "fit/objective.h"
#include "driver/fit_report.h"
#include "driver/report_page.h"
#include "models/model_info.h"
#include "models/models.h"
#include "plot/plot.h"
#include "spice/spice.h"
#include "text/format.h"
#include "text/textfile.h"

namespace tubefit {


FitAnalysisResult AnalyseFit(const Settings& settings, const ParamSet& ps, const Objective& F, int32_t points,
                             Console& console) {
  std::ostream& out = console.out;
  const int32_t n = ps.NFit;
  const FitAnalysisResult a =
      FitAnalysis(F, ps.P, n, points, [&out](const std::string& text) { WriteList(out, {text}); });
  if (points <= n) {
    WriteList(out, {"Standard variances undefined: " + RenderI(points, 0) + " points in the fit for " +
                        RenderI(n, 0) + " fitted parameters."});
  } else {
    for (int32_t i = 1; i <= n; ++i) {
      if (ps.P[i] == 0.0f) {
        WriteList(out, {"Standard variance of " + TrimRight(ps.name[i]) + " undefined: its fitted value is 0."});
      }
    }
  }
  if (settings.DebugLevel >= 1) {
    WriteTextFile("Hinv.dat", HinvText(a.C, n, ps.name));
    if (!a.jacobi_converged) {
      WriteList(out, {"too many iterations in jacobi"});
      console.WaitForReturn();
    }
    WriteTextFile("Eigen.dat", EigenText(a.d.data(), a.V, n, ps.name));
  }
  return a;
}

void WriteSubcircuits(const RunState& state, std::ostream& out, float R2) {
  const Settings& settings = state.settings;
  const ParamSet& ps = state.params;
  const std::string& first = settings.DataFile[1];
  const ModelInfo& model = ModelInfoFor(settings.iModel);
  const std::string family = model.code < 0 ? "" : FamilyName(model.family);
  const SpiceOrigin origin{settings.ModelName, TubeWords(settings.TubeType), family, R2};
  WriteSpiceFile(model.writer, first, ps.P, ps.slot, settings.iModel, settings.Dialect, out, settings.Precision,
                 origin);
  const int32_t last = state.meas.NFiles;
  if (!model.companion_triode || state.meas.file[last].SweepType != kSweepVsVa) return;
  float dex = 0.0f;
  CalcDex(ps.P, ps.slot, dex, out);
  if (settings.DebugLevel >= 1) WriteList(out, {"dex = ", dex});
  // The triode file gets its own copy: adding and subtracting dex in floats need not give ex back.
  ParamVector triode = ps.P;
  triode[ps.slot.ex] = ps.P[ps.slot.ex] + dex;
  const SpiceOrigin companion{"", "triode section of the " + origin.tube + " (ex + dex)", family, R2};
  WriteSpiceFile(SpiceWriter::kTriode, settings.DataFile[last], triode, ps.slot,
                 ModelCode(Tube::kTriode, Family::kKoren), settings.Dialect, out, settings.Precision, companion);
}

FitErrors RunPipeline(RunState& state, Console& console) {
  const Settings& settings = state.settings;
  std::ostream& out = console.out;

  ReadMeasurements(settings, state.meas, out);
  CheckCurveLengths(settings, state.meas);
  if (IsScreenGridTube(settings.TubeType)) DetSweep(settings, state.meas, out);

  CheckSufficientData(settings, state.meas, out);
  CheckDynamicRange(settings, state.meas, out);
  CheckScreenCurrent(settings, state.meas, out);
  CheckTriodeCutOff(settings, state.meas, console);
  CheckSaturation(settings, state.meas, console);

  ParamIdent(settings.iModel, state.params);
  EstStart(state, out);

  // The one objective of the run: the fit, the fit errors and through them the report and the plots.
  const FitObjective objective(state.meas, settings.Pmax, settings.Icmax, settings.iModel, state.params.slot);
  RunFitSequence(state, objective.ForFit(), out, &objective);
  const FitErrors errors = ComputeFitErrors(objective, state.params.P);
  WriteSubcircuits(state, out, errors.R2);

  ParamSet& ps = state.params;
  const double elapsed = static_cast<double>(std::time(nullptr)) - state.start_time;
  WriteList(out);
  WriteFormatted(out, "(' Elapsed time: ',F5.1,'s')", {elapsed});
  WriteList(out, {"Final estimates:"});
  WriteParFiles(settings.TubeType, ps, out);
  const int32_t points = static_cast<int32_t>(objective.points().size());
  const ParamVector SV = AnalyseFit(settings, ps, [&objective](const ParamVector& P) { return objective(P); }, points, console).SV;
  WriteList(out, {"Standard variances (in %) for each parameter:"});
  WriteParTable(out, ps.NFit, SV, ps.name);

  std::vector<ReportRow> operating;
  std::vector<std::string> operating_lines;
  if (settings.OperatingPoint.set) {
    operating = OperatingPointRows(settings, ps.P, ps.slot);
    operating_lines = OperatingPointLines(operating);
  }
  if (settings.FitReport) {
    for (const std::string& line : UndeterminedParameterLines(ps.NFit, SV, ps.name)) out << line << '\n';
    WriteFitReport(settings, errors, out, operating_lines);
  } else if (!operating_lines.empty()) {
    std::string text;
    for (const std::string& line : operating_lines) {
      out << line << '\n';
      text += line + "\n";
    }
    WriteTextFile("Fit.txt", text);
    WriteList(out, {"Operating point written to file Fit.txt"});
  }
  CheckMuAtMaximum(settings.TubeType, ps.P, ps.slot, out);
  WrtPlot(settings, state.meas, ps.P, ps.slot, errors, out);
  if (settings.Report != ReportFormat::kNone) {
    ReportContent page;
    page.settings = &settings;
    page.ms = &state.meas;
    page.ps = &ps;
    page.errors = &errors;
    page.SV = SV;
    page.operating = operating;
    page.subcircuit_file = SubcircuitName(settings.DataFile[1]) + ".cir";
    WriteReportPage(page, out);
  }
  return errors;
}

}  // namespace tubefit
