// Parameter vectors for the subcircuit tests: the slot order of every model code and a vector filled from
// named values.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/param_set.h"

namespace tubefit {
namespace spice_test {

// The parameter names of the model code in slot order.
inline std::vector<std::string> SlotOrder(int32_t iModel) {
  switch (iModel) {
    case 0: return {"k", "ex", "eps"};
    case 1: return {"kVB", "kG1", "kp", "ex", "mu"};
    case 2: return {"mu", "ex", "kG1", "kp", "kVB", "kG2"};
    case 12: case 22: case 32:
      return {"alpha_s", "beta", "A", "kG2", "kG1", "mu", "ex", "kp", "kVB"};
    case 13: case 33:
      return {"Sc", "nu", "lambda", "w", "alpha'", "alpha_s", "beta", "A", "kVB", "kG1", "ex", "kp", "mu", "kG2"};
    case 23:
      return {"Sc", "nu", "lambda", "w", "alpha'", "beta", "A", "alpha_s", "kVB", "kG1", "ex", "kp", "mu", "kG2"};
    case 14:
      return {"mu'", "ex'", "kG1'", "kp'", "kVB'", "mu3", "alpha_s", "beta", "A", "kG2", "kVB", "kp", "kG1", "mu",
              "ex"};
    case 15: case 25:
      return {"mu'", "ex'", "kG1'", "V0", "mu3", "ex", "alpha_s", "beta", "A", "kG2", "kVB", "kp", "kG1", "mu"};
    case 16: case 26:
      return {"alpha_s", "beta", "A", "kG2", "kG1", "mu", "ex", "mu_b", "ex_b", "kp", "kVB", "svar"};
    default:
      throw std::invalid_argument("no slot order for model code " + std::to_string(iModel));
  }
}

inline int32_t& SlotOf(Slots& s, const std::string& name) {
  static const std::map<std::string, int32_t Slots::*> fields = {
      {"k", &Slots::k},         {"ex", &Slots::ex},           {"eps", &Slots::eps},     {"kVB", &Slots::kVB},
      {"kG1", &Slots::kG1},     {"kp", &Slots::kp},           {"mu", &Slots::mu},       {"kG2", &Slots::kG2},
      {"alpha_s", &Slots::alpha_s}, {"beta", &Slots::beta},   {"A", &Slots::A},         {"Sc", &Slots::Sc},
      {"nu", &Slots::nu},       {"lambda", &Slots::lambda},   {"w", &Slots::w},         {"alpha'", &Slots::alpha_p},
      {"mu'", &Slots::mu_p},    {"ex'", &Slots::ex_p},        {"kG1'", &Slots::kG1_p},  {"kp'", &Slots::kp_p},
      {"kVB'", &Slots::kVB_p},  {"mu3", &Slots::mu3},         {"V0", &Slots::V0},       {"mu_b", &Slots::mu_b},
      {"ex_b", &Slots::ex_b},   {"svar", &Slots::svar},
  };
  return s.*fields.at(name);
}

struct TestParams {
  ParamVector P{};
  Slots s;
};

// The vector of the model code with every parameter of its slot order taken from `values`.
inline TestParams MakeParams(int32_t iModel, const std::map<std::string, float>& values) {
  TestParams t;
  const std::vector<std::string> order = SlotOrder(iModel);
  for (size_t i = 0; i < order.size(); ++i) {
    const int32_t slot = static_cast<int32_t>(i + 1);
    SlotOf(t.s, order[i]) = slot;
    t.P[slot] = values.at(order[i]);
  }
  return t;
}

}  // namespace spice_test
}  // namespace tubefit
