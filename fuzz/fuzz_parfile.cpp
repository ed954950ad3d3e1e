// Fuzz target of the parameter-file reader: the input is a parameter file, read as a triode parameter file,
// as a model parameter file for the slots of a model code chosen by the file's length, and by single names.
// A Stop is a normal outcome; anything else that escapes is a fault.
#include <cstddef>
#include <cstdint>

#include "core/param_set.h"
#include "estimate/parfiles.h"
#include "fuzz_support.h"
#include "models/models.h"
#include "text/stop.h"

namespace {

const int32_t kModels[] = {0, 1, 2, 12, 13, 14, 15, 16, 22, 23, 25, 26, 32, 33};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tubefit::fuzz::WorkDir();
  tubefit::fuzz::WriteInput("fuzz.par", data, size);
  try {
    const tubefit::TriodeParValues t = tubefit::ReadTriodePar("fuzz.par");
    (void)t;
  } catch (const tubefit::Stop&) {
  }
  try {
    tubefit::ParamSet ps;
    tubefit::ParamIdent(kModels[size % (sizeof(kModels) / sizeof(kModels[0]))], ps);
    tubefit::ReadModelPar("fuzz.par ", ps.P, ps.slot);
  } catch (const tubefit::Stop&) {
  }
  try {
    const tubefit::ParFile file = tubefit::OpenParFile("fuzz.par");
    for (const char* name : {"ex", "mu", "A", "kG2", "alpha_s", "Sc", "", " ", "mu'"}) {
      (void)tubefit::ReadParValue(file, name);
    }
  } catch (const tubefit::Stop&) {
  }
  return 0;
}
