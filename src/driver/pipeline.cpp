#include "driver/pipeline.h"

#include "checks/checks.h"
#include "driver/measurements.h"
#include "models/models.h"

namespace tubefit {

void RunPipeline(RunState& state, Console& console) {
  const Settings& settings = state.settings;
  std::ostream& out = console.out;

  ReadMeasurements(settings, state.meas, out);
  if (IsScreenGridTube(settings.TubeType)) DetSweep(settings, state.meas, out);

  state.NPointsInFit = CheckSufficientData(settings, state.meas, out);
  CheckDynamicRange(settings, state.meas, out);
  CheckScreenCurrent(settings, state.meas, out);
  CheckTriodeCutOff(settings, state.meas, console);
  CheckSaturation(settings, state.meas, console);

  ParamIdent(settings.iModel, state.params);
}

}  // namespace tubefit
