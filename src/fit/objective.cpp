#include "fit/objective.h"

#include "models/models.h"

namespace tubefit {

std::vector<FitPoint> SelectFitWindow(const MeasurementSet& ms, float Pmax, float Icmax) {
  std::vector<FitPoint> points;
  for (int f = 1; f <= ms.NFiles; ++f) {
    const MeasFile& file = ms.file[f];
    for (int c = 1; c <= file.NVg; ++c) {
      const MeasCurve& curve = file.curve[c];
      for (int p = 1; p <= curve.NPts; ++p) {
        const MeasPoint& m = curve.pt[p];
        if (!InFitWindow(m, Pmax, Icmax)) continue;
        points.push_back(FitPoint{m.Va, m.Vs, curve.Vg1, curve.Vg3, m.Ia, m.Is});
      }
    }
  }
  return points;
}

FitObjective::FitObjective(const MeasurementSet& ms, float Pmax, float Icmax, int32_t iModel, const Slots& slots)
    : points_(SelectFitWindow(ms, Pmax, Icmax)), iModel_(iModel), slots_(slots), screen_(iModel != 0 && iModel != 1) {}

float FitObjective::operator()(ParamVector& P) const {
  float S = 0.0f;
  for (const FitPoint& pt : points_) {
    float Ia = 0.0f;
    float Is = 0.0f;
    Model(iModel_, pt.Va, pt.Vs, pt.Vg1, pt.Vg3, P, slots_, Ia, Is);
    float d = pt.Ia - Ia;
    S = S + d * d;
    if (screen_) {
      d = pt.Is - Is;
      S = S + d * d;
    }
  }
  return S;
}

}  // namespace tubefit
