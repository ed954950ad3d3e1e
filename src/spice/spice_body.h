// The bodies of the subcircuit files, as lines, before they are put in the common shape.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/param_set.h"
#include "text/format.h"

namespace tubefit {

// One line of the instance part: a fixed text, or a format with the fitted values it carries. The values
// are rendered when the file is written, so that the writer chooses how they are shown.
struct InstanceLine {
  InstanceLine(const char* fixed) : format(), items(), text(fixed) {}
  InstanceLine(std::string fmt, FmtItems values) : format(std::move(fmt)), items(std::move(values)) {}
  std::string Render(RealFields reals) const { return format.empty() ? text : FormatLine(format, items, reals); }

  std::string format;  // empty for a fixed text
  FmtItems items;
  std::string text;
};

// One body: the instance part of the calling subcircuit and the model subcircuit.
struct SpiceBody {
  std::vector<InstanceLine> instance;  // the "X1 " line, its "+" continuation lines, the capacitance line
  std::string model;                  // model subcircuit name
  std::string model_pins;             // the text after the name on the model's .SUBCKT line
  std::vector<std::string> elements;  // the element lines of the model
  std::string ends;                   // the closing line of the model, ".ENDS" and a name
};

// The body that the model code's entry names, or false when it names none (or one that is not here).
bool BodyFor(int32_t iModel, const ParamVector& P, const Slots& s, SpiceBody& body);

}  // namespace tubefit
