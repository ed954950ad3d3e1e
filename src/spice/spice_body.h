// The bodies of the subcircuit files, as lines, before they are put in the common shape.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/param_set.h"

namespace tubefit {

// One body: the instance part of the calling subcircuit and the model subcircuit.
struct SpiceBody {
  std::vector<std::string> instance;  // the "X1 " line, its "+" continuation lines, the capacitance line
  std::string model;                  // model subcircuit name
  std::string model_pins;             // the text after the name on the model's .SUBCKT line
  std::vector<std::string> elements;  // the element lines of the model
  std::string ends;                   // the closing line of the model, ".ENDS" and a name
};

SpiceBody DiodeBody(const ParamVector& P, const Slots& s);
SpiceBody TriodeBody(const ParamVector& P, const Slots& s);
SpiceBody PentodeKBody(const ParamVector& P, const Slots& s);
// The codes whose entry names a Nolt-family body (pentode, beam tetrode, variable-mu); empty for any other.
SpiceBody NoltBody(int32_t iModel, const ParamVector& P, const Slots& s);
SpiceBody HepthodeBody(const ParamVector& P, const Slots& s);
SpiceBody Penthodeg3Body(const ParamVector& P, const Slots& s);

}  // namespace tubefit
