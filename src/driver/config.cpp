#include "driver/config.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <vector>

#include "param.h"
#include "text/format.h"
#include "text/stop.h"
#include "text/textfile.h"

namespace tubefit {

namespace {

constexpr size_t kKeywordRecordLength = 80;  // keyword records are read 80 characters wide
constexpr size_t kNameLength = 512;          // names are held in 512-character fields
constexpr size_t kShownToken = 40;           // longest piece of a bad value quoted in a message

std::string Line(const std::string& text) { return ListDirected({text}); }

// Ends the run for a configuration line that cannot be read.
[[noreturn]] void InputError(const std::string& file, int32_t line, const std::string& detail) {
  StopWithText("Execution halts", {Line("Error reading " + file + ", line " + RenderI(line, 0) + ": " + detail)});
}

// Ends the run for a configuration file that stops before its positional head is complete.
[[noreturn]] void EndOfFileError(const std::string& file, int32_t last_line, const std::string& what) {
  StopWithText("Execution halts", {Line("Error reading " + file + ": the file ends after line " +
                                        RenderI(last_line, 0) + ", before " + what + ".")});
}

// The value found, quoted for a message; very long values are shortened.
std::string Found(const std::string& token) {
  if (token.empty()) return "found nothing";
  if (token.size() > kShownToken) return "found \"" + token.substr(0, kShownToken) + "...\"";
  return "found \"" + token + "\"";
}

// One free-format item of a record.
enum class ItemState {
  kNone,   // the record holds only blanks: the read goes on with the next record
  kNull,   // a separator comes first: no value given
  kValue,  // a value
};

struct FreeItem {
  ItemState state = ItemState::kNone;
  std::string text;
};

// The first free-format item of `s`: a quoted text ('...' or "...", a doubled quote stands for one), or the
// characters up to the first blank, TAB or comma. With `slash_ends` a slash ends the item as well (and a
// leading slash ends the read with no value); file names keep their slashes.
FreeItem FirstItem(std::string_view s, bool slash_ends) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  if (i == s.size()) return {ItemState::kNone, ""};
  const char c = s[i];
  if (c == ',' || (slash_ends && c == '/')) return {ItemState::kNull, ""};
  if (c == '\'' || c == '"') {
    std::string text;
    for (++i; i < s.size(); ++i) {
      if (s[i] == c) {
        if (i + 1 < s.size() && s[i + 1] == c) {
          text += c;
          ++i;
          continue;
        }
        break;
      }
      text += s[i];
    }
    return {ItemState::kValue, text};
  }
  size_t j = i;
  while (j < s.size() && s[j] != ' ' && s[j] != '\t' && s[j] != ',' && !(slash_ends && s[j] == '/')) ++j;
  return {ItemState::kValue, std::string(s.substr(i, j - i))};
}

// Reads a whole number: an optional sign and decimal digits, within the 32-bit range.
bool ParseInt(const std::string& token, int32_t& value) {
  size_t i = 0;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
  if (i == token.size()) return false;
  for (size_t k = i; k < token.size(); ++k) {
    if (!std::isdigit(static_cast<unsigned char>(token[k]))) return false;
  }
  errno = 0;
  const long long v = std::strtoll(token.c_str(), nullptr, 10);
  if (errno == ERANGE || v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  value = static_cast<int32_t>(v);
  return true;
}

enum class RealRead { kOk, kBad, kNonFinite };

// Reads a real number: optional sign, digits with an optional decimal point, optional exponent introduced by
// E or D (either case). NaN and infinity, and values too large for a 32-bit float, are not finite.
RealRead ParseReal(const std::string& token, float& value) {
  size_t i = 0;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
  std::string rest;
  for (size_t k = i; k < token.size(); ++k) rest += static_cast<char>(std::tolower(static_cast<unsigned char>(token[k])));
  if (rest.compare(0, 3, "nan") == 0 || rest.compare(0, 3, "inf") == 0) return RealRead::kNonFinite;

  std::string plain = token;
  size_t digits = 0;
  while (i < token.size() && std::isdigit(static_cast<unsigned char>(token[i]))) ++i, ++digits;
  if (i < token.size() && token[i] == '.') {
    ++i;
    while (i < token.size() && std::isdigit(static_cast<unsigned char>(token[i]))) ++i, ++digits;
  }
  if (digits == 0) return RealRead::kBad;
  if (i < token.size() && (token[i] == 'e' || token[i] == 'E' || token[i] == 'd' || token[i] == 'D')) {
    plain[i] = 'e';
    ++i;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < token.size() && std::isdigit(static_cast<unsigned char>(token[i]))) ++i, ++exp_digits;
    if (exp_digits == 0) return RealRead::kBad;
  }
  if (i != token.size()) return RealRead::kBad;
  const float v = std::strtof(plain.c_str(), nullptr);
  if (!std::isfinite(v)) return RealRead::kNonFinite;
  value = v;
  return RealRead::kOk;
}

// Converts a free-format item to a whole number or stops with a message naming file, line and item.
int32_t IntOrStop(const FreeItem& item, const std::string& file, int32_t line, const std::string& what) {
  int32_t value = 0;
  if (item.state != ItemState::kValue || !ParseInt(item.text, value)) {
    InputError(file, line, "expected a whole number for " + what + ", " + Found(item.text) + ".");
  }
  return value;
}

// Converts a free-format item to a finite real or stops with a message naming file, line and item.
float RealOrStop(const FreeItem& item, const std::string& file, int32_t line, const std::string& what) {
  float value = 0.0f;
  const RealRead read = item.state == ItemState::kValue ? ParseReal(item.text, value) : RealRead::kBad;
  if (read == RealRead::kNonFinite) {
    InputError(file, line, what + " must be a finite number, " + Found(item.text) + ".");
  }
  if (read != RealRead::kOk) InputError(file, line, "expected a number for " + what + ", " + Found(item.text) + ".");
  return value;
}

// Reads the positional head of the configuration file, counting lines for the messages.
class HeadReader {
 public:
  HeadReader(std::istream& in, const std::string& file) : in_(in), file_(file) {}

  // The next record as a trimmed line ("!" comment and trailing blanks and TABs removed).
  std::string TrimmedRecord(const std::string& what) {
    std::string record;
    if (!ReadRecord(in_, record)) EndOfFileError(file_, line_, what);
    ++line_;
    return TrimmedLine(record);
  }

  // The first free-format item of the next record that is not blank; the rest of that record is ignored.
  FreeItem Item(const std::string& what) {
    std::string record;
    for (;;) {
      if (!ReadRecord(in_, record)) EndOfFileError(file_, line_, what);
      ++line_;
      FreeItem item = FirstItem(record, true);
      if (item.state != ItemState::kNone) return item;
    }
  }

  int32_t Int(const std::string& what) {
    const FreeItem item = Item(what);
    return IntOrStop(item, file_, line_, what);
  }

  float Real(const std::string& what) {
    const FreeItem item = Item(what);
    return RealOrStop(item, file_, line_, what);
  }

 private:
  std::istream& in_;
  const std::string& file_;
  int32_t line_ = 0;
};

// The value text after the first "=" of the record matching the keyword, with its line number.
struct KeywordValue {
  bool found = false;
  int32_t line = 0;
  FreeItem item;
};

KeywordValue FindKeywordValue(std::istream& in, const std::string& file, std::string_view keyword,
                              KeywordMatch match, bool slash_ends) {
  const KeywordRecord hit = FindKeyword(in, keyword, match);
  KeywordValue kv;
  if (!hit.found) return kv;
  const size_t eq = hit.record.find('=');
  if (eq == std::string::npos) {
    InputError(file, hit.line, "expected \"=\" and a value after " + std::string(keyword) + ".");
  }
  kv.found = true;
  kv.line = hit.line;
  kv.item = FirstItem(std::string_view(hit.record).substr(eq + 1), slash_ends);
  return kv;
}

struct IntKeyword {
  int32_t value = -1;
  int32_t line = 0;
};

IntKeyword FindIntKeyword(std::istream& in, const std::string& file, std::string_view keyword) {
  const KeywordValue kv = FindKeywordValue(in, file, keyword, KeywordMatch::kWholeWord, true);
  if (!kv.found) return {};
  return {IntOrStop(kv.item, file, kv.line, std::string(keyword)), kv.line};
}

// An on/off extension keyword: absent or negative is off, 1 is on, anything else stops.
bool OnOffKeyword(std::istream& in, const std::string& file, std::string_view keyword) {
  const IntKeyword k = FindIntKeyword(in, file, keyword);
  if (k.value > 1) {
    InputError(file, k.line, std::string(keyword) + " must be 0 or 1, found " + RenderI(k.value, 0) + ".");
  }
  return k.value == 1;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Reads the tube line and reports it; returns the tube-type base of iModel. Stops for an unknown letter.
int32_t ReadTubeType(HeadReader& head, Settings& settings, std::ostream& console) {
  const FreeItem item = head.Item("the tube type");
  settings.TubeType = item.text.empty() ? ' ' : item.text[0];
  struct Tube {
    char letter;
    const char* line;
    int32_t base;
  };
  static const Tube kTubes[] = {
      {'D', "Tube model is diode.", 0},
      {'T', "Tube model is triode.", 1},
      {'P', "Tube model is penthode.", 2},
      {'B', "Tube model is beam tetrode.", 3},
      {'H', "Tube model is hexode/heptode.", 4},
      {'F', "Tube model is penthode with g3 modelling.", 5},
      {'V', "Tube model is variable mu penthode.", 6},
      {'X', "Tube model is triode (penthode/heptode) .", 1},
      {'Y', "Tube model is triode (heptode, g3 = ctrl grid) .", 1},
  };
  for (const Tube& tube : kTubes) {
    if (tube.letter == settings.TubeType) {
      WriteList(console, {tube.line});
      return tube.base;
    }
  }
  PlainStop({Line(std::string("Do not know tube ") + settings.TubeType + ". Execution halts."), Line("Known tubes are:"),
             Line("D( Diode)"), Line("T (Triode)"), Line("P (Penthode)"), Line("B (Beam tetrode)"),
             Line("H (Hexode/heptode)"), Line("F (penthode with g3 modelling)"), Line("V (variable mu penthode)"),
             Line("X (Penthode with Vs=Va)"), Line("Y (Hexode/heptode with Vs=Va and g3 as ctrl grid)")});
}

// The parameter files that earlier, simpler fits must have left for this tube type. Stops if one is missing.
void CheckPrerequisiteFiles(char tube) {
  const std::string halts = "As this file seems not to exist, execution halts.";
  if ((tube == 'P' || tube == 'B' || tube == 'H' || tube == 'V') && !FileExists("Triode.par")) {
    PlainStop({Line("For fitting a Penthode or Beam tetrode the triode parameter file Triode.par should exist."),
               Line("This file will be created when fitting the triode model."), Line(halts)});
  }
  if (tube == 'H' && !FileExists("Triode_g3.par")) {
    PlainStop({Line("For fitting a hexode/heptode the triode parameter file Triode_g3.par should exist."),
               Line("This file will be created when fitting the triode 'Y' model."), Line(halts)});
  }
  if (tube == 'F' && !FileExists("Penthode.par")) {
    PlainStop({Line("For fitting a penthode with g3 the triode parameter file Penthode.par should exist."),
               Line("This file will be created when fitting the penthode 'P' model."), Line(halts)});
  }
}

// Reads the model family line and reports it; returns the family offset of iModel. Stops for an unknown
// family.
int32_t ReadFamily(HeadReader& head, std::ostream& console) {
  const FreeItem item = head.Item("the model family");
  const std::string keyword = PadTo(item.text, kNameLength);
  const std::string family = TrimRight(keyword);
  struct Family {
    const char* keyword;
    const char* line;
    int32_t offset;
  };
  static const Family kFamilies[] = {
      {"Koren", "Using Koren model", 0},
      {"Nolt", "Using Nolt model", 10},
      {"NoltE", "Using NoltE model", 20},
      {"NoltI", "Using initial Nolt model (NoltI)", 30},
  };
  for (const Family& f : kFamilies) {
    if (family == f.keyword) {
      WriteList(console, {f.line});
      return f.offset;
    }
  }
  PlainStop({Line("Unknown model " + keyword), Line("Known models are Koren, Nolt, NoltI and NoltE.")});
}

// Restricts the model families that diodes, triodes and beam tetrodes may use.
void ApplyFamilyRules(Settings& settings, std::ostream& console) {
  const char tube = settings.TubeType;
  if (tube == 'D' && settings.iModel >= 10) {
    WriteList(console, {"*** Diodes can only be fitted using Koren model - setting model to Koren."});
    settings.iModel = 0;
  }
  if ((tube == 'T' || tube == 'X' || tube == 'Y') && settings.iModel > 10) {
    WriteList(console, {"*** Triodes can only be fitted using Koren model - setting model to Koren."});
    settings.iModel = 1;
  }
  if (tube == 'B' && settings.iModel < 10) {
    WriteList(console, {"*** Beam tetrodes can only be fitted using Nolt, NoltI or NoltE model - setting model to NoltE."});
    settings.iModel = 23;
  }
}

// The keyword lines: VaOffset, Icmax, RdStart, Debug, then the opt-in extensions.
void ReadKeywords(std::istream& in, const std::string& file, Settings& settings, std::ostream& console) {
  const float va_offset = LookupReal(in, file, "VaOffset");
  settings.VaOffset = va_offset < 0.0f ? 0.0f : va_offset;

  const float icmax = LookupReal(in, file, "Icmax");  // mA
  if (icmax >= 0.0f) {
    WriteFormatted(console, "(X,'Fitting model to Max. cathode current ',F5.1,' mA.')", {icmax});
    settings.Icmax = icmax * 0.001f;
  } else {
    settings.Icmax = 1.0f;
  }

  std::string start_file;
  settings.RdStart = LookupText(in, file, "RdStart", start_file);
  if (settings.RdStart) {
    settings.StartFile = TrimRight(start_file);
    if (!FileExists(settings.StartFile)) {
      PlainStop({Line("File " + settings.StartFile + " does not exist."), Line("Execution halts.")});
    }
    WriteList(console, {"Reading starting parameters from file " + settings.StartFile});
  }

  const int32_t debug = LookupInt(in, file, "Debug");
  settings.DebugLevel = debug < 0 ? 0 : debug;
  if (debug >= 0) WriteList(console, {"Debug level =", settings.DebugLevel});

  const KeywordValue dialect = FindKeywordValue(in, file, "SpiceDialect", KeywordMatch::kAnywhere, true);
  if (dialect.found) {
    const std::string name = Lower(dialect.item.text);
    if (name == "ngspice") {
      settings.Dialect = SpiceDialect::kNgspice;
    } else if (name == "ltspice") {
      settings.Dialect = SpiceDialect::kLtspice;
    } else {
      InputError(file, dialect.line, "unknown SpiceDialect, " + Found(dialect.item.text) +
                                         "; known dialects are ngspice and ltspice.");
    }
    WriteList(console, {"SPICE dialect is " + name + "."});
  }

  settings.PlotPng = OnOffKeyword(in, file, "PlotPng");
  if (settings.PlotPng) WriteList(console, {"Plots are also written as PNG images."});

  settings.FitReport = OnOffKeyword(in, file, "FitReport");
  if (settings.FitReport) WriteList(console, {"A fit report file is written."});

  const KeywordValue minimiser = FindKeywordValue(in, file, "Minimiser", KeywordMatch::kAnywhere, true);
  if (minimiser.found) {
    const std::string name = Lower(minimiser.item.text);
    if (name == "lm") {
      settings.minimiser = Minimiser::kLm;
      WriteList(console, {"Fit stages are minimised by Levenberg-Marquardt."});
    } else if (name == "powell") {
      settings.minimiser = Minimiser::kPowell;
    } else {
      InputError(file, minimiser.line, "unknown Minimiser, " + Found(minimiser.item.text) +
                                           "; known minimisers are powell and lm.");
    }
  }
}

}  // namespace

KeywordRecord FindKeyword(std::istream& in, std::string_view keyword, KeywordMatch match) {
  in.clear();
  in.seekg(0);
  KeywordRecord hit;
  std::string record;
  int32_t line = 0;
  while (ReadRecord(in, record)) {
    ++line;
    if (record.size() > kKeywordRecordLength) record.resize(kKeywordRecordLength);
    if (!record.empty() && (record[0] == '#' || record[0] == '*')) continue;
    const size_t pos = record.find(keyword);
    if (pos == std::string::npos) continue;
    if (match == KeywordMatch::kWholeWord) {
      size_t end = record.find_first_of(" \t=", pos);
      if (end == std::string::npos) end = record.size();
      if (end - pos != keyword.size()) continue;
    }
    hit.found = true;
    hit.line = line;
    hit.record = record;
    break;
  }
  in.clear();
  return hit;
}

int32_t LookupInt(std::istream& in, const std::string& file, std::string_view keyword) {
  return FindIntKeyword(in, file, keyword).value;
}

float LookupReal(std::istream& in, const std::string& file, std::string_view keyword) {
  const KeywordValue kv = FindKeywordValue(in, file, keyword, KeywordMatch::kWholeWord, true);
  if (!kv.found) return -1.0f;
  return RealOrStop(kv.item, file, kv.line, std::string(keyword));
}

bool LookupText(std::istream& in, const std::string& file, std::string_view keyword, std::string& value) {
  const KeywordValue kv = FindKeywordValue(in, file, keyword, KeywordMatch::kAnywhere, false);
  if (!kv.found) return false;
  if (kv.item.state != ItemState::kValue || kv.item.text.empty()) {
    InputError(file, kv.line, "expected a value after \"=\" for " + std::string(keyword) + ".");
  }
  value = kv.item.text;
  return true;
}

void ReadIni(Settings& settings, std::ostream& console) {
  const std::string file = TrimRight(settings.IniFile);
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) PlainStop({Line("Error opening ini file " + PadTo(settings.IniFile, kNameLength))});
  HeadReader head(in, file);

  settings.GnuplotPath = head.TrimmedRecord("the gnuplot path");
  if (!FileExists(settings.GnuplotPath)) {
    PlainStop({Line("The gnuplot path " + settings.GnuplotPath + " does not exist."), Line("Execution halts.")});
  }

  settings.NFiles = head.Int("the number of files");
  if (settings.NFiles > kMaxFiles) {
    StopWithText("Execution halts", {ListDirected({"Number of files equals:", settings.NFiles}),
                                     ListDirected({"Maximum number of input files equals", int32_t{kMaxFiles}})});
  }
  if (settings.NFiles < 1) {
    StopWithText("Execution halts", {ListDirected({"Number of files equals:", settings.NFiles}),
                                     Line("At least one input file is needed.")});
  }

  for (int32_t i = 1; i <= settings.NFiles; ++i) {
    const std::string name = head.TrimmedRecord("the name of data file " + RenderI(i, 0));
    if (!FileExists(name + ".utd")) {
      PlainStop({Line("The data file " + name + " does not exist."), Line("Execution halts.")});
    }
    settings.DataFile[static_cast<size_t>(i)] = name;
    WriteList(console, {"Data will be read from file " + name + "(.utd)"});
  }

  const int32_t base = ReadTubeType(head, settings, console);
  CheckPrerequisiteFiles(settings.TubeType);
  settings.iModel = base + ReadFamily(head, console);
  ApplyFamilyRules(settings, console);

  settings.Pmax = head.Real("Pmax");
  WriteList(console, {"Fitting model to max power data <", settings.Pmax, " W."});
  settings.VgOffset = head.Real("VgOffset");
  WriteList(console, {"Vg offset equals", settings.VgOffset});

  ReadKeywords(in, file, settings, console);
  in.close();

  WriteList(console);
  WriteList(console, {"*****************************************************"});
}

}  // namespace tubefit
