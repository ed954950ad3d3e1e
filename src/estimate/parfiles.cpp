#include "estimate/parfiles.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "text/format.h"
#include "text/number.h"
#include "text/stop.h"
#include "text/textfile.h"

namespace tubefit {

namespace {

constexpr size_t kParRecordLength = 80;
constexpr size_t kFileNameField = 512;

// Parameter-file numbers: "1.5+3" is 1.5E+3.
constexpr NumberOptions kParNumbers = [] {
  NumberOptions o;
  o.bare_exponent_sign = true;
  return o;
}();

[[noreturn]] void BadValue(const ParFile& file, size_t line, const std::string& name, const std::string& item) {
  const std::string shown = item.empty() ? "nothing" : "\"" + item + "\"";
  PlainStop({ListDirected({"Error reading File " + TrimRight(file.name) + " line " +
                           RenderI(static_cast<int32_t>(line), 0) + ": the value of " + name + " is " + shown +
                           ", not a number."}),
             ListDirected({"Execution halts."})});
}

bool IsNameEnd(const std::string& record, size_t end) {
  return end >= record.size() || record[end] == ' ' || record[end] == '\t' || record[end] == '=';
}

}  // namespace

void WriteParTable(std::ostream& os, int32_t n, const ParamVector& values, const ParamNames& names,
                   ParValueForm form) {
  n = std::min<int32_t>(n, MxNP);
  size_t L = 0;
  for (int32_t i = 1; i <= n; ++i) L = std::max(L, TrimRight(names[i]).size());
  for (int32_t i = 1; i <= n; ++i) {
    const std::string field =
        form == ParValueForm::kRoundTrip ? ListFloatRoundTrip(values[i]) : ListFloat(values[i]);
    WriteList(os, {PadTo(names[i], L), " =", field});
  }
}

void WriteParFiles(char TubeType, const ParamSet& ps, std::ostream& console, ParMoment moment) {
  const int32_t NFit = ps.NFit;
  // A value that is not a number would poison every later run that starts from these files (a pentode fit
  // reads "Triode.par"), so nothing is written and the files of an earlier run stay as they were.
  const int32_t n = std::min<int32_t>(NFit, MxNP);
  for (int32_t i = 1; i <= n; ++i) {
    if (!std::isfinite(ps.P[i])) {
      std::string files = "Model.par";
      if (TubeType == 'X') files += " and Triode.par";
      if (TubeType == 'Y') files += " and Triode_g3.par";
      StopWithText("Execution halts",
                   {ListDirected({"Parameter " + TrimRight(ps.name[i]) + " is not a finite number (" +
                                  (std::isnan(ps.P[i]) ? "NaN" : ps.P[i] > 0.0f ? "Infinity" : "-Infinity") + "); " + files + " are left unchanged."})});
    }
  }
  std::ostringstream table;
  WriteParTable(table, NFit, ps.P, ps.name, ParValueForm::kRoundTrip);
  WriteTextFile("Model.par", table.str());
  WriteList(console);
  WriteParTable(console, NFit, ps.P, ps.name);
  WriteList(console);
  const char* hand_over = TubeType == 'X' ? "Triode.par" : TubeType == 'Y' ? "Triode_g3.par" : nullptr;
  if (hand_over != nullptr && (moment == ParMoment::kFinal || !FileExists(hand_over))) {
    WriteTextFile(hand_over, table.str());
  }
}

ParFile OpenParFile(const std::string& name) {
  ParFile file;
  file.name = name;
  std::ifstream in;
  if (FileExists(name)) in.open(TrimRight(name), std::ios::binary);
  if (!in.is_open()) {
    PlainStop({ListDirected({"Error opening File " + PadTo(name, kFileNameField)}),
               ListDirected({"Execution halts."})});
  }
  std::string record;
  while (ReadRecord(in, record)) {
    if (file.records.empty()) DropByteOrderMark(record);
    file.records.push_back(record.substr(0, kParRecordLength));
  }
  return file;
}

std::optional<float> FindParValue(const ParFile& file, const std::string& name) {
  const std::string key = TrimRight(name);
  if (key.empty()) return std::nullopt;
  for (size_t r = 0; r < file.records.size(); ++r) {
    const std::string& record = file.records[r];
    if (!record.empty() && (record[0] == '#' || record[0] == '*')) continue;
    const size_t pos = record.find(key);
    if (pos == std::string::npos || !IsNameEnd(record, pos + key.size())) continue;
    const size_t eq = record.find('=');
    // A line without "=" only mentions the name; it cannot give a value.
    if (eq == std::string::npos) continue;
    size_t begin = eq + 1;
    while (begin < record.size() && (record[begin] == ' ' || record[begin] == '\t')) ++begin;
    size_t end = begin;
    while (end < record.size() && record[end] != ' ' && record[end] != '\t' && record[end] != ',' &&
           record[end] != '/')
      ++end;
    const std::string item = record.substr(begin, end - begin);
    float value = 0.0f;
    if (ReadReal(item, value, kParNumbers) != NumberRead::kOk) BadValue(file, r + 1, key, item);
    return value;
  }
  return std::nullopt;
}

float ReadParValue(const ParFile& file, const std::string& name) {
  return FindParValue(file, name).value_or(-1.0f);
}

TriodeParValues ReadTriodePar(const std::string& file_name) {
  const ParFile file = OpenParFile(file_name);
  TriodeParValues t;
  const std::pair<const char*, float*> wanted[] = {
      {"ex", &t.ex}, {"mu", &t.mu}, {"kG1", &t.kG1}, {"kp", &t.kp}, {"kVB", &t.kVB}};
  for (const auto& [name, value] : wanted) {
    const std::optional<float> v = FindParValue(file, name);
    *value = v.value_or(-1.0f);
    if (!v) t.missing.push_back(name);
  }
  return t;
}

std::vector<std::string> ReadModelPar(const std::string& file_name, ParamVector& P, const Slots& s) {
  const ParFile file = OpenParFile(file_name);
  const std::pair<const char*, int32_t> wanted[] = {{"ex", s.ex},           {"mu", s.mu},     {"kG1", s.kG1},
                                                    {"kp", s.kp},           {"kVB", s.kVB},   {"alpha_s", s.alpha_s},
                                                    {"beta", s.beta},       {"A", s.A},       {"kG2", s.kG2}};
  std::vector<std::string> missing;
  for (const auto& [name, slot] : wanted) {
    const std::optional<float> v = FindParValue(file, name);
    P[slot] = v.value_or(-1.0f);
    if (!v) missing.push_back(name);
  }
  return missing;
}

}  // namespace tubefit
