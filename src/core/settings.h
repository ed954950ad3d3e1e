// The run settings: everything the run configuration file says, filled once by ReadIni.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace tubefit {

enum class SpiceDialect { kLtspice, kNgspice };
// Digits of the values in the subcircuit files: the fields of the plain files, or every value with the
// digits that read back to the same 32-bit float (always so in the ngspice dialect).
enum class SpicePrecision { kFields, kFull };

// How each fit stage is minimised: the direction-set method (powell) or Levenberg-Marquardt (lm).
enum class Minimiser { kPowell, kLm };

// The fit report page: none, HTML (one self-contained page) or Markdown.
enum class ReportFormat { kNone, kHtml, kMd };

// The electrode voltages of the operating point the small-signal values are given at (V).
struct OperatingPointVoltages {
  bool set = false;
  float Va = 0.0f, Vg1 = 0.0f, Vs = 0.0f, Vg3 = 0.0f;
};

// The measurement file names without ".utd", trimmed, numbered 1..count() like the files they name; the
// number of names is the number of files the configuration gave.
class FileNames {
 public:
  FileNames() = default;
  FileNames(std::initializer_list<std::string> names) : names_(names) {}
  int32_t count() const { return static_cast<int32_t>(names_.size()); }
  const std::string& operator[](int f) const { return names_.at(static_cast<size_t>(f - 1)); }
  std::string& operator[](int f) { return names_.at(static_cast<size_t>(f - 1)); }
  void push_back(std::string name) { names_.push_back(std::move(name)); }

 private:
  std::vector<std::string> names_;
};

struct Settings {
  std::string IniFile = "Model.ini";
  std::string GnuplotPath;  // trimmed
  FileNames DataFile;
  char TubeType = ' ';
  int32_t iModel = 0;
  float Pmax = 0.0f;      // W
  float VgOffset = 0.0f;  // V
  float VaOffset = 0.0f;  // V, never negative
  float Icmax = 1.0f;     // A
  bool RdStart = false;
  std::string StartFile;  // trimmed
  int32_t DebugLevel = 0;

  // Opt-in extensions; their defaults give the plain output.
  SpiceDialect Dialect = SpiceDialect::kLtspice;
  SpicePrecision Precision = SpicePrecision::kFields;
  bool PlotPng = false;
  bool FitReport = false;
  Minimiser minimiser = Minimiser::kPowell;
  std::string ModelName;  // name of the subcircuit, a valid SPICE name; made from the first file by ReadIni
  OperatingPointVoltages OperatingPoint;
  ReportFormat Report = ReportFormat::kNone;
};

// Tube types whose files are classified by sweep and that have a screen current: P, B, H, F, V.
inline bool IsScreenGridTube(char tube) {
  return tube == 'P' || tube == 'B' || tube == 'H' || tube == 'F' || tube == 'V';
}

}  // namespace tubefit
