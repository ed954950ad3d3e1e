// Parameter sets and model equations of every tube model. The laws themselves are in models/law.h.
#pragma once

#include <cstdint>

#include "core/param_set.h"

namespace tubefit {

// Assigns slot numbers, names and NFit of the parameter set for the model code. A code outside the table
// assigns nothing. Stops ("Internal error in Subroutine ParamIdent, NFit > MxNP") if NFit exceeds MxNP.
void ParamIdent(int32_t iModel, ParamSet& ps);

// The Koren triode term raised to |ex| (0 when the softplus term is at or below 1e-6). Writes |kVB| back
// into P.
float KorenTerm(ParamVector& P, const Slots& s, float Vg, float Va);

// Anode and screen current (A) of the model code at one point (V). Writes the model's clamps back into P
// as the equations say. The diode and triode leave Is unchanged. Stops ("SUBROUTINE Model: iModel
// unknown.") for a code without equations.
void Model(int32_t iModel, float Va, float Vs, float Vg1, float Vg3, ParamVector& P, const Slots& s, float& Ia,
           float& Is);

}  // namespace tubefit
