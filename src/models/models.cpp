#include "models/models.h"

#include "models/law.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {

namespace {
[[noreturn]] void StopUnknownModel() { PlainStop({ListDirected({"SUBROUTINE Model: iModel unknown."})}); }
}  // namespace

float KorenTerm(ParamVector& P, const Slots& s, float Vg, float Va) {
  const law::Koren<float> k = law::KorenEffective(P.data(), s);
  law::KorenWriteBack(k, P, s);
  return law::KorenAt(k, Vg, Va);
}

void Model(int32_t iModel, float Va, float Vs, float Vg1, float Vg3, ParamVector& P, const Slots& s, float& Ia,
           float& Is) {
  const law::Point<float> x{Va, Vs, Vg1, Vg3};
  const bool known = law::WithLaw(iModel, [&](auto lw) { law::Evaluate<decltype(lw)>(x, P, s, Ia, Is); });
  if (!known) StopUnknownModel();
}

void INolt(int32_t iModel, float Va, float Vs, float Vg1, ParamVector& P, const Slots& s, float& Ia, float& Is) {
  const law::Point<float> x{Va, Vs, Vg1, 0.0f};
  if (iModel == 12) {
    law::Evaluate<law::NoltPentode>(x, P, s, Ia, Is);
  } else if (iModel == 32) {
    law::Evaluate<law::NoltIPentode>(x, P, s, Ia, Is);
  } else {
    StopWithText("iModel unknown in INolt");
  }
}

void INoltB(int32_t iModel, float Va, float Vs, float Vg1, ParamVector& P, const Slots& s, float& Ia, float& Is) {
  const law::Point<float> x{Va, Vs, Vg1, 0.0f};
  if (iModel == 13) {
    law::Evaluate<law::NoltBeamTetrode>(x, P, s, Ia, Is);
  } else if (iModel == 33) {
    law::Evaluate<law::NoltIBeamTetrode>(x, P, s, Ia, Is);
  } else {
    StopWithText("Unknown Model in INoltB");
  }
}

}  // namespace tubefit
