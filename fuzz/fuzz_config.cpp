// Fuzz target of the configuration reader: the input is a whole configuration file. A Stop is the reader's
// way of refusing bad input and counts as a normal outcome; anything else that escapes is a fault.
#include <cstddef>
#include <cstdint>

#include "core/settings.h"
#include "driver/config.h"
#include "fuzz_support.h"
#include "text/stop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tubefit::fuzz::WorkDir();
  tubefit::fuzz::WriteInput("fuzz.ini", data, size);
  tubefit::Settings settings;
  settings.IniFile = "fuzz.ini";
  try {
    tubefit::ReadIni(settings, tubefit::fuzz::NullConsole());
  } catch (const tubefit::Stop&) {
  }
  return 0;
}
