// The small-signal values of a fitted model at one operating point: the currents and their exact
// derivatives with respect to the anode and control-grid voltages.
#pragma once

#include <cstdint>

#include "core/param_set.h"

namespace tubefit {

struct SmallSignal {
  double Ia = 0.0, Is = 0.0;  // A
  double dIa_dVa = 0.0;       // A/V: 1/ra
  double dIa_dVg1 = 0.0;      // A/V: gm
};

// The currents of model code iModel with parameters P at (Va, Vs, Vg1, Vg3), with the law's clamps, and
// the derivatives of Ia by automatic differentiation. False for a code without a law. P is not changed.
bool SmallSignalAt(int32_t iModel, const ParamVector& P, const Slots& s, float Va, float Vs, float Vg1, float Vg3,
                   SmallSignal& out);

}  // namespace tubefit
