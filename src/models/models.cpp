#include "models/models.h"

#include "models/equations.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {

void StopUnknownINolt() { StopWithText("iModel unknown in INolt"); }

void StopUnknownINoltB() { StopWithText("Unknown Model in INoltB"); }

namespace {
[[noreturn]] void StopUnknownModel() { PlainStop({ListDirected({"SUBROUTINE Model: iModel unknown."})}); }
}  // namespace

float KorenTerm(ParamVector& P, const Slots& s, float Vg, float Va) {
  return equations::KorenTermAt(P, s, Vg, Va);
}

void Model(int32_t iModel, float Va, float Vs, float Vg1, float Vg3, ParamVector& P, const Slots& s, float& Ia,
           float& Is) {
  switch (iModel) {
    case 0:
      equations::Diode(Va, P, s, Ia);
      return;
    case 1:
      equations::Triode(Va, Vg1, P, s, Ia);
      return;
    case 2:
      equations::KorenPentode(Va, Vs, Vg1, P, s, Ia, Is);
      return;
    case 12:
    case 32:
      equations::INolt(iModel, Va, Vs, Vg1, P, s, Ia, Is);
      return;
    case 22:
      equations::NoltEPentode(Va, Vs, Vg1, P, s, Ia, Is);
      return;
    case 13:
    case 33:
      equations::INoltB(iModel, Va, Vs, Vg1, P, s, Ia, Is);
      return;
    case 23:
      equations::NoltEBeamTetrode(Va, Vs, Vg1, P, s, Ia, Is);
      return;
    case 14:
      equations::Hexode(Va, Vs, Vg1, Vg3, P, s, Ia, Is);
      return;
    case 15:
      equations::G3Pentode(false, Va, Vs, Vg1, Vg3, P, s, Ia, Is);
      return;
    case 25:
      equations::G3Pentode(true, Va, Vs, Vg1, Vg3, P, s, Ia, Is);
      return;
    case 16:
      equations::VarMuNolt(Va, Vs, Vg1, P, s, Ia, Is);
      return;
    case 26:
      equations::VarMuNoltE(Va, Vs, Vg1, P, s, Ia, Is);
      return;
    default:
      StopUnknownModel();
  }
}

}  // namespace tubefit
