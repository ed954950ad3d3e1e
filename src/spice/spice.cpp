// The common frame of the subcircuit files, the ngspice form of the model subcircuits and the writers.
#include "spice/spice.h"

#include <cctype>
#include <sstream>

#include "core/run_state.h"
#include "platform/platform.h"
#include "spice/spice_body.h"
#include "text/format.h"
#include "text/textfile.h"

namespace tubefit {

namespace {

constexpr size_t kNameChars = 80;
const char kAsterisks[] = "****************************************************";

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The body the writer has for the model code; false when it has none.
bool SelectBody(SpiceWriter writer, const ParamVector& P, const Slots& s, int32_t iModel, SpiceBody& body) {
  const ModelInfo& model = ModelInfoFor(iModel);
  if (model.writer != writer) return false;
  return BodyFor(iModel, P, s, body);
}

// The model's .SUBCKT line. The ngspice form declares the parameters, with defaults, between the pins and
// the comment that names them.
std::string ModelSubcktLine(const SpiceBody& b, const std::vector<std::string>& instance, SpiceDialect dialect) {
  std::string pins = b.model_pins;
  if (dialect == SpiceDialect::kNgspice) {
    std::string instance_text;
    for (const std::string& line : instance) instance_text += line + "\n";
    const size_t semi = pins.find(';');
    const std::string nodes = TrimRight(pins.substr(0, semi));
    const std::string rest = semi == std::string::npos ? "" : pins.substr(nodes.size());
    pins = nodes + " PARAMS: " + NgspiceParams(instance_text) + rest;
  }
  return ".SUBCKT " + b.model + pins;
}

// A value never prints as asterisks in a subcircuit: the simulator would refuse the file.
RealFields SpiceReals(SpiceDialect dialect, SpicePrecision precision) {
  if (dialect == SpiceDialect::kNgspice || precision == SpicePrecision::kFull) return RealFields::kRoundTrip;
  return RealFields::kNeverFull;
}

void WriteBody(std::ostream& os, const SpiceBody& b, SpiceDialect dialect, SpicePrecision precision) {
  std::vector<std::string> instance;
  for (const InstanceLine& line : b.instance) instance.push_back(line.Render(SpiceReals(dialect, precision)));
  for (const std::string& line : instance) WriteTrimmed(os, line);
  WriteTrimmed(os, ".ENDS");
  WriteList(os);
  WriteTrimmed(os, kAsterisks);
  WriteTrimmed(os, ModelSubcktLine(b, instance, dialect));
  WriteTrimmed(os, "*");
  WriteTrimmed(os, "* NOTE: LOG(x) is base e LOG or natural logarithm.");
  WriteTrimmed(os, "* For some Spice versions, e.g. MicroCap, this has to be changed to LN(x).");
  WriteTrimmed(os, "*");
  for (const std::string& line : b.elements)
    WriteTrimmed(os, dialect == SpiceDialect::kNgspice ? NgspicePowers(line) : line);
  WriteTrimmed(os, b.ends);
}

// The end of the argument list that starts at `open` (just after a "("): the index of its closing
// parenthesis, and the index of the first comma at the outer level (npos if none).
size_t MatchArguments(const std::string& text, size_t open, size_t& comma) {
  int depth = 0;
  comma = std::string::npos;
  for (size_t i = open; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (depth == 0) return i;
      --depth;
    } else if (c == ',' && depth == 0 && comma == std::string::npos) {
      comma = i;
    }
  }
  return std::string::npos;
}

// True if the text at i is the function name `fn` (upper case) followed by "(", as a whole word.
bool FunctionAt(const std::string& text, size_t i, const std::string& fn) {
  if (i + fn.size() >= text.size() || text[i + fn.size()] != '(') return false;
  if (i > 0 && IsNameChar(text[i - 1])) return false;
  for (size_t k = 0; k < fn.size(); ++k)
    if (std::toupper(static_cast<unsigned char>(text[i + k])) != fn[k]) return false;
  return true;
}

}  // namespace

std::string SubcircuitName(const std::string& name) { return TrimRight(name.substr(0, kNameChars)); }

std::string SubcircuitTitle(const std::string& name) {
  const std::string file = SubcircuitName(name);
  return SpiceName(file.substr(FileNameStart(file)));
}

std::string SpiceName(const std::string& name) {
  std::string spice = name;
  for (char& c : spice)
    if (!IsNameChar(c) && c != '-' && c != '.') c = '_';
  return spice;
}

std::string SpiceConsoleText(SpiceWriter writer) {
  switch (writer) {
    case SpiceWriter::kTriode:
      return "Spice Triode subcircuit written to file ";
    case SpiceWriter::kPenthode:
      return "Spice Penthode subcircuit written to file ";
    case SpiceWriter::kDiode:
    case SpiceWriter::kHepthode:
    case SpiceWriter::kPenthodeg3:
      break;
  }
  return "Spice subcircuit written to file ";
}

std::string SpicePinText(SpiceWriter writer) {
  switch (writer) {
    case SpiceWriter::kDiode:
      return " 1 2; A C;";
    case SpiceWriter::kTriode:
      return " 1 2 3; A G C;";
    case SpiceWriter::kPenthode:
      return " 1 2 3 4 ; A G2 G1 C;";
    case SpiceWriter::kHepthode:
      return " 1 2 3 4 5; A G3 G2G4 G1 C;";
    case SpiceWriter::kPenthodeg3:
      break;
  }
  return " 1 2 3 4 5; A G3 G2 G1 C;";
}

SpiceCoefficients CombinedCoefficients(const ParamVector& P, const Slots& s) {
  const float kG1 = P[s.kG1];
  const float kG2 = P[s.kG2];
  const float A = P[s.A];
  const float alpha_s = P[s.alpha_s];
  SpiceCoefficients c;
  const float Ookg1 = 1.0f / kG1;
  const float OokG2 = 1.0f / kG2;
  c.Ookg1mOokG2 = Ookg1 - OokG2;
  c.Aokg1 = A / kG1;
  const float als_p1_okG2 = (alpha_s + 1.0f) / kG2;
  c.al = 1.0f - als_p1_okG2 * kG1;
  const float al_okg1 = c.al / kG1;
  const float als_okG2 = alpha_s / kG2;
  c.alkg1palskg2 = al_okg1 + als_okG2;
  return c;
}

std::string NgspicePowers(const std::string& line) {
  std::string out;
  size_t i = 0;
  while (i < line.size()) {
    const bool signed_power = FunctionAt(line, i, "PWRS");
    if (!signed_power && !FunctionAt(line, i, "PWR")) {
      out += line[i++];
      continue;
    }
    const size_t open = i + (signed_power ? 5 : 4);
    size_t comma = 0;
    const size_t close = MatchArguments(line, open, comma);
    if (close == std::string::npos || comma == std::string::npos) {
      out += line[i++];
      continue;
    }
    const std::string x = NgspicePowers(line.substr(open, comma - open));
    const std::string y = NgspicePowers(line.substr(comma + 1, close - comma - 1));
    const std::string magnitude = "pow(abs(" + x + ")," + y + ")";
    if (signed_power) {
      size_t before = out.find_last_not_of(' ');
      const char op = before == std::string::npos ? '(' : out[before];
      const bool bare = op == '(' || op == '+' || op == ',' || op == '{' || op == '=';
      const std::string product = "sgn(" + x + ")*" + magnitude;
      out += bare ? product : "(" + product + ")";
    } else {
      out += magnitude;
    }
    i = close + 1;
  }
  return out;
}

std::string NgspiceParams(const std::string& instance_text) {
  std::string params;
  std::istringstream lines(instance_text);
  std::string line;
  while (std::getline(lines, line)) {
    line = line.substr(0, line.find(';'));
    size_t eq = line.find('=');
    while (eq != std::string::npos) {
      size_t name_end = eq;
      while (name_end > 0 && line[name_end - 1] == ' ') --name_end;
      size_t name_begin = name_end;
      while (name_begin > 0 && IsNameChar(line[name_begin - 1])) --name_begin;
      size_t value_begin = eq + 1;
      while (value_begin < line.size() && line[value_begin] == ' ') ++value_begin;
      size_t value_end = value_begin;
      while (value_end < line.size() && line[value_end] != ' ' && line[value_end] != '=') ++value_end;
      if (name_begin < name_end && value_begin < value_end) {
        if (!params.empty()) params += ' ';
        params += line.substr(name_begin, name_end - name_begin) + "=" +
                  line.substr(value_begin, value_end - value_begin);
      }
      eq = line.find('=', eq + 1);
    }
  }
  return params;
}

std::string SpiceBodyText(SpiceWriter writer, const ParamVector& P, const Slots& s, int32_t iModel,
                          SpiceDialect dialect, SpicePrecision precision) {
  SpiceBody body;
  if (!SelectBody(writer, P, s, iModel, body)) return "";
  std::ostringstream os;
  WriteBody(os, body, dialect, precision);
  return os.str();
}

std::vector<SpicePin> SpicePins(SpiceWriter writer) {
  switch (writer) {
    case SpiceWriter::kDiode:
      return {{"A", "anode"}, {"C", "cathode"}};
    case SpiceWriter::kTriode:
      return {{"A", "anode"}, {"G", "grid"}, {"C", "cathode"}};
    case SpiceWriter::kPenthode:
      return {{"A", "anode"}, {"G2", "screen grid"}, {"G1", "control grid"}, {"C", "cathode"}};
    case SpiceWriter::kHepthode:
      return {{"A", "anode"}, {"G3", "grid 3"}, {"G2G4", "screen grids 2 and 4"}, {"G1", "control grid"},
              {"C", "cathode"}};
    case SpiceWriter::kPenthodeg3:
      break;
  }
  return {{"A", "anode"}, {"G3", "suppressor grid"}, {"G2", "screen grid"}, {"G1", "control grid"}, {"C", "cathode"}};
}

std::string SpicePinOrder(SpiceWriter writer) {
  std::string text;
  int node = 0;
  for (const SpicePin& pin : SpicePins(writer)) {
    if (node > 0) text += ", ";
    ++node;
    text += std::to_string(node) + " = " + pin.label + " (" + pin.electrode + ")";
  }
  return text;
}

std::string SpiceFileText(SpiceWriter writer, const std::string& name, const ParamVector& P, const Slots& s,
                          int32_t iModel, SpiceDialect dialect, const std::string& date, SpicePrecision precision,
                          const SpiceOrigin& origin) {
  std::ostringstream os;
  const std::string title = origin.title.empty() ? SubcircuitTitle(name) : origin.title;
  if (dialect == SpiceDialect::kNgspice) {
    WriteTrimmed(os, "* " + title + ": tube model for ngspice, written by Tubefit V" + FormatLine("(F5.3)", {kVersion}));
    WriteTrimmed(os, "* Pins: " + SpicePinOrder(writer));
    std::string fit = "* Fit:";
    if (!origin.tube.empty()) fit += " " + origin.tube + ",";
    if (!origin.model.empty()) fit += " " + origin.model + " model,";
    if (origin.R2 >= 0.0f) fit += " R2 = " + RoundTripFloat(origin.R2) + " A^2,";
    WriteTrimmed(os, fit + " " + date.substr(date.find_first_not_of(' ') == std::string::npos ? 0 : date.find_first_not_of(' ')));
  }
  WriteTrimmed(os, kAsterisks);
  WriteTrimmed(os, ".SUBCKT " + title + SpicePinText(writer));
  WriteVersionLine(os, kVersion);
  WriteTrimmed(os, "* Model created: " + date);
  WriteTrimmed(os, "*");
  os << SpiceBodyText(writer, P, s, iModel, dialect, precision);
  return os.str();
}

std::string WriteSpiceFile(SpiceWriter writer, const std::string& name, const ParamVector& P, const Slots& s,
                           int32_t iModel, SpiceDialect dialect, std::ostream& console, SpicePrecision precision,
                           const SpiceOrigin& origin) {
  const std::string file = SubcircuitName(name) + ".cir";
  WriteList(console, {SpiceConsoleText(writer) + file});
  WriteList(console, {"Please add capacitances yourself!"});
  console.flush();
  WriteTextFile(file, SpiceFileText(writer, name, P, s, iModel, dialect, DateStamp(), precision, origin));
  return file;
}

void SpiceTriode(const std::string& name, const ParamVector& P, const Slots& s, int32_t iModel,
                 SpiceDialect dialect, std::ostream& console, SpicePrecision precision) {
  WriteSpiceFile(SpiceWriter::kTriode, name, P, s, iModel, dialect, console, precision);
}

}  // namespace tubefit
