// Fuzz target of the measurement reader and the sweep classification. The first input byte chooses the tube
// type (and so the name forms of H and F files) and whether the file is read once or twice; the rest is the
// .utd file. A Stop is a normal outcome; anything else that escapes is a fault.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/measurement_set.h"
#include "core/settings.h"
#include "driver/measurements.h"
#include "fuzz_support.h"
#include "text/stop.h"

namespace {

struct Variant {
  char tube;
  const char* name;  // measurement file name without ".utd"
};

const Variant kVariants[] = {
    {'T', "m"}, {'X', "m"}, {'P', "m"}, {'B', "m"}, {'V', "m"}, {'D', "m"},
    {'H', "m_g1_2.5"}, {'H', "m_g3_10"}, {'F', "m_g1_0"}, {'F', "m_g3_x"}, {'F', "m"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  tubefit::fuzz::WorkDir();
  static auto ms = std::make_unique<tubefit::MeasurementSet>();
  const uint8_t choice = data[0];
  const Variant& v = kVariants[(choice & 0x7f) % (sizeof(kVariants) / sizeof(kVariants[0]))];
  tubefit::fuzz::WriteInput(std::string(v.name) + ".utd", data + 1, size - 1);

  tubefit::Settings s;
  s.TubeType = v.tube;
  s.DataFile = {v.name};
  if (choice & 0x80) s.DataFile.push_back(v.name);
  s.VaOffset = (choice & 0x40) ? 1.5f : 0.0f;
  s.VgOffset = (choice & 0x20) ? -0.5f : 0.0f;
  try {
    tubefit::ReadMeasurements(s, *ms, tubefit::fuzz::NullConsole());
    tubefit::DetSweep(s, *ms, tubefit::fuzz::NullConsole());
  } catch (const tubefit::Stop&) {
  }
  return 0;
}
