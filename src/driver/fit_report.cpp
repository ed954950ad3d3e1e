#include "driver/fit_report.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "fit/objective.h"
#include "models/model_info.h"
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

void WriteFitReport(const Settings& settings, const MeasurementSet& ms, const ParamVector& P, const Slots& slots,
                    std::ostream& console) {
  const FitErrors errors = ComputeFitErrors(ms, settings.Pmax, settings.Icmax, settings.iModel, P, slots);
  const std::vector<std::string> lines = FitReportLines(errors, settings);
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

}  // namespace tubefit
