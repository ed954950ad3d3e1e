// Parameter vectors for the subcircuit tests: a model code's vector filled from named values, in the
// slot order of its entry.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "core/param_set.h"
#include "models/model_info.h"
#include "models/models.h"

namespace tubefit {
namespace spice_test {

struct TestParams {
  ParamVector P{};
  Slots s;
};

// The vector of the model code with every parameter of its slot table taken from `values`, in slot order.
inline TestParams MakeParams(int32_t iModel, const std::map<std::string, float>& values) {
  TestParams t;
  ParamSet ps;
  ParamIdent(iModel, ps);
  t.s = ps.slot;
  int32_t slot = 0;
  for (const SlotName& name : ModelInfoFor(iModel).slots) t.P[++slot] = values.at(name.name);
  return t;
}

}  // namespace spice_test
}  // namespace tubefit
