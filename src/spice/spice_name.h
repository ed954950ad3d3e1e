// The names of the subcircuit files and of the subcircuits in them.
#pragma once

#include <string>

namespace tubefit {

// The file name of the subcircuit without ".cir": the first 80 characters of the name without trailing
// blanks.
std::string SubcircuitName(const std::string& name);
// The name of the calling subcircuit: SubcircuitName without its folder, since "/" is no part of a SPICE
// name ("data/ecc83" gives "ecc83"), made a SpiceName ("ecc83 table" gives "ecc83_table").
std::string SubcircuitTitle(const std::string& name);
// The name as a valid SPICE name: every character other than a letter, a digit, "_", "-" and "." (a blank,
// "=", a parenthesis, a comma ...) becomes "_".
std::string SpiceName(const std::string& name);

}  // namespace tubefit
