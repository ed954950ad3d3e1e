#include "models/model_info.h"
#include "models/models.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {

void ParamIdent(int32_t iModel, ParamSet& ps) {
  const TableView<SlotName> table = ModelInfoFor(iModel).slots;
  if (table.empty()) return;
  for (int32_t i = 1; i <= table.size; ++i) ps.slot.*(table[i - 1].field) = i;
  ps.NFit = table.size;
  if (ps.NFit > MxNP) {
    PlainStop({ListDirected({"Internal error in Subroutine ParamIdent, ", "NFit > MxNP"})});
  }
  for (int32_t i = 1; i <= table.size; ++i) ps.name[i] = PadTo(table[i - 1].name, kNameLength);
}

}  // namespace tubefit
