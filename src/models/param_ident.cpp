#include "models/model_info.h"
#include "models/models.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {

void ParamIdent(int32_t iModel, ParamSet& ps) { ParamIdentFrom(ModelInfoFor(iModel).slots, ps); }

void ParamIdentFrom(TableView<SlotName> table, ParamSet& ps) {
  if (table.empty()) return;
  ps.NFit = table.size;
  if (ps.NFit > MxNP) {
    PlainStop({ListDirected({"Internal error in Subroutine ParamIdent, ", "NFit > MxNP"})});
  }
  int32_t owned = 0;
  for (int32_t i = 1; i <= table.size; ++i) {
    const SlotKey key = table[i - 1].field;
    if (key.field != nullptr) {
      ps.slot.*key.field = i;
    } else if (owned < Slots::kOwnCount) {
      ps.slot.own[owned++] = {key.own, i};
    } else {
      PlainStop({ListDirected({"Internal error in Subroutine ParamIdent, ", "too many parameters of a law's own"})});
    }
  }
  for (int32_t i = 1; i <= table.size; ++i) ps.name[i] = PadTo(table[i - 1].name, kNameLength);
}

}  // namespace tubefit
