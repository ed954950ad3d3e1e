// The parameter set: the parameter vector, the name of every slot and the slot of every named parameter.
//
// Slots are numbered 1..MxNP; slot 0 is a spare that every absent parameter points at, so a slot number of
// 0 means "not in this model" and reading it gives 0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "param.h"

namespace tubefit {

using ParamVector = std::array<float, MxNP + 1>;
using SlotMask = std::array<bool, MxNP + 1>;  // a flag per slot

// Slot number of every named parameter (0 = absent). Field names follow the printed names; a trailing
// apostrophe is written _p ("kG1'" is kG1_p, "alpha'" is alpha_p).
struct Slots {
  int32_t k = 0, ex = 0, eps = 0;
  int32_t kVB = 0, kG1 = 0, kp = 0, mu = 0;
  int32_t kG2 = 0, alpha_s = 0, beta = 0, A = 0;
  int32_t Sc = 0, nu = 0, lambda = 0, w = 0, alpha_p = 0;
  int32_t mu_p = 0, ex_p = 0, kG1_p = 0, kp_p = 0, kVB_p = 0, mu3 = 0, V0 = 0;
  int32_t mu_b = 0, ex_b = 0, svar = 0;

  // A parameter that only its own law and subcircuit read needs no field: it takes one of these, found by
  // its printed name. The fields are for the names that the estimators and checks look for.
  struct Own {
    const char* name = nullptr;
    int32_t slot = 0;
  };
  static constexpr int kOwnCount = 4;
  std::array<Own, kOwnCount> own{};

  // The slot of the own parameter `name` (0 = absent).
  int32_t OwnSlot(const char* name) const {
    for (const Own& o : own) {
      if (o.name != nullptr && std::strcmp(o.name, name) == 0) return o.slot;
    }
    return 0;
  }
};

// Where the slot number of a parameter is kept: a field of Slots, or (with no field) the own slot of a
// name. A null key ends a law's list of parameters.
struct SlotKey {
  int32_t Slots::*field = nullptr;
  const char* own = nullptr;

  constexpr SlotKey() = default;
  constexpr SlotKey(std::nullptr_t) {}                 // NOLINT: the end of a list
  constexpr SlotKey(int32_t Slots::*f) : field(f) {}  // NOLINT: a field is a key
  static constexpr SlotKey Own(const char* name) {
    SlotKey k;
    k.own = name;
    return k;
  }

  constexpr bool empty() const { return field == nullptr && own == nullptr; }
  int32_t Of(const Slots& s) const { return field != nullptr ? s.*field : own != nullptr ? s.OwnSlot(own) : 0; }
  friend constexpr bool operator==(const SlotKey& a, const SlotKey& b) {
    if (a.field != b.field || (a.own == nullptr) != (b.own == nullptr)) return false;
    if (a.own == nullptr) return true;
    int i = 0;
    while (a.own[i] != '\0' && a.own[i] == b.own[i]) ++i;
    return a.own[i] == b.own[i];
  }
  friend constexpr bool operator!=(const SlotKey& a, const SlotKey& b) { return !(a == b); }
};

// An objective over the parameter vector: the sum at P, which stays as it is.
using Objective = std::function<float(const ParamVector& P)>;

// The objective the direction-set fit minimises. The model equations apply some of their clamps (caps,
// absolute values) to the parameter vector as they evaluate it, and the fit goes on from the clamped
// vector wherever it evaluates the point it stands on: the two-argument call gives the sum at P and hands
// back P as the model leaves it in `written_back` (which may be P itself). Made from a plain Objective,
// the vector comes back as it was.
class FitFunction {
 public:
  using WritingBack = std::function<float(const ParamVector& P, ParamVector& written_back)>;
  FitFunction(Objective sum)  // NOLINT: a plain objective is a fit function without write-back
      : f_([sum](const ParamVector& P, ParamVector& written_back) {
          const float S = sum(P);
          written_back = P;
          return S;
        }) {}
  static FitFunction WithWriteBack(WritingBack f) { return FitFunction(std::move(f), 0); }

  float operator()(const ParamVector& P) const {
    ParamVector unused;
    return f_(P, unused);
  }
  float operator()(const ParamVector& P, ParamVector& written_back) const { return f_(P, written_back); }

 private:
  FitFunction(WritingBack f, int) : f_(std::move(f)) {}
  WritingBack f_;
};

constexpr size_t kNameLength = 20;

struct ParamSet {
  ParamVector P{};
  std::array<std::string, MxNP + 1> name{};  // each blank-padded to 20 characters once assigned
  Slots slot;
  int32_t NFit = 0;
};

}  // namespace tubefit
