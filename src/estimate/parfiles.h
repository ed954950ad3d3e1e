// Parameter files: name/value tables that hand fitted values from one run to the next ("Model.par",
// "Triode.par", "Triode_g3.par", "Penthode.par", the start file) and their console copies.
//
// A line is one list-directed record: the parameter name padded to the longest name of the table, " =",
// and the value in a 15-column list-directed float field.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/param_set.h"

namespace tubefit {

using ParamNames = std::array<std::string, MxNP + 1>;

// How WriteParTable renders the values. kListDirected is the plain list-directed field (7 significant
// digits); kRoundTrip writes more digits where 7 would not read back to the same 32-bit float.
enum class ParValueForm { kListDirected, kRoundTrip };

// Writes one line per slot 1..n (n is limited to MxNP): the name of the slot padded to the longest name
// (without trailing blanks) of slots 1..n, " =" and the value.
void WriteParTable(std::ostream& os, int32_t n, const ParamVector& values, const ParamNames& names,
                   ParValueForm form = ParValueForm::kListDirected);

// When the parameter files are written: with the start values after the estimation, or with the result.
enum class ParMoment { kStart, kFinal };

// Writes the ps.NFit fitted slots of the parameter set to "Model.par", to the console between two empty lines,
// and for tube type X to "Triode.par", for Y to "Triode_g3.par". With the start values (kStart) a hand-over
// file that exists already is left alone: it holds the result of an earlier fit, which a run that fails
// before its end must not replace with unfitted values. Every file is written to a temporary name and
// renamed over the old one. Stops (through WriteTextFile) when a file cannot be written, and before
// writing anything when one of the values is not finite.
void WriteParFiles(char TubeType, const ParamSet& ps, std::ostream& console, ParMoment moment = ParMoment::kFinal);

// A parameter file read into memory for lookups by name. Records are cut to 80 characters.
struct ParFile {
  std::string name;                  // the file name as given
  std::vector<std::string> records;  // line ends removed
};

// Reads the named (existing) parameter file. Stops ("Error opening File " + the name in 512 characters,
// then "Execution halts.", plain stop) when it cannot be opened.
ParFile OpenParFile(const std::string& name);

// The value of the parameter called `name` (trailing blanks ignored): the first record that does not
// start with "#" or "*", in which the first occurrence of the name is followed directly by a blank, a TAB,
// "=" or the end of the record, and which holds an "=". The value is the first item after the first "=".
// Nothing found: empty. A value that is not a finite number stops the run with a message that names the
// file, the line and the parameter ("Execution halts.", plain stop).
std::optional<float> FindParValue(const ParFile& file, const std::string& name);

// FindParValue, with -1 for a name that is not found.
float ReadParValue(const ParFile& file, const std::string& name);

// The values of "ex", "mu", "kG1", "kp" and "kVB" in a triode parameter file (-1 for each one missing),
// and the names that were missing, in that order.
struct TriodeParValues {
  float ex = -1.0f, mu = -1.0f, kG1 = -1.0f, kp = -1.0f, kVB = -1.0f;
  std::vector<std::string> missing;
};
TriodeParValues ReadTriodePar(const std::string& file_name);

// Stores the values of "ex", "mu", "kG1", "kp", "kVB", "alpha_s", "beta", "A" and "kG2" found in the file
// into P at the model's slots (slot 0, the spare, for a parameter the model lacks); a missing name stores
// -1. Returns the missing names in that order.
std::vector<std::string> ReadModelPar(const std::string& file_name, ParamVector& P, const Slots& s);

}  // namespace tubefit
