// SPICE subcircuit files of the fitted tube models.
//
// Every writer makes one file, the subcircuit name with ".cir" appended, that holds two subcircuits: the
// calling subcircuit named after the measurement file, whose only element is an instance X1 of the model
// subcircuit with the fitted values as parameters, and the generic behavioural model subcircuit itself.
// Before writing, each writer prints two console lines: where the file goes, and that the capacitances are
// left at zero.
//
// The file text is built completely in memory (SpiceFileText) and then written with WriteTextFile, so a
// file that cannot be written stops the run with a message naming it, and an older, longer file of the same
// name is replaced completely.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/param_set.h"
#include "core/settings.h"
#include "models/model_info.h"
#include "spice/spice_name.h"

namespace tubefit {

// Where a subcircuit file comes from: the calling subcircuit's name and the fit that the ngspice form
// names in its opening comment lines.
struct SpiceOrigin {
  std::string title;  // the calling subcircuit's name; empty: SubcircuitTitle of the file name
  std::string tube;   // the tube type in words ("triode"); empty: not known
  std::string model;  // the model family ("Koren"); empty: not known
  float R2 = -1.0f;   // sum of squared current errors of the fit, A^2; negative: not known
};

// One pin of the calling subcircuit, in node order: its label on the .SUBCKT line and the electrode.
struct SpicePin {
  const char* label;
  const char* electrode;
};
std::vector<SpicePin> SpicePins(SpiceWriter writer);
// The pin order as one text: "1 = A (anode), 2 = G (grid), 3 = C (cathode)".
std::string SpicePinOrder(SpiceWriter writer);

// The five writers. Each takes the subcircuit name (only its first 80 characters count, trailing blanks
// dropped), the parameter vector with its slot numbers, the model code that selects the body (a code
// without a body of this writer gives a file of the five header lines only), the SPICE dialect, the
// console and the precision of the values. A value that does not fit its field is written in the
// shortest text that holds it to the field's digits, never as asterisks. Stops (through WriteTextFile)
// when the file cannot be written.
void SpiceDiode(const std::string& name, const ParamVector& P, const Slots& s, int32_t iModel,
                SpiceDialect dialect, std::ostream& console,
                SpicePrecision precision = SpicePrecision::kFields);
void SpiceTriode(const std::string& name, const ParamVector& P, const Slots& s, int32_t iModel,
                 SpiceDialect dialect, std::ostream& console,
                 SpicePrecision precision = SpicePrecision::kFields);
void SpicePenthode(const std::string& name, const ParamVector& P, const Slots& s, int32_t iModel,
                   SpiceDialect dialect, std::ostream& console,
                   SpicePrecision precision = SpicePrecision::kFields);
void SpiceHepthode(const std::string& name, const ParamVector& P, const Slots& s, int32_t iModel,
                   SpiceDialect dialect, std::ostream& console,
                   SpicePrecision precision = SpicePrecision::kFields);
void SpicePenthodeg3(const std::string& name, const ParamVector& P, const Slots& s, int32_t iModel,
                     SpiceDialect dialect, std::ostream& console,
                     SpicePrecision precision = SpicePrecision::kFields);

// --- the text layer under the writers ---


// The console text of the writer ("Spice Triode subcircuit written to file " ...) and the pin list text
// that follows the name on the calling subcircuit's .SUBCKT line (" 1 2 3; A G C;" ...).
std::string SpiceConsoleText(SpiceWriter writer);
std::string SpicePinText(SpiceWriter writer);

// The body of the writer for the model code (instance lines through the model subcircuit's .ENDS line,
// each line ended by "\n"); empty when the code selects no body of this writer.
std::string SpiceBodyText(SpiceWriter writer, const ParamVector& P, const Slots& s, int32_t iModel,
                          SpiceDialect dialect, SpicePrecision precision = SpicePrecision::kFields);

// The whole file text: the five header lines with the given date stamp ("dd-Mon-yyyy"), then the body.
// The ngspice form opens with three comment lines before them: the subcircuit's name, its pin order, and
// the fit it comes from (what `origin` knows of tube, model and R2, and the date).
std::string SpiceFileText(SpiceWriter writer, const std::string& name, const ParamVector& P, const Slots& s,
                          int32_t iModel, SpiceDialect dialect, const std::string& date,
                          SpicePrecision precision = SpicePrecision::kFields, const SpiceOrigin& origin = {});

// Prints the two console lines, then writes the file with today's date. Returns the file name.
std::string WriteSpiceFile(SpiceWriter writer, const std::string& name, const ParamVector& P, const Slots& s,
                           int32_t iModel, SpiceDialect dialect, std::ostream& console,
                           SpicePrecision precision = SpicePrecision::kFields, const SpiceOrigin& origin = {});

// The combined coefficients of the Nolt-family bodies, computed in 32-bit floats in this order:
//   Ookg1mOokG2 = (1/kG1) - (1/kG2)
//   Aokg1 = A/kG1
//   al = 1 - ((alpha_s + 1)/kG2)*kG1
//   alkg1palskg2 = al/kG1 + alpha_s/kG2
struct SpiceCoefficients {
  float Ookg1mOokG2 = 0.0f;
  float Aokg1 = 0.0f;
  float al = 0.0f;
  float alkg1palskg2 = 0.0f;
};
SpiceCoefficients CombinedCoefficients(const ParamVector& P, const Slots& s);

// The ngspice form of one element line: every PWR(x,y) (|x|^y) becomes pow(abs(x),y) and every PWRS(x,y)
// (sign(x)*|x|^y) becomes sgn(x)*pow(abs(x),y), parenthesised where an operator before it would bind
// tighter. ngspice has no PWRS, and its own pwr keeps the sign of x, unlike PWR.
std::string NgspicePowers(const std::string& line);

// The "PARAMS:" list of the model subcircuit in the ngspice form: every parameter the instance lines pass,
// in their order, with the value they pass as its default ("MU=95.43 EX=1.347 ...").
std::string NgspiceParams(const std::string& instance_text);

}  // namespace tubefit
