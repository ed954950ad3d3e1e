#include "models/models.h"

#include "models/law.h"
#include "models/model_info.h"
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
  const PointModel model = ModelInfoFor(iModel).model;
  if (model == nullptr) StopUnknownModel();
  model(Va, Vs, Vg1, Vg3, P, s, Ia, Is);
}

}  // namespace tubefit
