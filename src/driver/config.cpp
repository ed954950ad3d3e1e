#include "driver/config.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "models/model_info.h"
#include "param.h"
#include "platform/platform.h"
#include "plot/run_command.h"
#include "spice/spice_name.h"
#include "text/format.h"
#include "text/number.h"
#include "text/stop.h"
#include "text/textfile.h"

namespace tubefit {

namespace {

constexpr size_t kKeywordRecordLength = 80;  // keyword records are read 80 characters wide
constexpr size_t kFieldLength = 512;         // names are held in 512-character fields
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
// leading slash ends the read with no value); file names keep their slashes. A `number` item may hold a
// decimal comma, so only a blank, TAB or slash ends it, and a comma at its end is the separator after it.
FreeItem FirstItem(std::string_view s, bool slash_ends, bool number = false) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  if (i == s.size()) return {ItemState::kNone, ""};
  const char c = s[i];
  if (number) {
    size_t j = i;
    while (j < s.size() && s[j] != ' ' && s[j] != '\t' && s[j] != '/') ++j;
    if (j == i) return {ItemState::kNull, ""};
    std::string text(s.substr(i, j - i));
    if (text.back() == ',') text.pop_back();
    return {text.empty() ? ItemState::kNull : ItemState::kValue, text};
  }
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

// Configuration numbers: a decimal comma is a decimal point, and NaN and Infinity are numbers that are not
// finite (so the message says so).
constexpr NumberOptions kConfigNumbers = [] {
  NumberOptions o;
  o.decimal_comma = true;
  o.nonfinite_words = true;
  return o;
}();

// Converts a free-format item to a whole number or stops with a message naming file, line and item.
int32_t IntOrStop(const FreeItem& item, const std::string& file, int32_t line, const std::string& what) {
  int32_t value = 0;
  if (item.state != ItemState::kValue || ReadInteger(item.text, value, kConfigNumbers) != NumberRead::kOk) {
    InputError(file, line, "expected a whole number for " + what + ", " + Found(item.text) + ".");
  }
  return value;
}

// Converts a free-format item to a finite real or stops with a message naming file, line and item.
float RealOrStop(const FreeItem& item, const std::string& file, int32_t line, const std::string& what) {
  float value = 0.0f;
  const NumberRead read =
      item.state == ItemState::kValue ? ReadReal(item.text, value, kConfigNumbers) : NumberRead::kNotANumber;
  if (read == NumberRead::kNotFinite) {
    InputError(file, line, what + " must be a finite number, " + Found(item.text) + ".");
  }
  if (read != NumberRead::kOk) InputError(file, line, "expected a number for " + what + ", " + Found(item.text) + ".");
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
    if (line_ == 0) DropByteOrderMark(record);
    ++line_;
    return TrimmedLine(record);
  }

  // The first free-format item of the next record that is not blank; the rest of that record is ignored.
  FreeItem Item(const std::string& what, bool number = false) {
    std::string record;
    for (;;) {
      if (!ReadRecord(in_, record)) EndOfFileError(file_, line_, what);
      if (line_ == 0) DropByteOrderMark(record);
      ++line_;
      FreeItem item = FirstItem(record, true, number);
      if (item.state != ItemState::kNone) return item;
    }
  }

  int32_t Int(const std::string& what) {
    const FreeItem item = Item(what, true);
    return IntOrStop(item, file_, line_, what);
  }

  float Real(const std::string& what) {
    const FreeItem item = Item(what, true);
    return RealOrStop(item, file_, line_, what);
  }

  // Number of the last line read.
  int32_t line() const { return line_; }

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
                              KeywordMatch match, bool slash_ends, bool number = false) {
  const KeywordRecord hit = FindKeyword(in, keyword, match);
  KeywordValue kv;
  if (!hit.found) return kv;
  const size_t eq = hit.record.find('=');
  if (eq == std::string::npos) {
    InputError(file, hit.line, "expected \"=\" and a value after " + std::string(keyword) + ".");
  }
  kv.found = true;
  kv.line = hit.line;
  kv.item = FirstItem(std::string_view(hit.record).substr(eq + 1), slash_ends, number);
  return kv;
}

struct IntKeyword {
  int32_t value = -1;
  int32_t line = 0;
};

IntKeyword FindIntKeyword(std::istream& in, const std::string& file, std::string_view keyword) {
  const KeywordValue kv = FindKeywordValue(in, file, keyword, KeywordMatch::kWholeWord, true, true);
  if (!kv.found) return {};
  return {IntOrStop(kv.item, file, kv.line, std::string(keyword)), kv.line};
}

// Stops for a file name that this system cannot open (on Windows a device name such as CON, or one of the
// characters it does not allow), naming it and the line.
void CheckOpenableName(const std::string& name, const std::string& file, int32_t line) {
  const std::string reason = UnopenableName(name);
  if (!reason.empty()) InputError(file, line, "the file name " + name + " cannot be used: " + reason + ".");
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

// True if the name ends in ".utd" (any case) after at least one character.
bool EndsWithUtd(const std::string& name) { return name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".utd"; }

// Ends the run for a measurement file that does not exist: names the path looked for and the line. A name
// that is a tube letter, a model family or a number is most likely the line after the file lines, read as
// a file name because the count on line 2 is too large.
[[noreturn]] void MissingDataFile(const std::string& name, const std::string& file, int32_t line, int32_t count) {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::absolute(name + ".utd", error);
  std::vector<std::string> lines = {
      Line("The data file " + name + " does not exist."),
      Line("Looked for " + (error ? name + ".utd" : path.string()) + ", named on line " + RenderI(line, 0) + " of " +
           file + ".")};
  const std::string lower = Lower(name);
  const bool number = name.find_first_of("0123456789") != std::string::npos &&
                      name.find_first_not_of("0123456789+-.,eEdD") == std::string::npos;
  bool tube = false;
  for (const TubeLetter& t : TubeLetters()) tube = tube || (name.size() == 1 && name[0] == t.letter);
  bool family = false;
  for (const FamilyKeyword& f : FamilyKeywords()) family = family || lower == Lower(FamilyName(f.family));
  if (tube || family || number) {
    lines.push_back(Line("That is no file name: the number of files on line 2 (" + RenderI(count, 0) +
                         ") may not match the file lines that follow it."));
  }
  lines.push_back(Line("Execution halts."));
  PlainStop(lines);
}

// The line after an unknown tube letter or model family that says what went wrong: the item is the name of
// a data file (the count on line 2 is smaller than the file lines that follow it), or else `advice` (the
// right word for one written in the wrong case) when it is given. Empty when neither is so.
std::vector<std::string> HeadHint(const std::string& item, const std::string& advice, const std::string& file,
                                  int32_t line, int32_t count) {
  const std::string where = "Line " + RenderI(line, 0) + " of " + file;
  if (!item.empty() && (FileExists(item + ".utd") || (EndsWithUtd(item) && FileExists(item)))) {
    return {Line(where + " names the data file " + item + ": the number of files on line 2 (" + RenderI(count, 0) +
                 ") may not match the file lines that follow it.")};
  }
  if (!advice.empty()) return {Line(where + ": " + advice)};
  return {};
}

// Reads the tube line and reports it; returns the tube kind. Stops for an unknown letter.
Tube ReadTubeType(HeadReader& head, Settings& settings, const std::string& file, std::ostream& console) {
  const FreeItem item = head.Item("the tube type");
  settings.TubeType = item.text.empty() ? ' ' : item.text[0];
  for (const TubeLetter& tube : TubeLetters()) {
    if (tube.letter == settings.TubeType) {
      WriteList(console, {tube.line});
      return tube.tube;
    }
  }
  std::vector<std::string> lines = {Line(std::string("Do not know tube ") + settings.TubeType + ". Execution halts."),
                                    Line("Known tubes are:")};
  for (const TubeLetter& tube : TubeLetters()) lines.push_back(Line(tube.known));
  std::string advice;
  for (const TubeLetter& tube : TubeLetters()) {
    if (item.text.size() == 1 && tube.letter == std::toupper(static_cast<unsigned char>(settings.TubeType))) {
      advice = std::string("tube letters are upper case; write ") + tube.letter + ".";
    }
  }
  for (const std::string& hint : HeadHint(item.text, advice, file, head.line(), settings.DataFile.count())) {
    lines.push_back(hint);
  }
  PlainStop(lines);
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

// Reads the model family line and reports it; returns the family. Stops for an unknown family.
Family ReadFamily(HeadReader& head, const std::string& file, int32_t count, std::ostream& console) {
  const FreeItem item = head.Item("the model family");
  const std::string keyword = PadTo(item.text, kFieldLength);
  const std::string family = TrimRight(keyword);
  for (const FamilyKeyword& f : FamilyKeywords()) {
    if (family == FamilyName(f.family)) {
      WriteList(console, {f.line});
      return f.family;
    }
  }
  // "Known models are A, B, C and D."
  const TableView<FamilyKeyword> words = FamilyKeywords();
  std::string known = "Known models are ";
  for (int32_t i = 0; i < words.size; ++i) {
    if (i > 0) known += i + 1 == words.size ? " and " : ", ";
    known += FamilyName(words[i].family);
  }
  std::vector<std::string> lines = {Line("Unknown model " + keyword), Line(known + ".")};
  std::string advice;
  for (const FamilyKeyword& f : words) {
    const std::string name = FamilyName(f.family);
    if (Lower(family) == Lower(name)) advice = "model families are case-sensitive; write " + name + ".";
  }
  for (const std::string& hint : HeadHint(family, advice, file, head.line(), count)) {
    lines.push_back(hint);
  }
  PlainStop(lines);
}

// Restricts the model families that some tube kinds may use.
void ApplyFamilyRules(Settings& settings, Family family, std::ostream& console) {
  for (const FamilyRule& rule : FamilyRules()) {
    if (std::string(rule.letters).find(settings.TubeType) == std::string::npos) continue;
    if ((rule.families & (1u << static_cast<uint32_t>(family))) == 0) continue;
    WriteList(console, {rule.line});
    settings.iModel = ModelCode(rule.tube, rule.family);
  }
}

// Every keyword the reader looks up, with the way a record matches it.
struct KnownKeyword {
  const char* name;
  KeywordMatch match;
};
constexpr KnownKeyword kKnownKeywords[] = {
    {"VaOffset", KeywordMatch::kWholeWord},     {"Icmax", KeywordMatch::kWholeWord},
    {"RdStart", KeywordMatch::kAnywhere},       {"Debug", KeywordMatch::kWholeWord},
    {"SpiceDialect", KeywordMatch::kAnywhere},  {"SpicePrecision", KeywordMatch::kWholeWord},
    {"PlotPng", KeywordMatch::kWholeWord},      {"FitReport", KeywordMatch::kWholeWord},
    {"Minimiser", KeywordMatch::kAnywhere},     {"ModelName", KeywordMatch::kWholeWord},
    {"OperatingPoint", KeywordMatch::kWholeWord}, {"Report", KeywordMatch::kLineStart},
};

// True if the two texts are equal but for one inserted, deleted or replaced character.
bool OneEditApart(const std::string& a, const std::string& b) {
  const std::string& s = a.size() <= b.size() ? a : b;  // the shorter
  const std::string& t = a.size() <= b.size() ? b : a;
  if (t.size() - s.size() > 1) return false;
  size_t i = 0;
  while (i < s.size() && s[i] == t[i]) ++i;
  if (s.size() == t.size()) return i < s.size() && s.substr(i + 1) == t.substr(i + 1);
  return s.substr(i) == t.substr(i + 1);
}

// The known keyword that `name` resembles: the same letters in another case, else one edit away in any
// case; empty when none does.
std::string ResembledKeyword(const std::string& name) {
  const std::string lower = Lower(name);
  for (const KnownKeyword& k : kKnownKeywords)
    if (Lower(k.name) == lower) return k.name;
  for (const KnownKeyword& k : kKnownKeywords)
    if (OneEditApart(Lower(k.name), lower)) return k.name;
  return "";
}

// Warns about every line after the positional head of the form name = value whose name no keyword lookup
// takes: such a line is ignored, which a misspelt keyword (IcMax, VaOfset) would otherwise be silently.
void WarnUnknownKeywords(std::istream& in, const std::string& file, int32_t head_lines, std::ostream& console) {
  in.clear();
  in.seekg(0);
  std::string record;
  int32_t line = 0;
  while (ReadRecord(in, record)) {
    ++line;
    if (line <= head_lines || record.empty() || record[0] == '#' || record[0] == '*') continue;
    const std::string text = TrimmedLine(record);
    const size_t eq = text.find('=');
    // A keyword written with a colon instead of "=" ("FitReport: 1") is not read either.
    const size_t colon = eq == std::string::npos ? text.find(':') : std::string::npos;
    if (eq == std::string::npos && colon == std::string::npos) continue;
    const size_t first = text.find_first_not_of(" \t");
    const std::string name = TrimRight(text.substr(0, std::min(eq, colon)).substr(first));
    if (name.empty()) continue;
    // A name with blanks inside ("Plot Png") is only a keyword line if it resembles a keyword without them.
    std::string joined;
    for (const char c : name) {
      if (c != ' ' && c != '\t') joined += c;
    }
    const bool blanks = joined != name;
    const std::string like = ResembledKeyword(joined);
    if ((blanks || colon != std::string::npos) && like.empty()) continue;
    const std::string cut = record.substr(0, kKeywordRecordLength);
    bool known = false;
    for (const KnownKeyword& k : kKnownKeywords) known = known || RecordMatchesKeyword(cut, k.name, k.match);
    if (known) continue;
    std::string why = " is not a keyword" + (like.empty() ? "." : "; did you mean " + like + "?");
    if (colon != std::string::npos) {
      const size_t value = text.find_first_not_of(" \t", colon + 1);
      why = " is followed by \":\", not \"=\"; write " + like + " = " +
            (value == std::string::npos ? "value" : text.substr(value)) + ".";
    } else if (like == name) {
      why = " reaches past column 80, where keywords are not read.";
    }
    WriteList(console, {"Warning: line " + RenderI(line, 0) + " of " + file + ", \"" + text + "\": " + name + why +
                        " The line is ignored."});
  }
  in.clear();
}

// The subcircuit name: the ModelName keyword's text (the rest of its line, quotes removed), else the first
// measurement file's name without its folder; either made a valid SPICE name, which the console reports
// when that changes it.
void ReadModelName(std::istream& in, const std::string& file, Settings& settings, std::ostream& console) {
  const KeywordRecord hit = FindKeyword(in, "ModelName", KeywordMatch::kWholeWord);
  const std::string first = SubcircuitName(settings.DataFile[1]);
  std::string name = first.substr(FileNameStart(first));
  if (hit.found) {
    const size_t eq = hit.record.find('=');
    if (eq == std::string::npos) InputError(file, hit.line, "expected \"=\" and a value after ModelName.");
    std::string text = TrimmedLine(hit.record.substr(eq + 1));
    text = text.substr(std::min(text.size(), text.find_first_not_of(" \t")));
    if (text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0])
      text = text.substr(1, text.size() - 2);
    if (text.empty()) InputError(file, hit.line, "expected a name after \"=\" for ModelName.");
    name = text;
  }
  settings.ModelName = SpiceName(name);
  if (settings.ModelName != name) {
    WriteList(console, {"The model name " + name + " holds characters a SPICE name cannot; the subcircuit is named " +
                        settings.ModelName + "."});
  } else if (hit.found) {
    WriteList(console, {"The subcircuit is named " + settings.ModelName + "."});
  }
}

// The operating point: Va, Vg1 (and Vs for screen-grid tubes, and Vg3 for H and F), comma-separated.
void ReadOperatingPoint(std::istream& in, const std::string& file, Settings& settings, std::ostream& console) {
  const KeywordRecord hit = FindKeyword(in, "OperatingPoint", KeywordMatch::kWholeWord);
  if (!hit.found) return;
  const size_t eq = hit.record.find('=');
  if (eq == std::string::npos) InputError(file, hit.line, "expected \"=\" and values after OperatingPoint.");
  const char tube = settings.TubeType;
  std::vector<std::string> names = {"Va"};
  if (tube != 'D') names.push_back("Vg1");
  if (IsScreenGridTube(tube)) names.push_back("Vs");
  if (tube == 'H' || tube == 'F') names.push_back("Vg3");
  std::string joined;
  for (const std::string& n : names) joined += (joined.empty() ? "" : ", ") + n;

  std::vector<std::string> values;
  const std::string text = TrimmedLine(hit.record.substr(eq + 1));
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    std::string value = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const size_t first = value.find_first_not_of(" \t");
    value = first == std::string::npos ? "" : TrimRight(value.substr(first));
    if (!value.empty() || comma != std::string::npos || !values.empty()) values.push_back(value);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (values.size() != names.size()) {
    InputError(file, hit.line, "OperatingPoint of tube " + std::string(1, tube) + " needs " +
                                   RenderI(static_cast<int32_t>(names.size()), 0) + " values (" + joined + "), found " +
                                   RenderI(static_cast<int32_t>(values.size()), 0) + ".");
  }
  float* fields[] = {&settings.OperatingPoint.Va, &settings.OperatingPoint.Vg1, &settings.OperatingPoint.Vs,
                     &settings.OperatingPoint.Vg3};
  std::string shown;
  for (size_t k = 0; k < names.size(); ++k) {
    float value = 0.0f;
    const NumberRead read = ReadReal(values[k], value, NumberOptions{});
    if (read != NumberRead::kOk) {
      InputError(file, hit.line, "expected a number for " + names[k] + " of OperatingPoint, " + Found(values[k]) + ".");
    }
    const size_t field = names[k] == "Va" ? 0 : names[k] == "Vg1" ? 1 : names[k] == "Vs" ? 2 : 3;
    *fields[field] = value;
    shown += (shown.empty() ? "" : ", ") + names[k] + " = " + ShortestReal(value, 7) + " V";
  }
  settings.OperatingPoint.set = true;
  WriteList(console, {"Small-signal values are given at the operating point " + shown + "."});
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
  int32_t start_line = 0;
  settings.RdStart = LookupText(in, file, "RdStart", start_file, &start_line);
  if (settings.RdStart) {
    settings.StartFile = TrimRight(start_file);
    CheckOpenableName(settings.StartFile, file, start_line);
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

  const KeywordValue precision = FindKeywordValue(in, file, "SpicePrecision", KeywordMatch::kWholeWord, true);
  if (precision.found) {
    const std::string name = Lower(precision.item.text);
    if (name == "full") {
      settings.Precision = SpicePrecision::kFull;
    } else if (name != "fields") {
      InputError(file, precision.line, "unknown SpicePrecision, " + Found(precision.item.text) +
                                           "; known are full and fields.");
    }
    WriteList(console, {"SPICE values are written with " +
                        std::string(name == "full" ? "every digit of the fit." : "the digits of their fields.")});
  }

  settings.PlotPng = OnOffKeyword(in, file, "PlotPng");
  if (settings.PlotPng && Lower(settings.GnuplotPath) == "none") {
    WriteList(console, {"PlotPng = 1 makes no images: the gnuplot line is none, so gnuplot is not started."});
  } else if (settings.PlotPng) {
    WriteList(console, {"Plots are also written as PNG images."});
  }

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

  ReadModelName(in, file, settings, console);
  ReadOperatingPoint(in, file, settings, console);

  const KeywordValue report = FindKeywordValue(in, file, "Report", KeywordMatch::kLineStart, true);
  if (report.found) {
    const std::string name = Lower(report.item.text);
    if (name == "html") {
      settings.Report = ReportFormat::kHtml;
    } else if (name == "md") {
      settings.Report = ReportFormat::kMd;
    } else {
      InputError(file, report.line, "unknown Report, " + Found(report.item.text) + "; known are html and md.");
    }
    WriteList(console, {"A fit report page " + settings.ModelName + "." + name + " is written."});
  }
}

}  // namespace

bool RecordMatchesKeyword(const std::string& record, std::string_view keyword, KeywordMatch match) {
  const size_t pos = record.find(keyword);
  if (pos == std::string::npos) return false;
  if (match == KeywordMatch::kLineStart && record.find_first_not_of(" \t") != pos) return false;
  if (match != KeywordMatch::kAnywhere) {
    size_t end = record.find_first_of(" \t=", pos);
    if (end == std::string::npos) end = record.size();
    if (end - pos != keyword.size()) return false;
  }
  return true;
}

KeywordRecord FindKeyword(std::istream& in, std::string_view keyword, KeywordMatch match) {
  in.clear();
  in.seekg(0);
  KeywordRecord hit;
  std::string record;
  int32_t line = 0;
  while (ReadRecord(in, record)) {
    if (++line == 1) DropByteOrderMark(record);
    if (record.size() > kKeywordRecordLength) record.resize(kKeywordRecordLength);
    if (!record.empty() && (record[0] == '#' || record[0] == '*')) continue;
    if (!RecordMatchesKeyword(record, keyword, match)) continue;
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
  const KeywordValue kv = FindKeywordValue(in, file, keyword, KeywordMatch::kWholeWord, true, true);
  if (!kv.found) return -1.0f;
  return RealOrStop(kv.item, file, kv.line, std::string(keyword));
}

bool LookupText(std::istream& in, const std::string& file, std::string_view keyword, std::string& value,
                int32_t* line) {
  const KeywordValue kv = FindKeywordValue(in, file, keyword, KeywordMatch::kAnywhere, false);
  if (!kv.found) return false;
  if (kv.item.state != ItemState::kValue || kv.item.text.empty()) {
    InputError(file, kv.line, "expected a value after \"=\" for " + std::string(keyword) + ".");
  }
  value = kv.item.text;
  if (line != nullptr) *line = kv.line;
  return true;
}

void ReadIni(Settings& settings, std::ostream& console) {
  const std::string file = TrimRight(settings.IniFile);
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) PlainStop({Line("Error opening ini file " + PadTo(settings.IniFile, kFieldLength))});
  HeadReader head(in, file);

  settings.GnuplotPath = head.TrimmedRecord("the gnuplot path");
  // "none" writes the plot files without starting gnuplot; a bare program name may also be one on PATH.
  const std::string& gnuplot = settings.GnuplotPath;
  const bool bare = !HasFolderPart(gnuplot);
  if (Lower(gnuplot) != "none") CheckOpenableName(gnuplot, file, head.line());
  if (Lower(gnuplot) != "none" && !FileExists(gnuplot) && !(bare && ProgramFound(gnuplot))) {
    std::vector<std::string> lines = {Line("The gnuplot path " + gnuplot + " does not exist.")};
    if (bare) lines.push_back(Line("No program " + gnuplot + " was found on the PATH either."));
    lines.push_back(Line("Execution halts."));
    PlainStop(lines);
  }

  const int32_t nfiles = head.Int("the number of files");
  if (nfiles > kMaxFiles) {
    StopWithText("Execution halts", {ListDirected({"Number of files equals:", nfiles}),
                                     ListDirected({"Maximum number of input files equals", int32_t{kMaxFiles}})});
  }
  if (nfiles < 1) {
    StopWithText("Execution halts", {ListDirected({"Number of files equals:", nfiles}),
                                     Line("At least one input file is needed.")});
  }

  settings.DataFile = FileNames();
  for (int32_t i = 1; i <= nfiles; ++i) {
    std::string name = head.TrimmedRecord("the name of data file " + RenderI(i, 0));
    CheckOpenableName(name, file, head.line());
    if (EndsWithUtd(name) && !FileExists(name + ".utd")) {
      WriteList(console, {"The file name " + name + " on line " + RenderI(head.line(), 0) +
                          " is read without its ending .utd."});
      name.resize(name.size() - 4);
    }
    if (!FileExists(name + ".utd")) MissingDataFile(name, file, head.line(), nfiles);
    WriteList(console, {"Data will be read from file " + name + "(.utd)"});
    settings.DataFile.push_back(std::move(name));
  }

  const Tube tube = ReadTubeType(head, settings, file, console);
  CheckPrerequisiteFiles(settings.TubeType);
  const Family family = ReadFamily(head, file, nfiles, console);
  settings.iModel = ModelCode(tube, family);
  ApplyFamilyRules(settings, family, console);

  settings.Pmax = head.Real("Pmax");
  WriteList(console, {"Fitting model to max power data <", settings.Pmax, " W."});
  settings.VgOffset = head.Real("VgOffset");
  WriteList(console, {"Vg offset equals", settings.VgOffset});

  ReadKeywords(in, file, settings, console);
  WarnUnknownKeywords(in, file, head.line(), console);
  in.close();

  WriteList(console);
  WriteList(console, {"*****************************************************"});
}

}  // namespace tubefit
