#include "driver/driver.h"

#include <ctime>
#include <memory>

#include "core/run_state.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {

namespace {

void WrtHeader(std::ostream& out) {
  WriteList(out);
  WriteList(out, {"***************************"});
  WriteVersionLine(out, kVersion);
  WriteList(out, {"      Jan 23, 2016"});
  WriteList(out, {"***************************"});
  WriteList(out);
}

}  // namespace

int RunProgram(int /*argc*/, const char* const /*argv*/[], Console& console) {
  auto state = std::make_unique<RunState>();
  state->start_time = static_cast<double>(std::time(nullptr));
  try {
    WrtHeader(console.out);
  } catch (const Stop& stop) {
    for (const std::string& line : stop.lines()) console.out << line << '\n';
    console.out << stop.FinalLine() << '\n';
    console.out.flush();
    return 1;
  }
  return 0;
}

}  // namespace tubefit
