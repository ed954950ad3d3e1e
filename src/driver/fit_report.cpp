#include "driver/fit_report.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "fit/objective.h"
#include "models/model_info.h"
#include "models/small_signal.h"
#include "models/models.h"
#include "text/format.h"
#include "text/textfile.h"

namespace tubefit {

namespace {

constexpr double kMilliampere = 1000.0;

// RMS and largest error in mA, or a dash where the curve has no point in the fit.
std::string ErrorFields(int32_t points, double sum, float max) {
  if (points == 0) return RenderA("-", 10) + RenderA("-", 10);
  const double rms = std::sqrt(sum / points) * kMilliampere;
  return RenderF(rms, 10, 4) + RenderF(max * kMilliampere, 10, 4);
}

bool HasG3Column(char tube) { return tube == 'H' || tube == 'F'; }

}  // namespace


std::vector<std::string> FitReportLines(const FitErrors& errors, const Settings& settings) {
  size_t name_width = 4;
  for (int f = 1; f <= settings.DataFile.count(); ++f) name_width = std::max(name_width, settings.DataFile[f].size());
  const bool g3 = HasG3Column(settings.TubeType);

  std::vector<std::string> lines;
  lines.push_back(" Fit errors in mA (measured minus fitted current) over the points in the fit:");
  std::string head = " " + PadTo("file", name_width) + RenderA("Vg1 (V)", 9);
  if (g3) head += RenderA("Vg3 (V)", 9);
  head += RenderA("points", 8) + RenderA("Ia RMS", 10) + RenderA("Ia max", 10);
  if (errors.screen) head += RenderA("Is RMS", 10) + RenderA("Is max", 10);
  lines.push_back(head);

  auto row = [&](const std::string& name, const std::string& grids, const CurveErrors& e) {
    std::string line = " " + PadTo(name, name_width) + grids + RenderI(e.points, 8) + ErrorFields(e.points, e.sum_ia, e.max_ia);
    if (errors.screen) line += ErrorFields(e.points, e.sum_is, e.max_is);
    return line;
  };
  for (const CurveErrors& e : errors.curves) {
    std::string grids = RenderF(e.Vg1, 9, 2);
    if (g3) grids += RenderF(e.Vg3, 9, 2);
    lines.push_back(row(settings.DataFile[e.file], grids, e));
  }
  lines.push_back(row("all", std::string(g3 ? 18 : 9, ' '), errors.total));
  lines.push_back(ListDirected({"Sum of squared errors = ", errors.R2, " A^2 (the R2 of the fit)"}));
  return lines;
}

void WriteFitReport(const Settings& settings, const FitErrors& errors, std::ostream& console,
                    const std::vector<std::string>& more) {
  std::vector<std::string> lines = FitReportLines(errors, settings);
  lines.insert(lines.end(), more.begin(), more.end());
  std::ostringstream text;
  for (const std::string& line : lines) {
    console << line << '\n';
    text << line << '\n';
  }
  WriteTextFile("Fit.txt", text.str());
  WriteList(console, {"Fit report written to file Fit.txt"});
}

std::vector<std::string> UndeterminedParameterLines(int32_t NFit, const ParamVector& SV,
                                                    const std::array<std::string, MxNP + 1>& names) {
  constexpr float kDeterminedLimit = 100.0f;  // %: a standard deviation larger than the value itself
  std::vector<std::string> lines;
  for (int32_t i = 1; i <= NFit && i <= MxNP; ++i) {
    const float sv = SV[static_cast<size_t>(i)];
    if (!(std::fabs(sv) > kDeterminedLimit)) continue;
    lines.push_back(ListDirected({"The data do not determine " + TrimRight(names[static_cast<size_t>(i)]) +
                                  ": its standard variance is", std::fabs(sv),
                                  " %, more than its value; other values fit as well."}));
  }
  return lines;
}

std::vector<ReportRow> OperatingPointRows(const Settings& settings, const ParamVector& P, const Slots& slots) {
  const OperatingPointVoltages& op = settings.OperatingPoint;
  const char tube = settings.TubeType;
  auto number = [](double value) { return ShortestReal(value, 5); };
  std::string voltages = "Va = " + number(op.Va) + " V";
  if (tube != 'D') voltages += ", Vg1 = " + number(op.Vg1) + " V";
  if (IsScreenGridTube(tube)) voltages += ", Vs = " + number(op.Vs) + " V";
  if (tube == 'H' || tube == 'F') voltages += ", Vg3 = " + number(op.Vg3) + " V";
  std::vector<ReportRow> rows = {{"Operating point", voltages}};
  SmallSignal ss;
  // Tubes without a screen grid take the anode voltage for it, as the plots do.
  const float vs = IsScreenGridTube(tube) ? op.Vs : op.Va;
  if (!SmallSignalAt(settings.iModel, P, slots, op.Va, vs, op.Vg1, op.Vg3, ss)) {
    rows.push_back({"Ia", "no law for model code " + RenderI(settings.iModel, 0)});
    return rows;
  }
  rows.push_back({"Ia", number(ss.Ia * 1e3) + " mA"});
  if (IsScreenGridTube(tube)) rows.push_back({"Is", number(ss.Is * 1e3) + " mA"});
  if (tube != 'D') rows.push_back({"gm", number(ss.dIa_dVg1 * 1e3) + " mA/V"});
  const bool finite_ra = ss.dIa_dVa != 0.0 && std::isfinite(1.0 / ss.dIa_dVa);
  rows.push_back({"ra", finite_ra ? number(1.0 / ss.dIa_dVa / 1e3) + " kOhm" : "not finite (dIa/dVa = 0)"});
  if (tube != 'D') rows.push_back({"mu", finite_ra ? number(ss.dIa_dVg1 / ss.dIa_dVa) : "not finite"});
  return rows;
}

std::vector<std::string> OperatingPointLines(const std::vector<ReportRow>& rows) {
  std::vector<std::string> lines;
  for (const ReportRow& row : rows) {
    if (lines.empty()) {
      lines.push_back(" Small-signal values of the fitted model at " + row.value + ":");
    } else {
      lines.push_back("   " + row.name + " = " + row.value);
    }
  }
  return lines;
}

}  // namespace tubefit
