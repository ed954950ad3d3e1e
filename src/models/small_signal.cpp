#include "models/small_signal.h"

#include "models/law.h"
#include "models/law_jet.h"

namespace tubefit {

namespace {

using Jet = ceres::Jet<double, 2>;  // derivative part: d/dVa, d/dVg1

// Evaluates one law in jets: the parameters as constants, Va and Vg1 as the two variables.
template <class Law>
void JetCurrents(const ParamVector& P, const Slots& s, float Va, float Vs, float Vg1, float Vg3, SmallSignal& out) {
  Jet values[MxNP + 1];
  for (int i = 0; i <= MxNP; ++i) values[i] = Jet(static_cast<double>(P[static_cast<size_t>(i)]));
  const typename Law::template Params<Jet> e = Law::Effective(static_cast<const Jet*>(values), s);
  const law::Point<Jet> x{Jet(Va, 0), Jet(Vs), Jet(Vg1, 1), Jet(Vg3)};
  Jet Ia(0.0);
  Jet Is(0.0);
  Law::Currents(e, x, Ia, Is);
  out.Ia = Ia.a;
  out.Is = Is.a;
  out.dIa_dVa = Ia.v[0];
  out.dIa_dVg1 = Ia.v[1];
}

}  // namespace

bool SmallSignalAt(int32_t iModel, const ParamVector& P, const Slots& s, float Va, float Vs, float Vg1, float Vg3,
                   SmallSignal& out) {
  out = SmallSignal{};
  return law::WithLaw(iModel, [&](auto lw) { JetCurrents<decltype(lw)>(P, s, Va, Vs, Vg1, Vg3, out); });
}

}  // namespace tubefit
