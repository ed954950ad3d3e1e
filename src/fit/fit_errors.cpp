#include "fit/fit_errors.h"

#include <algorithm>
#include <cmath>

#include "models/model_info.h"
#include "models/models.h"

namespace tubefit {

namespace {

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

}  // namespace

FitErrors ComputeFitErrors(const FitObjective& objective, const ParamVector& P) {
  const MeasurementSet& ms = objective.measurements();
  FitErrors errors;
  errors.screen = ModelInfoFor(objective.iModel()).screen_in_objective;
  // One copy for the whole walk: the model's write-backs carry from point to point as in the objective.
  ParamVector Q = P;
  const std::vector<FitPoint>& window = objective.points();
  size_t next = 0;
  size_t k = 0;  // the curve's entry in curve_points()
  for (int f = 1; f <= ms.NFiles; ++f) {
    const MeasFile& file = ms.file[f];
    for (int c = 1; c <= file.NVg; ++c) {
      const MeasCurve& curve = file.curve[c];
      CurveErrors e;
      e.file = f;
      e.curve = c;
      e.Vg1 = curve.Vg1;
      e.Vg3 = curve.Vg3;
      const size_t end = next + static_cast<size_t>(objective.curve_points()[k++]);
      for (; next < end; ++next) {
        const FitPoint& m = window[next];
        float Ia = 0.0f;
        float Is = 0.0f;
        Model(objective.iModel(), m.Va, m.Vs, m.Vg1, m.Vg3, Q, objective.slots(), Ia, Is);
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
  errors.R2 = objective(P);
  return errors;
}

}  // namespace tubefit
