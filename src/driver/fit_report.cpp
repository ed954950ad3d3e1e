#include "driver/fit_report.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "fit/objective.h"
#include "models/models.h"
#include "text/format.h"
#include "text/textfile.h"

namespace tubefit {

namespace {

constexpr double kMilliampere = 1000.0;

void AddPoint(CurveErrors& e, float d_ia, float d_is) {
  e.points += 1;
  e.sum_ia += static_cast<double>(d_ia) * d_ia;
  e.sum_is += static_cast<double>(d_is) * d_is;
  e.max_ia = std::max(e.max_ia, std::fabs(d_ia));
  e.max_is = std::max(e.max_is, std::fabs(d_is));
}

void AddCurve(CurveErrors& total, const CurveErrors& e) {
  total.points += e.points;
  total.sum_ia += e.sum_ia;
  total.sum_is += e.sum_is;
  total.max_ia = std::max(total.max_ia, e.max_ia);
  total.max_is = std::max(total.max_is, e.max_is);
}

// RMS and largest error in mA, or a dash where the curve has no point in the fit.
std::string ErrorFields(int32_t points, double sum, float max) {
  if (points == 0) return RenderA("-", 10) + RenderA("-", 10);
  const double rms = std::sqrt(sum / points) * kMilliampere;
  return RenderF(rms, 10, 4) + RenderF(max * kMilliampere, 10, 4);
}

bool HasG3Column(char tube) { return tube == 'H' || tube == 'F'; }

}  // namespace

FitErrors ComputeFitErrors(const MeasurementSet& ms, float Pmax, float Icmax, int32_t iModel, const ParamVector& P,
                           const Slots& slots) {
  FitErrors errors;
  errors.screen = iModel != 0 && iModel != 1;
  // One copy for the whole walk: the model's write-backs carry from point to point as in the objective.
  ParamVector Q = P;
  for (int f = 1; f <= ms.NFiles; ++f) {
    const MeasFile& file = ms.file[f];
    for (int c = 1; c <= file.NVg; ++c) {
      const MeasCurve& curve = file.curve[c];
      CurveErrors e;
      e.file = f;
      e.curve = c;
      e.Vg1 = curve.Vg1;
      e.Vg3 = curve.Vg3;
      for (int p = 1; p <= curve.NPts; ++p) {
        const MeasPoint& m = curve.pt[p];
        if (!InFitWindow(m, Pmax, Icmax)) continue;
        float Ia = 0.0f;
        float Is = 0.0f;
        Model(iModel, m.Va, m.Vs, curve.Vg1, curve.Vg3, Q, slots, Ia, Is);
        const float d_ia = m.Ia - Ia;
        const float d_is = errors.screen ? m.Is - Is : 0.0f;
        AddPoint(e, d_ia, d_is);
      }
      AddCurve(errors.total, e);
      errors.curves.push_back(e);
    }
  }
  // The sum itself is the objective's, evaluated the way the fit evaluates it (the vector routines can
  // differ from the point-by-point model in the last digits).
  const FitObjective objective(ms, Pmax, Icmax, iModel, slots);
  ParamVector R = P;
  errors.R2 = objective(R);
  return errors;
}

std::vector<std::string> FitReportLines(const FitErrors& errors, const Settings& settings) {
  size_t name_width = 4;
  for (int f = 1; f <= settings.NFiles; ++f) name_width = std::max(name_width, settings.DataFile[f].size());
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

}  // namespace tubefit
